// The pattern dialect's named operations for one line at a time, compiled
// afresh for each call: regex_find_first and the remainder operations of the
// dialect's definition. Tests and benchmarks only; a search compiles once.
#ifndef QG_TEST_REGEX_NAMED_OPS_H
#define QG_TEST_REGEX_NAMED_OPS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

// True when `pattern` matches somewhere in `text` (both NUL-terminated; null
// gives false). On success writes the 1-based byte column of the first match
// and its length in bytes to the outputs that are non-null; on false neither
// is touched.
bool regex_find_first(const char *pattern, const char *text, bool case_sensitive, int32_t *out_col,
                      int32_t *out_len);

// The matching flags of the remainder operations below.
typedef struct re_state {
  bool ignore_case;
} re_state;

// True when the pattern remainder [p, p_end) matches at exactly text position
// `t` (inside a NUL-terminated text, which ends the match's reach); then
// writes the byte length of the match to `out_len` (not null).
bool re_match_here(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len);

// Matches the atom at `atom`, repeated greedily zero or more times and giving
// back one byte at a time, followed by the rest [rest, rest_end), at `t`.
// Same result convention as re_match_here.
bool re_match_star(const char *atom, const char *rest, const char *rest_end, const char *t,
                   re_state *st, size_t *out_len);

// True when the atom beginning at `atom` matches the text byte `c` (never the
// terminating NUL). `p_end` ends the pattern remainder holding the atom: an
// unterminated class runs up to it.
bool re_atom_match(const char *atom, const char *p_end, unsigned char c, bool ignore_case);

#endif  // QG_TEST_REGEX_NAMED_OPS_H
