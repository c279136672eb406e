// The document search: one JSON text with every match, the totals and timing.
#ifndef QG_REPORT_JSON_H
#define QG_REPORT_JSON_H

#include "grep_core/json_out.h"
#include "search_core/match_json.h"
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
// the last-error text; one whose next match object would take the document
// past "max_output_bytes" ends without it and adds "output_limited":true,
// with GREP_OUTPUT_LIMITED and "Search stopped at the output limit of N
// bytes". Null, with the message and status set, when
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

// Where a document under an output cap must end before its closing members:
// `cap` less the most those members can take (`tail_max`), and never below
// `head_len`, the document's opening, so that a cap too small for any entry
// still gives the document without entries. SIZE_MAX when `cap` is 0 or
// less (no cap).
size_t document_entry_limit(int64_t cap, size_t head_len, size_t tail_max);

// The document's sink state, the context of its match handler.
typedef struct json_match_ctx {
  json_out *out;      // the document, from its "matches" array on
  const char *file;   // the current file's path
  bool path_written;  // `path` holds it, escaped
  json_out path;      // the current file's path, escaped once
  size_t objects;
  match_json_members members;
  int64_t start_ms;        // the clock's reading as the search began
  size_t entry_limit;      // the document ends here before its totals (document_entry_limit)
  match_json_check check;  // the search's stop check, looked at while a large object is written
} json_match_ctx;

// The match handler of the document search: appends one match object to the
// document; SINK_FULL (the document unchanged) when it would pass
// `entry_limit`, SINK_DROPPED (the document unchanged) when `check` ended the
// search while the object was written, SINK_FAIL (with the message set) when
// the document cannot grow.
sink_verdict full_json_match_handler(void *ctx, const scan_match *m);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_JSON_H
