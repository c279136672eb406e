// Searching file text for a fixed byte string, exactly or ignoring ASCII
// case, and counting line breaks: the hot loops of a search.
//
// A finder is prepared once per needle (per search) and then used on any
// number of texts, by any number of threads at once. Where the processor has
// them, 16- and 32-byte vector instructions compare two well-chosen bytes of
// the needle at their offsets in one step and confirm each candidate with a
// full comparison; elsewhere a portable loop gives the same answers.
#ifndef QG_FIND_BYTES_H
#define QG_FIND_BYTES_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Longest needle a finder takes; a search needle is at most a pattern's
// required literal or the literal pattern itself (which may be longer: then
// only its first QG_FINDER_MAX bytes pick candidates, and every candidate is
// still compared whole).
#define QG_FINDER_MAX 256

typedef struct qg_finder {
  const char *needle;  // the caller's bytes, which must outlive the finder
  size_t n;
  bool fold;                           // ASCII letters match either case
  unsigned char lower[QG_FINDER_MAX];  // the needle's first bytes, lowercased (fold)
  size_t i1, i2;                       // offsets of the two bytes that pick candidates, i1 < i2
  unsigned char b1, b2;                // those bytes (lowercased when they fold)
  bool fold1, fold2;                   // whether each is a letter that folds
} qg_finder;

// Prepares a finder for the `n` bytes at `needle` (which may hold any byte).
// `case_sensitive` false folds A-Z onto a-z on both sides; every other byte
// only ever equals itself.
void qg_finder_init(qg_finder *f, const char *needle, size_t n, bool case_sensitive);

// The first occurrence of the needle among the `len` bytes at `text` (which
// may hold NULs), or null; null for an empty needle. Pure; any thread.
const char *qg_finder_find(const qg_finder *f, const char *text, size_t len);

// How common the byte `c` is in source trees, on a log scale: 0 never seen,
// 255 the space. Finders look for their needles' rarest bytes.
unsigned qg_byte_rank(unsigned char c);

// The number of line breaks in [begin, end) by the line rule
// (qg_is_line_break: each LF, and each CR that the byte after it, end[0]
// included, which must be readable, is not an LF), so CR LF counts once and
// a range never splits a pair it counts. The vector variants count the same
// thing sixteen or thirty-two bytes at a time; tests hold them to the rule.
size_t qg_count_line_breaks(const char *begin, const char *end);

#ifdef __cplusplus
}
#endif

#endif  // QG_FIND_BYTES_H
