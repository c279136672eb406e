// Reading atoms of the dialect from pattern bytes, shared by its compiler
// and the tests' reference matcher. Pattern pieces are ranges [p, p_end) of the caller's
// pattern; nothing here allocates or keeps state; any thread.
#ifndef QG_REGEX_DIALECT_PARTS_H
#define QG_REGEX_DIALECT_PARTS_H

#include <stdbool.h>
#include <stddef.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_DIALECT_PARTS_H
