#include "grep_core/options.h"

#include "grep_core/last_error.h"

#include <stdlib.h>
#include <string.h>
#include <yyjson.h>

void grep_opts_init(grep_opts *opts) {
  memset(opts, 0, sizeof *opts);
  opts->case_sensitive = true;
  opts->skip_dirs = true;
  opts->follow_links = true;
}

void grep_opts_free(grep_opts *opts) {
  for (int32_t i = 0; i < opts->include_count; ++i) free(opts->include_globs[i]);
  for (int32_t i = 0; i < opts->exclude_count; ++i) free(opts->exclude_globs[i]);
  for (int32_t i = 0; i < opts->exclude_dir_count; ++i) free(opts->exclude_dirs[i]);
  for (int32_t i = 0; i < opts->path_glob_count; ++i) free(opts->path_globs[i]);
  memset(opts, 0, sizeof *opts);
}

// Appends a heap copy of the `n` bytes at `s` while the list has room; a copy
// that cannot be allocated is dropped and the count stays.
static void append_glob(char **list, int32_t *count, const char *s, size_t n) {
  if (*count >= GREP_OPTS_MAX_GLOBS) return;
  auto *copy = static_cast<char *>(malloc(n + 1));
  if (copy == nullptr) return;
  memcpy(copy, s, n);
  copy[n] = '\0';
  list[(*count)++] = copy;
}

void add_globs_from_str(char **list, int32_t *count, const char *text) {
  if (text == nullptr) return;
  const char *p = text;
  while (*p != '\0' && *count < GREP_OPTS_MAX_GLOBS) {
    size_t n = strcspn(p, ",; ");
    if (n > 0) append_glob(list, count, p, n);
    p += n;
    if (*p != '\0') ++p;
  }
}

// A JSON boolean stored into `*field`, inverted when `invert`; other types
// leave it alone.
static void read_bool(yyjson_val *root, const char *key, bool invert, bool *field) {
  yyjson_val *v = yyjson_obj_get(root, key);
  if (yyjson_is_bool(v)) *field = yyjson_get_bool(v) != invert;
}

// A JSON integer (signed or unsigned 64-bit) stored as its low 32 bits read
// as a signed number: 4294967301 gives 5. Reals and other types are ignored.
static void read_int32(yyjson_val *root, const char *key, int32_t *field) {
  yyjson_val *v = yyjson_obj_get(root, key);
  uint64_t bits;
  if (yyjson_is_uint(v)) {
    bits = yyjson_get_uint(v);
  } else if (yyjson_is_sint(v)) {
    bits = static_cast<uint64_t>(yyjson_get_sint(v));
  } else {
    return;
  }
  *field = static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// A JSON integer stored whole into a 64-bit field; one beyond the signed
// range, reals and other types are ignored.
static void read_int64(yyjson_val *root, const char *key, int64_t *field) {
  yyjson_val *v = yyjson_obj_get(root, key);
  if (yyjson_is_sint(v)) {
    *field = yyjson_get_sint(v);
  } else if (yyjson_is_uint(v) && yyjson_get_uint(v) <= static_cast<uint64_t>(INT64_MAX)) {
    *field = static_cast<int64_t>(yyjson_get_uint(v));
  }
}

// A list value: an array contributes each of its string elements whole, a
// string is split at separators when `split`, else one glob; other types are
// ignored.
static void read_globs(yyjson_val *root, const char *key, char **list, int32_t *count,
                       bool split = true) {
  yyjson_val *v = yyjson_obj_get(root, key);
  if (yyjson_is_str(v)) {
    if (split) {
      add_globs_from_str(list, count, yyjson_get_str(v));
    } else {
      append_glob(list, count, yyjson_get_str(v), yyjson_get_len(v));
    }
    return;
  }
  if (!yyjson_is_arr(v)) return;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(v, idx, max, item) {
    if (yyjson_is_str(item)) append_glob(list, count, yyjson_get_str(item), yyjson_get_len(item));
  }
}

// The "syntax" key: "dialect" (the default) or "standard", which makes the
// pattern a regex whatever "regex" says. False, with the message, for any
// other value.
static bool read_syntax(yyjson_val *root, grep_opts *opts) {
  yyjson_val *v = yyjson_obj_get(root, "syntax");
  if (v == nullptr) return true;
  if (yyjson_equals_str(v, "dialect")) return true;
  if (yyjson_equals_str(v, "standard")) {
    opts->standard_syntax = true;
    opts->regex = true;
    return true;
  }
  if (yyjson_is_str(v)) {
    qg_fail(GREP_E_ARGUMENT, "Unknown syntax '%s'", yyjson_get_str(v));
    return false;
  }
  char *text = yyjson_val_write(v, 0, nullptr);
  qg_fail(text != nullptr ? GREP_E_ARGUMENT : GREP_E_NO_MEMORY, "Unknown syntax '%s'",
          text != nullptr ? text : "");
  free(text);
  return false;
}

bool grep_opts_parse_json(grep_opts *opts, const char *options_json) {
  grep_opts_init(opts);
  if (options_json == nullptr || options_json[0] == '\0') return true;
  // Without flags the reader does not write into its input.
  yyjson_read_err err;
  yyjson_doc *doc =
      yyjson_read_opts(const_cast<char *>(options_json), strlen(options_json), 0, nullptr, &err);
  if (doc == nullptr) {
    // A reader that ran out of memory has not judged the text.
    if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) {
      qg_fail(GREP_E_NO_MEMORY, "Out of memory reading the options");
    } else {
      qg_fail(GREP_E_ARGUMENT, "Invalid JSON in options: %s", options_json);
    }
    return false;
  }
  yyjson_val *root = yyjson_doc_get_root(doc);
  if (yyjson_obj_size(root) > 0) {
    // The order matters: the later case keys override the earlier ones.
    read_bool(root, "regex", false, &opts->regex);
    read_bool(root, "case_sensitive", false, &opts->case_sensitive);
    read_bool(root, "case_insensitive", true, &opts->case_sensitive);
    read_bool(root, "ignore_case", true, &opts->case_sensitive);
    read_bool(root, "whole_word", false, &opts->whole_word);
    read_int32(root, "max_results", &opts->max_results);
    read_int32(root, "context_lines", &opts->context_lines);
    read_globs(root, "include_globs", opts->include_globs, &opts->include_count);
    read_globs(root, "exclude_globs", opts->exclude_globs, &opts->exclude_count);
    read_globs(root, "exclude_dirs", opts->exclude_dirs, &opts->exclude_dir_count);
    read_int32(root, "timeout_ms", &opts->timeout_ms);
    read_int32(root, "threads", &opts->threads);
    read_int32(root, "max_per_file", &opts->max_per_file);
    read_int64(root, "max_output_bytes", &opts->max_output_bytes);
    read_bool(root, "hidden", false, &opts->hidden);
    read_bool(root, "skip_dirs", false, &opts->skip_dirs);
    read_bool(root, "follow_links", false, &opts->follow_links);
    read_bool(root, "gitignore", false, &opts->gitignore);
    read_bool(root, "match_length", false, &opts->match_length);
    read_bool(root, "submatches", false, &opts->submatches);
    read_globs(root, "path_globs", opts->path_globs, &opts->path_glob_count, false);
    if (!read_syntax(root, opts)) {
      yyjson_doc_free(doc);
      grep_opts_free(opts);
      grep_opts_init(opts);
      return false;
    }
  }
  yyjson_doc_free(doc);
  return true;
}
