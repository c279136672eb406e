// The streaming search: each match object handed to the host's callback.
#ifndef QG_REPORT_STREAM_H
#define QG_REPORT_STREAM_H

#include "quenmar_grep.h"

#ifdef __cplusplus
extern "C" {
#endif

// Runs the search of grep_core_search_json, calling `callback` (may be null)
// with each match object as it is found. Returns the number of matches, or -1
// with the last-error text set when the search does not start.
int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_STREAM_H
