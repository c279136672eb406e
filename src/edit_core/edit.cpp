#include "edit_core/edit.h"

#include "edit_core/line_spans.h"
#include "grep_core/last_error.h"
#include "grep_core/text_read.h"
#include "grep_core/text_write.h"
#include "grep_core/utf8.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool is_replacement(const line_edit &e) { return e.start_line <= e.end_line; }

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
      qg_fail(GREP_E_ARGUMENT, "Overlapping edit ranges in '%s': lines %d-%d and %d-%d", path,
              b.start_line, b.end_line, a.start_line, a.end_line);
      return false;
    }
  }
  return true;
}

// Refuses new texts that a UTF-16 file cannot hold unchanged: bytes that are
// not UTF-8 would be converted to units nobody wrote, and could swallow the
// line breaks after them. Nothing is guessed; the message names the file.
bool new_texts_fit_utf16(const char *path, const line_edit *edits, int count) {
  for (int k = 0; k < count; ++k) {
    const char *text = edits[k].new_text;
    if (text != nullptr && !qg_utf8_valid_for_utf16(text, strlen(text))) {
      qg_fail(GREP_E_ARGUMENT,
              "Text for '%s' is not valid UTF-8 and cannot be written to a UTF-16 file", path);
      return false;
    }
  }
  return true;
}

// Releases the file's text and its line spans when they go out of scope.
struct file_lines {
  char *text = nullptr;
  size_t len = 0;
  line_spans lines = {nullptr, 0, 0};

  file_lines() = default;
  file_lines(const file_lines &) = delete;
  file_lines &operator=(const file_lines &) = delete;
  ~file_lines() { release(); }
  void release() {
    spans_free(&lines);
    free(text);
    text = nullptr;
  }
};

// Reads `path` into `file` (its text, cut into spans in place) with its
// encoding and dominant line ending, with room for the lines of every edit's
// text. False with the message set when it cannot be read, holds a NUL byte,
// or cannot be split.
bool read_file_lines(const char *path, const line_edit *edits, int count, file_lines *file,
                     text_encoding *encoding, line_ending *ending) {
  size_t len = 0;
  file->text = read_file_to_utf8(path, &len, encoding, nullptr);
  if (file->text == nullptr) return false;
  file->len = len;
  // The lines of a text end at its first NUL: writing them back would drop
  // everything after it.
  if (strlen(file->text) != len) {
    qg_fail(GREP_E_IO, "File '%s' contains NUL bytes and cannot be edited by line", path);
    return false;
  }
  // One block for every line there will be, so the array never grows.
  size_t bound = spans_line_bound(file->text, len);
  for (int k = 0; k < count; ++k) {
    const char *text = edits[k].new_text;
    if (text != nullptr) bound += spans_line_bound(text, strlen(text));
  }
  ending_counts counts = {0, 0};
  if (!spans_reserve(&file->lines, bound) || !spans_split(file->text, len, &file->lines, &counts)) {
    qg_fail(GREP_E_NO_MEMORY, "Failed to split lines in '%s'", path);
    return false;
  }
  // The reader's majority rule, counted while cutting instead of in a pass of
  // its own: the same LF and CR LF bytes decide.
  *ending = qg_dominant_ending(counts);
  return true;
}

// Writes the edited lines of `file` to `path`. In a UTF-8 file whose lines
// mostly stand in its text followed by the chosen ending, the runs of such
// lines are written where they stand; otherwise (other endings, lone CRs,
// UTF-16) the lines are joined into a new text first.
bool write_file_lines(const char *path, file_lines &file, text_encoding encoding,
                      line_ending ending) {
  const bool utf16 = encoding == ENC_UTF16LE || encoding == ENC_UTF16BE;
  if (!utf16) {
    // A piece costs 16 bytes of memory and a few of a system call's work; a
    // join costs a copy of the whole text.
    const size_t pieces = spans_pieces(&file.lines, ending, nullptr);
    if (pieces * sizeof(plat_bytes) <= file.len / 2) {
      auto *list = static_cast<plat_bytes *>(malloc((pieces + 1) * sizeof(plat_bytes)));
      if (list != nullptr) {
        spans_pieces(&file.lines, ending, list + 1);
        const bool written = write_file_pieces(path, list, pieces + 1, encoding);
        free(list);
        return written;
      }
    }
  }
  char *joined = spans_join(&file.lines, ending, nullptr);
  if (joined == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory joining lines for '%s'", path);
    return false;
  }
  file.release();  // only the joined text is needed from here on
  const bool written = write_file_from_utf8(path, joined, encoding);
  free(joined);
  return written;
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

  text_encoding encoding = ENC_PLAIN;
  line_ending ending = LE_LF;
  file_lines file;
  if (!read_file_lines(path, edits, count, &file, &encoding, &ending)) return false;
  qsort(edits, static_cast<size_t>(count), sizeof *edits, cmp_edits_desc);
  if (!check_no_overlap(path, edits, count)) return false;
  if ((encoding == ENC_UTF16LE || encoding == ENC_UTF16BE) &&
      !new_texts_fit_utf16(path, edits, count)) {
    return false;
  }
  if (!apply_sorted_edits(&file.lines, edits, count)) {
    qg_fail(GREP_E_NO_MEMORY, "Failed applying edit to '%s'", path);
    return false;
  }
  return write_file_lines(path, file, encoding, ending);
}

int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qg_fail_call(GREP_E_ARGUMENT, "Missing file_path");
    return -1;
  }
  line_edit edit = {start_line, end_line, new_text != nullptr ? new_text : ""};
  if (apply_file_edits(file_path, &edit, 1)) return 0;
  qg_status_from_failure();
  return -1;
}
