// Finds the successive positions of one byte, or of either ASCII case of a
// letter, in a text of known length, using memchr for both cases. Each
// case's next position is remembered, so a scan that moves forward reads
// every text byte at most once per case.
#ifndef QG_BYTE_SCAN_H
#define QG_BYTE_SCAN_H

#include <stdbool.h>
#include <stddef.h>
#include <string.h>

#include "grep_core/ascii_class.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qg_byte_scan {
  const char *text;
  size_t len;
  unsigned char a, b;     // the byte and its other case (equal when it has none)
  size_t next_a, next_b;  // first positions at or after the last query (len: none)
  bool primed;            // next_a and next_b hold a search result
} qg_byte_scan;

// Prepares a scan of `text` for either of two bytes (which may be equal).
static inline void qg_byte_scan_init2(qg_byte_scan *sc, const char *text, size_t len,
                                      unsigned char a, unsigned char b) {
  sc->text = text;
  sc->len = len;
  sc->a = a;
  sc->b = b;
  sc->next_a = sc->next_b = 0;
  sc->primed = false;
}

// Prepares a scan of `text` (`len` bytes, may hold anything) for `byte`, or
// for both cases of it when `fold` is set. Holds no resources.
static inline void qg_byte_scan_init(qg_byte_scan *sc, const char *text, size_t len,
                                     unsigned char byte, bool fold) {
  unsigned char a = fold ? qg_lower(byte) : byte;
  unsigned char b = (fold && a >= 'a' && a <= 'z') ? (unsigned char)(a - ('a' - 'A')) : a;
  qg_byte_scan_init2(sc, text, len, a, b);
}

static inline size_t qg_byte_scan_find(const qg_byte_scan *sc, size_t from, unsigned char c) {
  if (from >= sc->len) return sc->len;
  const void *hit = memchr(sc->text + from, c, sc->len - from);
  return hit != NULL ? (size_t)((const char *)hit - sc->text) : sc->len;
}

// The first position at or after `from` holding the byte (either case), or
// the text length when there is none. `from` must not decrease between calls.
static inline size_t qg_byte_scan_next(qg_byte_scan *sc, size_t from) {
  // A remembered position at or after `from` is still the first one there.
  if (!sc->primed || sc->next_a < from) sc->next_a = qg_byte_scan_find(sc, from, sc->a);
  if (sc->a != sc->b && (!sc->primed || sc->next_b < from)) {
    sc->next_b = qg_byte_scan_find(sc, from, sc->b);
  }
  sc->primed = true;
  if (sc->a == sc->b) return sc->next_a;
  return sc->next_a < sc->next_b ? sc->next_a : sc->next_b;
}

#ifdef __cplusplus
}
#endif

#endif  // QG_BYTE_SCAN_H
