// One search, as the reports run it: the tree walk (or one file, or a host's
// buffer), the per-file scan, and one sink that the matches go to.
//
// The sink is the only seam between searching and reporting: the search
// reads, scans, counts and applies every cap, limit and stop; the sink only
// formats. Its calls arrive on the thread that runs the search, in walk
// order: for each file that is scanned begin_file, its matches, end_file;
// then finish once. With opts->threads of 2 or more, a walked tree is read
// and scanned by that many threads (the calling one and helpers started for
// the call and ended before it returns), and each helper's output is replayed
// into the same sink in the same order, so the sink cannot tell the two
// apart. A search is made, run once and freed by one thread; searches on
// several threads share nothing but the clock.
#ifndef QG_SEARCH_H
#define QG_SEARCH_H

#include "grep_core/options.h"
#include "grep_core/regex.h"
#include "search_core/scan.h"

#include <stdbool.h>
#include <stddef.h>
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

// Counters of one search; all zero before it starts.
typedef struct search_tally {
  int32_t total_matches;   // matches handed to the sink
  int32_t files_searched;  // files read and scanned (not skipped, unreadable or binary)
  // Under the options' "strict": the walk met a directory below its depth
  // limit, which it did not enter.
  bool depth_limited;
} search_tally;

// What a sink says after an event.
typedef enum sink_verdict {
  SINK_GO_ON = 0,
  SINK_STOP = 1,     // the host asked to stop: the search ends, with GREP_STOPPED
  SINK_FAIL = 2,     // the sink failed (qg_fail said why): the search ends and fails
  SINK_FULL = 3,     // not taken: it would pass the options' max_output_bytes; the search ends,
                     // with GREP_OUTPUT_LIMITED, and the file or match is not counted
  SINK_DROPPED = 4,  // not taken: the search's stop check (searcher_stop_check) ended the
                     // search while the match was written; it is not counted
} sink_verdict;

// How a search ended.
typedef enum search_outcome {
  SEARCH_DONE = 0,            // walked everything asked, or reached max_results
  SEARCH_STOPPED = 1,         // the sink asked to stop
  SEARCH_TIMED_OUT = 2,       // the options' time limit passed
  SEARCH_FAILED = 3,          // the last failure (qg_failure_kind) ended it
  SEARCH_OUTPUT_LIMITED = 4,  // the sink had no room left under the options' max_output_bytes
} search_outcome;

// A line of context delivered on its own: its number and its text, valid
// during the call only.
typedef struct context_line {
  int32_t line_no;
  text_span text;
} context_line;

// The report's side of a search. `path` is NUL-terminated and valid until the
// file's end_file; a match is valid during its call only (the sink copies
// what it keeps); `tally` already counts the file or match being reported.
// end_file and finish may be null.
//
// A sink that shows each line once sets `context`: it then receives a
// match's window as events instead (see context_events.h): each context
// line once, in file order among the matches, `context_break` (may be null)
// between two groups of a file whose lines do not touch, and matches whose
// `context` is empty.
typedef struct search_sink {
  void *ctx;
  sink_verdict (*begin_file)(void *ctx, const char *path);
  sink_verdict (*match)(void *ctx, const scan_match *m);
  sink_verdict (*end_file)(void *ctx);
  void (*finish)(void *ctx, const search_tally *tally, search_outcome outcome);
  sink_verdict (*context)(void *ctx, const context_line *line);
  sink_verdict (*context_break)(void *ctx);
} search_sink;

typedef struct searcher searcher;

// Sets up one search of `pattern` with `opts` (both kept by the caller until
// searcher_free): takes the time limit of opts->timeout_ms from now and
// compiles a pattern once, within that limit. Null when it cannot start (a
// pattern refused, or out of memory), with the message and its kind set. A
// compilation the time limit stopped gives a searcher whose outcome is
// SEARCH_TIMED_OUT already; running it then reads nothing.
searcher *searcher_new(const char *pattern, const grep_opts *opts, search_tally *tally,
                       const search_sink *sink);

void searcher_free(searcher *s);

// Walks `root_path` from level 0 when it is a directory, and scans it as one
// file otherwise; then calls the sink's finish. Files and directories met in
// the walk that cannot be read are passed over (their message stays in the
// last-error text); a root that cannot be searched (missing, not a regular
// file or a directory, unreadable, too large) fails the search. Returns the
// outcome.
search_outcome searcher_run(searcher *s, const char *root_path);

// Searches the `len` bytes at `text` as one file called `name` (the globs of
// the options apply to its base name), decoded as a file's bytes are; then
// calls the sink's finish. Returns the outcome.
search_outcome searcher_run_text(searcher *s, const char *name, const char *text, size_t len);

// The search's stop check, for a sink's long writes: true once the search
// must end (it has ended, or its time limit has passed, which ends it, timed
// out). `s` is the searcher; on the thread that runs the search.
bool searcher_stop_check(void *s);

// The compiled pattern of a regex search (null for a literal one, or for a
// compilation the time limit stopped), owned by the searcher and shared
// read only with any scanner made for it while the searcher lives.
const re_program *searcher_program(const searcher *s);

// The pattern and options its scanners match with: the caller's, or for a
// literal that is searched as a pattern (one that Unicode's case folding
// reads), that pattern and the options that say so. Owned by the searcher.
const char *searcher_scan_pattern(const searcher *s);
const grep_opts *searcher_scan_options(const searcher *s);

// Sets the status of the finished search and, for a stop, a time limit or
// the output cap, its last-error text.
void searcher_report_outcome(const searcher *s, search_outcome outcome);

#ifdef __cplusplus
}
#endif

#endif  // QG_SEARCH_H
