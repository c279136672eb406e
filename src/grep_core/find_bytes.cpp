#include "grep_core/find_bytes.h"

#include "grep_core/ascii_class.h"
#include "grep_core/byte_scan.h"
#include "grep_core/simd/simd.h"
#include "grep_core/text_lines.h"

#include <string.h>

namespace {

// How common each byte is in source trees (0: never seen, 255: the space),
// on a log scale, measured once over 150 MB of the Linux source. The two
// bytes of a needle that pick candidates are its rarest ones, so that few
// candidates need a full comparison.
constexpr unsigned char kByteRank[256] = {
    0,   0,   0,   0,   0,   0,   0,   0,   0,   237, 236, 0,   61,  0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   255, 173, 206, 195, 156, 170,
    194, 168, 215, 215, 213, 180, 219, 220, 208, 206, 223, 211, 208, 200, 199, 195, 198, 189, 198,
    190, 201, 217, 197, 217, 208, 145, 170, 213, 194, 213, 209, 214, 200, 197, 193, 213, 152, 189,
    209, 209, 208, 206, 209, 173, 211, 213, 213, 199, 191, 186, 191, 181, 165, 181, 173, 181, 154,
    237, 180, 234, 213, 232, 230, 243, 222, 216, 219, 236, 168, 210, 228, 223, 235, 233, 226, 187,
    236, 236, 240, 225, 212, 204, 211, 205, 183, 197, 181, 197, 166, 0,   166, 153, 158, 149, 159,
    152, 149, 148, 155, 150, 146, 150, 159, 148, 142, 154, 147, 139, 131, 138, 152, 147, 148, 144,
    149, 147, 159, 146, 158, 146, 140, 142, 151, 149, 138, 137, 147, 148, 144, 143, 157, 135, 141,
    135, 138, 147, 153, 155, 153, 137, 133, 138, 142, 133, 145, 138, 163, 145, 155, 156, 161, 154,
    142, 150, 0,   0,   116, 123, 36,  66,  0,   0,   0,   0,   0,   31,  0,   0,   27,  0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   131, 157,
    172, 180, 175, 171, 167, 160, 125, 146, 149, 128, 0,   154, 0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,
};

bool is_letter(unsigned char c) { return qg_lower(c) != c || (c >= 'a' && c <= 'z'); }

// How common the byte at needle offset `i` is, both cases counted when it folds.
unsigned rank_at(const qg_finder *f, size_t i) {
  const unsigned char c = static_cast<unsigned char>(f->needle[i]);
  if (!f->fold || !is_letter(c)) return kByteRank[c];
  const unsigned char lower = qg_lower(c);
  const unsigned char upper = static_cast<unsigned char>(lower - ('a' - 'A'));
  const unsigned a = kByteRank[lower], b = kByteRank[upper];
  return a > b ? a : b;
}

// The operations of this processor, chosen on first use (a function-local
// static: its one-time initialisation is safe from several threads).
const qg_simd_ops &ops() {
  static const qg_simd_ops chosen = qg_simd_select();
  return chosen;
}

}  // namespace

unsigned qg_byte_rank(unsigned char c) { return kByteRank[c]; }

void qg_finder_init(qg_finder *f, const char *needle, size_t n, bool case_sensitive) {
  f->needle = needle;
  f->n = n;
  f->fold = !case_sensitive;
  const size_t picked = n < QG_FINDER_MAX ? n : QG_FINDER_MAX;
  for (size_t i = 0; i < picked; ++i) {
    f->lower[i] = f->fold ? qg_lower(static_cast<unsigned char>(needle[i]))
                          : static_cast<unsigned char>(needle[i]);
  }
  // The rarest byte, then the rarest other one, among the first bytes.
  size_t a = 0, b = picked > 1 ? 1 : 0;
  for (size_t i = 0; i < picked; ++i) {
    if (rank_at(f, i) < rank_at(f, a)) a = i;
  }
  for (size_t i = 0; i < picked; ++i) {
    if (i != a && (b == a || rank_at(f, i) < rank_at(f, b))) b = i;
  }
  f->i1 = a < b ? a : b;
  f->i2 = a < b ? b : a;
  if (picked == 0) f->i1 = f->i2 = 0;
  f->b1 = picked > 0 ? f->lower[f->i1] : 0;
  f->b2 = picked > 0 ? f->lower[f->i2] : 0;
  f->fold1 = f->fold && is_letter(f->b1);
  f->fold2 = f->fold && is_letter(f->b2);
}

const char *qg_find_portable(const qg_finder *f, const char *text, size_t len, size_t from) {
  const size_t n = f->n;
  if (n == 0 || n > len) return nullptr;
  // Candidates are the positions of the first picking byte (either case),
  // found with memchr (each case's next position remembered, so every byte
  // is read at most once per case); each is then compared whole.
  const size_t last = len - n;  // the last possible start
  if (from > last) return nullptr;
  const unsigned char other = f->fold1 ? static_cast<unsigned char>(f->b1 - ('a' - 'A')) : f->b1;
  qg_byte_scan scan;
  qg_byte_scan_init2(&scan, text + f->i1, last + 1, f->b1, other);
  for (size_t s = from; s <= last; ++s) {
    s = qg_byte_scan_next(&scan, s);
    if (s > last) return nullptr;
    if (qg_finder_matches_at(f, text + s)) return text + s;
  }
  return nullptr;
}

size_t qg_count_breaks_portable(const char *begin, const char *end) {
  size_t count = 0;
  for (const char *p = begin; p < end; ++p) count += qg_is_line_break(p) ? 1 : 0;
  return count;
}

const char *qg_finder_find(const qg_finder *f, const char *text, size_t len) {
  if (f->n == 0 || f->n > len) return nullptr;
  if (f->n == 1 && !f->fold1) return static_cast<const char *>(memchr(text, f->b1, len));
  const qg_find_fn find = ops().find;
  return find != nullptr ? find(f, text, len) : qg_find_portable(f, text, len, 0);
}

size_t qg_count_line_breaks(const char *begin, const char *end) {
  if (end <= begin) return 0;
  const qg_count_fn count = ops().count_breaks;
  return count != nullptr ? count(begin, end) : qg_count_breaks_portable(begin, end);
}
