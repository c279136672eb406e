// The pattern matcher, for both syntaxes a pattern may be written in: the
// library's own dialect, on bytes, and the standard syntax, on UTF-8 units
// (regex_standard_parse.h). A pattern is compiled once (re_compile_with)
// into a program that every line of a search is matched with; both syntaxes
// compile to the same kind of program, matched by the same code.
//
// Neither syntax has back-references, so each pattern describes a regular
// language, and the order in which its syntax tries alternatives, greedy
// and lazy repetitions and give-backs is a priority order over the paths of
// an automaton. The program is that automaton; matching follows the paths
// in that order and remembers which (instruction, position) pairs have
// failed, so its result (found, column, length) is the syntax's leftmost
// first match for every pattern and line, with no budget or depth limit.
//
// Worst case, for a program of S instructions and a line of n bytes:
// O(S * (n + 1)) time. Memory: O(S), plus the memoising search's record of
// the pairs it explored, a bitmap of S * (n + 1) bits while that is at most
// RE_MEMO_MAX_BITS, else a hash set of at most RE_MEMO_MAX_PAIRS pairs; a
// line that would need more is searched breadth first, in O(S) memory and the
// same time bound. Searches decide first which lines hold a match with a
// lazy DFA over the same program (regex_dfa.h), in a cache of at most
// RE_DFA_CACHE_BYTES per thread, and match only those lines as above; a
// match's bounds come first from two more DFAs (regex_dfa_bounds.h, at most
// RE_BOUNDS_CACHE_BYTES per scratch), which leave to the search above only
// what they cannot tell, so the bound stays O(S * (n + 1)).
// For the dialect, S is at most four per pattern byte plus a few (three per
// reachable pattern state, each state a position and the end of the
// alternative it belongs to), and compiling costs O(m) for a pattern of m
// bytes plus 256 steps per class member. The standard syntax's counted
// repetitions copy their body, within RE_MAX_INSTRUCTIONS in all. Nothing
// recurses with the text; the standard compiler recurses only as deep as
// groups nest (RE_MAX_NESTING).
#ifndef QG_REGEX_H
#define QG_REGEX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Compiled patterns ----

// An immutable compiled pattern; any number of threads may match with one at
// once, each with its own scratch.
typedef struct re_program re_program;

// Per-thread working memory for matching with one program.
typedef struct re_scratch re_scratch;

// Bounds on what a pattern may cost, so that no pattern can make a search
// allocate without end: a pattern of more bytes than RE_MAX_PATTERN_BYTES, or
// whose program would pass RE_MAX_INSTRUCTIONS instructions, is refused. A
// scratch for the largest program takes about 32 bytes per instruction.
#define RE_MAX_PATTERN_BYTES ((size_t)1 << 18)
#define RE_MAX_INSTRUCTIONS ((size_t)1 << 18)

// Asked every RE_STOP_CHECK_STEPS steps of a compilation or a match; a true
// answer abandons it. Lets a search with a time limit stop inside one long
// line, or while a huge pattern compiles.
typedef bool (*re_stop_check)(void *ctx);
#define RE_STOP_CHECK_STEPS 65536u

// The syntaxes a pattern may be written in.
typedef enum re_syntax {
  RE_SYNTAX_DIALECT = 0,  // the library's own dialect, on bytes
  RE_SYNTAX_STANDARD,  // the syntax of Python's re (ASCII classes unless `unicode`), on UTF-8 units
} re_syntax;

// How a pattern is compiled.
typedef struct re_options {
  bool case_sensitive;  // false: ASCII letters match either case
  re_stop_check stop;   // may be null
  void *stop_ctx;
  re_syntax syntax;
  bool whole_word;  // standard syntax: the matches of \b(?:PATTERN)\b
  bool captures;    // standard syntax: re_find_groups can tell where each group matched
  bool unicode;     // standard syntax: classes, \b and folding follow Unicode (as "(?u)")
} re_options;

// Compiles `pattern` (NUL-terminated; every byte string of the dialect is a
// valid pattern, the standard syntax refuses malformed ones with the fault
// and its place, GREP_E_ARGUMENT). Null when it cannot be: too large for the
// bounds above ("Pattern too large: ...", GREP_E_ARGUMENT) or out of memory
// (GREP_E_NO_MEMORY), with the message and its kind set; or when the stop
// check said to stop, with *out_stopped set (may be null) and no message.
// Released with re_program_free.
re_program *re_compile_with(const char *pattern, const re_options *options, bool *out_stopped);

// re_compile_with without a stop check.
re_program *re_compile(const char *pattern, bool case_sensitive);

void re_program_free(re_program *program);

// Working memory for `program`; null when out of memory. Released with
// re_scratch_free. One thread uses a scratch at a time.
re_scratch *re_scratch_new(const re_program *program);
void re_scratch_free(re_scratch *scratch);

void re_scratch_set_stop(re_scratch *scratch, re_stop_check check, void *ctx);

// Largest bitmap (instructions × positions) the memoising search uses, and
// most pairs it records in a hash set past that.
#define RE_MEMO_MAX_BITS ((size_t)1 << 23)
#define RE_MEMO_MAX_PAIRS ((size_t)1 << 20)

// Results of re_find.
typedef enum re_result {
  RE_NO_MATCH = 0,
  RE_MATCH = 1,
  RE_STOPPED = -1,    // the scratch's stop check said so
  RE_NO_MEMORY = -2,  // the search's working memory could not be had
} re_result;

// Finds the definition's first match of `program` in the `len` bytes at `text`
// (one line: no NUL, CR or LF needed or looked for beyond `len`). Writes the
// 1-based column and the length to the non-null outputs on RE_MATCH only.
re_result re_find(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                  int32_t *out_col, int32_t *out_len);

// re_find for a match that starts at or after byte `from` of the same line
// (everything before `from` still counts as the line's start for anchors).
re_result re_find_from(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                       size_t from, int32_t *out_col, int32_t *out_len);

// ---- Capturing groups ----

// Where one group took part in a match: byte offsets in the line, from 0,
// or RE_GROUP_UNSET in both when it took no part.
typedef struct re_group_span {
  size_t start, end;
} re_group_span;
#define RE_GROUP_UNSET SIZE_MAX

// Bound on the captures' working memory: a pattern whose instructions times
// twice its groups pass this is refused when compiled with `captures`
// ("Pattern too large for captures: ...", GREP_E_ARGUMENT). The working
// memory of re_find_groups is at most 8 bytes per cell.
#define RE_MAX_CAPTURE_CELLS ((size_t)1 << 22)

// The capturing groups of a program compiled with `captures` (numbered from
// 1 in the order of their opening parentheses); 0 for any other program.
uint32_t re_group_count(const re_program *program);

// The name of group `group` (1..re_group_count), or null when it has none.
// Owned by the program.
const char *re_group_name(const re_program *program, uint32_t group);

// Where each group took part in the match [start, end) of the `len` bytes at
// `text`, that re_find or re_find_from gave for the same program and line:
// re_group_count spans written to `groups`, as the syntax's leftmost-first
// reading of that match assigns them (a repeated group: its last iteration).
// RE_MATCH, or RE_STOPPED / RE_NO_MEMORY; RE_NO_MATCH when the bounds are not
// a match of the program. Time O(S * (end - start + 1) * G) for S
// instructions and G groups, with no back-tracking.
re_result re_find_groups(const re_program *program, re_scratch *scratch, const char *text,
                         size_t len, size_t start, size_t end, re_group_span *groups);

// Longest literal a program's line prefilter holds; a longer one is cut,
// which only lets more lines through its filter.
#define RE_PREFILTER_MAX 64

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_H
