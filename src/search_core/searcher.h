// The record of one search, shared by the walk (walk.cpp) and the parallel
// search (parallel.cpp). Internal to the search module and C++ only: no
// operation of the library's contract is declared here.
//
// A searcher is made per search and used by the thread that runs it; in a
// parallel search, helper threads get their own scan_tools and read only the
// fields marked shared.
#ifndef QG_SEARCHER_H
#define QG_SEARCHER_H

#include "grep_core/regex.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"
#include "search_core/ignore_rules.h"
#include "search_core/json_out.h"
#include "search_core/scan.h"
#include "search_core/walk.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

// The identities of the directories listed so far in one search: an
// open-addressing set that only grows.
struct dir_set {
  plat_file_id *slots = nullptr;
  bool *used = nullptr;
  size_t capacity = 0;
  size_t count = 0;

  dir_set() = default;
  dir_set(const dir_set &) = delete;
  dir_set &operator=(const dir_set &) = delete;
  ~dir_set() {
    free(slots);
    free(used);
  }

  static size_t hash(plat_file_id id) {
    uint64_t h = id.index * 0x9E3779B97F4A7C15ull ^ (id.volume + 0x632BE59BD9B4E019ull);
    h ^= h >> 29;
    return static_cast<size_t>(h * 0xBF58476D1CE4E5B9ull);
  }

  // Adds `id`; false when it was there already, or when it cannot be recorded
  // for lack of memory (a directory that cannot be recorded is not walked, so
  // that no directory is ever walked twice).
  bool insert(plat_file_id id) {
    if ((count + 1) * 2 > capacity && !grow()) return false;
    size_t i = hash(id) & (capacity - 1);
    for (; used[i]; i = (i + 1) & (capacity - 1)) {
      if (slots[i].volume == id.volume && slots[i].index == id.index) return false;
    }
    used[i] = true;
    slots[i] = id;
    ++count;
    return true;
  }

  bool grow() {
    const size_t grown = capacity == 0 ? 64 : capacity * 2;
    auto *new_slots = static_cast<plat_file_id *>(malloc(grown * sizeof(plat_file_id)));
    auto *new_used = static_cast<bool *>(calloc(grown, sizeof(bool)));
    if (new_slots == nullptr || new_used == nullptr) {
      free(new_slots);
      free(new_used);
      return false;
    }
    for (size_t i = 0; i < capacity; ++i) {
      if (!used[i]) continue;
      size_t j = hash(slots[i]) & (grown - 1);
      while (new_used[j]) j = (j + 1) & (grown - 1);
      new_used[j] = true;
      new_slots[j] = slots[i];
    }
    free(slots);
    free(used);
    slots = new_slots;
    used = new_used;
    capacity = grown;
    return true;
  }
};

// Bytes that every matching line holds: the pattern itself for a literal
// search (whole-word rule aside), or a run that every match of a pattern
// covers. Empty when a pattern has none: then no line is ruled out.
struct needle {
  const char *bytes = nullptr;
  size_t len = 0;
  bool case_sensitive = true;
  char storage[RE_PREFILTER_MAX + 1] = {};
};

// What scanning files whole needs per thread: the scanner (with its pattern
// scratch), the reused read buffers, and the escaped path and object text of
// the match being written.
struct scan_tools {
  scanner *scan = nullptr;
  text_buffers buffers = {};
  json_out path = {};
  json_out object = {};

  scan_tools() = default;
  scan_tools(const scan_tools &) = delete;
  scan_tools &operator=(const scan_tools &) = delete;
  ~scan_tools() {
    scanner_free(scan);
    text_buffers_free(&buffers);
    json_out_free(&path);
    json_out_free(&object);
  }
};

// One open directory of the walk: its listing, the length of its path in the
// searcher's path buffer, and its level below the root. With "gitignore", the
// ignore rules it holds (owned by the frame): its .gitignore and .ignore, and
// where it is a repository's top (it holds .git), that repository's
// info/exclude; the rules of directories above a repository's top do not
// reach into it.
struct walk_frame {
  plat_dir *dir;
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

// Most directories above the root whose ignore files are read.
#define SEARCH_MAX_OUTER_RULES 64

struct searcher {
  const char *pattern;
  const grep_opts *opts;
  search_tally *tally;
  match_handler handler;  // the handler path: files cut into lines
  void *ctx;
  const search_sink *sink;  // the reports' path: files scanned whole (null: handler path)
  re_program *program;      // regex searches only; shared, read only
  re_scratch *scratch;      // the handler path's
  needle find;
  scan_tools tools;     // the reports' path, for the calling thread
  size_t objects;       // match objects put into the sink so far
  int64_t deadline_ms;  // 0: no time limit; shared
  bool timed_out;
  dir_set listed;
  walk_frame frames[SEARCH_MAX_DEPTH + 2];  // the directories open on the way down
  int frame_count;
  outer_rules outer[SEARCH_MAX_OUTER_RULES];  // deepest first
  int outer_count;
  outer_rules outer_exclude;         // that repository's info/exclude
  char path[SEARCH_MAX_PATH_BYTES];  // the current directory or file
  size_t path_len;
};

// True once the search must end: a handler set the stop flag, or the time
// limit has passed (which sets it).
bool searcher_should_stop(searcher *s);

// Moves the walk on to its next file; s->path then names it. False when the
// walk is over or the search must stop.
bool searcher_next_file(searcher *s);

// True once the tally's count reaches the options' cap (or INT32_MAX).
bool searcher_cap_reached(const search_tally *tally, const grep_opts *opts);

// True once one file has given `matches`, the options' cap per file.
bool searcher_file_cap_reached(size_t matches, const grep_opts *opts);

// Makes `tools` ready for `s`'s pattern; false when out of memory. The stop
// check of its scans is `stop` with `stop_ctx`.
bool scan_tools_init(scan_tools *tools, const searcher *s, scan_should_stop stop, void *stop_ctx);

// Opens the listing of the directory at s->path as the walk's next level.
void searcher_enter_directory(searcher *s, int depth);

// With "gitignore": reads the ignore rules of the directory just entered (the
// top frame, whose path is in s->path) into that frame; with the rules
// absent or unreadable the frame holds none.
void ignore_enter_directory(searcher *s, walk_frame *frame);

// Releases what ignore_enter_directory gave the frame.
void ignore_leave_directory(walk_frame *frame);

// With "gitignore": reads the ignore rules of the directories above the root
// at s->path, up to the top of the repository holding it (none when it is in
// no repository, or is its top).
void ignore_load_outer(searcher *s);
void ignore_free_outer(searcher *s);

// True when the ignore rules in force exclude the entry whose path is in
// s->path (a directory when `is_dir`), the deepest directory's rules first.
bool ignore_excludes(searcher *s, bool is_dir);

// Walks the tree below s->path (a directory) on the calling thread alone.
void searcher_walk(searcher *s);

// Walks the tree below s->path (a directory) with `threads` threads in all.
void searcher_walk_parallel(searcher *s, int threads);

#endif  // QG_SEARCHER_H
