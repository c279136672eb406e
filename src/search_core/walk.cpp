#include "search_core/walk.h"

#include "search_core/match_json.h"
#include "search_core/searcher.h"

#include "grep_core/glob.h"
#include "grep_core/last_error.h"
#include "grep_core/literal.h"
#include "grep_core/regex.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"
#include "search_core/clock.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string_view>

namespace {

// Directory names that are never entered below the root; compared byte for
// byte, so "Build" is entered while "build" is not.
constexpr std::string_view kSkippedDirNames[] = {
    "node_modules", "bin", "obj", "target", "dist", "build", "__pycache__",
};

// Bytes of text searched for the needle between two looks at the clock, so
// that a time limit holds inside a huge file too.
constexpr size_t kNeedleWindow = size_t{4} << 20;

}  // namespace

bool searcher_should_stop(searcher *s) {
  if (s->tally->stop) return true;
  if (s->deadline_ms != 0 && search_clock_ms() >= s->deadline_ms) {
    s->timed_out = true;
    s->tally->stop = true;
  }
  return s->tally->stop;
}

namespace {

bool should_stop(searcher *s) { return searcher_should_stop(s); }

bool stop_check(void *ctx) { return should_stop(static_cast<searcher *>(ctx)); }

bool is_dot_or_dotdot(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool is_skipped_dir_name(std::string_view name) {
  for (std::string_view skipped : kSkippedDirNames) {
    if (name == skipped) return true;
  }
  return false;
}

// True when a glob of the list matches `name`, tried in slot order.
bool any_glob_matches(char *const *globs, int32_t count, const char *name) {
  for (int32_t i = 0; i < count; ++i) {
    if (glob_match(globs[i], name)) return true;
  }
  return false;
}

// Whether a directory met in the walk is entered. Dot directories only with
// "hidden", and a repository's .git only when the fixed list is off as well.
bool dir_is_walked(const char *name, const grep_opts *opts) {
  if (name[0] == '.') {
    if (!opts->hidden) return false;
    if (opts->skip_dirs && std::string_view(name) == ".git") return false;
  }
  if (opts->skip_dirs && is_skipped_dir_name(name)) return false;
  return !any_glob_matches(opts->exclude_dirs, opts->exclude_dir_count, name);
}

// Whether a file met in the walk is scanned. The globs see the entry name,
// which is the child path's base name wherever names cannot hold a separator.
bool file_is_scanned(const char *name, const grep_opts *opts) {
  if (name[0] == '.' && !opts->hidden) return false;
  if (opts->include_count > 0 &&
      !any_glob_matches(opts->include_globs, opts->include_count, name)) {
    return false;
  }
  return !any_glob_matches(opts->exclude_globs, opts->exclude_count, name);
}

// Extends the searcher's path by the platform's separator and `name`. False,
// with the path unchanged, when the result would not fit: such a child is
// passed over rather than cut.
bool push_child(searcher *s, const char *name) {
  const size_t n = strlen(name);
  if (s->path_len + 1 + n >= SEARCH_MAX_PATH_BYTES) return false;
  s->path[s->path_len] = plat_path_separator();
  memcpy(s->path + s->path_len + 1, name, n + 1);
  s->path_len += 1 + n;
  return true;
}

void pop_child(searcher *s, size_t dir_len) {
  s->path_len = dir_len;
  s->path[dir_len] = '\0';
}

// Opens the listing of the directory at s->path as a new frame at `depth`.
// Nothing is opened beyond the depth limit, nor a directory listed before in
// this search, whichever way it was reached: links would otherwise multiply
// the walk.
void enter_directory(searcher *s, int depth) {
  if (depth > SEARCH_MAX_DEPTH) return;
  plat_dir *dir = plat_dir_open(s->path);
  if (dir == nullptr) return;
  if (!s->listed.insert(plat_dir_id(dir))) {
    plat_dir_close(dir);
    return;
  }
  walk_frame &frame = s->frames[s->frame_count++];
  frame = {dir, s->path_len, depth, nullptr, nullptr, false};
  ignore_enter_directory(s, &frame);
}

void leave_directory(searcher *s) {
  walk_frame &top = s->frames[--s->frame_count];
  plat_dir_close(top.dir);
  ignore_leave_directory(&top);
  pop_child(s, top.path_len);
}

}  // namespace

// In the order the platform lists entries, depth first; every listing is
// closed once the walk is over or must stop.
bool searcher_next_file(searcher *s) {
  while (s->frame_count > 0) {
    if (should_stop(s)) {
      while (s->frame_count > 0) leave_directory(s);
      return false;
    }
    walk_frame &top = s->frames[s->frame_count - 1];
    pop_child(s, top.path_len);
    plat_dir_entry entry;
    if (!plat_dir_next(top.dir, &entry)) {
      leave_directory(s);
      continue;
    }
    if (is_dot_or_dotdot(entry.name)) continue;
    // Only directories and regular files are visited: a named pipe, a socket
    // or a device is never opened, since reading one may block or act.
    bool visit = false;
    if (entry.is_link && !s->opts->follow_links) {
      visit = false;
    } else if (entry.is_dir) {
      visit = dir_is_walked(entry.name, s->opts);
    } else if (entry.is_regular) {
      visit = file_is_scanned(entry.name, s->opts);
    }
    if (!visit || !push_child(s, entry.name)) continue;
    if (s->opts->gitignore && ignore_excludes(s, entry.is_dir)) continue;
    if (entry.is_dir) {
      enter_directory(s, top.depth + 1);
      continue;
    }
    return true;
  }
  return false;
}

namespace {

bool next_file(searcher *s) { return searcher_next_file(s); }

// The first hit of the needle in [from, end), which may span many lines; null
// when there is none or the search must stop. Searched a window at a time,
// with a look at the clock between windows.
const char *find_needle(searcher *s, const char *from, const char *end) {
  const needle &n = s->find;
  while (from < end) {
    const size_t left = static_cast<size_t>(end - from);
    const size_t window = left <= kNeedleWindow + n.len ? left : kNeedleWindow + n.len - 1;
    const char *hit = fixed_find_in_bytes(n.bytes, n.len, from, window, n.case_sensitive);
    if (hit != nullptr || window == left) return hit;
    from += window - (n.len - 1);
    if (should_stop(s)) return nullptr;
  }
  return nullptr;
}

// Where the per-line search begins its next attempt. The needle is looked for
// in the whole text at once: the lines are cut apart by NULs and the needle
// holds none, so a hit lies inside one line, and the lines before it cannot
// match. Without a needle every line is tried. `first_hit` is the needle's
// first hit in the whole text, found before the split (which moves no byte),
// so the first jump costs no second search.
struct line_cursor {
  const line_array *lines;
  const char *text_end;   // where the text (and its last line) ends
  const char *first_hit;  // null without a needle
};

// The index of the first line at or after `from` that may hold a match, or
// the number of lines when none can.
int32_t next_candidate_line(searcher *s, const line_cursor &c, int32_t from) {
  if (s->find.len == 0 || from >= c.lines->count) return from;
  const char *start = c.lines->items[from];
  const char *hit = c.first_hit >= start ? c.first_hit : find_needle(s, start, c.text_end);
  if (hit == nullptr) return c.lines->count;
  char *const *first = c.lines->items + from;
  char *const *last = c.lines->items + c.lines->count;
  char *const *after =
      std::upper_bound(first, last, hit, [](const char *p, const char *line) { return p < line; });
  return static_cast<int32_t>(after - c.lines->items) - 1;
}

// The first match in `line`, its column written to `col`: 1 found, 0 none,
// -1 the search must stop.
int find_first(searcher *s, const char *line, int32_t *col) {
  *col = 0;
  int32_t length = 0;
  const grep_opts *o = s->opts;
  if (!o->regex) {
    return fixed_find_first(s->pattern, line, o->case_sensitive, o->whole_word, col, &length);
  }
  const re_result r = re_find(s->program, s->scratch, line, strlen(line), col, &length);
  return r == RE_STOPPED ? -1 : (r == RE_MATCH ? 1 : 0);
}

bool cap_reached(const search_tally *tally, const grep_opts *opts) {
  return searcher_cap_reached(tally, opts);
}

// The handler path: the file is read whole and cut into lines in place, and
// each candidate line is searched on its own.
void scan_file_lines(searcher *s, const char *path) {
  size_t len = 0;
  char *text = read_file_to_utf8(path, &len, nullptr, nullptr);
  if (text == nullptr) return;
  if (is_binary_buffer(text, len)) {
    free(text);
    return;
  }
  ++s->tally->files_searched;
  // The lines end at the text's first NUL; so does the needle's search. A text
  // without the needle anywhere need not be split at all, which spares most
  // files of a tree.
  const char *text_end = text + strnlen(text, len);
  const char *first_hit = s->find.len > 0 ? find_needle(s, text, text_end) : nullptr;
  if (s->find.len > 0 && first_hit == nullptr) {
    free(text);
    return;
  }
  // The lines are cut out of the text in place: the scan only reads them, and
  // a copy of every line would cost more than the matching itself.
  line_array lines;
  if (split_into_line_views(text, &lines)) {
    const line_cursor cursor{&lines, text_end, first_hit};
    size_t matches = 0;
    for (int32_t i = next_candidate_line(s, cursor, 0); i < lines.count && !should_stop(s);
         i = next_candidate_line(s, cursor, i + 1)) {
      int32_t col;
      const int found = find_first(s, lines.items[i], &col);
      if (found < 0) break;
      if (found == 0) continue;
      ++s->tally->total_matches;
      if (s->handler != nullptr) {
        s->handler(s->ctx, path, i + 1, col, lines.items[i], &lines, i, s->opts->context_lines);
      }
      if (cap_reached(s->tally, s->opts)) s->tally->stop = true;
      if (searcher_file_cap_reached(++matches, s->opts)) break;
    }
  }
  la_free_views(&lines);
  free(text);
}

struct report_call {
  searcher *s;
  const char *path;
  bool path_written;  // s->tools.path holds this file's path, escaped
  size_t matches;     // taken from this file so far
};

// A match of the reports' path: counted, written as an object into the sink,
// and the cap applied.
bool emit_match(void *ctx, const scan_match *m) {
  auto *call = static_cast<report_call *>(ctx);
  searcher *s = call->s;
  scan_tools &t = s->tools;
  if (!call->path_written) {
    json_out_string_into(&t.path, call->path, strlen(call->path));
    call->path_written = true;
  }
  ++s->tally->total_matches;
  const search_sink *sink = s->sink;
  if (sink->document != nullptr) {
    if (s->objects++ > 0) json_out_char(sink->document, ',');
    match_json_write(sink->document, &t.path, m, s->opts->match_length);
    if (sink->document->failed || t.path.failed) s->tally->stop = true;
  } else if (sink->object != nullptr) {
    t.object.len = 0;
    t.object.failed = t.path.failed;
    match_json_write(&t.object, &t.path, m, s->opts->match_length);
    // An object that could not be written for lack of memory is not
    // delivered; it still counts.
    if (!t.object.failed && !sink->object(sink->ctx, t.object.data, t.object.len)) {
      s->tally->stop = true;
    }
  }
  if (cap_reached(s->tally, s->opts)) s->tally->stop = true;
  // The per-file cap ends this file's scan only; the walk goes on.
  return !s->tally->stop && !searcher_file_cap_reached(++call->matches, s->opts);
}

// The reports' path: the file is read into the reused buffers and scanned
// whole.
void scan_file_whole(searcher *s, const char *path) {
  const char *text = nullptr;
  size_t len = 0;
  bool stopped = false;
  if (!read_file_reusing(path, &s->tools.buffers, &text, &len, stop_check, s, &stopped)) return;
  if (is_binary_buffer(text, len)) return;
  ++s->tally->files_searched;
  // The lines end at the text's first NUL.
  const auto *nul = static_cast<const char *>(memchr(text, '\0', len));
  if (nul != nullptr) len = static_cast<size_t>(nul - text);
  report_call call{s, path, false, 0};
  if (scanner_scan(s->tools.scan, text, len, emit_match, &call) == SCAN_NO_MEMORY) {
    qm_grep_set_last_error("Out of memory holding the context of a match in '%s'", path);
  }
}

void scan_file(searcher *s, const char *path) {
  if (should_stop(s)) return;
  if (s->sink != nullptr) {
    scan_file_whole(s, path);
  } else {
    scan_file_lines(s, path);
  }
}

// Walks the directory at s->path from level `depth`, scanning every file the
// rules let through.
void walk_from(searcher *s, int depth) {
  enter_directory(s, depth);
  while (next_file(s)) scan_file(s, s->path);
}

}  // namespace

void searcher_enter_directory(searcher *s, int depth) { enter_directory(s, depth); }

void searcher_walk(searcher *s) { walk_from(s, 0); }

namespace {

// Copies `path` into the searcher's path buffer; false when it does not fit.
bool set_path(searcher *s, const char *path) {
  const size_t n = strlen(path);
  if (n >= SEARCH_MAX_PATH_BYTES) return false;
  memcpy(s->path, path, n + 1);
  s->path_len = n;
  return true;
}

}  // namespace

namespace {

searcher *make_searcher(const char *pattern, const grep_opts *opts, search_tally *tally,
                        match_handler handler, void *ctx, const search_sink *sink) {
  void *block = malloc(sizeof(searcher));
  if (block == nullptr) {
    qm_grep_set_last_error("Out of memory starting the search");
    return nullptr;
  }
  auto *s = new (block) searcher{};
  s->pattern = pattern;
  s->opts = opts;
  s->tally = tally;
  s->handler = handler;
  s->ctx = ctx;
  s->sink = sink;
  s->find.case_sensitive = opts->case_sensitive;
  bool ok = true;
  if (opts->regex) {
    s->program = re_compile(pattern, opts->case_sensitive);
    ok = s->program != nullptr;
    if (ok && sink == nullptr) {
      s->scratch = re_scratch_new(s->program);
      ok = s->scratch != nullptr;
      if (ok) re_scratch_set_stop(s->scratch, stop_check, s);
    }
    s->find.len = regex_required_literal(pattern, opts->case_sensitive, s->find.storage);
    s->find.bytes = s->find.storage;
  } else {
    s->find.bytes = pattern;
    s->find.len = strlen(pattern);
  }
  if (ok && sink != nullptr) ok = scan_tools_init(&s->tools, s, stop_check, s);
  if (!ok) {
    searcher_free(s);
    qm_grep_set_last_error("Out of memory compiling the pattern");
    return nullptr;
  }
  if (opts->timeout_ms > 0) s->deadline_ms = search_clock_ms() + opts->timeout_ms;
  return s;
}

}  // namespace

searcher *searcher_new(const char *pattern, const grep_opts *opts, search_tally *tally,
                       match_handler handler, void *ctx) {
  return make_searcher(pattern, opts, tally, handler, ctx, nullptr);
}

searcher *searcher_new_reporting(const char *pattern, const grep_opts *opts, search_tally *tally,
                                 const search_sink *sink) {
  return make_searcher(pattern, opts, tally, nullptr, nullptr, sink);
}

bool searcher_cap_reached(const search_tally *tally, const grep_opts *opts) {
  if (tally->total_matches == INT32_MAX) return true;
  return opts->max_results > 0 && tally->total_matches >= opts->max_results;
}

bool searcher_file_cap_reached(size_t matches, const grep_opts *opts) {
  return opts->max_per_file > 0 && matches >= static_cast<size_t>(opts->max_per_file);
}

bool scan_tools_init(scan_tools *tools, const searcher *s, scan_should_stop stop, void *stop_ctx) {
  tools->scan = scanner_new(s->pattern, s->opts, s->program, stop, stop_ctx);
  return tools->scan != nullptr;
}

void searcher_free(searcher *s) {
  if (s == nullptr) return;
  while (s->frame_count > 0) leave_directory(s);
  ignore_free_outer(s);
  re_scratch_free(s->scratch);
  re_program_free(s->program);
  s->~searcher();
  free(s);
}

bool searcher_timed_out(const searcher *s) { return s->timed_out; }

void searcher_run(searcher *s, const char *root_path) {
  switch (plat_path_kind_of(root_path)) {
    case PLAT_PATH_DIRECTORY:
      if (!set_path(s, root_path)) return;
      ignore_load_outer(s);
      if (s->sink != nullptr && s->opts->threads >= 2) {
        searcher_walk_parallel(s, s->opts->threads);
      } else {
        walk_from(s, 0);
      }
      return;
    case PLAT_PATH_OTHER:
      // Reading a named pipe could wait for ever; a device may act on a read.
      qm_grep_set_last_error("Cannot open file '%s': %s", root_path, plat_error_text(PLAT_ENOTREG));
      return;
    case PLAT_PATH_FILE:
    case PLAT_PATH_MISSING:
      scan_file(s, root_path);
      return;
  }
}

void search_directory_win(const char *dir_path, const char *pattern, const grep_opts *opts,
                          search_tally *tally, match_handler handler, void *ctx, int depth) {
  if (dir_path == nullptr || depth > SEARCH_MAX_DEPTH || tally->stop) return;
  searcher *s = searcher_new(pattern, opts, tally, handler, ctx);
  if (s == nullptr) return;
  if (set_path(s, dir_path)) {
    ignore_load_outer(s);
    walk_from(s, depth);
  }
  searcher_free(s);
}

void search_file_content(const char *path, const char *pattern, const grep_opts *opts,
                         search_tally *tally, match_handler handler, void *ctx) {
  if (tally->stop) return;
  searcher *s = searcher_new(pattern, opts, tally, handler, ctx);
  if (s == nullptr) return;
  if (!should_stop(s)) scan_file_lines(s, path);
  searcher_free(s);
}

void search_root(const char *root_path, const char *pattern, const grep_opts *opts,
                 search_tally *tally, match_handler handler, void *ctx) {
  searcher *s = searcher_new(pattern, opts, tally, handler, ctx);
  if (s == nullptr) return;
  searcher_run(s, root_path);
  searcher_free(s);
}
