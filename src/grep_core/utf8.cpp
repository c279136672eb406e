#include "grep_core/utf8.h"

#include <stdint.h>

size_t qg_utf8_sequence_length(const unsigned char *s, size_t avail) {
  if (avail == 0) return 0;
  const unsigned char c = s[0];
  const qg_utf8_lead lead = qg_utf8_lead_of(c);
  if (!lead.valid) return 0;
  const size_t need = lead.announced;
  if (need == 1) return 1;
  if (avail < need) return 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c == 0xE0) lo = 0xA0;            // no overlong three-byte forms
  if (c == 0xED) hi = 0x9F;            // no surrogates
  if (c == 0xF0) lo = 0x90;            // no overlong four-byte forms
  if (c == 0xF4) hi = 0x8F;            // nothing above U+10FFFF
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
    const size_t n = qg_utf8_sequence_length(p + i, len - i);
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

size_t qg_utf8_cut_boundary(const char *s, size_t len) {
  auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t back = 0;  // continuation bytes at the end
  while (back < 3 && back < len && (p[len - 1 - back] & 0xC0) == 0x80) ++back;
  if (back == len) return len;
  const size_t lead_at = len - 1 - back;
  const qg_utf8_lead lead = qg_utf8_lead_of(p[lead_at]);
  return lead.valid && lead.announced > back + 1 ? lead_at : len;
}

uint32_t qg_utf8_unit_at(const unsigned char *s, size_t n, size_t pos) {
  const size_t len = qg_utf8_sequence_length(s + pos, n - pos);
  if (len == 0) return 0xDC00u + s[pos];
  if (len == 1) return s[pos];
  uint32_t cp = s[pos] & (0x7Fu >> len);
  for (size_t i = 1; i < len; ++i) cp = (cp << 6) | (s[pos + i] & 0x3Fu);
  return cp;
}

uint32_t qg_utf8_unit_before(const unsigned char *s, size_t pos) {
  for (size_t back = 2; back <= 4 && back <= pos; ++back) {
    if (qg_utf8_sequence_length(s + pos - back, back) == back) {
      return qg_utf8_unit_at(s, pos, pos - back);
    }
  }
  return qg_utf8_unit_at(s, pos, pos - 1);
}
