// The pattern matcher: a small backtracking interpreter of the library's own
// regular-expression dialect, working on bytes.
#ifndef QG_REGEX_H
#define QG_REGEX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// True when `pattern` matches somewhere in `text` (both NUL-terminated; null
// gives false). On success writes the 1-based byte column of the first match
// and its length in bytes to the outputs that are non-null; on false neither
// is touched. No state, no allocation; any thread. A line whose matching
// exceeds the budgets below counts as not matching.
bool regex_find_first(const char *pattern, const char *text, bool case_sensitive, int32_t *out_col,
                      int32_t *out_len);

// Longest required literal that regex_required_literal reports; a longer one
// is cut, which only lets more lines through its filter.
#define RE_PREFILTER_MAX 64

// Writes to `lit` (NUL-terminated) a run of bytes that every match of
// `pattern` covers, so that a line, or a stretch of many lines, without it
// holds no match: compared exactly, or ignoring ASCII case when
// `case_sensitive` is false. Returns its length; 0 (and an empty `lit`) when
// the pattern has none, or holds a '|' anywhere. Pure; any thread.
size_t regex_required_literal(const char *pattern, bool case_sensitive,
                              char lit[RE_PREFILTER_MAX + 1]);

// ---- Budgets against hostile patterns ----
//
// Deepest nesting of re_match_here / re_match_star calls one attempt (one
// start position) may reach. Nesting grows by one or two per quantified atom
// and by one per left alternative on the current path, never with the text (a
// run of plain atoms is matched in a loop): a realistic pattern stays below a
// hundred.
// 1000 levels take less than 256 KiB of stack even in an address-sanitizer
// build (measured), well inside the smallest thread stack a host is likely to
// use (1 MiB). An attempt that would go deeper is abandoned: it counts as not
// matching, and the search goes on at the next start position.
#define RE_MAX_DEPTH 1000u

// Steps one line may spend. A step is about one atom test's worth of work
// (a few nanoseconds): one pass of the matching loop, one byte tested by a
// greedy run or passed by a give-back, one pattern byte visited by a bar
// walk, or sixteen bytes of a plain byte scan. The budget is
// RE_STEP_BUDGET_BASE + RE_STEP_BUDGET_PER_BYTE * (text length + 1).
// Realistic patterns spend a few dozen steps per start position (a greedy run
// over a word and its give-back), far below 2048, and most lines are settled
// by a literal prefilter without any; the base covers one pass over a pattern
// of a million bytes. A backtracking blow-up such as a*a*a*a*a*a*a*a*a*a*c on
// 10,000 'a' is cut off after 3e7 steps, about 0.2 s. A line that exhausts its
// budget counts as not matching.
#define RE_STEP_BUDGET_BASE 10000000u
#define RE_STEP_BUDGET_PER_BYTE 2048u

// ---- The interpreter's inner operations ----

// The budget record of one line. re_search_line sets it up; tests and fuzzers
// read it afterwards to see what a search spent. Lives on the caller's stack.
typedef struct re_state {
  bool ignore_case;
  uint32_t depth;          // current nesting of re_match_here / re_match_star
  uint32_t depth_peak;     // deepest nesting reached
  uint64_t steps_left;     // what remains of the line's step budget
  bool attempt_abandoned;  // the current attempt went deeper than RE_MAX_DEPTH
  bool line_exhausted;     // the line's step budget ran out
  const char *last_bar;    // the pattern's last '|', or null: bar walks stop there
  // The last re_match_star call that failed without a budget stopping it:
  // its rest was tried, and failed, at every position from `failed_from` to
  // `failed_run_end`, at nesting `failed_depth`. Null `failed_atom`: none yet.
  const char *failed_atom;
  const char *failed_rest;
  const char *failed_rest_end;
  const char *failed_from;
  const char *failed_run_end;
  uint32_t failed_depth;
} re_state;

// Prepares `st` for matching `pattern` (NUL-terminated, not null) against a
// line of `text_len` bytes: full budgets, no nesting, nothing remembered. A
// state serves one line: prepare it again before matching another text, as
// it remembers failures by text position. Holds no resources.
void re_state_init(re_state *st, const char *pattern, size_t text_len, bool ignore_case);

// regex_find_first on a caller-provided state, which it initialises itself
// and leaves holding what the search spent. Pattern and text must not be null.
bool re_search_line(const char *pattern, const char *text, bool ignore_case, re_state *st,
                    int32_t *out_col, int32_t *out_len);

// True when the pattern remainder [p, p_end) matches at exactly text position
// `t` (inside a NUL-terminated text); then writes the byte length of the match
// to `out_len` (not null), else leaves it alone. Fails without further work
// once the attempt is abandoned or the line exhausted (see `st`).
bool re_match_here(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len);

// Matches the atom at `atom`, repeated greedily zero or more times and giving
// back one byte at a time, followed by the rest [rest, rest_end), at `t`.
// Same result convention as re_match_here.
bool re_match_star(const char *atom, const char *rest, const char *rest_end, const char *t,
                   re_state *st, size_t *out_len);

// True when the atom beginning at `atom` matches the text byte `c` (never the
// terminating NUL). `p_end` ends the pattern remainder holding the atom: an
// unterminated class runs up to it. Pure; any thread.
bool re_atom_match(const char *atom, const char *p_end, unsigned char c, bool ignore_case);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_H
