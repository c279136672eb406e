// The fixed ASCII byte classes shared by the pattern matcher, the literal
// finder and the name globs. Bytes 0x80-0xFF belong to no class and lowercase
// to themselves, so multi-byte UTF-8 characters only ever equal themselves.
#ifndef QG_ASCII_CLASS_H
#define QG_ASCII_CLASS_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

// 0x30-0x39.
static inline bool qg_is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// An ASCII letter, a digit or '_'.
static inline bool qg_is_word(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || qg_is_digit(c) || c == '_';
}

// 0x20 and 0x09-0x0D.
static inline bool qg_is_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Maps A-Z to a-z and every other byte to itself.
static inline unsigned char qg_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

// True when the class members [m, m_end) hold `c`. Members are read left to
// right; X '-' Y is a range when that '-' is not the last member byte, else
// bytes stand for themselves. Ranges compare as signed 8-bit values, so bytes
// 0x80-0xFF sort before ASCII. With `fold`, X, Y and c are lowercased first.
static inline bool qg_class_members_match(const char *m, const char *m_end, unsigned char c,
                                          bool fold) {
  signed char sc = (signed char)(fold ? qg_lower(c) : c);
  while (m < m_end) {
    unsigned char x = (unsigned char)m[0];
    if (fold) x = qg_lower(x);
    if (m_end - m >= 3 && m[1] == '-') {
      unsigned char y = (unsigned char)m[2];
      if (fold) y = qg_lower(y);
      if ((signed char)x <= sc && sc <= (signed char)y) return true;
      m += 3;
    } else {
      if ((signed char)x == sc) return true;
      m += 1;
    }
  }
  return false;
}

#ifdef __cplusplus
}
#endif

#endif  // QG_ASCII_CLASS_H
