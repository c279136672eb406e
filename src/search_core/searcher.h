// The record of one search, shared by its driver (search.cpp), the walk
// (walk.cpp, ignore_walk.cpp) and the parallel search (parallel.cpp).
// Internal to the search module and C++ only.
//
// A searcher is made per search and used by the thread that runs it; in a
// parallel search, helper threads get their own file_scanner and read only
// the fields marked shared. The accounting below (files and matches counted,
// the caps, the time limit, the sink's verdicts) runs on the calling thread
// alone, for the direct scan and the parallel replay alike.
#ifndef QG_SEARCHER_H
#define QG_SEARCHER_H

#include "grep_core/file_id_map.h"
#include "grep_core/regex.h"
#include "platform/platform.h"
#include "search_core/context_events.h"
#include "search_core/file_scan.h"
#include "search_core/ignore_rules.h"
#include "search_core/search.h"
#include "search_core/sorted_listing.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <atomic>

// One open directory of the walk: its listing, the length of its path in the
// searcher's path buffer, and its level below the root. With "gitignore", the
// ignore rules it holds (owned by the frame): its .gitignore and .ignore, and
// where it is a repository's top (it holds .git), that repository's
// info/exclude; the rules of directories above a repository's top do not
// reach into it.
struct walk_frame {
  plat_dir *dir;
  sorted_listing *sorted;  // with "sort": the listing read whole and ordered (owned)
  size_t path_len;
  int depth;
  ignore_rules *rules;
  ignore_rules *exclude;
  bool repo_top;
};

// Ignore rules of a directory above the search's root, up to the top of the
// repository that holds the root: `prefix` is the root's path relative to
// that directory, which the walk's relative paths are appended to.
struct outer_rules {
  ignore_rules *rules;
  char *prefix;
  size_t prefix_len;
};

// When a thread taking matches reads the clock: after every
// kMatchesPerReading matches, and as soon as the matched and context lines
// taken since the last reading reach kBytesPerReading, so that a time limit
// or a stop acts within about a millisecond of copying or writing, however
// long the lines and however wide their context.
struct clock_pace {
  static constexpr uint32_t kMatchesPerReading = 256;
  static constexpr size_t kBytesPerReading = size_t{1} << 20;
  uint32_t matches_left = kMatchesPerReading;
  size_t bytes_left = kBytesPerReading;

  // True when the clock is due before `m` is taken (the pace then starts
  // afresh).
  bool due(const scan_match *m) {
    size_t bytes = m->line.n;
    for (size_t i = 0; i < m->context_count && bytes < bytes_left; ++i) bytes += m->context[i].n;
    if (--matches_left > 0 && bytes < bytes_left) {
      bytes_left -= bytes;
      return false;
    }
    matches_left = kMatchesPerReading;
    bytes_left = kBytesPerReading;
    return true;
  }
};

// Most directories above the root whose ignore files are read.
#define SEARCH_MAX_OUTER_RULES 64

struct searcher {
  const char *pattern;
  const grep_opts *opts;
  // A literal that folds beyond ASCII ("unicode" with "ignore_case") is
  // searched as a pattern of the standard syntax: that pattern and the
  // caller's options as they then read, which `pattern` and `opts` point to.
  char *literal_pattern;
  grep_opts literal_opts;
  search_tally *tally;
  const search_sink *sink;
  re_program *program;  // regex searches only; shared, read only
  file_scanner tools;   // the calling thread's
  int64_t deadline_ms;  // 0: no time limit; shared
  bool ended;           // nothing more is read or delivered
  search_outcome outcome;
  std::atomic<bool> *shared_stop;  // set when the search ends (a parallel search's helpers read it)
  clock_pace pace;                 // when the clock is next read as matches are taken
  // Where the walk hands each file that passes its rules: scanned at once on
  // one thread, queued in a parallel search. False ends the walk.
  bool (*visit_file)(searcher *s, void *ctx);
  void *visit_ctx;
  const char *file_path;  // the file whose begin_file is next
  file_id_map listed;  // the directories listed so far, each once
  walk_frame frames[SEARCH_MAX_DEPTH + 2];  // the directories open on the way down
  int frame_count;
  outer_rules outer[SEARCH_MAX_OUTER_RULES];  // deepest first
  int outer_count;
  outer_rules outer_exclude;         // that repository's info/exclude
  ignore_rules *path_rules;          // the options' path globs, or null
  int32_t path_selecting;            // how many of them select
  bool list_only;                    // a listing: files are reported, never read
  context_state context;             // for a sink that takes context as events
  char path[SEARCH_MAX_PATH_BYTES];  // the current directory or file
  size_t path_len;
};

