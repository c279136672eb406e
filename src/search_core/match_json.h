// The match object of both reports, written as JSON text, byte for byte as
// yyjson's writer writes the same object.
#ifndef QG_MATCH_JSON_H
#define QG_MATCH_JSON_H

#include "grep_core/json_out.h"
#include "search_core/scan.h"

#ifdef __cplusplus
extern "C" {
#endif

// Which optional members a match object carries.
typedef struct match_json_members {
  bool length;      // "length":N after "col"
  bool submatches;  // "submatches":[{"col":C,"length":N},...] after "text"
} match_json_members;

// Appends {"file":PATH,"line":N,"col":N,"text":"...","context":[...]} with
// the optional members to `out`; `escaped_path` holds the path as
// json_out_string wrote it (once per file). A failure to grow shows in
// out->failed.
void match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      match_json_members members);

#ifdef __cplusplus
}
#endif

#endif  // QG_MATCH_JSON_H
