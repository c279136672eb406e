// Searching file text for the first place where any of a few byte strings
// occurs, exactly or ignoring ASCII case: the prefilter of patterns whose
// matches must hold one of several literals (an alternation of them).
//
// A finder is prepared once per search and then used on any number of
// texts, by any number of threads at once. Candidates are picked by a
// fingerprint of up to three consecutive bytes at the same offset of every
// string, each string in one of eight buckets: where the processor has AVX2,
// 32 positions are fingerprinted per step with nibble lookups; elsewhere a
// portable loop looks each byte up in a table. Every candidate is confirmed
// by a full comparison, so both give the same answers.
#ifndef QG_FIND_SET_H
#define QG_FIND_SET_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Most strings a finder takes.
#define QG_SET_FINDER_MAX 16

typedef struct qg_set_finder {
  int count;
  bool fold;                               // ASCII letters match either case
  const char *needles[QG_SET_FINDER_MAX];  // the caller's bytes, which outlive the finder
  size_t lens[QG_SET_FINDER_MAX];
  size_t shortest;                   // length of the shortest string (at least 1)
  size_t offset;                     // where in each string the fingerprint begins
  int width;                         // bytes fingerprinted, 1 to 3
  unsigned char lo[3][16];           // per fingerprint byte: buckets of each low nibble
  unsigned char hi[3][16];           // and of each high nibble
  unsigned char table[3][256];       // per fingerprint byte: buckets of each byte
  unsigned short bucket_needles[8];  // the strings of each bucket, one bit each
} qg_set_finder;

// Prepares a finder for the `count` strings (1 to QG_SET_FINDER_MAX, none
// empty) at needles[i] of lens[i] bytes. `case_sensitive` false folds A-Z
// onto a-z on both sides.
void qg_set_finder_init(qg_set_finder *f, const char *const *needles, const size_t *lens, int count,
                        bool case_sensitive);

// The leftmost position among the `len` bytes at `text` where one of the
// strings begins, or null. Writes which string to *which (may be null).
// Pure; any thread.
const char *qg_set_finder_find(const qg_set_finder *f, const char *text, size_t len, int *which);

// The portable search from `from` on (for tests and the vector tails).
const char *qg_set_find_portable(const qg_set_finder *f, const char *text, size_t len, size_t from,
                                 int *which);

#ifdef __cplusplus
}
#endif

#endif  // QG_FIND_SET_H