// ---- The accounting, on the calling thread ----

// True once the search must end: it ended already, or its time limit has
// passed (which ends it, timed out).
bool searcher_should_stop(searcher *s);

// A file of the search is scanned: counted, and announced to the sink. False
// when the search must end.
bool searcher_begin_file(searcher *s, const char *path);

// One match: counted, handed to the sink, the cap applied, and the clock read
// every few hundred matches. False when the search must end.
bool searcher_take_match(searcher *s, const scan_match *m);

void searcher_end_file(searcher *s);

// Ends the search as failed by the thread's most recent failure.
void searcher_fail(searcher *s);

// Ends the search with `outcome`, unless it has ended already.
void searcher_end(searcher *s, search_outcome outcome);

// What one file's search gave, on the calling thread: a file that could not
// be read leaves its message; running out of memory fails the search; a scan
// that was stopped ends it when the time limit or the stop says so.
void searcher_file_done(searcher *s, file_outcome outcome);

// Searches the file at `path` on the calling thread, straight into the
// accounting.
void searcher_scan_file(searcher *s, const char *path);

// ---- The walk ----

// Walks the directory at s->path from level `depth` and below, handing each
// file that the skip rules, globs and ignore files let through to
// s->visit_file with s->path naming it. A directory that cannot be listed is
// passed over silently, and so is one already listed in this search (reached
// again through a link). Returns at once when `depth` is beyond
// SEARCH_MAX_DEPTH or the search must stop.
void search_directory_win(searcher *s, int depth);

// True when the options' file globs let a file named `name` (a base name)
// be searched: some include glob matches it, if there are any, and no
// exclude glob does.
bool globs_admit_file(const grep_opts *opts, const char *name);

// With "gitignore": reads the ignore rules of the directory just entered (the
// top frame, whose path is in s->path) into that frame; with the rules
// absent or unreadable the frame holds none. False, with the message set,
// when memory runs out.
bool ignore_enter_directory(searcher *s, walk_frame *frame);

// Releases what ignore_enter_directory gave the frame.
void ignore_leave_directory(walk_frame *frame);

// With "gitignore": reads the ignore rules of the directories above the root
// at s->path, up to the top of the repository holding it (none when it is in
// no repository, or is its top). False, with the message set, when memory
// runs out.
bool ignore_load_outer(searcher *s);
void ignore_free_outer(searcher *s);

// True when the ignore rules in force exclude the entry whose path is in
// s->path (a directory when `is_dir`), the deepest directory's rules first.
bool ignore_excludes(searcher *s, bool is_dir);

// ---- The options' path globs ----

typedef enum path_glob_verdict {
  PATH_GLOB_NONE = 0,  // no glob decides: the walk's other rules do
  PATH_GLOB_SELECTED,  // walked or searched, whatever the other rules say
  PATH_GLOB_EXCLUDED,  // passed over
} path_glob_verdict;

// Builds s->path_rules from the options' path globs (none: null). False,
// with the message set, when memory runs out.
bool path_globs_load(searcher *s);
void path_globs_free(searcher *s);

// What the path globs say of the entry whose path is in s->path, below the
// walk's root (a directory when `is_dir`).
path_glob_verdict path_globs_judge(const searcher *s, bool is_dir);

// Releases every listing the walk still holds open.
void searcher_close_walk(searcher *s);

// Walks the tree below s->path (a directory) on the calling thread alone.
void searcher_walk(searcher *s);

// ---- The parallel search ----

// Walks the tree below s->path (a directory) with `threads` threads in all,
// delivering every file's results in walk order into the accounting.
void searcher_walk_parallel(searcher *s, int threads);

#endif  // QG_SEARCHER_H
