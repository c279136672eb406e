// The vector implementations of find_bytes.h, one set per processor family:
// src/grep_core/simd/x86_64/ on x86-64 (SSE2 everywhere, AVX2 where the
// processor has it, chosen at run time), src/grep_core/simd/generic/
// elsewhere (none: the portable loops of find_bytes.cpp serve). The build
// compiles exactly one family; nothing here tests for the processor at
// compile time.
#ifndef QG_SIMD_H
#define QG_SIMD_H

#include "grep_core/ascii_class.h"
#include "grep_core/find_bytes.h"
#include "grep_core/find_set.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const char *(*qg_find_fn)(const qg_finder *f, const char *text, size_t len);
typedef size_t (*qg_count_fn)(const char *begin, const char *end);
typedef const char *(*qg_find_set_fn)(const qg_set_finder *f, const char *text, size_t len,
                                      int *which);

typedef struct qg_simd_ops {
  qg_find_fn find;           // null: the portable search
  qg_count_fn count_breaks;  // null: the portable count
  qg_find_set_fn find_set;   // null: the portable search of several strings
  const char *name;          // "avx2", "sse2" or "portable", for benchmarks
} qg_simd_ops;

// The fastest operations the running processor supports. Called once.
qg_simd_ops qg_simd_select(void);

// Every set of operations the running processor supports, up to `max`, for
// tests and benchmarks that compare them; returns how many.
size_t qg_simd_all(qg_simd_ops *out, size_t max);

// Mixes `blocks` 64-byte blocks at `data` into the SHA-256 `state`.
typedef void (*qg_sha256_blocks_fn)(uint32_t state[8], const unsigned char *data, size_t blocks);

// The processor's own SHA-256 instructions where it has them; null
// elsewhere (the portable rounds of sha256.cpp serve). Called once.
qg_sha256_blocks_fn qg_sha256_blocks_select(void);

// True when the needle occurs at `p` (which has at least f->n bytes).
// static: every file that includes this gets its own copy, so a copy built
// for AVX2 is never called on a processor without it.
static inline bool qg_finder_matches_at(const qg_finder *f, const char *p) {
  if (!f->fold) return memcmp(p, f->needle, f->n) == 0;
  for (size_t i = 0; i < f->n; ++i) {
    if (qg_lower((unsigned char)p[i]) != qg_lower((unsigned char)f->needle[i])) return false;
  }
  return true;
}

// True when string `i` of the set finder occurs at `p`, which has at least
// `avail` bytes.
static inline bool qg_set_matches_at(const qg_set_finder *f, int i, const char *p, size_t avail) {
  const size_t n = f->lens[i];
  if (n > avail) return false;
  if (!f->fold) return memcmp(p, f->needles[i], n) == 0;
  for (size_t k = 0; k < n; ++k) {
    if (qg_lower((unsigned char)p[k]) != qg_lower((unsigned char)f->needles[i][k])) return false;
  }
  return true;
}

// The portable search from `from` on, for the tails that vectors leave.
const char *qg_find_portable(const qg_finder *f, const char *text, size_t len, size_t from);

// The portable count, for the tails.
size_t qg_count_breaks_portable(const char *begin, const char *end);

#ifdef __cplusplus
}
#endif

#endif  // QG_SIMD_H
