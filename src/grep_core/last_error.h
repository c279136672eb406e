// The calling thread's last-error text.
//
// One 1024-byte slot per thread, empty at first. Every failing operation of
// the library overwrites it just before returning its failure result; nothing
// in the library empties it. The slot belongs to the thread: no locks, and no
// thread ever sees another's text.
#ifndef QG_LAST_ERROR_H
#define QG_LAST_ERROR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QG_LAST_ERROR_SIZE 1024

// Formats `fmt` as vsnprintf does into the calling thread's slot, replacing
// its text. A text longer than 1023 bytes is cut there; if the cut falls inside
// a UTF-8 sequence, the partial sequence is dropped so the text stays valid
// UTF-8 when the message was.
void qm_grep_set_last_error(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The calling thread's slot itself: never null, valid for the thread's life.
const char *qm_grep_get_last_error(void);

// Makes the calling thread's slot the empty text. Used by tests only.
void qm_grep_clear_last_error(void);

#ifdef __cplusplus
}
#endif

#endif  // QG_LAST_ERROR_H
