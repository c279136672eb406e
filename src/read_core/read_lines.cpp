#include "read_core/read_lines.h"

#include "grep_core/last_error.h"
#include "grep_core/strbuf.h"
#include "grep_core/text_read.h"

#include <stdlib.h>
#include <string.h>

// Appends line `number`, whose text runs from `line` to `end` (exclusive),
// without its trailing CRs. The line is cut out in place for formatting and
// the byte at `end` is put back afterwards. A line that cannot be appended for
// lack of memory is left out; the walk goes on.
static void append_numbered(qm_strbuf *out, int number, char *line, char *end) {
  char *cut = end;
  while (cut > line && cut[-1] == '\r') --cut;
  char saved = *cut;
  *cut = '\0';
  qm_strbuf_printf(out, "%d: %s\n", number, line);
  *cut = saved;
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

  qm_strbuf out;
  qm_strbuf_init(&out);
  char *const text_end = text + strlen(text);
  char *line = text;
  int count = 0;
  while (line < text_end) {
    char *lf = static_cast<char *>(memchr(line, '\n', static_cast<size_t>(text_end - line)));
    char *end = lf != nullptr ? lf : text_end;
    ++count;
    if (count >= start_line) append_numbered(&out, count, line, end);
    if (bounded && count == end_line) break;
    line = end + (lf != nullptr ? 1 : 0);
  }
  free(text);

  if (count < start_line) {
    qm_grep_set_last_error("File has only %d lines, requested start at line %d", count, start_line);
    qm_strbuf_free(&out);
    return nullptr;
  }
  return out.buf;
}
