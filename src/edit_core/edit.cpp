#include "edit_core/edit.h"

#include "grep_core/last_error.h"
#include "grep_core/line_array.h"
#include "grep_core/text_read.h"
#include "grep_core/text_write.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool is_replacement(const line_edit &e) { return e.start_line <= e.end_line; }

// Releases a line array when it goes out of scope.
struct line_array_guard {
  line_array *array;
  ~line_array_guard() { la_free(array); }
};

// True when two neighbours of the sorted order overlap: `upper` (sorted first,
// starting at or above `lower`) is a replacement that `lower` reaches into.
// An insertion never overlaps, in either role.
bool overlaps(const line_edit &upper, const line_edit &lower) {
  return is_replacement(upper) && lower.end_line >= upper.start_line;
}

// Checks the sorted edits pairwise by neighbours and reports the first overlap.
bool check_no_overlap(const char *path, const line_edit *edits, int count) {
  for (int k = 0; k + 1 < count; ++k) {
    const line_edit &a = edits[k];
    const line_edit &b = edits[k + 1];
    if (overlaps(a, b)) {
      qm_grep_set_last_error("Overlapping edit ranges in '%s': lines %d-%d and %d-%d", path,
                             b.start_line, b.end_line, a.start_line, a.end_line);
      return false;
    }
  }
  return true;
}

// Applies one edit to `lines`: the lines before the edit's position, then the
// lines of its text, then the lines after the range it removes. Out-of-range
// numbers are clamped. Moves slot pointers only; the new lines' own copies are
// handed over rather than copied again. On false (out of memory) `lines` is
// unchanged.
bool apply_one_edit(line_array *lines, const line_edit &edit) {
  line_array added = {nullptr, 0, 0};
  line_array_guard added_guard{&added};
  bool has_text = edit.new_text != nullptr && edit.new_text[0] != '\0';
  if (!(has_text ? split_into_lines(edit.new_text, &added) : la_init(&added))) return false;

  const int64_t n = lines->count;
  const int64_t m = added.count;
  const int64_t start = edit.start_line;
  const int64_t p = start < 1 ? 0 : (start > n + 1 ? n : start - 1);
  int64_t d = 0;
  if (is_replacement(edit)) {
    const int64_t s = start < 1 ? 1 : start;
    const int64_t e = edit.end_line > n ? n : edit.end_line;
    if (s <= e) d = e - s + 1;  // then s - 1 == p
  }
  if (d == 0 && m == 0) return true;

  // Room first, so that a failure leaves the array whole.
  const int64_t new_count = n - d + m;
  if (new_count > INT32_MAX) return false;
  while (lines->capacity <= new_count) {
    if (!la_grow(lines)) return false;
  }
  for (int64_t i = p; i < p + d; ++i) {
    free(lines->items[i]);
    lines->items[i] = nullptr;
  }
  memmove(lines->items + p + m, lines->items + p + d,
          static_cast<size_t>(n - p - d) * sizeof(char *));
  memcpy(lines->items + p, added.items, static_cast<size_t>(m) * sizeof(char *));
  lines->count = static_cast<int32_t>(new_count);
  added.count = 0;  // the copies now belong to `lines`
  return true;
}

// Reads `path` into `lines` with its encoding and line ending. False with the
// message set when it cannot be read, holds a NUL byte, or cannot be split.
bool read_file_lines(const char *path, line_array *lines, text_encoding *encoding,
                     line_ending *ending) {
  size_t len = 0;
  char *text = read_file_to_utf8(path, &len, encoding, ending);
  if (text == nullptr) return false;
  // The lines of a text end at its first NUL: writing them back would drop
  // everything after it.
  if (strlen(text) != len) {
    free(text);
    qm_grep_set_last_error("File '%s' contains NUL bytes and cannot be edited by line", path);
    return false;
  }
  bool split = split_into_lines(text, lines);
  free(text);
  if (!split) {
    qm_grep_set_last_error("Failed to split lines in '%s'", path);
    return false;
  }
  return true;
}

}  // namespace

int cmp_edits_desc(const void *a, const void *b) {
  const auto *x = static_cast<const line_edit *>(a);
  const auto *y = static_cast<const line_edit *>(b);
  if (x->start_line != y->start_line) return x->start_line > y->start_line ? -1 : 1;
  if (x->end_line != y->end_line) return x->end_line > y->end_line ? -1 : 1;
  return 0;
}

bool apply_file_edits(const char *path, line_edit *edits, int count) {
  if (path == nullptr || edits == nullptr || count < 1) return false;

  line_array lines = {nullptr, 0, 0};
  line_array_guard lines_guard{&lines};
  text_encoding encoding = ENC_PLAIN;
  line_ending ending = LE_LF;
  if (!read_file_lines(path, &lines, &encoding, &ending)) return false;

  // From the highest start line down, each edit changes only lines at or after
  // its own position, so the numbers of the edits still to come stay valid.
  qsort(edits, static_cast<size_t>(count), sizeof *edits, cmp_edits_desc);
  if (!check_no_overlap(path, edits, count)) return false;
  for (int k = 0; k < count; ++k) {
    if (!apply_one_edit(&lines, edits[k])) {
      qm_grep_set_last_error("Failed applying edit to '%s'", path);
      return false;
    }
  }

  char *joined = join_lines(&lines, ending);
  if (joined == nullptr) {
    qm_grep_set_last_error("Out of memory joining lines for '%s'", path);
    return false;
  }
  la_free(&lines);  // the text alone is needed from here on
  bool written = write_file_from_utf8(path, joined, encoding);
  free(joined);
  return written;
}

int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qm_grep_set_last_error("Missing file_path");
    return -1;
  }
  line_edit edit = {start_line, end_line, new_text != nullptr ? new_text : ""};
  return apply_file_edits(file_path, &edit, 1) ? 0 : -1;
}
