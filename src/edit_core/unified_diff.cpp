#include "edit_core/unified_diff.h"

#include "grep_core/text_lines.h"

#include <stdlib.h>
#include <string.h>

// diff and patch cut a file at LF alone: a CR is part of its line. The old
// side is therefore the text's LF-ended lines (a line ended by a lone CR is
// part of the LF-ended line it stands in); the new side is the edited lines
// with their endings, gathered the same way into LF-ended lines. The mark
// stands before the first line of either side, so a file of the mark alone
// is one line without an ending.

namespace {

constexpr size_t kContext = 3;

struct sides {
  const char *mark;
  size_t mark_len;
  const char *text;
  size_t text_len;
  const size_t *starts;  // where each old line starts; one more entry: text_len
  size_t old_count;
  const line_spans *after;
  const line_ends *ends;
  const size_t *groups;  // the first span of each new line; one more entry: after->count
  size_t new_count;
};

// The bytes of one line of either side, piece by piece: the mark before the
// first line, then the old line's bytes, or each span and its ending.
struct line_bytes {
  const sides *d;
  bool is_new;
  size_t line;
  size_t piece = 0;  // 0: the mark; then the old bytes, or span and ending by turns
  const char *at = nullptr;
  size_t left = 0;

  line_bytes(const sides &s, bool side_new, size_t l) : d(&s), is_new(side_new), line(l) {}

  // The next piece into at/left; false when the line has no more bytes.
  bool next() {
    for (;;) {
      const size_t k = piece++;
      if (k == 0) {
        at = d->mark;
        left = line == 0 ? d->mark_len : 0;
      } else if (!is_new) {
        if (k > 1) return false;
        at = d->text + d->starts[line];
        left = d->starts[line + 1] - d->starts[line];
      } else {
        const size_t j = d->groups[line] + (k - 1) / 2;
        if (j >= d->groups[line + 1]) return false;
        const line_span &s = d->after->items[j];
        if (k % 2 == 1) {
          at = s.text;
          left = s.len;
        } else {
          left = line_end_of(d->after, j, d->ends, &at);
        }
      }
      if (left > 0) return true;
    }
  }
};

// True when old line `i` and new line `k` hold the same bytes.
bool same(const sides &d, size_t i, size_t k) {
  line_bytes a(d, false, i), b(d, true, k);
  bool more_a = a.next(), more_b = b.next();
  while (more_a && more_b) {
    const size_t n = a.left < b.left ? a.left : b.left;
    if (memcmp(a.at, b.at, n) != 0) return false;
    a.at += n;
    a.left -= n;
    b.at += n;
    b.left -= n;
    if (a.left == 0) more_a = a.next();
    if (b.left == 0) more_b = b.next();
  }
  return !more_a && !more_b;
}

bool old_has_lf(const sides &d, size_t i) {
  return d.starts[i + 1] > d.starts[i] && d.text[d.starts[i + 1] - 1] == '\n';
}

// Every new line but the last ends with LF; the last one when its last
// span's ending does.
bool new_has_lf(const sides &d, size_t k) {
  if (k + 1 < d.new_count) return true;
  if (d.groups[k] == d.groups[k + 1]) return false;  // the mark alone
  const char *ending = nullptr;
  const size_t n = line_end_of(d.after, d.groups[k + 1] - 1, d.ends, &ending);
  return n > 0 && ending[n - 1] == '\n';
}

// The old line holding offset `at` of the text.
size_t old_line_of(const sides &d, size_t at) { return qg_line_holding(d.starts, d.old_count, at); }

// The old line new line `k` still stands in, unchanged, or old_count.
size_t unchanged_at(const sides &d, size_t k) {
  if (d.groups[k] == d.groups[k + 1] || d.old_count == 0) return d.old_count;
  const char *p = d.after->items[d.groups[k]].text;
  if (p < d.text || p >= d.text + d.text_len) return d.old_count;
  const size_t i = old_line_of(d, static_cast<size_t>(p - d.text));
  return d.starts[i] == static_cast<size_t>(p - d.text) && same(d, i, k) ? i : d.old_count;
}

// A run of changed lines: old[i0, i1) became new[j0, j1).
struct block {
  size_t i0, i1, j0, j1;
};

// The next change at or after (i, j), ended by the next line that both
// sides share unchanged (unchanged lines keep their place in the text and
// their order); false when the rest is equal.
bool next_block(const sides &d, size_t *i, size_t *j, block *out) {
  const size_t N = d.old_count, M = d.new_count;
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

void put_line(json_out *out, const sides &d, char mark, bool is_new, size_t line) {
  json_out_char(out, mark);
  line_bytes bytes(d, is_new, line);
  while (bytes.next()) json_out_bytes(out, bytes.at, bytes.left);
  if (!(is_new ? new_has_lf(d, line) : old_has_lf(d, line))) {
    JSON_OUT_LITERAL(out, "\n\\ No newline at end of file\n");
  }
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
  for (; h->i < until; ++h->i, ++h->j) put_line(&h->body, d, ' ', false, h->i);
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
// end; a text that is empty but for the mark is one empty line. Null when
// out of memory.
size_t *old_line_starts(const char *text, size_t len, bool marked, size_t *count) {
  size_t n = 0;
  for (const char *p = text; (p = static_cast<const char *>(memchr(p, '\n', text + len - p)));
       ++p) {
    ++n;
  }
  const bool open_last = (len > 0 && text[len - 1] != '\n') || (len == 0 && marked);
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

// The first span of each LF-ended new line, and one more entry for the end;
// no lines but the mark are one line of no spans. Null when out of memory.
size_t *new_line_groups(const line_spans *after, const line_ends *ends, bool marked,
                        size_t *count) {
  auto *groups = static_cast<size_t *>(malloc((after->count + 2) * sizeof(size_t)));
  if (groups == nullptr) return nullptr;
  size_t k = 0;
  groups[0] = 0;
  const char *ending = nullptr;
  for (size_t j = 0; j < after->count; ++j) {
    const size_t n = line_end_of(after, j, ends, &ending);
    if ((n > 0 && ending[n - 1] == '\n') || j + 1 == after->count) groups[++k] = j + 1;
  }
  if (after->count == 0 && marked) groups[++k] = 0;
  *count = k;
  return groups;
}

}  // namespace

void unified_diff_write(json_out *out, const char *path, const char *mark, const char *text,
                        size_t text_len, const line_spans *after, const line_ends *ends) {
  const size_t mark_len = strlen(mark);
  size_t old_count = 0, new_count = 0;
  size_t *starts = old_line_starts(text, text_len, mark_len > 0, &old_count);
  size_t *groups = new_line_groups(after, ends, mark_len > 0, &new_count);
  if (starts == nullptr || groups == nullptr) {
    free(starts);
    free(groups);
    out->failed = true;
    return;
  }
  const sides d = {mark,      mark_len, text, text_len, starts,
                   old_count, after,    ends, groups,   new_count};
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
    for (; h.i < b.i1; ++h.i) put_line(&h.body, d, '-', false, h.i);
    for (; h.j < b.j1; ++h.j) put_line(&h.body, d, '+', true, h.j);
  }
  if (h.open) close_hunk(out, &h, d);
  json_out_free(&h.body);
  free(starts);
  free(groups);
}
