// The literal finder of the library's definition, one line at a time: first
// occurrence of a byte string, optionally ignoring ASCII case and optionally
// only as a whole word. The library searches whole texts with its prepared
// finder (find_bytes.h); tests hold that against this reference.
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

#ifdef __cplusplus
}
#endif

#endif  // QG_LITERAL_H
