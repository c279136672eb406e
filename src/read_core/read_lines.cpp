#include "read_core/read_lines.h"

#include "grep_core/last_error.h"
#include "grep_core/strbuf.h"
#include "grep_core/text_read.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Appends "N: " + the `len` bytes at `line` + LF. A line that cannot be
// appended for lack of memory is left out whole; the walk goes on.
static void append_numbered(qm_strbuf *out, int number, const char *line, size_t len) {
  char prefix[16];
  const int n = snprintf(prefix, sizeof prefix, "%d: ", number);
  if (!qm_strbuf_ensure(out, static_cast<size_t>(n) + len + 1)) return;
  qm_strbuf_append_len(out, prefix, static_cast<size_t>(n));  // room is there: cannot fail
  qm_strbuf_append_len(out, line, len);
  qm_strbuf_append_c(out, '\n');
}

// Where the line that starts at `p` ends: its first CR or LF, or `end`.
static const char *line_end(const char *p, const char *end) {
  const auto *lf = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
  const char *stop = lf != nullptr ? lf : end;
  const auto *cr = static_cast<const char *>(memchr(p, '\r', static_cast<size_t>(stop - p)));
  return cr != nullptr ? cr : stop;
}

char *grep_core_read_lines(const char *file_path, int start_line, int end_line) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qm_grep_set_last_error("Missing file_path");
    return nullptr;
  }
  const bool bounded = start_line >= 1 && end_line >= 1;
  if (bounded && start_line > end_line) {
    qm_grep_set_last_error("start_line (%d) must be <= end_line (%d)", start_line, end_line);
    return nullptr;
  }
  char *text = read_file_to_utf8(file_path, nullptr, nullptr, nullptr);
  if (text == nullptr) return nullptr;

  // Lines are numbered exactly as the search and the edits number them: CR LF,
  // a lone CR and a lone LF each end a line, and an ending at the very end of
  // the text opens no empty last line. The lines are read in place.
  qm_strbuf out;
  qm_strbuf_init(&out);
  const char *const text_end = text + strlen(text);
  const char *line = text;
  int count = 0;
  while (line < text_end) {
    const char *end = line_end(line, text_end);
    ++count;
    if (count >= start_line) append_numbered(&out, count, line, static_cast<size_t>(end - line));
    if (bounded && count == end_line) break;
    line = end;
    if (line < text_end)
      line += (line[0] == '\r' && line + 1 < text_end && line[1] == '\n') ? 2 : 1;
  }
  free(text);

  if (count < start_line) {
    qm_grep_set_last_error("File has only %d lines, requested start at line %d", count, start_line);
    qm_strbuf_free(&out);
    return nullptr;
  }
  return out.buf;
}
