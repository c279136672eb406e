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
  // "groups":[{"name":S,"col":C,"length":N} or {"col":C,"length":N} or null,...]
  // after "text" and "submatches", and in each submatch after its "length"
  bool groups;
} match_json_members;

// The members that the options' "match_length", "submatches" and
// "captures" ask for.
match_json_members match_json_members_of(const grep_opts *opts);

// A look at the search's stop check while a large object is written: after
// the line and after each context line, once a further QG_SCAN_STOP_WINDOW
// bytes have been written since the last look. `stop` may be null (none).
typedef struct match_json_check {
  scan_should_stop stop;
  void *ctx;
} match_json_check;

// Appends {"file":PATH,"line":N,"col":N,"text":"...","context":[...]} with
// the optional members to `out`; `escaped_path` holds the path as
// json_out_string wrote it (once per file). A failure to grow shows in
// out->failed. False when `check` said stop: `out` then ends with part of
// the object, which the caller takes back.
bool match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      match_json_members members, match_json_check check);

// The fewest bytes match_json_write appends for `m` with a path that takes
// `escaped_path_len` bytes escaped: what an output cap can refuse a match
// on before it is written (escaping only ever adds bytes).
size_t match_json_least_size(const scan_match *m, size_t escaped_path_len);

#ifdef __cplusplus
}
#endif

#endif  // QG_MATCH_JSON_H
