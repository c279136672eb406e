// Strict UTF-8 validation and repair.
//
// "Valid" means what strict JSON readers and writers accept: shortest forms
// only, no UTF-16 surrogate code points (ED A0 80..ED BF BF), nothing above
// U+10FFFF. Pure functions; any thread.
#ifndef QG_UTF8_H
#define QG_UTF8_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

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

// A new NUL-terminated copy of the `len` bytes at `s` in which each byte that
// is not part of a valid sequence is replaced by U+FFFD (EF BF BD); valid
// input is copied unchanged. The caller frees it; null when out of memory.
char *qg_utf8_replace_invalid(const char *s, size_t len);

#ifdef __cplusplus
}
#endif

#endif  // QG_UTF8_H
