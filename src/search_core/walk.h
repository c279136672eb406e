// The tree walk and the per-file scan shared by both search reports.
//
// The walk lists directories depth first, applies the skip rules and the
// options' glob lists to each entry and hands every file that passes to the
// scan; the scan reads the file as UTF-8, passes over binary files, and
// reports the first match of each line to a match handler. Neither formats
// output: the handler is the only seam to the reports. Everything runs on the
// calling thread; two searches on different threads share nothing.
//
// A search that must always return: each directory (by its identity, not its
// path) is listed at most once per search, only regular files are opened, a
// pattern is compiled once and matched in time linear in the line, and the
// search stops at once when a handler or a time limit asks it to.
#ifndef QG_WALK_H
#define QG_WALK_H

#include "grep_core/line_array.h"
#include "grep_core/options.h"
#include "search_core/json_out.h"
#include "search_core/scan.h"

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Deepest level listed: the root is level 0 and a directory this many levels
// below it is still listed; one level deeper is not.
#define SEARCH_MAX_DEPTH 64

// Longest path, terminator included, that the walk builds or opens. A child
// path that would not fit is passed over, never cut.
#define SEARCH_MAX_PATH_BYTES 4096

// Counters and stop flag of one search; all zero before it starts.
typedef struct search_tally {
  int32_t total_matches;   // handler calls made so far
  int32_t files_searched;  // files read and scanned (not skipped, unreadable or binary)
  bool stop;               // set once the search must end: nothing is read after
} search_tally;

// Receives one match. `path` and `text` are NUL-terminated; `text` is
// lines->items[line_index] and line_index is line_no - 1. `context_lines` is
// the options' value, unchanged. Everything is valid only during the call:
// the handler copies what it keeps. When it runs, tally->total_matches already
// counts this match. A handler stops the search by setting the tally's stop
// flag: no further line is matched and no further file is read.
typedef void (*match_handler)(void *ctx, const char *path, int32_t line_no, int32_t col,
                              const char *text, const line_array *lines, int32_t line_index,
                              int32_t context_lines);

// Where the reports' path puts its match objects (JSON texts, see
// match_json.h): appended to `document`, separated by commas, when it is set
// (the search stops if the document runs out of memory); otherwise handed one
// by one to `object` (NUL-terminated, valid during the call), whose false
// stops the search; with neither, the matches are only counted. Objects arrive in match order, on
// the thread that runs the search, and the tally counts each before it arrives.
typedef struct search_sink {
  struct json_out *document;
  bool (*object)(void *ctx, const char *text, size_t len);
  void *ctx;
} search_sink;

typedef struct searcher searcher;

// Sets up one search of `pattern` with `opts` (both read, never changed, and
// kept by the caller until searcher_free): compiles a pattern once, and takes
// the time limit of opts->timeout_ms from now. Null when out of memory, with
// the last-error text set. Matches go to `handler` with `ctx`, each file cut
// into lines as the handler's contract has it; counts to `tally`.
searcher *searcher_new(const char *pattern, const grep_opts *opts, search_tally *tally,
                       match_handler handler, void *ctx);

// The same search for the reports: files are read into buffers reused from
// file to file and scanned without being cut into lines, and match objects go
// to `sink` (kept by the caller). With opts->threads of 2 or more, a walked
// tree is read and scanned by that many threads (the calling one and helpers
// started for the call and ended before it returns), while the objects still
// arrive in the same order, on the calling thread, with the same tally and
// last-error text as on one thread. The results are those of searcher_new's.
searcher *searcher_new_reporting(const char *pattern, const grep_opts *opts, search_tally *tally,
                                 const search_sink *sink);

void searcher_free(searcher *s);

// Walks `root_path` from level 0 when it is a directory, and scans it as one
// file otherwise (a path that does not exist included; one that names a
// named pipe, a socket or a device is refused without being opened, with
// "Cannot open file '%s': Not a regular file").
void searcher_run(searcher *s, const char *root_path);

// True once the search stopped at its time limit.
bool searcher_timed_out(const searcher *s);

// Walks `dir_path` (UTF-8, used unchanged; children are "dir_path/name") at
// level `depth`, and below it, scanning each file that the skip rules and
// globs let through. A directory that cannot be listed is passed over
// silently, and so is one already listed in this call (reached again through
// a link). Returns at once when `depth` is beyond SEARCH_MAX_DEPTH or the
// tally's stop flag is set. Compiles the pattern for this call.
void search_directory_win(const char *dir_path, const char *pattern, const grep_opts *opts,
                          search_tally *tally, match_handler handler, void *ctx, int depth);

// Scans one file: reads it, passes over it if binary, counts it, then reports
// the first match of each line until the end or the stop flag. A file that
// cannot be read is passed over; the reader's message stays in the last-error
// text. Compiles the pattern for this call.
void search_file_content(const char *path, const char *pattern, const grep_opts *opts,
                         search_tally *tally, match_handler handler, void *ctx);

// searcher_run on a searcher of its own.
void search_root(const char *root_path, const char *pattern, const grep_opts *opts,
                 search_tally *tally, match_handler handler, void *ctx);

#ifdef __cplusplus
}
#endif

#endif  // QG_WALK_H
