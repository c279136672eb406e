#include "edit_core/line_spans.h"

#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t kFirstCapacity = 256;

// Makes room for `extra` more spans; false (array unchanged) when the block
// cannot grow.
bool reserve_more(line_spans *lines, size_t extra) {
  if (extra > SIZE_MAX / sizeof(line_span) - lines->count) return false;
  const size_t needed = lines->count + extra;
  if (needed <= lines->capacity) return true;
  size_t capacity = lines->capacity == 0 ? kFirstCapacity : lines->capacity;
  while (capacity < needed) {
    capacity = capacity > SIZE_MAX / sizeof(line_span) / 2 ? needed : capacity * 2;
  }
  // A fresh block rather than realloc: a large one is then asked to sit on huge
  // pages, which costs less to fill than growing page by page.
  auto *grown = static_cast<line_span *>(plat_alloc_large(capacity * sizeof(line_span)));
  if (grown == nullptr) return false;
  if (lines->count > 0) memcpy(grown, lines->items, lines->count * sizeof(line_span));
  free(lines->items);
  lines->items = grown;
  lines->capacity = capacity;
  return true;
}

// The number of `byte`s among the `len` bytes at `text`.
size_t count_byte(const char *text, size_t len, char byte) {
  size_t n = 0;
  const char *const end = text + len;
  for (const char *p = text; (p = static_cast<const char *>(memchr(p, byte, end - p))) != nullptr;
       ++p) {
    ++n;
  }
  return n;
}

bool push_span(line_spans *lines, const char *text, size_t len) {
  if (lines->count == lines->capacity && !reserve_more(lines, 1)) return false;
  lines->items[lines->count++] = {text, len};
  return true;
}

// Spans in a gap buffer: lines [0, gap_start) then [gap_end, capacity).
struct gap_buffer {
  line_span *slots;
  size_t capacity;
  size_t gap_start;
  size_t gap_end;

  size_t size() const { return gap_start + (capacity - gap_end); }

  // Puts the gap before line `p` (0 <= p <= size()).
  void move_gap(size_t p) {
    if (p < gap_start) {
      const size_t n = gap_start - p;
      memmove(slots + gap_end - n, slots + p, n * sizeof(line_span));
      gap_start = p;
      gap_end -= n;
    } else if (p > gap_start) {
      const size_t n = p - gap_start;
      memmove(slots + gap_start, slots + gap_end, n * sizeof(line_span));
      gap_start = p;
      gap_end += n;
    }
  }
};

}  // namespace

size_t spans_line_bound(const char *text, size_t len) {
  if (len == 0) return 0;
  return count_byte(text, len, '\n') + count_byte(text, len, '\r') + 1;
}

bool spans_reserve(line_spans *lines, size_t total) {
  return total <= lines->count || reserve_more(lines, total - lines->count);
}

void spans_free(line_spans *lines) {
  free(lines->items);
  *lines = {nullptr, 0, 0};
}

bool spans_split(const char *text, size_t len, line_spans *lines, ending_counts *counts) {
  ending_counts seen = {0, 0};
  const char *p = text;
  const char *const end = text + len;
  // Most files hold no CR at all; their lines are found with one search each.
  const bool may_hold_cr = memchr(text, '\r', len) != nullptr;
  bool ok = true;
  while (p < end) {
    const char *line_end = qg_line_end(p, end, may_hold_cr);
    if (!push_span(lines, p, static_cast<size_t>(line_end - p))) {
      ok = false;
      break;
    }
    const char *next = qg_line_next(line_end, end);
    if (next - line_end == 2) {
      ++seen.crlf;
    } else if (line_end < end && *line_end == '\n') {
      ++seen.lf;
    }
    p = next;
  }
  if (counts != nullptr) {
    counts->lf += seen.lf;
    counts->crlf += seen.crlf;
  }
  return ok;
}

