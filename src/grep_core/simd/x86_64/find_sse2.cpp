// The packed-pair search and the line-break count with SSE2, which every
// x86-64 processor has: 16 text positions per step.
#include "grep_core/simd/x86_64/x86.h"

#include <emmintrin.h>


namespace {

// Bytes of a block equal to `b`, or for a folding letter to either case
// (OR 0x20 maps exactly 'A' and 'a' onto 'a', and likewise for every letter).
inline __m128i equal_to(__m128i block, unsigned char b, bool fold) {
  if (fold) block = _mm_or_si128(block, _mm_set1_epi8(0x20));
  return _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(b)));
}

}  // namespace

const char *qg_find_sse2(const qg_finder *f, const char *text, size_t len) {
  return qg_find_sse2_from(f, text, len, 0);
}

const char *qg_find_sse2_from(const qg_finder *f, const char *text, size_t len, size_t from) {
  const size_t last = len - f->n;  // the last possible start; n <= len here
  size_t p = from;
  for (; p + f->i2 + 16 <= len && p <= last; p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + p + f->i1));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + p + f->i2));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(equal_to(a, f->b1, f->fold1), equal_to(b, f->b2, f->fold2))));
    while (mask != 0) {
      const size_t start = p + static_cast<size_t>(qg_lowest_bit(mask));
      if (start > last) return nullptr;
      if (qg_finder_matches_at(f, text + start)) return text + start;
      mask &= mask - 1;
    }
  }
  return qg_find_portable(f, text, len, p);
}

size_t qg_count_breaks_sse2(const char *begin, const char *end) {
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  size_t count = 0;
  const char *p = begin;
  // Each block reads one byte past itself (to see what follows a CR); end[0]
  // is readable by contract.
  for (; end - p >= 16; p += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
    const unsigned lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, lf)));
    const unsigned crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, cr)));
    const unsigned paired = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, lf)));
    count += static_cast<size_t>(qg_bit_count(lfs) + qg_bit_count(crs & ~paired));
  }
  return count + qg_count_breaks_portable(p, end);
}
