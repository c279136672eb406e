// UTF-8: the one table of lead bytes, strict validation and repair.
//
// "Valid" means what strict JSON readers and writers accept: shortest forms
// only, no UTF-16 surrogate code points (ED A0 80..ED BF BF), nothing above
// U+10FFFF. Pure functions; any thread.
#ifndef QG_UTF8_H
#define QG_UTF8_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What a byte says when it begins a sequence, for every byte value: the
// length its top bits announce (1 for 00..7F, 2 for 80..DF, 3 for E0..EF,
// 4 for F0..FF: the permissive reading of a converter that takes any bytes),
// and whether it can begin a valid sequence at all (00..7F, C2..F4).
typedef struct qg_utf8_lead {
  unsigned char announced;
  bool valid;
} qg_utf8_lead;

static inline qg_utf8_lead qg_utf8_lead_of(unsigned char c) {
  qg_utf8_lead lead;
  lead.announced = (unsigned char)(c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4);
  lead.valid = c < 0x80 || (c >= 0xC2 && c <= 0xF4);
  return lead;
}

// Writes the UTF-8 form of the code point `cp` (at most 0x10FFFF; the
// surrogates D800..DFFF take their three-byte forms, which is how unpaired
// surrogates of a UTF-16 file are carried) to `out` and returns its length,
// 1 to 4.
static inline size_t qg_utf8_encode(uint32_t cp, unsigned char *out) {
  if (cp < 0x80) {
    out[0] = (unsigned char)cp;
    return 1;
  }
  const size_t n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  for (size_t i = n - 1; i > 0; --i) {
    out[i] = (unsigned char)(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  out[0] = (unsigned char)((0xF00u >> n) | cp);
  return n;
}

// Length of the valid UTF-8 sequence at the start of the `avail` bytes at `s`
// (1 to 4), or 0 when those bytes do not start one.
size_t qg_utf8_sequence_length(const unsigned char *s, size_t avail);

// True when the `len` bytes at `s` are valid UTF-8 throughout.
bool qg_utf8_valid(const char *s, size_t len);

// True when the `len` bytes at `s` convert to UTF-16 units and back without a
// change: valid UTF-8, where the three-byte forms of surrogates (ED A0 80..ED
// BF BF), which the reader makes from unpaired surrogates of a UTF-16 file,
// count as valid too. Cut sequences, stray continuation bytes, overlong forms
// and bytes that no UTF-8 holds do not.
bool qg_utf8_valid_for_utf16(const char *s, size_t len);

// The code point of the unit at `pos` (< n) of the `n` bytes at `s`: that of
// the valid sequence beginning there, or 0xDC00 + the byte for a byte that
// begins none (the convention of Python's surrogateescape, a code point no
// valid text holds).
uint32_t qg_utf8_unit_at(const unsigned char *s, size_t n, size_t pos);

// The code point, read the same way, of the unit that ends at `pos` (> 0):
// the valid sequence of two to four bytes that ends there, else the byte
// before `pos` alone.
uint32_t qg_utf8_unit_before(const unsigned char *s, size_t pos);

// The length of the longest prefix of the `len` bytes at `s` that ends on a
// sequence boundary, for a text cut at `len`: a sequence the cut leaves
// incomplete is dropped whole (its lead byte and the continuation bytes
// after it).
size_t qg_utf8_cut_boundary(const char *s, size_t len);

#ifdef __cplusplus
}
#endif

#endif  // QG_UTF8_H