bool apply_sorted_edits(line_spans *lines, const edit_place *places, int count) {
  // Every edit's new lines, one run after another in application order.
  line_spans added = {nullptr, 0, 0};
  auto *added_end = static_cast<size_t *>(malloc(sizeof(size_t) * (count > 0 ? count : 1)));
  bool ok = added_end != nullptr;
  for (int k = 0; ok && k < count; ++k) {
    const char *text = places[k].new_text;
    ok = text == nullptr || spans_split(text, strlen(text), &added, nullptr);
    if (ok) added_end[k] = added.count;
  }
  // The gap starts after the file's last line and is as large as every new
  // line together, so it never has to grow: each edit adds at most its own
  // lines, and the gap keeps room for all that are still to come.
  ok = ok && reserve_more(lines, added.count);
  if (!ok) {
    free(added_end);
    spans_free(&added);
    return false;
  }
  // Every edit below the current one left the lines under its position as
  // they were read, so a position in the file as read is one in the buffer.
  gap_buffer g = {lines->items, lines->capacity, lines->count, lines->capacity};
  for (int k = 0; k < count && ok; ++k) {
    const size_t first_new = k == 0 ? 0 : added_end[k - 1];
    const size_t m = added_end[k] - first_new;
    const edit_place &p = places[k];
    if (p.removed == 0 && m == 0) continue;
    if (static_cast<int64_t>(g.size() - p.removed + m) > INT32_MAX) {
      ok = false;
      break;
    }
    g.move_gap(p.position);
    g.gap_end += p.removed;
    g.gap_end -= m;
    if (m > 0) memcpy(g.slots + g.gap_end, added.items + first_new, m * sizeof(line_span));
  }
  free(added_end);
  spans_free(&added);
  g.move_gap(g.size());
  lines->count = g.size();
  return ok;
}

size_t ending_after(const char *text, size_t len) {
  const char *after = text + len;
  if (after[0] == '\r') return after[1] == '\n' ? 2 : 1;
  return after[0] == '\n' ? 1 : 0;
}

size_t line_end_of(const line_spans *lines, size_t j, const line_ends *ends, const char **out) {
  const line_span &s = lines->items[j];
  if (!ends->exact) {
    *out = ends->fill;
    return ends->fill_len;
  }
  const bool last = j + 1 == lines->count;
  if (last && ends->open_last) {
    *out = s.text + s.len;
    return 0;
  }
  const size_t own = ending_after(s.text, s.len);
  if (own == 0 && !last) {
    *out = ends->fill;
    return ends->fill_len;
  }
  *out = s.text + s.len;
  return own;
}

size_t spans_pieces(const line_spans *lines, const line_ends *ends, plat_bytes *out) {
  size_t count = 0;
  const char *run = nullptr;  // the piece being extended, in its source
  size_t run_len = 0;
  auto flush = [&] {
    if (run_len > 0) {
      if (out != nullptr) out[count] = {run, run_len};
      ++count;
    }
    run = nullptr;
    run_len = 0;
  };
  auto extend = [&](const char *p, size_t n) {
    if (run != nullptr && run + run_len == p) {
      run_len += n;
    } else {
      flush();
      run = p;
      run_len = n;
    }
  };
  for (size_t i = 0; i < lines->count; ++i) {
    const line_span &s = lines->items[i];
    const char *ending = nullptr;
    const size_t n = line_end_of(lines, i, ends, &ending);
    const char *after = s.text + s.len;
    if (ending == after || (n == ending_after(s.text, s.len) && memcmp(after, ending, n) == 0)) {
      extend(s.text, s.len + n);
    } else {
      extend(s.text, s.len);
      flush();
      if (out != nullptr) out[count] = {ending, n};
      ++count;
    }
  }
  flush();
  return count;
}

char *spans_join(const line_spans *lines, const line_ends *ends, size_t *out_len) {
  size_t total = 0;
  const char *ending = nullptr;
  for (size_t i = 0; i < lines->count; ++i) {
    total += lines->items[i].len + line_end_of(lines, i, ends, &ending);
  }
  auto *out = static_cast<char *>(plat_alloc_large(total + 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  for (size_t i = 0; i < lines->count; ++i) {
    memcpy(w, lines->items[i].text, lines->items[i].len);
    w += lines->items[i].len;
    const size_t n = line_end_of(lines, i, ends, &ending);
    memcpy(w, ending, n);
    w += n;
  }
  *w = '\0';
  if (out_len != nullptr) *out_len = total;
  return out;
}
