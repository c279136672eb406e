// SHA-256 with the processor's SHA instructions: sixteen groups of four
// rounds per block, the message schedule kept in four vectors that take
// turns. Compiled for SHA and SSE4.1, and called only where the processor
// has them (qg_sha256_blocks_select).
#include "grep_core/simd/x86_64/x86.h"

#include "grep_core/sha256_rounds.h"

#include <immintrin.h>

void qg_sha256_blocks_shani(uint32_t state[8], const unsigned char *data, size_t blocks) {
  // The instructions keep the state as ABEF and CDGH.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0xB1);
  __m128i efgh =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    __m128i w[4];
    for (int g = 0; g < 16; ++g) {
      // Group g's four message words: read for the first four groups,
      // finished by the group before for the others.
      if (g < 4) {
        w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * g)),
                                byte_swap);
      }
      __m128i words = _mm_add_epi32(
          w[g % 4], _mm_load_si128(reinterpret_cast<const __m128i *>(kSha256Rounds + 4 * g)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
      if (g >= 3 && g < 15) {
        __m128i &next = w[(g + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[g % 4], w[(g + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, w[g % 4]);
      }
      words = _mm_shuffle_epi32(words, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
      if (g >= 1 && g <= 12) w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], w[g % 4]);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
