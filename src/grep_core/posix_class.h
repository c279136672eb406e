// The named byte classes of bracket expressions ("[:alpha:]" and the like),
// one table for the pattern syntax and the ignore-file globs. Every class is
// ASCII: bytes 0x80-0xFF belong to none. Globs know the twelve classes of
// shell patterns; the pattern syntax knows those and "ascii" and "word".
// Immutable; any thread may read it.
#ifndef QG_POSIX_CLASS_H
#define QG_POSIX_CLASS_H

#include <stddef.h>
#include <string.h>

struct posix_class {
  const char *name;
  unsigned char ranges[4][2];  // inclusive byte ranges; {1, 0} marks an unused slot
  bool in_globs;
};

inline constexpr posix_class kPosixClasses[] = {
    {"alnum", {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {1, 0}}, true},
    {"alpha", {{'A', 'Z'}, {'a', 'z'}, {1, 0}, {1, 0}}, true},
    {"ascii", {{0, 0x7F}, {1, 0}, {1, 0}, {1, 0}}, false},
    {"blank", {{'\t', '\t'}, {' ', ' '}, {1, 0}, {1, 0}}, true},
    {"cntrl", {{0, 0x1F}, {0x7F, 0x7F}, {1, 0}, {1, 0}}, true},
    {"digit", {{'0', '9'}, {1, 0}, {1, 0}, {1, 0}}, true},
    {"graph", {{'!', '~'}, {1, 0}, {1, 0}, {1, 0}}, true},
    {"lower", {{'a', 'z'}, {1, 0}, {1, 0}, {1, 0}}, true},
    {"print", {{' ', '~'}, {1, 0}, {1, 0}, {1, 0}}, true},
    {"punct", {{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}, true},
    {"space", {{'\t', '\r'}, {' ', ' '}, {1, 0}, {1, 0}}, true},
    {"upper", {{'A', 'Z'}, {1, 0}, {1, 0}, {1, 0}}, true},
    {"word", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}, false},
    {"xdigit", {{'0', '9'}, {'A', 'F'}, {'a', 'f'}, {1, 0}}, true},
};

// The class named by the `n` bytes at `name`, or null when none is.
inline const posix_class *posix_class_named(const char *name, size_t n) {
  for (const posix_class &c : kPosixClasses) {
    if (strlen(c.name) == n && memcmp(c.name, name, n) == 0) return &c;
  }
  return nullptr;
}

// True when the class holds the byte `c`.
inline bool posix_class_holds(const posix_class &k, unsigned char c) {
  for (const auto &r : k.ranges) {
    if (r[0] <= c && c <= r[1]) return true;
  }
  return false;
}

#endif  // QG_POSIX_CLASS_H
