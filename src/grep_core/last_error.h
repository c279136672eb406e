// What the calling thread's last call did: its last-error text, the kind of
// its most recent failure, and the status the exports report.
//
// One 1024-byte text per thread, empty at first. Every failing operation of
// the library writes it just before returning its failure result (qg_fail,
// which also records the failure's kind as a grep_status); nothing in the
// library empties it. A failure that a caller absorbs (a file a search passes
// over) leaves its text and kind behind without deciding the call's status:
// only the drivers behind the exports set that, on every path. Everything
// here is per thread: no locks, and no thread ever sees another's state.
#ifndef QG_LAST_ERROR_H
#define QG_LAST_ERROR_H

#include "quenmar_grep.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QG_LAST_ERROR_SIZE 1024

#if defined(__GNUC__)
#define QG_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define QG_PRINTF(fmt_index, first_arg)
#endif

// Formats `fmt` as vsnprintf does into the calling thread's slot, replacing
// its text. A text longer than 1023 bytes is cut there; if the cut falls inside
// a UTF-8 sequence, the partial sequence is dropped so the text stays valid
// UTF-8 when the message was. Leaves the failure's kind as it was.
void qm_grep_set_last_error(const char *fmt, ...) QG_PRINTF(1, 2);

// The calling thread's slot itself: never null, valid for the thread's life.
const char *qm_grep_get_last_error(void);

// Makes the calling thread's slot the empty text. Used by tests only.
void qm_grep_clear_last_error(void);

// A failure of kind `status` (one of the GREP_E_ values): formats its message
// as qm_grep_set_last_error does and records the kind. The call's status is
// not touched; the driver that fails because of it says so.
void qg_fail(int status, const char *fmt, ...) QG_PRINTF(2, 3);

// The kind recorded by the calling thread's most recent qg_fail
// (GREP_E_IO before any).
int qg_failure_kind(void);

// The kind of failure an errno value (or PLAT_ENOTREG) stands for: a missing
// file or folder GREP_E_NOT_FOUND, no memory GREP_E_NO_MEMORY, a path the
// system cannot take GREP_E_ARGUMENT, anything else GREP_E_IO.
int qg_status_of_error(int error);

// The status grep_last_status reports: set by the drivers, read by the export.
void qg_set_status(int status);
int qg_get_status(void);

// qg_set_status with the kind of the most recent qg_fail: for a driver that
// fails because something it called failed.
void qg_status_from_failure(void);

// qg_fail followed by qg_set_status of the same kind: a failure that ends the
// call at once.
void qg_fail_call(int status, const char *fmt, ...) QG_PRINTF(2, 3);

// The name of a grep_status value as the public header spells it
// ("GREP_E_IO"), or "" for a value it does not define. Static text.
const char *qg_status_name(int status);

#ifdef __cplusplus
}
#endif

#endif  // QG_LAST_ERROR_H
