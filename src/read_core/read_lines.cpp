#include "read_core/read_lines.h"

#include "grep_core/last_error.h"
#include "grep_core/json_out.h"
#include "grep_core/text_lines.h"
#include "grep_core/text_read.h"

#include <stdlib.h>
#include <string.h>

// Appends "N: " + the `len` bytes at `line` + LF; false, with nothing
// appended, when memory runs out.
static bool append_numbered(json_out *out, int number, const char *line, size_t len) {
  if (!json_out_reserve(out, 16 + len)) return false;
  json_out_int(out, number);
  JSON_OUT_LITERAL(out, ": ");
  json_out_bytes(out, line, len);
  json_out_char(out, '\n');
  return !out->failed;
}

// Fails the call, for lack of memory, with nothing returned.
static char *no_memory(json_out *out, const char *path) {
  json_out_free(out);
  qg_fail_call(GREP_E_NO_MEMORY, "Out of memory reading lines of '%s'", path);
  return nullptr;
}

char *grep_core_read_lines(const char *file_path, int start_line, int end_line) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qg_fail_call(GREP_E_ARGUMENT, "Missing file_path");
    return nullptr;
  }
  const bool bounded = start_line >= 1 && end_line >= 1;
  if (bounded && start_line > end_line) {
    qg_fail_call(GREP_E_ARGUMENT, "start_line (%d) must be <= end_line (%d)", start_line, end_line);
    return nullptr;
  }
  char *text = read_file_to_utf8(file_path, nullptr, nullptr, nullptr);
  if (text == nullptr) {
    qg_status_from_failure();
    return nullptr;
  }

  // Lines are numbered by the line rule the search and the edits share, and
  // read in place. Every selected line is in the result, or the call fails:
  // a line left out would shift what the host takes for line numbers.
  json_out out{};
  json_out_bytes(&out, "", 0);  // an empty file's result is the empty text, not null
  if (out.failed) {
    free(text);
    return no_memory(&out, file_path);
  }
  const char *const text_end = text + strlen(text);
  const bool may_hold_cr = memchr(text, '\r', static_cast<size_t>(text_end - text)) != nullptr;
  const char *line = text;
  int count = 0;
  while (line < text_end) {
    const char *end = qg_line_end(line, text_end, may_hold_cr);
    ++count;
    if (count >= start_line &&
        !append_numbered(&out, count, line, static_cast<size_t>(end - line))) {
      free(text);
      return no_memory(&out, file_path);
    }
    if (bounded && count == end_line) break;
    line = qg_line_next(end, text_end);
  }
  free(text);

  if (count < start_line) {
    qg_fail_call(GREP_E_ARGUMENT, "File has only %d lines, requested start at line %d", count,
                 start_line);
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}
