// The packed-pair search and the line-break count with AVX2: 32 text
// positions per step. Built with AVX2 enabled and called only after the
// processor was seen to have it; nothing here is shared with other files
// but through the two functions below.
#include "grep_core/simd/x86_64/x86.h"

#include <immintrin.h>


namespace {

inline __m256i equal_to(__m256i block, unsigned char b, bool fold) {
  if (fold) block = _mm256_or_si256(block, _mm256_set1_epi8(0x20));
  return _mm256_cmpeq_epi8(block, _mm256_set1_epi8(static_cast<char>(b)));
}

}  // namespace

const char *qg_find_avx2(const qg_finder *f, const char *text, size_t len) {
  const size_t last = len - f->n;
  size_t p = 0;
  for (; p + f->i2 + 32 <= len && p <= last; p += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + p + f->i1));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + p + f->i2));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(equal_to(a, f->b1, f->fold1), equal_to(b, f->b2, f->fold2))));
    while (mask != 0) {
      const size_t start = p + static_cast<size_t>(qg_lowest_bit(mask));
      if (start > last) return nullptr;
      if (qg_finder_matches_at(f, text + start)) return text + start;
      mask &= mask - 1;
    }
  }
  return qg_find_sse2_from(f, text, len, p);
}

size_t qg_count_breaks_avx2(const char *begin, const char *end) {
  const __m256i lf = _mm256_set1_epi8('\n');
  const __m256i cr = _mm256_set1_epi8('\r');
  size_t count = 0;
  const char *p = begin;
  for (; end - p >= 32; p += 32) {
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 1));
    const unsigned lfs = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, lf)));
    const unsigned crs = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, cr)));
    const unsigned paired =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(next, lf)));
    count += static_cast<size_t>(qg_bit_count(lfs) + qg_bit_count(crs & ~paired));
  }
  return count + qg_count_breaks_sse2(p, end);
}
