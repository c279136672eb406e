#include "support/line_array.h"

#include <stdlib.h>
#include <string.h>

bool la_init(line_array *a) {
  a->count = 0;
  a->items = static_cast<char **>(calloc(QG_LINE_ARRAY_FIRST_CAPACITY, sizeof(char *)));
  a->capacity = a->items != nullptr ? QG_LINE_ARRAY_FIRST_CAPACITY : 0;
  return a->items != nullptr;
}

void la_free(line_array *a) {
  if (a->items != nullptr) {
    for (int32_t i = 0; i < a->count; ++i) free(a->items[i]);
    free(a->items);
  }
  a->items = nullptr;
  a->count = 0;
  a->capacity = 0;
}

bool la_grow(line_array *a) {
  if (a->items == nullptr || a->capacity <= 0 || a->capacity > INT32_MAX / 2) return false;
  int32_t doubled = a->capacity * 2;
  auto *grown =
      static_cast<char **>(realloc(a->items, static_cast<size_t>(doubled) * sizeof(char *)));
  if (grown == nullptr) return false;
  a->items = grown;
  a->capacity = doubled;
  return true;
}

// A heap copy of the `n` bytes at `s`, NUL-terminated.
static char *copy_bytes(const char *s, size_t n) {
  auto *copy = static_cast<char *>(malloc(n + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, s, n);
  copy[n] = '\0';
  return copy;
}

bool la_append(line_array *a, const char *text) {
  if (a->items == nullptr) return false;
  if (a->count >= a->capacity && !la_grow(a)) return false;
  const char *src = text != nullptr ? text : "";
  char *copy = copy_bytes(src, strlen(src));
  if (copy == nullptr) return false;
  a->items[a->count++] = copy;
  return true;
}

// Length of the line at `p`: the bytes before the first CR, LF or NUL.
static size_t line_length(const char *p) { return strcspn(p, "\r\n"); }

bool split_into_lines(const char *text, line_array *a) {
  if (!la_init(a)) return false;
  if (text == nullptr || text[0] == '\0') return true;
  const char *p = text;
  for (;;) {
    size_t n = line_length(p);
    char *line = copy_bytes(p, n);
    if (line == nullptr) return false;
    if (a->count == a->capacity && !la_grow(a)) {
      free(line);
      return false;
    }
    a->items[a->count++] = line;
    p += n;
    if (*p == '\0') return true;
    p += (p[0] == '\r' && p[1] == '\n') ? 2 : 1;
    if (*p == '\0') return true;
  }
}

char *join_lines(line_array *a, int line_ending) {
  const bool crlf = line_ending == 1;
  const size_t term_len = crlf ? 2 : 1;
  const char *term = crlf ? "\r\n" : "\n";
  size_t total = 0;
  for (int32_t i = 0; i < a->count; ++i) total += strlen(a->items[i]) + term_len;
  auto *out = static_cast<char *>(malloc(total + 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  for (int32_t i = 0; i < a->count; ++i) {
    size_t n = strlen(a->items[i]);
    memcpy(w, a->items[i], n);
    w += n;
    memcpy(w, term, term_len);
    w += term_len;
  }
  *w = '\0';
  return out;
}
