#include "edit_core/unified_diff.h"

#include "grep_core/text_lines.h"

#include <stdlib.h>
#include <string.h>

// diff and patch cut a file at LF alone: a CR is part of its line. The old
// side is therefore the text's LF-ended lines (a line ended by a lone CR is
// part of the LF-ended line it stands in); the new side is the edited lines,
// each of which the writer ends with the file's ending, LF last.

namespace {

constexpr size_t kContext = 3;

struct sides {
  const char *text;
  size_t text_len;
  const size_t *starts;  // where each old line starts; one more entry: text_len
  size_t old_count;
  const line_spans *after;
  const char *ending;  // the file's
  size_t ending_n;
};

// Old line `i`: its bytes, its LF included when it has one.
const char *old_bytes(const sides &d, size_t i, size_t *n) {
  *n = d.starts[i + 1] - d.starts[i];
  return d.text + d.starts[i];
}

bool old_has_lf(const sides &d, size_t i) {
  return d.starts[i + 1] > d.starts[i] && d.text[d.starts[i + 1] - 1] == '\n';
}

// True when old line `i` is exactly new line `j` written with the ending.
bool same(const sides &d, size_t i, size_t j) {
  size_t n = 0;
  const char *old = old_bytes(d, i, &n);
  const line_span &s = d.after->items[j];
  return n == s.len + d.ending_n && memcmp(old, s.text, s.len) == 0 &&
         memcmp(old + s.len, d.ending, d.ending_n) == 0;
}

// The old line holding offset `at` of the text.
size_t old_line_of(const sides &d, size_t at) { return qg_line_holding(d.starts, d.old_count, at); }

// The old line new line `j` still stands in, unchanged, or old_count.
size_t unchanged_at(const sides &d, size_t j) {
  const char *p = d.after->items[j].text;
  if (d.old_count == 0 || p < d.text || p >= d.text + d.text_len) return d.old_count;
  const size_t i = old_line_of(d, static_cast<size_t>(p - d.text));
  return d.starts[i] == static_cast<size_t>(p - d.text) && same(d, i, j) ? i : d.old_count;
}

// A run of changed lines: old[i0, i1) became new[j0, j1).
struct block {
  size_t i0, i1, j0, j1;
};

// The next change at or after (i, j), ended by the next line that both
// sides share unchanged (unchanged lines keep their place in the text and
// their order); false when the rest is equal.
bool next_block(const sides &d, size_t *i, size_t *j, block *out) {
  const size_t N = d.old_count, M = d.after->count;
  while (*i < N && *j < M && unchanged_at(d, *j) == *i) {
    ++*i;
    ++*j;
  }
  if (*i >= N && *j >= M) return false;
  size_t i1 = N, j1 = *j;
  for (; j1 < M; ++j1) {
    const size_t at = unchanged_at(d, j1);
    if (at >= *i && at < N) {
      i1 = at;
      break;
    }
  }
  block b = {*i, i1, *j, j1};
  // Lines replaced by the same text are no change.
  while (b.i0 < b.i1 && b.j0 < b.j1 && same(d, b.i0, b.j0)) {
    ++b.i0;
    ++b.j0;
  }
  while (b.i0 < b.i1 && b.j0 < b.j1 && same(d, b.i1 - 1, b.j1 - 1)) {
    --b.i1;
    --b.j1;
  }
  *i = i1;
  *j = j1;
  *out = b;
  return true;
}

void put_range(json_out *out, size_t start, size_t count) {
  // diff -u: "l,c", "l" alone for one line, and for none the line before.
  json_out_int(out, static_cast<int64_t>(count == 0 ? start : start + 1));
  if (count != 1) {
    json_out_char(out, ',');
    json_out_int(out, static_cast<int64_t>(count));
  }
}

void put_old(json_out *out, const sides &d, char mark, size_t i) {
  size_t n = 0;
  const char *bytes = old_bytes(d, i, &n);
  json_out_char(out, mark);
  json_out_bytes(out, bytes, n);
  if (!old_has_lf(d, i)) JSON_OUT_LITERAL(out, "\n\\ No newline at end of file\n");
}

void put_new(json_out *out, const sides &d, size_t j) {
  const line_span &s = d.after->items[j];
  json_out_char(out, '+');
  json_out_bytes(out, s.text, s.len);
  json_out_bytes(out, d.ending, d.ending_n);
}

// The hunk being written: its lines go to `body` until its end is known,
// then its header and body go out.
struct hunk {
  json_out body;
  bool open;
  size_t i0, j0;  // where it starts, context included
  size_t i, j;    // where its lines have been written up to
};

void put_context(hunk *h, const sides &d, size_t until) {
  for (; h->i < until; ++h->i, ++h->j) put_old(&h->body, d, ' ', h->i);
}

void put_headers(json_out *out, const char *path) {
  JSON_OUT_LITERAL(out, "--- ");
  json_out_bytes(out, path, strlen(path));
  JSON_OUT_LITERAL(out, "\n+++ ");
  json_out_bytes(out, path, strlen(path));
  json_out_char(out, '\n');
}

// Ends the open hunk with its trailing context and writes it out.
void close_hunk(json_out *out, hunk *h, const sides &d) {
  const size_t N = d.old_count;
  put_context(h, d, N - h->i < kContext ? N : h->i + kContext);
  JSON_OUT_LITERAL(out, "@@ -");
  put_range(out, h->i0, h->i - h->i0);
  JSON_OUT_LITERAL(out, " +");
  put_range(out, h->j0, h->j - h->j0);
  JSON_OUT_LITERAL(out, " @@\n");
  json_out_bytes(out, h->body.data, h->body.len);
  if (h->body.failed) out->failed = true;
  h->body.len = 0;
  h->open = false;
}

// Where each LF-ended line of the text starts, and one more entry for the
// end; null when out of memory.
size_t *old_line_starts(const char *text, size_t len, size_t *count) {
  size_t n = 0;
  for (const char *p = text; (p = static_cast<const char *>(memchr(p, '\n', text + len - p)));
       ++p) {
    ++n;
  }
  const bool open_last = len > 0 && text[len - 1] != '\n';
  *count = n + (open_last ? 1 : 0);
  auto *starts = static_cast<size_t *>(malloc((*count + 1) * sizeof(size_t)));
  if (starts == nullptr) return nullptr;
  size_t k = 0, at = 0;
  for (const char *p = text; (p = static_cast<const char *>(memchr(p, '\n', text + len - p)));
       ++p) {
    starts[k++] = at;
    at = static_cast<size_t>(p - text) + 1;
  }
  if (open_last) starts[k++] = at;
  starts[k] = len;
  return starts;
}

}  // namespace

