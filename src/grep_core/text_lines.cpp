#include "grep_core/text_lines.h"

ending_counts qg_count_endings(const char *text, size_t len) {
  ending_counts counts = {0, 0};
  const char *const end = text + len;
  for (const char *p = text; (p = static_cast<const char *>(memchr(p, '\n', end - p))) != nullptr;
       ++p) {
    if (p > text && p[-1] == '\r') {
      ++counts.crlf;
    } else {
      ++counts.lf;
    }
  }
  return counts;
}
