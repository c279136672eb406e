// The document search: one JSON text with every match, the totals and timing.
#ifndef QG_REPORT_JSON_H
#define QG_REPORT_JSON_H

#include "grep_core/json_out.h"
#include "search_core/search.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Searches `root_path` for `pattern` with the options document `options_json`
// (may be null) and returns the compact search document
// {"matches":[...],"total_matches":N,"files_searched":N,"duration_ms":N},
// which the caller frees, and sets the thread's status. A search stopped by
// the options' "timeout_ms" adds "timed_out":true after "duration_ms", with
// status GREP_TIMED_OUT and "Search stopped at the time limit of N ms" in
// the last-error text. Null, with the message and status set, when
// `root_path` or `pattern` is null, the options are not valid JSON, the
// pattern is refused, the root cannot be searched, or memory runs out. Any
// thread; searches on several threads share only the clock.
char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json);

// The same document for the `len` bytes at `text` searched as one file
// called `name` (see searcher_run_text). Null, with the message and status
// set, as grep_core_search_json fails, and when `name` is null or `text` is
// null with a length.
char *grep_core_search_text(const char *name, const char *text, size_t len, const char *pattern,
                            const char *options_json);

// The document a finished search left in `out`, handed over (out->data is
// then null), with the thread's status set from `outcome`. Null, with the
// message and status set, when the search failed or `out` ran out of memory
// ("Out of memory building <what>").
char *take_document(const searcher *s, search_outcome outcome, json_out *out, const char *what);

// The document's sink state, the context of its match handler.
typedef struct json_match_ctx {
  json_out *out;      // the document, from its "matches" array on
  const char *file;   // the current file's path
  bool path_written;  // `path` holds it, escaped
  json_out path;      // the current file's path, escaped once
  size_t objects;
  bool length;
  bool submatches;
  int64_t start_ms;  // the clock's reading as the search began
} json_match_ctx;

// The match handler of the document search: appends one match object to the
// document; SINK_FAIL (with the message set) when the document cannot grow.
sink_verdict full_json_match_handler(void *ctx, const scan_match *m);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_JSON_H
