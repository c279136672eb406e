// The streaming search: each match object handed to the host's callback.
#ifndef QG_REPORT_STREAM_H
#define QG_REPORT_STREAM_H

#include "grep_core/line_array.h"
#include "quenmar_grep.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Runs the search of grep_core_search_json, calling `callback` (may be null)
// once per match, in match order, on the calling thread, with the compact
// match object; the text is released when the callback returns. Holds one
// file's lines and one match object at a time. Returns the number of matches
// (counted even when a match could not be delivered), or -1 with the
// last-error text set when `root_path` or `pattern` is null or the options
// are not valid JSON. Several threads may stream at once.
int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback);

// Runs the same search, calling `callback(match_json, user_data)` per match;
// a non-zero return stops the search at once (no further line matched, no
// further file read), and the result counts the matches up to and including
// that one. Otherwise as grep_core_search_stream.
int grep_core_search_stream_ctx(const char *root_path, const char *pattern,
                                const char *options_json, grep_match_callback_ctx callback,
                                void *user_data);

// Handler context of the streaming search. At most one of the callbacks is
// set; with neither, matches are only counted.
typedef struct stream_match_ctx {
  grep_match_callback callback;
  grep_match_callback_ctx callback_ctx;  // with user_data; non-zero stops
  void *user_data;
  struct search_tally *tally;  // whose stop flag a non-zero return sets
} stream_match_ctx;

// The match handler of the streaming search: builds the match object in a
// document of its own, writes it, hands the text to the callback and frees
// both. A match whose text cannot be built for lack of memory is not
// delivered.
void stream_match_handler(void *ctx, const char *path, int32_t line_no, int32_t col,
                          const char *text, const line_array *lines, int32_t line_index,
                          int32_t context_lines);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_STREAM_H
