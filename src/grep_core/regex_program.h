// The compiled form of a pattern, shared by the compilers (regex_dialect.cpp
// for the dialect, regex_standard_compile.cpp for the standard syntax) and
// the matchers (regex_exec.cpp, regex_dfa.cpp). Internal to the pattern
// matcher.
//
// A program is a list of instructions; a thread of the automaton is an
// instruction and a text position. SPLIT continues at `next` first and at
// `arg` only when everything from `next` has failed: that is the priority
// order of the pattern's meaning (the dialect's definition, or leftmost-first
// for the standard syntax). Every cycle of the program passes a SET (each
// loop consumes a byte), so no path returns to an instruction without moving
// forward in the text. ASSERT tests only the position and the bytes around
// it, so what follows a thread still depends on its instruction and position
// alone.
#ifndef QG_REGEX_PROGRAM_H
#define QG_REGEX_PROGRAM_H

#include "grep_core/find_bytes.h"
#include "grep_core/find_set.h"
#include "grep_core/regex.h"
#include "grep_core/regex_standard_parse.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum re_op {
  RE_OP_MATCH = 0,   // the attempt succeeds here
  RE_OP_SET = 1,     // consume one byte of set `arg`, then `next`
  RE_OP_SPLIT = 2,   // `next`, then `arg`
  RE_OP_END = 3,     // only at the end of the text: then `next`
  RE_OP_ASSERT = 4,  // only where the test `arg` (re_assert_kind) holds: then `next`
  RE_OP_SAVE = 5,    // (captures programs only) record the position in slot `arg`, then `next`
} re_op;

typedef struct re_inst {
  uint32_t op;
  uint32_t next;
  uint32_t arg;
} re_inst;

// 256 bits, one per byte value.
typedef struct re_byteset {
  uint64_t bits[4];
} re_byteset;

static inline bool re_set_has(const re_byteset *s, unsigned char c) {
  return (s->bits[c >> 6] >> (c & 63)) & 1;
}

// Most alternatives whose required literals the line prefilter keeps.
#define RE_MAX_PREFILTER_LITERALS 16

struct re_program {
  re_inst *insts;
  uint32_t count;
  re_byteset *sets;
  uint32_t set_count;
  uint32_t start;   // first instruction of an attempt
  bool anchored;    // the pattern began with '^': one attempt, at position 0
  bool utf8_units;  // attempts begin only where a unit begins (see unit_starts_at)
  bool no_dfa;      // searches use the exact matcher alone (set by tests, to compare the two)
  // The program read backwards, for finding where a match begins from where
  // it ends (regex_dfa_bounds.h); null where it could not be made.
  struct re_program *reverse;
  // Compiled with `captures`: the same automaton with a SAVE where each
  // group begins and ends (run by re_find_groups alone), its groups, and
  // their names (null for a group without one); else null and 0.
  struct re_program *captures;
  uint32_t group_count;
  char **group_names;

  // Where attempts can begin: a byte of `first` at a position before the end,
  // or any position at all when `empty` (some path reaches MATCH without
  // consuming), or the end when `at_end` (some path reaches END first).
  re_byteset first;
  bool empty;
  bool at_end;
  int first_count;               // bytes in `first`, up to 3 counted
  unsigned char first_bytes[2];  // those bytes when there are at most two

  // A line can hold a match only when it holds one of the `literal_count`
  // literals (for the dialect, that of each top-level alternative), compared
  // ignoring ASCII case when `fold`; 0 literals: no such filter.
  int literal_count;
  bool fold;
  char literals[RE_MAX_PREFILTER_LITERALS][RE_PREFILTER_MAX + 1];
  size_t literal_lens[RE_MAX_PREFILTER_LITERALS];
  qg_finder literal_finders[RE_MAX_PREFILTER_LITERALS];  // prepared once for each
  qg_set_finder literal_set;  // all of them at once, when there are two or more
};

// Prepares the finders of the program's literals (filled before).
void re_prepare_literals(re_program *prog);

// Fills the program's literals from the standard syntax's tree: a set of
// texts one of which every match holds, when the pattern has one.
void re_tree_literals(const re_tree *tree, re_program *prog);

// True when a unit of a line read as the standard syntax reads it begins at
// `pos` of the `n` bytes at `text`: every position but those inside a valid
// multi-byte UTF-8 sequence (each byte that is not part of one being a unit
// of its own).
bool re_unit_starts_at(const char *text, size_t n, size_t pos);

// Whether the test `kind` (re_assert_kind) holds at `pos` of the `n` bytes
// at `text`.
bool re_assert_holds(uint32_t kind, const char *text, size_t n, size_t pos);

// Compiles `pattern` (`m` bytes) in the standard syntax, with the options'
// folding (as a leading "(?i)") and, with `whole_word`, as \b(?:pattern)\b.
// Null with the message and its kind set when it is invalid, too large or
// memory runs out; with *out_stopped set and no message when the stop check
// said to stop.
re_program *re_compile_standard(const char *pattern, size_t m, const re_options *options,
                                bool *out_stopped);

// The working memory of re_find_groups (regex_captures.cpp), made on its
// first use and kept in the scratch.
typedef struct re_capture_work re_capture_work;
void re_capture_work_free(re_capture_work *work);

// Begins a re_find_groups with the scratch (a stop said to an earlier
// search no longer counts) and tells where it keeps its re_capture_work
// (null until made).
re_capture_work **re_scratch_begin_captures(re_scratch *scratch);

// Spends one step of the scratch's stop check; false once it has said stop.
bool re_scratch_step(re_scratch *scratch);

// How re_search_at looks for a match.
typedef struct re_search_how {
  size_t from;         // attempts begin at or after this byte (anchors still see the whole line)
  bool anchored;       // one attempt, at `from`
  bool breadth_first;  // the breadth-first search alone, however short the line (the two
                       // searches must agree, which tests and the fuzzer check)
} re_search_how;

// The match of `program` in the `len` bytes at `text` as `how` says, with no
// prefilter: RE_MATCH with its start and end offsets, or why there is none.
re_result re_search_at(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                       const re_search_how *how, size_t *out_start, size_t *out_end);

// The first match of the `len` bytes at `text` as re_find gives it, from the
// bounds DFAs alone (regex_dfa_bounds.h), with no prefilter: RE_MATCH (the
// 1-based column and the length written), RE_NO_MATCH or RE_STOPPED with
// *decided set; *decided false where they cannot tell (the caller asks
// re_find) or the program has none.
re_result re_find_by_dfa(const re_program *program, re_scratch *scratch, const char *text,
                         size_t len, int32_t *out_col, int32_t *out_len, bool *decided);

// A part of a pattern compiled as the definition matches it: the remainder
// [rest, rest_end), anchored at the position it is tried at and without the
// meaning of a leading '^'; with `repeat_atom`, preceded by the atom at
// `atom` (which lies before `rest`, read within rest_end) repeated greedily,
// as the definition's star does. For the definition's named operations, which
// tests hold against their reference. Null when out of memory or too large.
re_program *re_compile_part(const char *atom, const char *rest, const char *rest_end,
                            bool case_sensitive, bool repeat_atom);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_PROGRAM_H
