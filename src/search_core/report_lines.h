// The line printer: the search's results as the lines people read, written
// in the library so that every host prints them alike. Matched lines as
// PATH:LINE:COL:TEXT, context lines as PATH-LINE-TEXT (each line once, "--"
// between groups that do not touch), or under a heading per file; each
// match alone; the files that match; their counts; or the match objects one
// per line. Colour spans, when asked for, use the terminal's escape codes.
// Which of these, and which parts of a line, the options' printer keys say
// ("print", "heading", "color", "line_number", "column", "with_filename").
//
// The text goes to the host's callback in pieces that end at a line's end,
// at most a little over 64 KiB each, one at least at the end of every file
// that printed something, on the calling thread; between files that print
// nothing an empty piece comes every 10 ms, so that the host can stop the
// search at any file. Runs on the caller's
// thread; several threads may print searches at once.
#ifndef QG_REPORT_LINES_H
#define QG_REPORT_LINES_H

#include "quenmar_grep.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Searches `root_path` (or, when `text` is not null, the `length` bytes at
// `text` as one file called `root_path`) for `pattern` and hands the printed
// lines to `callback` (may be null: nothing is printed, the search is
// counted); a non-zero return stops the search (GREP_STOPPED). Returns the
// summary document
// {"total_matches":N,"files_searched":N,"files_matched":N,"duration_ms":N}
// (with "timed_out":true and, under "strict", "depth_limited":true as the
// search document has them), which the caller frees, and sets the thread's
// status; null, with the message and status set, when the search fails as
// grep_core_search_json fails.
char *grep_core_search_lines(const char *root_path, const char *text, size_t length,
                             const char *pattern, const char *options_json,
                             grep_lines_callback callback, void *user_data);

#ifdef __cplusplus
}
#endif

#endif  // QG_REPORT_LINES_H
