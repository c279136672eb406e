// Growable, NUL-terminated string builder.
//
// A builder lives on the stack of the function composing a text and is never
// shared between threads. It owns `buf` (malloc'd); a function that hands `buf`
// on as its result passes ownership with it, and the receiver frees it with
// free(). While `buf` is non-null, len + 1 <= cap and buf[len] is NUL; `cap` is
// 0 exactly when `buf` is null. Operations that report a boolean return 1 on
// success and 0 on allocation failure, leaving the builder as it was.
#ifndef QG_STRBUF_H
#define QG_STRBUF_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qm_strbuf {
  char *buf;
  size_t len;
  size_t cap;
} qm_strbuf;

#define QG_STRBUF_FIRST_BLOCK ((size_t)1024)

// Starts an empty builder with a 1024-byte block; if that block cannot be had,
// the builder is empty with a null `buf`, and the next append tries again.
void qm_strbuf_init(qm_strbuf *sb);

// Releases the block; safe to call twice.
void qm_strbuf_free(qm_strbuf *sb);

// Empties the text and keeps the block.
void qm_strbuf_reset(qm_strbuf *sb);

// Makes room for `n` more bytes plus the terminator, doubling from 1024.
bool qm_strbuf_ensure(qm_strbuf *sb, size_t n);

// Appends `n` bytes of `data` (NUL bytes included); null or 0 is a no-op.
bool qm_strbuf_append_len(qm_strbuf *sb, const char *data, size_t n);

// Appends the NUL-terminated `s`; null or empty is a no-op that allocates nothing.
bool qm_strbuf_append(qm_strbuf *sb, const char *s);

// Appends one byte.
bool qm_strbuf_append_c(qm_strbuf *sb, char c);

// Appends the formatted text, measured first and then formatted in place.
bool qm_strbuf_printf(qm_strbuf *sb, const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif  // QG_STRBUF_H
