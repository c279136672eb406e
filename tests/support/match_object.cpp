#include "support/match_object.h"

#include "grep_core/utf8.h"

#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>

yyjson_mut_val *match_object_string(yyjson_mut_doc *doc, const char *s) {
  size_t n = strlen(s);
  if (qg_utf8_valid(s, n)) return yyjson_mut_strncpy(doc, s, n);
  // The writer refuses invalid UTF-8 and would lose the whole report to one
  // Latin-1 line; a repaired copy keeps every match.
  std::string repaired;
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  for (size_t i = 0; i < n;) {
    const size_t seq = qg_utf8_sequence_length(p + i, n - i);
    if (seq == 0) {
      repaired += "\xEF\xBF\xBD";
      ++i;
    } else {
      repaired.append(s + i, seq);
      i += seq;
    }
  }
  return yyjson_mut_strncpy(doc, repaired.data(), repaired.size());
}

// Adds the string member `key` unless `s` is null.
static bool add_string_member(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key,
                              const char *s) {
  if (s == nullptr) return true;
  yyjson_mut_val *v = match_object_string(doc, s);
  return v != nullptr && yyjson_mut_obj_add_val(doc, obj, key, v);
}

// Appends the context window of the line at `index` to `arr`. The bounds are
// taken in 64 bits, so a window of INT32_MAX lines is the whole file.
static bool add_context_window(yyjson_mut_doc *doc, yyjson_mut_val *arr, const line_array *lines,
                               int32_t index, int32_t context_lines) {
  if (context_lines <= 0 || lines == nullptr || index < 0 || index >= lines->count) return true;
  const int64_t first = std::max<int64_t>(0, int64_t{index} - context_lines);
  const int64_t last = std::min<int64_t>(int64_t{index} + context_lines, lines->count - 1);
  for (int64_t i = first; i <= last; ++i) {
    yyjson_mut_val *v = match_object_string(doc, lines->items[i]);
    if (v == nullptr || !yyjson_mut_arr_append(arr, v)) return false;
  }
  return true;
}

bool match_object_fill(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *path, int32_t line_no,
                       int32_t col, const char *text, const line_array *lines, int32_t line_index,
                       int32_t context_lines) {
  if (!add_string_member(doc, obj, "file", path) ||
      !yyjson_mut_obj_add_int(doc, obj, "line", line_no) ||
      !yyjson_mut_obj_add_int(doc, obj, "col", col) || !add_string_member(doc, obj, "text", text)) {
    return false;
  }
  yyjson_mut_val *context = yyjson_mut_arr(doc);
  return context != nullptr && yyjson_mut_obj_add_val(doc, obj, "context", context) &&
         add_context_window(doc, context, lines, line_index, context_lines);
}
