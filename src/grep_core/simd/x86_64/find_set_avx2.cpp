// The search for several strings with AVX2: 32 candidate starts per step,
// each fingerprinted by up to three bytes through low- and high-nibble
// lookups of bucket bits. Built with AVX2 enabled and called only after the
// processor was seen to have it.
#include "grep_core/simd/x86_64/x86.h"

#include <immintrin.h>

namespace {

// The nibble tables of one fingerprint byte, in both 128-bit lanes.
struct tables {
  __m256i lo, hi;
};

inline tables tables_of(const qg_set_finder *f, int j) {
  return {
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(f->lo[j]))),
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(f->hi[j])))};
}

// The bucket bits of the 32 bytes at `p` under `t`.
inline __m256i buckets_of(const tables &t, const char *p) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
  const __m256i lo = _mm256_and_si256(bytes, nibble);
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble);
  return _mm256_and_si256(_mm256_shuffle_epi8(t.lo, lo), _mm256_shuffle_epi8(t.hi, hi));
}

// Confirms the candidates of one step (`mask`, with their bucket bits in
// `found`) from `p` on, in order; the first string found, or null.
const char *confirm(const qg_set_finder *f, const char *text, size_t len, size_t p, unsigned mask,
                    const unsigned char *found, int *which) {
  const size_t last = len - f->shortest;
  for (; mask != 0; mask &= mask - 1) {
    const unsigned bit = qg_lowest_bit(mask);
    const size_t start = p + bit;
    if (start > last) return nullptr;
    for (unsigned buckets = found[bit]; buckets != 0; buckets &= buckets - 1) {
      unsigned members = f->bucket_needles[qg_lowest_bit(buckets)];
      for (; members != 0; members &= members - 1) {
        const int k = static_cast<int>(qg_lowest_bit(members));
        if (qg_set_matches_at(f, k, text + start, len - start)) {
          if (which != nullptr) *which = k;
          return text + start;
        }
      }
    }
  }
  return nullptr;
}

// The steps for a fingerprint of WIDTH bytes; *from is where the vectors
// stopped (the rest is for the portable loop) when nothing was found.
template <int WIDTH>
const char *scan(const qg_set_finder *f, const char *text, size_t len, int *which, size_t *from) {
  const size_t last = len - f->shortest;
  const char *at = text + f->offset;
  const tables t0 = tables_of(f, 0);
  const tables t1 = tables_of(f, WIDTH > 1 ? 1 : 0);
  const tables t2 = tables_of(f, WIDTH > 2 ? 2 : 0);
  alignas(32) unsigned char found[32];
  size_t p = 0;
  for (; p + f->offset + WIDTH - 1 + 32 <= len && p <= last; p += 32) {
    __m256i m = buckets_of(t0, at + p);
    if (WIDTH > 1) m = _mm256_and_si256(m, buckets_of(t1, at + p + 1));
    if (WIDTH > 2) m = _mm256_and_si256(m, buckets_of(t2, at + p + 2));
    const unsigned mask =
        ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(m, _mm256_setzero_si256())));
    if (mask == 0) continue;
    _mm256_store_si256(reinterpret_cast<__m256i *>(found), m);
    const char *hit = confirm(f, text, len, p, mask, found, which);
    if (hit != nullptr) return hit;
    if (p + 31 >= last) {
      *from = len;  // every start up to the last was looked at
      return nullptr;
    }
  }
  *from = p;
  return nullptr;
}

}  // namespace

const char *qg_find_set_avx2(const qg_set_finder *f, const char *text, size_t len, int *which) {
  if (f->count == 0 || len < f->shortest) return nullptr;
  size_t from = 0;
  const char *hit = f->width == 3   ? scan<3>(f, text, len, which, &from)
                    : f->width == 2 ? scan<2>(f, text, len, which, &from)
                                    : scan<1>(f, text, len, which, &from);
  if (hit != nullptr || from >= len) return hit;
  return qg_set_find_portable(f, text, len, from, which);
}