void unified_diff_write(json_out *out, const char *path, const char *text, size_t text_len,
                        const line_spans *after, line_ending ending) {
  const bool crlf = ending == LE_CRLF;
  size_t old_count = 0;
  size_t *starts = old_line_starts(text, text_len, &old_count);
  if (starts == nullptr) {
    out->failed = true;
    return;
  }
  const sides d = {
      text, text_len, starts, old_count, after, crlf ? "\r\n" : "\n", crlf ? size_t{2} : 1};
  hunk h = {};
  bool headers = false;
  size_t i = 0, j = 0;
  block b;
  while (next_block(d, &i, &j, &b)) {
    if (b.i0 == b.i1 && b.j0 == b.j1) continue;  // replaced by the same lines
    if (h.open && b.i0 - h.i > 2 * kContext) close_hunk(out, &h, d);
    if (!h.open) {
      if (!headers) put_headers(out, path);
      headers = true;
      const size_t lead = b.i0 < kContext ? b.i0 : kContext;
      h.open = true;
      h.i = h.i0 = b.i0 - lead;
      h.j = h.j0 = b.j0 - lead;
    }
    put_context(&h, d, b.i0);
    for (; h.i < b.i1; ++h.i) put_old(&h.body, d, '-', h.i);
    for (; h.j < b.j1; ++h.j) put_new(&h.body, d, h.j);
  }
  if (h.open) close_hunk(out, &h, d);
  json_out_free(&h.body);
  free(starts);
}
