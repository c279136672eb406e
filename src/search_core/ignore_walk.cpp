// The walk's use of ignore files: which files are read for a directory, which
// directories above the root count, and in which order the rule sets decide.
//
// Precedence is git's: the deepest directory's .gitignore (then .ignore,
// which overrides it) decides first, then the directories above it up to the
// repository's top, then the repository's .git/info/exclude. A repository
// nested in the tree (a directory holding .git) starts afresh: the rules of
// the directories above it do not reach into it.
#include "search_core/searcher.h"

#include "grep_core/last_error.h"
#include "platform/platform.h"
#include "search_core/ignore_rules.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

namespace {

// Bytes of one ignore file that are read; the rest of a larger file, from
// the first line break before this point on, is not.
constexpr size_t kMaxIgnoreFileBytes = size_t{4} << 20;

// Says that the ignore rules cannot be held: the search then fails, since
// without them it would report files the host asked to leave out.
bool rules_out_of_memory(const char *path) {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory reading the ignore rules of '%s'", path);
  return false;
}

// The bytes of the file at `path` (up to the cap, ended at a line break when
// cut), malloc'd into *out, or null when it cannot be read or is not there.
// False only when memory runs out.
bool read_ignore_file(const char *path, char **out, size_t *out_len) {
  *out = nullptr;
  plat_file file;
  uint64_t size = 0;
  const int error = plat_open_read(path, &file, &size);
  if (error != 0) return error != ENOMEM || rules_out_of_memory(path);
  const size_t cap = size < kMaxIgnoreFileBytes ? static_cast<size_t>(size) : kMaxIgnoreFileBytes;
  auto *buf = static_cast<char *>(malloc(cap + 1));
  if (buf == nullptr) {
    plat_close(file);
    return rules_out_of_memory(path);
  }
  size_t len = 0;
  bool read_ok = true;
  while (read_ok && len < cap) {
    size_t got = 0;
    if (plat_read(file, buf + len, cap - len, &got) != 0) read_ok = false;
    if (got == 0) break;
    len += got;
  }
  plat_close(file);
  if (!read_ok) {
    free(buf);
    return true;
  }
  if (size > cap) {
    while (len > 0 && buf[len - 1] != '\n') --len;
  }
  *out = buf;
  *out_len = len;
  return true;
}

// Adds the rules of the file at `path` to *rules (made when first needed).
// A file that is missing or unreadable adds nothing. False when memory runs
// out.
bool add_rules_from(const char *path, ignore_rules **rules) {
  char *text = nullptr;
  size_t len = 0;
  if (!read_ignore_file(path, &text, &len)) return false;
  if (text == nullptr) return true;
  if (*rules == nullptr) *rules = ignore_rules_new();
  const bool ok = *rules != nullptr && ignore_rules_add_text(*rules, text, len);
  free(text);
  return ok || rules_out_of_memory(path);
}

// `dir` joined with the names given, by the platform's separator, into
// `out` (`cap` bytes); false when it does not fit.
bool join(char *out, size_t cap, const char *dir, size_t dir_len,
          std::initializer_list<const char *> names) {
  if (dir_len >= cap) return false;
  memcpy(out, dir, dir_len);
  size_t len = dir_len;
  for (const char *name : names) {
    const size_t n = strlen(name);
    if (len + 1 + n >= cap) return false;
    out[len++] = plat_path_separator();
    memcpy(out + len, name, n);
    len += n;
  }
  out[len] = '\0';
  return true;
}

// The rules a directory holds: with `git`, its .gitignore, then its .ignore,
// and whether it is a repository's top, with that repository's info/exclude
// (unless `exclude` is null); without, its .ignore alone. False when memory
// runs out.
bool read_directory_rules(const char *dir, size_t dir_len, bool git, ignore_rules **rules,
                          ignore_rules **exclude, bool *repo_top) {
  char path[SEARCH_MAX_PATH_BYTES];
  *repo_top = false;
  for (const char *name : {".gitignore", ".ignore"}) {
    if (!git && strcmp(name, ".gitignore") == 0) continue;
    if (join(path, sizeof path, dir, dir_len, {name}) && !add_rules_from(path, rules)) return false;
  }
  if (!git || !join(path, sizeof path, dir, dir_len, {".git"})) return true;
  const plat_path_kind kind = plat_path_kind_of(path);
  // A .git file (a worktree or a submodule) marks a repository's top too;
  // its info/exclude lives elsewhere and is not read.
  *repo_top = kind == PLAT_PATH_DIRECTORY || kind == PLAT_PATH_FILE;
  if (exclude != nullptr && kind == PLAT_PATH_DIRECTORY &&
      join(path, sizeof path, dir, dir_len, {".git", "info", "exclude"})) {
    return add_rules_from(path, exclude);
  }
  return true;
}

// The verdict of `rules` on the path `head` + separator + `tail` (either may
// be empty), which is joined into a buffer only when `head` is not.
ignore_verdict match_joined(const ignore_rules *rules, const char *head, size_t head_len,
                            const char *tail, size_t tail_len, bool is_dir) {
  const char sep = plat_path_separator();
  if (head_len == 0) return ignore_rules_match(rules, tail, tail_len, sep, is_dir);
  char joined[2 * SEARCH_MAX_PATH_BYTES];
  if (head_len + 1 + tail_len > sizeof joined) return IGNORE_NO_MATCH;
  memcpy(joined, head, head_len);
  joined[head_len] = sep;
  memcpy(joined + head_len + 1, tail, tail_len);
  return ignore_rules_match(rules, joined, head_len + 1 + tail_len, sep, is_dir);
}

// Where the directory part of `path` (`len` bytes) ends: the length of its
// parent's path, or 0 at the top of the file system.
size_t parent_length(const char *path, size_t len) {
  const char sep = plat_path_separator();
  while (len > 0 && path[len - 1] != sep && path[len - 1] != '/') --len;
  if (len == 0) return 0;
  size_t parent = len - 1;  // drop the separator, but keep a root such as "/" or "C:\"
  if (parent == 0 || (parent == 2 && path[1] == ':')) parent = len;
  return parent;
}

// The rules of the directory whose path is real[0, dir_len), seen from the
// root at `real`: the prefix is the root's path relative to it. False (the
// rules released) when memory runs out.
bool outer_from(ignore_rules *rules, const char *real, size_t real_len, size_t dir_len,
                outer_rules *out) {
  size_t start = dir_len;
  while (start < real_len && (real[start] == plat_path_separator() || real[start] == '/')) ++start;
  const size_t n = real_len - start;
  auto *prefix = static_cast<char *>(malloc(n + 1));
  if (prefix == nullptr) {
    ignore_rules_free(rules);
    return rules_out_of_memory(real);
  }
  memcpy(prefix, real + start, n);
  prefix[n] = '\0';
  *out = {rules, prefix, n};
  return true;
}

}  // namespace

