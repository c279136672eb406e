// The millisecond clock that times a document search.
#ifndef QG_SEARCH_CLOCK_H
#define QG_SEARCH_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Milliseconds of the platform's monotonic counter, truncated toward zero;
// only differences of two readings mean anything. The counter's frequency is
// read once per process, safely when several threads take their first
// reading at the same moment. Never fails.
int64_t search_clock_ms(void);

#ifdef __cplusplus
}
#endif

#endif  // QG_SEARCH_CLOCK_H
