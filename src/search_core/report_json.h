// The document search: one JSON text with every match, the totals and timing.
#ifndef QG_REPORT_JSON_H
#define QG_REPORT_JSON_H

#ifdef __cplusplus
extern "C" {
#endif

// Searches `root_path` for `pattern` with the options document `options_json`
// (may be null) and returns the compact search document, which the caller
// frees. Null on failure, with the last-error text set where a message applies.
char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_JSON_H
