// The pattern matcher's inner parts that the line search (regex_search.cpp)
// shares with the interpreter (regex.cpp). Pattern pieces are ranges [p,
// p_end) of the caller's pattern; nothing here allocates or keeps state
// beyond the caller's re_state; any thread.
#ifndef QG_REGEX_PARTS_H
#define QG_REGEX_PARTS_H

#include <stdbool.h>
#include <stddef.h>
#include <string.h>

#include "grep_core/regex.h"

#ifdef __cplusplus
extern "C" {
#endif

// An atom decoded once for loops that test it against many text bytes.
typedef enum re_atom_kind {
  RE_KIND_ANY,
  RE_KIND_BYTE,
  RE_KIND_FOLDED_BYTE,
  RE_KIND_DIGIT,
  RE_KIND_NOT_DIGIT,
  RE_KIND_WORD,
  RE_KIND_NOT_WORD,
  RE_KIND_SPACE,
  RE_KIND_NOT_SPACE,
  RE_KIND_CLASS,
} re_atom_kind;

typedef struct re_atom_test {
  re_atom_kind kind;
  unsigned char byte;  // RE_KIND_BYTE; lowercased for RE_KIND_FOLDED_BYTE
  const char *atom;    // RE_KIND_CLASS: tested with re_atom_match
  const char *p_end;
  bool fold;
} re_atom_test;

// ---- Atom reading, inline because the search calls it for every line ----

// Where the class beginning at `open` (a '[') ends: past its closing ']', or
// `p_end` when it has none. Writes its member range and negation.
static inline const char *re_class_extent(const char *open, const char *p_end, const char **members,
                                          const char **members_end, bool *negated) {
  const char *m = open + 1;
  *negated = m < p_end && *m == '^';
  if (*negated) ++m;
  *members = m;
  const char *close = (const char *)memchr(m, ']', (size_t)(p_end - m));
  *members_end = close != NULL ? close : p_end;
  return close != NULL ? close + 1 : p_end;
}

// Where the atom at `p` (p < p_end) ends: two bytes for an escape, one for a
// plain byte, past the ']' for a class, and `p_end` for a lone trailing '\'
// or an unterminated class.
static inline const char *re_atom_end(const char *p, const char *p_end) {
  if (*p == '\\') return p + 1 < p_end ? p + 2 : p_end;
  if (*p == '[') {
    const char *members, *members_end;
    bool negated;
    return re_class_extent(p, p_end, &members, &members_end, &negated);
  }
  return p + 1;
}

static inline bool re_is_plain_byte_atom(const char *atom) {
  return *atom != '\\' && *atom != '[' && *atom != '.';
}

// True when the atom matches exactly one byte value up to ASCII case: a plain
// byte (folded when `ignore_case`) or an escaped byte naming no class (never
// folded). Then writes the byte and whether it folds; outputs not null.
static inline bool re_single_byte_atom(const char *atom, const char *p_end, bool ignore_case,
                                       unsigned char *byte, bool *fold) {
  if (re_is_plain_byte_atom(atom)) {
    *byte = (unsigned char)*atom;
    *fold = ignore_case;
    return true;
  }
  if (*atom != '\\' || atom + 1 >= p_end) return false;
  switch (atom[1]) {
    case 'd':
    case 'D':
    case 'w':
    case 'W':
    case 's':
    case 'S':
      return false;
    default:
      *byte = (unsigned char)atom[1];
      *fold = false;
      return true;
  }
}

// ---- Shared operations ----

// The first '|' of [p, p_end) at bracket count 0 by the bar walk ('\' skips
// the next byte, '[' counts up, ']' down), or null. Spends a step per byte
// visited; null as well when that exhausts the line's budget.
const char *re_find_bar(const char *p, const char *p_end, re_state *st);

// The atom every match of [p, p_end) must begin with, or null when a match
// may begin otherwise (a divided remainder, a first atom under '*' or '?',
// the lone anchor '$', the empty remainder). Sets *barless when the
// remainder was walked and holds no bar. `barless` must not be null.
const char *re_required_first_atom(const char *p, const char *p_end, re_state *st, bool *barless);

// re_match_here, told by `barless` that a bar walk from `p` finds no bar.
bool re_match_from(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len,
                   bool barless);

// The end of the greedy run from `t` of the atom at `atom`, its steps spent.
const char *re_greedy_run(const char *atom, const char *p_end, const char *t, re_state *st);

// Decodes the atom at `atom` (inside [atom, p_end)) for the flag `fold`.
re_atom_test re_decode_atom(const char *atom, const char *p_end, bool fold);

// The first position in [s, n) of `text` whose byte the atom matches, or n.
size_t re_find_forward(const re_atom_test *a, const char *text, size_t s, size_t n);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_PARTS_H
