// The pattern matcher: a small backtracking interpreter of the library's own
// regular-expression dialect, working on bytes.
#ifndef QG_REGEX_H
#define QG_REGEX_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// True when `pattern` matches somewhere in `text` (both NUL-terminated; null
// gives false). On success writes the 1-based byte column of the first match
// and its length in bytes to the outputs that are non-null; on false neither
// is touched. No state, no allocation; any thread.
bool regex_find_first(const char *pattern, const char *text, bool case_sensitive,
                      int32_t *out_col, int32_t *out_len);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_H
