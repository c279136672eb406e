#include "grep_core/find_set.h"

#include "grep_core/ascii_class.h"
#include "grep_core/find_bytes.h"
#include "grep_core/simd/simd.h"

#include <stdint.h>
#include <string.h>

namespace {

const qg_simd_ops &ops() {
  static const qg_simd_ops chosen = qg_simd_select();
  return chosen;
}

// How common the byte at offset `i` of string `k` is, both cases counted
// when it folds.
unsigned rank_at(const qg_set_finder *f, int k, size_t i) {
  const unsigned char c = static_cast<unsigned char>(f->needles[k][i]);
  const unsigned char lower = qg_lower(c);
  if (!f->fold || lower < 'a' || lower > 'z') return qg_byte_rank(c);
  const unsigned a = qg_byte_rank(lower), b = qg_byte_rank(static_cast<unsigned char>(lower - 32));
  return a > b ? a : b;
}

// Marks `bucket` for byte `c` at fingerprint position `j`, and for its
// other case when the finder folds.
void mark(qg_set_finder *f, int j, unsigned char c, int bucket) {
  const unsigned char bit = static_cast<unsigned char>(1u << bucket);
  const unsigned char lower = qg_lower(c);
  const bool letter = f->fold && lower >= 'a' && lower <= 'z';
  const unsigned char forms[2] = {letter ? lower : c, static_cast<unsigned char>(lower - 32)};
  for (int k = 0; k < (letter ? 2 : 1); ++k) {
    f->lo[j][forms[k] & 15] |= bit;
    f->hi[j][forms[k] >> 4] |= bit;
    f->table[j][forms[k]] |= bit;
  }
}

}  // namespace

void qg_set_finder_init(qg_set_finder *f, const char *const *needles, const size_t *lens, int count,
                        bool case_sensitive) {
  memset(f, 0, sizeof *f);
  f->count = count < QG_SET_FINDER_MAX ? count : QG_SET_FINDER_MAX;
  f->fold = !case_sensitive;
  f->shortest = SIZE_MAX;
  for (int k = 0; k < f->count; ++k) {
    f->needles[k] = needles[k];
    f->lens[k] = lens[k];
    if (lens[k] < f->shortest) f->shortest = lens[k];
  }
  f->width = f->shortest < 3 ? static_cast<int>(f->shortest) : 3;
  // The window of the fingerprint: the offset whose bytes are rarest over
  // all the strings, so that few positions become candidates.
  unsigned best = UINT32_MAX;
  for (size_t o = 0; o + static_cast<size_t>(f->width) <= f->shortest; ++o) {
    unsigned worst = 0;  // the commonest string decides how often the window fires
    for (int k = 0; k < f->count; ++k) {
      unsigned sum = 0;
      for (int j = 0; j < f->width; ++j) sum += rank_at(f, k, o + static_cast<size_t>(j));
      if (sum > worst) worst = sum;
    }
    if (worst < best) {
      best = worst;
      f->offset = o;
    }
  }
  for (int k = 0; k < f->count; ++k) {
    const int bucket = k % 8;
    f->bucket_needles[bucket] = static_cast<unsigned short>(f->bucket_needles[bucket] | (1u << k));
    for (int j = 0; j < f->width; ++j) {
      mark(f, j, static_cast<unsigned char>(needles[k][f->offset + static_cast<size_t>(j)]),
           bucket);
    }
  }
}

const char *qg_set_find_portable(const qg_set_finder *f, const char *text, size_t len, size_t from,
                                 int *which) {
  if (f->count == 0 || len < f->shortest) return nullptr;
  const auto *t = reinterpret_cast<const unsigned char *>(text);
  const size_t last = len - f->shortest;  // the last start a string fits at
  const size_t o = f->offset;
  for (size_t start = from; start <= last; ++start) {
    unsigned buckets = f->table[0][t[start + o]];
    for (int j = 1; j < f->width && buckets != 0; ++j)
      buckets &= f->table[j][t[start + o + static_cast<size_t>(j)]];
    for (; buckets != 0; buckets &= buckets - 1) {
      unsigned members = f->bucket_needles[__builtin_ctz(buckets)];
      for (; members != 0; members &= members - 1) {
        const int k = __builtin_ctz(members);
        if (qg_set_matches_at(f, k, text + start, len - start)) {
          if (which != nullptr) *which = k;
          return text + start;
        }
      }
    }
  }
  return nullptr;
}

const char *qg_set_finder_find(const qg_set_finder *f, const char *text, size_t len, int *which) {
  if (ops().find_set != nullptr) return ops().find_set(f, text, len, which);
  return qg_set_find_portable(f, text, len, 0, which);
}
