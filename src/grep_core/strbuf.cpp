#include "grep_core/strbuf.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void qm_strbuf_init(qm_strbuf *sb) {
  sb->len = 0;
  sb->buf = static_cast<char *>(malloc(QG_STRBUF_FIRST_BLOCK));
  sb->cap = sb->buf != nullptr ? QG_STRBUF_FIRST_BLOCK : 0;
  if (sb->buf != nullptr) sb->buf[0] = '\0';
}

void qm_strbuf_free(qm_strbuf *sb) {
  free(sb->buf);
  sb->buf = nullptr;
  sb->len = 0;
  sb->cap = 0;
}

void qm_strbuf_reset(qm_strbuf *sb) {
  sb->len = 0;
  if (sb->buf != nullptr) sb->buf[0] = '\0';
}

bool qm_strbuf_ensure(qm_strbuf *sb, size_t n) {
  if (n > SIZE_MAX - sb->len - 1) return false;
  size_t needed = sb->len + n + 1;
  if (sb->cap >= needed) return true;
  size_t cap = sb->cap == 0 ? QG_STRBUF_FIRST_BLOCK : sb->cap;
  if (sb->cap != 0) cap = cap > SIZE_MAX / 2 ? needed : cap * 2;
  while (cap < needed) cap = cap > SIZE_MAX / 2 ? needed : cap * 2;
  char *grown = static_cast<char *>(realloc(sb->buf, cap));
  if (grown == nullptr) return false;
  if (sb->buf == nullptr) grown[0] = '\0';
  sb->buf = grown;
  sb->cap = cap;
  return true;
}

bool qm_strbuf_append_len(qm_strbuf *sb, const char *data, size_t n) {
  if (data == nullptr || n == 0) return true;
  if (!qm_strbuf_ensure(sb, n)) return false;
  memcpy(sb->buf + sb->len, data, n);
  sb->len += n;
  sb->buf[sb->len] = '\0';
  return true;
}

bool qm_strbuf_append(qm_strbuf *sb, const char *s) {
  if (s == nullptr || s[0] == '\0') return true;
  return qm_strbuf_append_len(sb, s, strlen(s));
}

bool qm_strbuf_append_c(qm_strbuf *sb, char c) {
  if (!qm_strbuf_ensure(sb, 1)) return false;
  sb->buf[sb->len++] = c;
  sb->buf[sb->len] = '\0';
  return true;
}

bool qm_strbuf_printf(qm_strbuf *sb, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  bool ok = false;
  if (n >= 0 && qm_strbuf_ensure(sb, static_cast<size_t>(n))) {
    if (n > 0) {
      vsnprintf(sb->buf + sb->len, static_cast<size_t>(n) + 1, fmt, again);
      sb->len += static_cast<size_t>(n);
    }
    ok = true;
  }
  va_end(again);
  return ok;
}
