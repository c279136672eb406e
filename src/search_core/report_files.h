// The listing: the files a search would read, without reading them.
#ifndef QG_REPORT_FILES_H
#define QG_REPORT_FILES_H

#ifdef __cplusplus
extern "C" {
#endif

// Walks `root_path` as a search with the options document `options_json`
// (may be null) would, reads no file, and returns the compact document
// {"files":[...],"total_files":N,"duration_ms":N} listing every file the
// search would read, in walk order (a root that is a file: that file), which
// the caller frees, and sets the thread's status. Options that concern
// matching are read and have no effect; "timeout_ms" ends the listing early
// with "timed_out":true after "duration_ms" and status GREP_TIMED_OUT, and
// "max_output_bytes" ends it before the first path that would take the
// document past the cap, with "output_limited":true and status
// GREP_OUTPUT_LIMITED. Null,
// with the message and status set, when `root_path` is null, the options are
// not valid JSON, the root cannot be walked (missing, not a regular file or
// a directory), or memory runs out. Any thread.
char *grep_core_list_files_json(const char *root_path, const char *options_json);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_FILES_H
