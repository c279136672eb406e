// The document search: one JSON text with every match, the totals and timing.
#ifndef QG_REPORT_JSON_H
#define QG_REPORT_JSON_H

#include "grep_core/line_array.h"

#include <stdbool.h>
#include <stdint.h>
#include <yyjson.h>

#ifdef __cplusplus
extern "C" {
#endif

// Searches `root_path` for `pattern` with the options document `options_json`
// (may be null) and returns the compact search document
// {"matches":[...],"total_matches":N,"files_searched":N,"duration_ms":N},
// which the caller frees; a search stopped by the options' "timeout_ms" adds
// "timed_out":true after "duration_ms" and leaves "Search stopped at the time
// limit of N ms" in the last-error text. Null when `root_path` or `pattern`
// is null, the options are not valid JSON, or memory runs out, each with the
// last-error text set. Any thread; searches on several threads share only the
// clock.
char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json);

// Sets the last-error text of a search stopped by its options' time limit.
void report_time_limit(int32_t timeout_ms);

// Handler context of the document search.
typedef struct json_match_ctx {
  yyjson_mut_doc *doc;
  yyjson_mut_val *matches;  // the document's "matches" array
  bool failed;              // a match object could not be built for lack of memory
} json_match_ctx;

// The match handler of the document search: appends one match object (see
// match_object_fill) to ctx->matches. Sets ctx->failed when memory runs out;
// the array then lacks that match.
void full_json_match_handler(void *ctx, const char *path, int32_t line_no, int32_t col,
                             const char *text, const line_array *lines, int32_t line_index,
                             int32_t context_lines);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_JSON_H
