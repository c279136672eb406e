#include "search_core/walk.h"

#include "grep_core/glob.h"
#include "grep_core/literal.h"
#include "grep_core/regex.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string_view>

namespace {

// Directory names that are never entered below the root; compared byte for
// byte, so "Build" is entered while "build" is not.
constexpr std::string_view kSkippedDirNames[] = {
    "node_modules", "bin", "obj", "target", "dist", "build", "__pycache__",
};

// One directory on the way from the start of the walk down to the current one.
struct ancestor {
  plat_file_id id;
  const ancestor *parent;
};

// What every level of one walk shares. `path` is one block of
// SEARCH_MAX_PATH_BYTES holding the current directory's path, extended by a
// child's name while that child is visited and cut back afterwards, so a walk
// holds one path buffer whatever its depth.
struct walk_state {
  const char *pattern;
  const grep_opts *opts;
  search_tally *tally;
  match_handler handler;
  void *ctx;
  char *path;
  size_t len;
};

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

// Whether a directory met in the walk is entered.
bool dir_is_walked(const char *name, const grep_opts *opts) {
  if (name[0] == '.' || is_skipped_dir_name(name)) return false;
  return !any_glob_matches(opts->exclude_dirs, opts->exclude_dir_count, name);
}

// Whether a file met in the walk is scanned. The globs see the entry name,
// which is the child path's base name wherever names cannot hold a separator.
bool file_is_scanned(const char *name, const grep_opts *opts) {
  if (name[0] == '.') return false;
  if (opts->include_count > 0 &&
      !any_glob_matches(opts->include_globs, opts->include_count, name)) {
    return false;
  }
  return !any_glob_matches(opts->exclude_globs, opts->exclude_count, name);
}

bool is_on_way_down(const ancestor *a, plat_file_id id) {
  for (; a != nullptr; a = a->parent) {
    if (a->id.volume == id.volume && a->id.index == id.index) return true;
  }
  return false;
}

// Extends the state's path by "/name". False, with the path unchanged, when
// the result would not fit: such a child is passed over rather than cut.
bool push_child(walk_state *w, const char *name) {
  size_t n = strlen(name);
  if (w->len + 1 + n >= SEARCH_MAX_PATH_BYTES) return false;
  w->path[w->len] = '/';
  memcpy(w->path + w->len + 1, name, n + 1);
  w->len += 1 + n;
  return true;
}

void pop_child(walk_state *w, size_t dir_len) {
  w->len = dir_len;
  w->path[dir_len] = '\0';
}

// Lists the directory at w->path (level `depth`) and visits its entries. A
// directory that is its own ancestor, reached through a link, is not listed
// again: link loops would otherwise multiply the walk at every level.
void walk_level(walk_state *w, int depth, const ancestor *parent) {
  if (depth > SEARCH_MAX_DEPTH || w->tally->stop) return;
  plat_dir *dir = plat_dir_open(w->path);
  if (dir == nullptr) return;
  const ancestor self{plat_dir_id(dir), parent};
  if (is_on_way_down(parent, self.id)) {
    plat_dir_close(dir);
    return;
  }
  const size_t dir_len = w->len;
  plat_dir_entry entry;
  while (!w->tally->stop && plat_dir_next(dir, &entry)) {
    if (is_dot_or_dotdot(entry.name)) continue;
    const bool visit =
        entry.is_dir ? dir_is_walked(entry.name, w->opts) : file_is_scanned(entry.name, w->opts);
    if (!visit || !push_child(w, entry.name)) continue;
    if (entry.is_dir) {
      walk_level(w, depth + 1, &self);
    } else {
      search_file_content(w->path, w->pattern, w->opts, w->tally, w->handler, w->ctx);
    }
    pop_child(w, dir_len);
  }
  plat_dir_close(dir);
}

// The first match in `line`, column and length zeroed beforehand.
bool find_first(const char *pattern, const char *line, const grep_opts *opts, int32_t *col) {
  *col = 0;
  int32_t length = 0;
  if (opts->regex) return regex_find_first(pattern, line, opts->case_sensitive, col, &length);
  return fixed_find_first(pattern, line, opts->case_sensitive, opts->whole_word, col, &length);
}

// Bytes that every matching line holds: the pattern itself for a literal
// search (whole-word rule aside), or a run that every match of a pattern
// covers. Empty when a pattern has none: then no line is ruled out.
struct needle {
  const char *bytes;
  size_t len;
  bool case_sensitive;
  char storage[RE_PREFILTER_MAX + 1];
};

void make_needle(needle *n, const char *pattern, const grep_opts *opts) {
  n->case_sensitive = opts->case_sensitive;
  if (opts->regex) {
    n->len = regex_required_literal(pattern, opts->case_sensitive, n->storage);
    n->bytes = n->storage;
  } else {
    n->bytes = pattern;
    n->len = strlen(pattern);
  }
}

// The first hit of the needle in [from, end), which may span many lines; null
// when there is none.
const char *find_needle(const needle &n, const char *from, const char *end) {
  return fixed_find_in_bytes(n.bytes, n.len, from, static_cast<size_t>(end - from),
                             n.case_sensitive);
}

// Where the per-line search begins its next attempt. The needle is looked for
// in the whole text at once: the lines are cut apart by NULs and the needle
// holds none, so a hit lies inside one line, and the lines before it cannot
// match. Without a needle every line is tried. `first_hit` is the needle's
// first hit in the whole text, found before the split (which moves no byte),
// so the first jump costs no second search.
struct line_cursor {
  const line_array *lines;
  const needle *n;
  const char *text_end;   // where the text (and its last line) ends
  const char *first_hit;  // null without a needle
};

// The index of the first line at or after `from` that may hold a match, or
// the number of lines when none can.
int32_t next_candidate_line(const line_cursor &c, int32_t from) {
  if (c.n->len == 0 || from >= c.lines->count) return from;
  const char *start = c.lines->items[from];
  const char *hit = c.first_hit >= start ? c.first_hit : find_needle(*c.n, start, c.text_end);
  if (hit == nullptr) return c.lines->count;
  char *const *first = c.lines->items + from;
  char *const *last = c.lines->items + c.lines->count;
  char *const *after =
      std::upper_bound(first, last, hit, [](const char *p, const char *line) { return p < line; });
  return static_cast<int32_t>(after - c.lines->items) - 1;
}

// True once the search must end: the cap is reached, or the count could not
// grow any further.
bool cap_reached(const search_tally *tally, const grep_opts *opts) {
  if (tally->total_matches == INT32_MAX) return true;
  return opts->max_results > 0 && tally->total_matches >= opts->max_results;
}

}  // namespace

