// The rules of ignore files (.gitignore, .ignore, .git/info/exclude) in git's
// syntax, and the match of a path against one directory's rules.
//
// A rule set is built from the bytes of one or more files, read once, and
// then only read: matching writes nothing, so one set may serve several
// threads. Each line is a rule: blank lines and lines starting with '#' are
// none; trailing spaces are dropped unless escaped, and a trailing CR is
// dropped; '!' negates; a trailing '/' limits the rule to directories; a '/'
// at the start or in the middle anchors the rule to the set's directory,
// otherwise it matches an entry's name at any depth. Globs: '*' and '?' (not
// across '/'), '[...]' with ranges, '!' or '^' negation and [:class:] names,
// '\' escapes, and '**' as a whole path component: "**/x" at any depth,
// "x/**" everything inside x, "a/**/b" zero or more directories between. A
// rule with an unclosed '[' or a trailing '\' matches nothing, as in git.
#ifndef QG_IGNORE_RULES_H
#define QG_IGNORE_RULES_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ignore_rules ignore_rules;

// An empty rule set; null when out of memory.
ignore_rules *ignore_rules_new(void);

// Adds the rules of one file's `len` bytes after those already held, so that
// they take precedence over them. A UTF-8 byte-order mark at the start is
// passed over. False when out of memory (the rules added so far stay).
bool ignore_rules_add_text(ignore_rules *rules, const char *text, size_t len);

void ignore_rules_free(ignore_rules *rules);

typedef enum ignore_verdict {
  IGNORE_NO_MATCH = 0,  // no rule matches: the decision falls to other sets
  IGNORE_EXCLUDE,       // the last matching rule ignores the path
  IGNORE_INCLUDE        // the last matching rule is a negation: the path stays
} ignore_verdict;

// The verdict of the last rule that matches `path` (`len` bytes, relative to
// the set's directory, its components separated by '/' or by `sep`), which
// names a directory when `is_dir`.
ignore_verdict ignore_rules_match(const ignore_rules *rules, const char *path, size_t len, char sep,
                                  bool is_dir);

#ifdef __cplusplus
}
#endif

#endif  // QG_IGNORE_RULES_H
