// The streaming search: each match object handed to the host's callback.
#ifndef QG_REPORT_STREAM_H
#define QG_REPORT_STREAM_H

#include "grep_core/json_out.h"
#include "quenmar_grep.h"
#include "search_core/match_json.h"
#include "search_core/search.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Runs the search of grep_core_search_json, calling `callback` (may be null)
// once per match, in match order, on the calling thread, with the compact
// match object; the text is released when the callback returns. Holds one
// file and one match object at a time. Returns the number of matches
// delivered (also when the search timed out), or -1 when it failed (a null
// `root_path` or `pattern`, options that are not valid JSON, a refused
// pattern, a root that cannot be searched, no memory); sets the thread's
// status. With "max_output_bytes", a match object that would take the texts
// handed to the callback past that many bytes (NULs not counted) is not
// handed over nor counted, and the search ends there with status
// GREP_OUTPUT_LIMITED. Several threads may stream at once.
int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback);

// Runs the same search, calling `callback(match_json, user_data)` per match;
// a non-zero return stops the search at once (no further line matched, no
// further file read), with status GREP_STOPPED, and the result counts the
// matches up to and including that one. Otherwise as grep_core_search_stream.
int grep_core_search_stream_ctx(const char *root_path, const char *pattern,
                                const char *options_json, grep_match_callback_ctx callback,
                                void *user_data);

// The streaming search's sink state, the context of its match handler. At
// most one of the callbacks is set; with neither, matches are only counted.
typedef struct stream_match_ctx {
  grep_match_callback callback;
  grep_match_callback_ctx callback_ctx;  // with user_data; non-zero stops
  void *user_data;
  const char *file;   // the current file's path
  bool path_written;  // `path` holds it, escaped
  json_out path;      // the current file's path, escaped once
  json_out object;    // the match object being delivered
  match_json_members members;
  uint64_t room;           // bytes the callback may still be handed; UINT64_MAX: no cap
  match_json_check check;  // the search's stop check, looked at while a large object is written
} stream_match_ctx;

// The match handler of the streaming search: writes the match object and
// hands it to the callback; SINK_STOP when the callback asks to stop,
// SINK_FULL (nothing handed over) when the object does not fit in `room`,
// SINK_DROPPED (nothing handed over) when `check` ended the search while the
// object was written,
// SINK_FAIL (message set) when the object cannot be written for lack of
// memory.
sink_verdict stream_match_handler(void *ctx, const scan_match *m);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_STREAM_H