void search_directory_win(const char *dir_path, const char *pattern, const grep_opts *opts,
                          search_tally *tally, match_handler handler, void *ctx, int depth) {
  if (dir_path == nullptr || depth > SEARCH_MAX_DEPTH || tally->stop) return;
  const size_t len = strlen(dir_path);
  if (len >= SEARCH_MAX_PATH_BYTES) return;
  auto *path = static_cast<char *>(malloc(SEARCH_MAX_PATH_BYTES));
  if (path == nullptr) return;
  memcpy(path, dir_path, len + 1);
  walk_state w{pattern, opts, tally, handler, ctx, path, len};
  walk_level(&w, depth, nullptr);
  free(path);
}

void search_file_content(const char *path, const char *pattern, const grep_opts *opts,
                         search_tally *tally, match_handler handler, void *ctx) {
  if (tally->stop) return;
  size_t len = 0;
  char *text = read_file_to_utf8(path, &len, nullptr, nullptr);
  if (text == nullptr) return;
  if (is_binary_buffer(text, len)) {
    free(text);
    return;
  }
  ++tally->files_searched;
  needle n;
  make_needle(&n, pattern, opts);
  // The lines end at the text's first NUL; so does the needle's search. A text
  // without the needle anywhere need not be split at all, which spares most
  // files of a tree.
  const char *text_end = text + strnlen(text, len);
  const char *first_hit = n.len > 0 ? find_needle(n, text, text_end) : nullptr;
  if (n.len > 0 && first_hit == nullptr) {
    free(text);
    return;
  }
  // The lines are cut out of the text in place: the scan only reads them, and
  // a copy of every line would cost more than the matching itself.
  line_array lines;
  if (split_into_line_views(text, &lines)) {
    const line_cursor cursor{&lines, &n, text_end, first_hit};
    for (int32_t i = next_candidate_line(cursor, 0); i < lines.count && !tally->stop;
         i = next_candidate_line(cursor, i + 1)) {
      int32_t col;
      if (!find_first(pattern, lines.items[i], opts, &col)) continue;
      ++tally->total_matches;
      if (handler != nullptr) {
        handler(ctx, path, i + 1, col, lines.items[i], &lines, i, opts->context_lines);
      }
      if (cap_reached(tally, opts)) tally->stop = true;
    }
  }
  la_free_views(&lines);
  free(text);
}

void search_root(const char *root_path, const char *pattern, const grep_opts *opts,
                 search_tally *tally, match_handler handler, void *ctx) {
  if (plat_is_directory(root_path)) {
    search_directory_win(root_path, pattern, opts, tally, handler, ctx, 0);
  } else {
    search_file_content(root_path, pattern, opts, tally, handler, ctx);
  }
}