bool ignore_enter_directory(searcher *s, walk_frame *frame) {
  frame->rules = nullptr;
  frame->exclude = nullptr;
  frame->repo_top = false;
  if (!s->opts->gitignore && !s->opts->dot_ignore) return true;
  return read_directory_rules(s->path, s->path_len, s->opts->gitignore, &frame->rules,
                              &frame->exclude, &frame->repo_top);
}

void ignore_leave_directory(walk_frame *frame) {
  ignore_rules_free(frame->rules);
  ignore_rules_free(frame->exclude);
  frame->rules = nullptr;
  frame->exclude = nullptr;
}

// The length of the path of the nearest directory at or above `real` that
// holds .git, or 0 when none does.
size_t repository_top(const char *real, size_t real_len) {
  char probe[SEARCH_MAX_PATH_BYTES];
  for (size_t dir = real_len; dir > 0;) {
    if (join(probe, sizeof probe, real, dir, {".git"}) &&
        plat_path_kind_of(probe) != PLAT_PATH_MISSING) {
      return dir;
    }
    const size_t up = parent_length(real, dir);
    if (up == dir) break;
    dir = up;
  }
  return 0;
}

bool ignore_load_outer(searcher *s) {
  s->outer_count = 0;
  s->outer_exclude = {};
  if (!s->opts->gitignore) return true;
  char *real = plat_real_path(s->path);
  if (real == nullptr) return errno != ENOMEM || rules_out_of_memory(s->path);
  const size_t real_len = strlen(real);
  const size_t top = repository_top(real, real_len);
  // Nothing above the root counts when it is in no repository, or is the
  // top itself (its own frame then reads everything).
  if (top == 0 || top == real_len) {
    free(real);
    return true;
  }
  bool ok = true;
  // From the root's parent up to the top, deepest first.
  for (size_t dir = parent_length(real, real_len);
       ok && dir >= top && s->outer_count < SEARCH_MAX_OUTER_RULES;) {
    ignore_rules *rules = nullptr;
    ignore_rules *exclude = nullptr;
    bool repo_top = false;
    ok = read_directory_rules(real, dir, true, &rules, dir == top ? &exclude : nullptr, &repo_top);
    if (ok && rules != nullptr) {
      ok = outer_from(rules, real, real_len, dir, &s->outer[s->outer_count]);
      if (ok) ++s->outer_count;
      rules = nullptr;
    }
    if (ok && exclude != nullptr) {
      ok = outer_from(exclude, real, real_len, dir, &s->outer_exclude);
      exclude = nullptr;
    }
    ignore_rules_free(rules);
    ignore_rules_free(exclude);
    const size_t up = parent_length(real, dir);
    if (dir == top || up == dir) break;
    dir = up;
  }
  free(real);
  return ok;
}

