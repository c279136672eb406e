// The literal finder: first occurrence of a byte string, optionally ignoring
// ASCII case and optionally only as a whole word.
#ifndef QG_LITERAL_H
#define QG_LITERAL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// True when `pattern` occurs in `text` (null or empty arguments give false).
// On success writes the 1-based byte column and the pattern's length to the
// non-null outputs; on false neither is touched. No state; any thread.
bool fixed_find_first(const char *pattern, const char *text, bool case_sensitive, bool whole_word,
                      int32_t *out_col, int32_t *out_len);

// The first occurrence of the `n` bytes at `pattern` among the `len` bytes at
// `text` (which may hold NULs, so many lines can be scanned at once), exact or
// ignoring ASCII case, without the whole-word rule. Null when there is none or
// `n` is 0. No state; any thread.
const char *fixed_find_in_bytes(const char *pattern, size_t n, const char *text, size_t len,
                                bool case_sensitive);

#ifdef __cplusplus
}
#endif

#endif  // QG_LITERAL_H
