// The x86-64 vector operations, for the selection in select.cpp. The AVX2
// ones run only where the processor has AVX2.
#ifndef QG_SIMD_X86_H
#define QG_SIMD_X86_H

#include "grep_core/simd/simd.h"

#ifdef __cplusplus
extern "C" {
#endif

const char *qg_find_sse2(const qg_finder *f, const char *text, size_t len);
const char *qg_find_sse2_from(const qg_finder *f, const char *text, size_t len, size_t from);
size_t qg_count_breaks_sse2(const char *begin, const char *end);
const char *qg_find_avx2(const qg_finder *f, const char *text, size_t len);
size_t qg_count_breaks_avx2(const char *begin, const char *end);
const char *qg_find_set_avx2(const qg_set_finder *f, const char *text, size_t len, int *which);
void qg_sha256_blocks_shani(uint32_t state[8], const unsigned char *data, size_t blocks);

// Bit counting as compiler builtins, expanded in place in each file: an
// out-of-line helper shared between the files could be the copy built for
// AVX2 and run where it is missing.
static inline unsigned qg_lowest_bit(unsigned mask) { return (unsigned)__builtin_ctz(mask); }
static inline unsigned qg_bit_count(unsigned mask) { return (unsigned)__builtin_popcount(mask); }

#ifdef __cplusplus
}
#endif

#endif  // QG_SIMD_X86_H
