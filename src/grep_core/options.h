// The search options record and its reading from the options JSON text.
//
// A record is filled by grep_opts_parse_json at the start of one search, read
// (never changed) by the walk, the scan and the match handlers, and released
// with grep_opts_free at the end. It owns the glob strings of its lists, the
// "replacement" text and the "expect" entries, and nothing else; it belongs to the thread that runs
// the search.
#ifndef QG_OPTIONS_H
#define QG_OPTIONS_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One entry of "expect": a path as the walk spells it (owned) and the
// lowercase hex SHA-256 its file's bytes must have.
typedef struct grep_file_hash {
  char *path;
  char sha256[65];
} grep_file_hash;

// Most globs one list holds; further globs of the options text are dropped,
// so a hostile options text cannot make the walk test a name endlessly.
#define GREP_OPTS_MAX_GLOBS 64

typedef struct grep_opts {
  bool regex;             // pattern dialect instead of a literal
  bool case_sensitive;    // false: letters match regardless of ASCII case
  bool whole_word;        // literal matches only as whole words
  int32_t max_results;    // stop after this many matches; 0 or less: no cap
  int32_t context_lines;  // lines around each match; 0 or less: none
  char *include_globs[GREP_OPTS_MAX_GLOBS];
  int32_t include_count;
  char *exclude_globs[GREP_OPTS_MAX_GLOBS];
  int32_t exclude_count;
  char *exclude_dirs[GREP_OPTS_MAX_GLOBS];
  int32_t exclude_dir_count;
  // Beyond the fields above, keys that a host opts into; each default keeps
  // the behaviour without the key.
  int32_t timeout_ms;  // "timeout_ms": stop after this long; 0 or less: no limit
  int32_t threads;     // "threads": threads reading and scanning files; 0 or 1: the caller's alone
  int32_t max_per_file;  // "max_per_file": matches taken from one file; 0 or less: no cap
  // "max_output_bytes": the most bytes a search's document (or a stream's
  // match texts together) may take; 0 or less: no cap. Read as a whole
  // 64-bit integer, never cut to 32 bits, so that a large cap stays a cap.
  int64_t max_output_bytes;
  bool hidden;           // "hidden": entries named .* are walked and scanned like others
  bool skip_dirs;        // "skip_dirs" (default true): the fixed list of skipped directories holds
  bool follow_links;     // "follow_links" (default true): links met in the walk are followed
  bool gitignore;        // "gitignore": .gitignore, .ignore and .git/info/exclude are honoured
  bool match_length;     // "match_length": match objects carry "length" after "col"
  bool submatches;       // "submatches": match objects carry every match of their line
  bool captures;         // "captures": match objects carry where each group of the pattern matched
  bool unicode;          // "unicode": classes, word boundaries and case folding follow Unicode
  // "path_globs": globs in git's ignore syntax over the path below the root,
  // each whole (a string is one glob); "!" before one excludes.
  char *path_globs[GREP_OPTS_MAX_GLOBS];
  int32_t path_glob_count;
  bool strict;             // "strict": unknown keys and values of the wrong type are refused
  uint8_t syntax;          // "syntax": GREP_SYNTAX_DIALECT or GREP_SYNTAX_STANDARD
  int32_t before_context;  // "before_context": lines before a match; below 0: context_lines
  int32_t after_context;   // "after_context": lines after a match; below 0: context_lines
  // The line printer's settings (grep_search_lines).
  uint8_t print_mode;  // "print": a grep_print_mode
  bool heading;        // "heading": each file's path on a line of its own above its lines
  bool color;          // "color": paths, numbers, separators and matches in colour
  bool line_number;    // "line_number" (default true): each line's number
  bool column;         // "column" (default true): each match's column
  bool with_filename;  // "with_filename" (default true): each line's path
  bool continued;      // "continued": the lines follow what an earlier call printed
  bool relative_paths;    // "relative_paths": paths printed below the search's root
  int32_t max_columns;    // "max_columns": a longer line is shown as a window of this many bytes
  bool null_after_path;   // "null_after_path": a NUL, not ':' or '-' or a line end, after a path
  // Line selection and walk order, for hosts that mirror grep's and
  // ripgrep's flags.
  bool invert_match;  // "invert_match": the lines without a match are reported instead
  bool whole_line;    // "whole_line": a match counts only where it covers its whole line
  int32_t max_depth;  // "max_depth": levels below the root walked (1: its entries); below 0: all
  uint8_t sort;       // "sort": a grep_sort_order for each directory's entries
  bool sort_reverse;  // "sort_reverse": with "sort", the reverse order
  bool dot_ignore;    // "dot_ignore": .ignore files are honoured (as with "gitignore")
  // "replacement": the line printer shows each match replaced by this
  // template (owned; null: matches as they are).
  char *replacement;
  // Replacing by pattern (grep_replace_json).
  bool preserve_case;  // "preserve_case": a plain-word replacement takes each match's case shape
  bool dry_run;        // "dry_run": nothing is written; each file's entry carries its diff
  // "expect": only these files are replaced, each only while its bytes
  // still hash to the given SHA-256 (an owned array of `expect_count`).
  grep_file_hash *expect;
  int32_t expect_count;
} grep_opts;

