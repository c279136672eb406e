#include "grep_core/utf8.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

size_t qg_utf8_sequence_length(const unsigned char *s, size_t avail) {
  if (avail == 0) return 0;
  unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 4;
    if (c == 0xF0) lo = 0x90;  // no overlong forms
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (avail < need) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < need; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  return need;
}

bool qg_utf8_valid(const char *s, size_t len) {
  auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t i = 0;
  while (i < len) {
    if (p[i] < 0x80) {  // ASCII runs dominate source text
      ++i;
      continue;
    }
    size_t n = qg_utf8_sequence_length(p + i, len - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// True when the bytes at `p` (at least three available) are the three-byte form
// of a UTF-16 surrogate.
static bool is_surrogate_form(const unsigned char *p, size_t avail) {
  return avail >= 3 && p[0] == 0xED && p[1] >= 0xA0 && p[1] <= 0xBF && (p[2] & 0xC0) == 0x80;
}

bool qg_utf8_valid_for_utf16(const char *s, size_t len) {
  auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t i = 0;
  while (i < len) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    size_t n = qg_utf8_sequence_length(p + i, len - i);
    if (n == 0 && is_surrogate_form(p + i, len - i)) n = 3;
    if (n == 0) return false;
    i += n;
  }
  return true;
}

char *qg_utf8_replace_invalid(const char *s, size_t len) {
  // Each invalid byte grows to three, so three times the input always fits.
  if (len > (SIZE_MAX - 1) / 3) return nullptr;
  auto *out = static_cast<char *>(malloc(len * 3 + 1));
  if (out == nullptr) return nullptr;
  auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t o = 0;
  size_t i = 0;
  while (i < len) {
    size_t n = qg_utf8_sequence_length(p + i, len - i);
    if (n == 0) {
      memcpy(out + o, "\xEF\xBF\xBD", 3);
      o += 3;
      i += 1;
    } else {
      memcpy(out + o, s + i, n);
      o += n;
      i += n;
    }
  }
  out[o] = '\0';
  return out;
}
