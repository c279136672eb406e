// The match object of both reports, written as JSON text: the bytes yyjson's
// writer gives for the object that match_object_fill builds, without building
// it.
#ifndef QG_MATCH_JSON_H
#define QG_MATCH_JSON_H

#include "search_core/json_out.h"
#include "search_core/scan.h"

#ifdef __cplusplus
extern "C" {
#endif

// Appends {"file":PATH,"line":N,"col":N,"text":"...","context":[...]} to
// `out`, with "length":N after "col" when `with_length`; `escaped_path` holds
// the path as json_out_string wrote it (once per file). A failure to grow
// shows in out->failed.
void match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      bool with_length);

#ifdef __cplusplus
}
#endif

#endif  // QG_MATCH_JSON_H