void ignore_free_outer(searcher *s) {
  for (int i = 0; i < s->outer_count; ++i) {
    ignore_rules_free(s->outer[i].rules);
    free(s->outer[i].prefix);
  }
  ignore_rules_free(s->outer_exclude.rules);
  free(s->outer_exclude.prefix);
  s->outer_count = 0;
  s->outer_exclude = {};
}

bool ignore_excludes(searcher *s, bool is_dir) {
  const char sep = plat_path_separator();
  const walk_frame *exclude_frame = nullptr;
  for (int f = s->frame_count - 1; f >= 0; --f) {
    const walk_frame &fr = s->frames[f];
    const char *rel = s->path + fr.path_len + 1;
    const size_t rel_len = s->path_len - fr.path_len - 1;
    const ignore_verdict v = ignore_rules_match(fr.rules, rel, rel_len, sep, is_dir);
    if (v != IGNORE_NO_MATCH) return v == IGNORE_EXCLUDE;
    if (fr.repo_top) {
      exclude_frame = &fr;
      break;
    }
  }
  if (exclude_frame != nullptr) {
    const char *rel = s->path + exclude_frame->path_len + 1;
    const size_t rel_len = s->path_len - exclude_frame->path_len - 1;
    return ignore_rules_match(exclude_frame->exclude, rel, rel_len, sep, is_dir) == IGNORE_EXCLUDE;
  }
  // Within the repository around the root: the directories above it.
  const char *tail = s->path + s->frames[0].path_len + 1;
  const size_t tail_len = s->path_len - s->frames[0].path_len - 1;
  for (int i = 0; i < s->outer_count; ++i) {
    const outer_rules &o = s->outer[i];
    const ignore_verdict v = match_joined(o.rules, o.prefix, o.prefix_len, tail, tail_len, is_dir);
    if (v != IGNORE_NO_MATCH) return v == IGNORE_EXCLUDE;
  }
  const outer_rules &x = s->outer_exclude;
  return match_joined(x.rules, x.prefix, x.prefix_len, tail, tail_len, is_dir) == IGNORE_EXCLUDE;
}