// The values of "sort": the platform's listing order, or each directory's
// entries by name (bytewise) or by modification time, oldest first.
enum grep_sort_order { GREP_SORT_NONE = 0, GREP_SORT_PATH = 1, GREP_SORT_MODIFIED = 2 };

// The values of "syntax".
enum { GREP_SYNTAX_DIALECT = 0, GREP_SYNTAX_STANDARD = 1 };

// What the line printer writes for a search ("print").
typedef enum grep_print_mode {
  GREP_PRINT_LINES = 0,  // each matched line, with its context
  GREP_PRINT_MATCHES,    // each match of a line alone
  GREP_PRINT_FILES,      // each file that matches, once
  GREP_PRINT_COUNT,      // each file that matches, with its number of matched lines
  GREP_PRINT_JSON,       // each match object, one per line
  GREP_PRINT_VIMGREP,    // the whole line once for each of its matches, at that match's column
  GREP_PRINT_PATHS,      // each file the search would read, none read (the pattern unused)
} grep_print_mode;

// The context lines a search shows before and after each match: the
// "before_context" and "after_context" keys where given, else
// "context_lines" (0 or below: none).
int32_t grep_opts_before(const grep_opts *opts);
int32_t grep_opts_after(const grep_opts *opts);

// Sets the defaults: everything zero or empty, and case_sensitive, skip_dirs
// and follow_links true. Releases nothing that `opts` held.
void grep_opts_init(grep_opts *opts);

// Fills `opts` from `options_json` (may be null), starting from the defaults,
// so `opts` need not be initialised. Null, empty, non-object and empty-object
// texts give the defaults. For each known key only its first member counts;
// values of the wrong type are ignored. False when the text is not strict
// JSON, with the last-error text "Invalid JSON in options: <text>", or when
// "syntax" holds anything but "dialect" or "standard" ("Unknown syntax
// '<value>'"); the record then holds the defaults and owns nothing. A true
// result is released with grep_opts_free.
bool grep_opts_parse_json(grep_opts *opts, const char *options_json);

// Releases every glob of the lists, the texts, the "expect" entries, and zeroes the whole record,
// which must then be initialised or parsed again before use. Safe to call twice.
void grep_opts_free(grep_opts *opts);

// Appends to `list` (holding `*count` globs) every non-empty piece of `text`
// between commas, semicolons and spaces (U+0020 only), as heap copies, while
// the list holds fewer than GREP_OPTS_MAX_GLOBS. Null or empty text adds
// nothing; a piece whose copy cannot be allocated is dropped.
void add_globs_from_str(char **list, int32_t *count, const char *text);

#ifdef __cplusplus
}
#endif

#endif  // QG_OPTIONS_H
