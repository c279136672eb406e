// The tree walk: directories depth first, in the order the platform lists
// their entries, with the fixed skip rules, the options' globs and the ignore
// files applied to every entry. Each directory is listed at most once per
// search, by its identity (so links can neither loop nor multiply the walk),
// and only directories and regular files are visited.
#include "search_core/searcher.h"

#include "grep_core/glob.h"
#include "grep_core/last_error.h"
#include "platform/platform.h"

#include <errno.h>
#include <string.h>

#include <string_view>

namespace {

// Directory names that are never entered below the root; compared byte for
// byte, so "Build" is entered while "build" is not.
constexpr std::string_view kSkippedDirNames[] = {
    "node_modules", "bin", "obj", "target", "dist", "build", "__pycache__",
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
  return globs_admit_file(opts, name);
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

// Ends the search for lack of memory to walk the directory at s->path: going
// on without it would report a tree with a part missing.
void walk_out_of_memory(searcher *s) {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory walking '%s'", s->path);
  searcher_fail(s);
}

// Opens the listing of the directory at s->path as a new frame at `depth`
// (read whole and ordered when the options sort the walk). Nothing is
// opened beyond the depth limit or the options' "max_depth" (a directory at
// that depth holds entries below it), nor a directory listed before in
// this search, whichever way it was reached: links would otherwise multiply
// the walk. A directory that cannot be listed is passed over, unless memory
// ran out.
void enter_directory(searcher *s, int depth) {
  if (depth > SEARCH_MAX_DEPTH) {
    if (s->opts->strict) s->tally->depth_limited = true;
    return;
  }
  if (s->opts->max_depth >= 0 && depth >= s->opts->max_depth) return;
  plat_dir *dir = plat_dir_open(s->path);
  if (dir == nullptr) {
    if (errno == ENOMEM) walk_out_of_memory(s);
    return;
  }
  const file_id_map::added added = s->listed.insert(plat_dir_id(dir), 0);
  if (added != file_id_map::added::yes) {
    plat_dir_close(dir);
    if (added == file_id_map::added::no_memory) walk_out_of_memory(s);
    return;
  }
  sorted_listing *sorted = nullptr;
  if (s->opts->sort != GREP_SORT_NONE) {
    sorted = sorted_listing_read(dir, s->path, s->path_len, s->opts);
    if (sorted == nullptr) {
      plat_dir_close(dir);
      walk_out_of_memory(s);
      return;
    }
  }
  walk_frame &frame = s->frames[s->frame_count++];
  frame = {dir, sorted, s->path_len, depth, nullptr, nullptr, false};
  if (!ignore_enter_directory(s, &frame)) searcher_fail(s);
}

void leave_directory(searcher *s) {
  walk_frame &top = s->frames[--s->frame_count];
  plat_dir_close(top.dir);
  sorted_listing_free(top.sorted);
  ignore_leave_directory(&top);
  pop_child(s, top.path_len);
}

// Whether the walk visits an entry: only directories and regular files (a
// named pipe, a socket or a device is never opened, since reading one may
// block or act), links only where the options follow them, and then the
// rules for each kind.
bool entry_is_visited(const searcher *s, const plat_dir_entry &entry) {
  if (entry.is_link && !s->opts->follow_links) return false;
  if (entry.is_dir) return dir_is_walked(entry.name, s->opts);
  if (entry.is_regular) return file_is_scanned(entry.name, s->opts);
  return false;
}

// Whether the walk visits an entry that a path glob selected: the hidden
// rule, the fixed skip list and the ignore files do not apply to it; links,
// the kind of entry and the name globs still do.
bool entry_is_selectable(const searcher *s, const plat_dir_entry &entry) {
  if (entry.is_link && !s->opts->follow_links) return false;
  if (entry.is_dir) {
    return !any_glob_matches(s->opts->exclude_dirs, s->opts->exclude_dir_count, entry.name);
  }
  return entry.is_regular && globs_admit_file(s->opts, entry.name);
}

// Moves the walk on to its next file; s->path then names it. False when the
// walk is over or the search must stop.
bool next_file(searcher *s) {
  while (s->frame_count > 0) {
    if (searcher_should_stop(s)) return false;
    walk_frame &top = s->frames[s->frame_count - 1];
    pop_child(s, top.path_len);
    plat_dir_entry entry;
    const bool listed = top.sorted != nullptr ? sorted_listing_next(top.sorted, &entry)
                                              : plat_dir_next(top.dir, &entry);
    if (!listed) {
      leave_directory(s);
      continue;
    }
    if (is_dot_or_dotdot(entry.name) || !push_child(s, entry.name)) continue;
    const path_glob_verdict chosen = path_globs_judge(s, entry.is_dir);
    if (chosen == PATH_GLOB_EXCLUDED) continue;
    if (chosen == PATH_GLOB_SELECTED ? !entry_is_selectable(s, entry) : !entry_is_visited(s, entry)) {
      continue;
    }
    if (chosen == PATH_GLOB_NONE && (s->opts->gitignore || s->opts->dot_ignore) &&
        ignore_excludes(s, entry.is_dir)) {
      continue;
    }
    if (entry.is_dir) {
      enter_directory(s, top.depth + 1);
      continue;
    }
    return true;
  }
  return false;
}

}  // namespace

bool globs_admit_file(const grep_opts *opts, const char *name) {
  if (opts->include_count > 0 &&
      !any_glob_matches(opts->include_globs, opts->include_count, name)) {
    return false;
  }
  return !any_glob_matches(opts->exclude_globs, opts->exclude_count, name);
}

void search_directory_win(searcher *s, int depth) {
  if (depth > SEARCH_MAX_DEPTH || searcher_should_stop(s)) return;
  const int base = s->frame_count;
  enter_directory(s, depth);
  while (s->frame_count > base && next_file(s)) {
    if (!s->visit_file(s, s->visit_ctx)) break;
  }
  while (s->frame_count > base) leave_directory(s);
}

void searcher_close_walk(searcher *s) {
  while (s->frame_count > 0) leave_directory(s);
}
