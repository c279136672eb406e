// The match object of the library's definition, built as yyjson values and
// written by yyjson: the reference that the reports' own writer
// (src/search_core/match_json.h) is held against, byte for byte.
#ifndef QG_MATCH_OBJECT_H
#define QG_MATCH_OBJECT_H

#include "support/line_array.h"

#include <stdbool.h>
#include <stdint.h>
#include <yyjson.h>

#ifdef __cplusplus
extern "C" {
#endif

// Adds to the empty object `obj` of `doc`, in this order: "file" (`path`),
// "line", "col", "text", and "context", the lines of `lines` from
// line_index - context_lines to line_index + context_lines clipped to the file
// (an empty array when context_lines is 0 or less). Every string is copied; a
// string that is not valid UTF-8 is copied with each offending byte replaced
// by U+FFFD. A null `path` or `text` leaves its member out. False when memory
// runs out; `obj` may then be incomplete and must not be written.
bool match_object_fill(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *path, int32_t line_no,
                       int32_t col, const char *text, const line_array *lines, int32_t line_index,
                       int32_t context_lines);

// A copy of `s` in `doc` as a JSON string, with each byte that is not part of
// valid UTF-8 replaced by U+FFFD (valid text is copied unchanged after one
// validation). Null when memory runs out.
yyjson_mut_val *match_object_string(yyjson_mut_doc *doc, const char *s);

#ifdef __cplusplus
}
#endif

#endif  // QG_MATCH_OBJECT_H
