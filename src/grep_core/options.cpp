#include "grep_core/options.h"

#include "grep_core/last_error.h"
#include "grep_core/option_schema.h"

#include <stdlib.h>
#include <string.h>
#include <yyjson.h>

namespace {

template <typename T>
T &field(grep_opts *opts, size_t offset) {
  return *reinterpret_cast<T *>(reinterpret_cast<char *>(opts) + offset);
}

// Appends a heap copy of the `n` bytes at `s` while the list has room; a copy
// that cannot be allocated is dropped and the count stays.
void append_glob(char **list, int32_t *count, const char *s, size_t n) {
  if (*count >= GREP_OPTS_MAX_GLOBS) return;
  auto *copy = static_cast<char *>(malloc(n + 1));
  if (copy == nullptr) return;
  memcpy(copy, s, n);
  copy[n] = '\0';
  list[(*count)++] = copy;
}

// The number of globs the string `text` splits into.
size_t split_glob_count(const char *text) {
  size_t n = 0;
  for (const char *p = text; *p != '\0';) {
    const size_t piece = strcspn(p, ",; ");
    n += piece > 0;
    p += piece;
    if (*p != '\0') ++p;
  }
  return n;
}

// How the reader treats a value it cannot take: a core key outside "strict"
// passes over it, as the core keys always have; anything else refuses it.
struct reader {
  grep_opts *opts;
  bool lenient(const option_row &key_row) const {
    return key_row.origin == option_origin::core && !opts->strict;
  }
};

// Refuses the value of `key_row`: false, with the message naming the key.
bool refuse(const option_row &key_row, const char *wants) {
  qg_fail(GREP_E_ARGUMENT, "Option '%s' takes %s", key_row.key, wants);
  return false;
}

bool read_boolean(const reader &r, const option_row &key_row, yyjson_val *v) {
  if (!yyjson_is_bool(v)) return r.lenient(key_row) || refuse(key_row, "true or false");
  field<bool>(r.opts, key_row.offset) = yyjson_get_bool(v) != key_row.invert;
  return true;
}

// A JSON integer (not 5.0). A core key read leniently stores the low 32 bits
// of any 64-bit integer, read as a signed number (4294967301 gives 5);
// otherwise it must lie in the key's range.
bool read_integer(const reader &r, const option_row &key_row, yyjson_val *v) {
  const char *wants = key_row.integer_bytes == 8 ? "an integer within 64 bits" : "an integer within 32 bits";
  if (!yyjson_is_int(v)) return r.lenient(key_row) || refuse(key_row, wants);
  const bool in_range = yyjson_is_sint(v)
                            ? yyjson_get_sint(v) >= key_row.min && yyjson_get_sint(v) <= key_row.max
                            : yyjson_get_uint(v) <= static_cast<uint64_t>(key_row.max);
  if (!in_range && !r.lenient(key_row)) return refuse(key_row, wants);
  const uint64_t bits = yyjson_is_sint(v) ? static_cast<uint64_t>(yyjson_get_sint(v))
                                          : yyjson_get_uint(v);
  if (key_row.integer_bytes == 8) {
    field<int64_t>(r.opts, key_row.offset) = static_cast<int64_t>(bits);
  } else {
    field<int32_t>(r.opts, key_row.offset) = static_cast<int32_t>(static_cast<uint32_t>(bits));
  }
  return true;
}

// A glob list: an array contributes each string element whole; a string is
// cut at commas, semicolons and spaces for "globs", and is one glob for
// "path_globs". Read leniently, other elements are skipped and the list keeps
// its first GREP_OPTS_MAX_GLOBS globs; otherwise both are refused.
bool read_globs(const reader &r, const option_row &key_row, yyjson_val *v) {
  char **list = &field<char *>(r.opts, key_row.offset);
  int32_t *count = &field<int32_t>(r.opts, key_row.count_offset);
  const bool split = key_row.type == option_type::globs;
  const char *wants = split ? "a text of globs or an array of texts" : "a glob or an array of globs";
  if (yyjson_is_str(v)) {
    if (!r.lenient(key_row) && split && split_glob_count(yyjson_get_str(v)) > GREP_OPTS_MAX_GLOBS) {
      return refuse(key_row, "at most 64 globs");
    }
    if (split) {
      add_globs_from_str(list, count, yyjson_get_str(v));
    } else {
      append_glob(list, count, yyjson_get_str(v), yyjson_get_len(v));
    }
    return true;
  }
  if (!yyjson_is_arr(v)) return r.lenient(key_row) || refuse(key_row, wants);
  if (!r.lenient(key_row)) {
    if (yyjson_arr_size(v) > GREP_OPTS_MAX_GLOBS) return refuse(key_row, "at most 64 globs");
    size_t idx, max;
    yyjson_val *item;
    yyjson_arr_foreach(v, idx, max, item) {
      if (!yyjson_is_str(item)) return refuse(key_row, wants);
    }
  }
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(v, idx, max, item) {
    if (yyjson_is_str(item)) append_glob(list, count, yyjson_get_str(item), yyjson_get_len(item));
  }
  return true;
}

// One of the key's texts. "syntax" has always named what it refused.
bool read_choice(const reader &r, const option_row &key_row, yyjson_val *v) {
  const int64_t index =
      yyjson_is_str(v) ? option_choice_index(&key_row, yyjson_get_str(v), yyjson_get_len(v)) : -1;
  if (index >= 0) {
    field<uint8_t>(r.opts, key_row.offset) = static_cast<uint8_t>(index);
    return true;
  }
  char *text = yyjson_is_str(v) ? nullptr : yyjson_val_write(v, 0, nullptr);
  const char *shown = yyjson_is_str(v) ? yyjson_get_str(v) : text != nullptr ? text : "";
  const int kind = yyjson_is_str(v) || text != nullptr ? GREP_E_ARGUMENT : GREP_E_NO_MEMORY;
  if (strcmp(key_row.key, "syntax") == 0) {
    qg_fail(kind, "Unknown syntax '%s'", shown);
  } else {
    qg_fail(kind, "Option '%s' takes one of '%s', not '%s'", key_row.key, key_row.choices, shown);
  }
  free(text);
  return false;
}

bool is_hex_sha256(const char *text, size_t len) {
  if (len != 64) return false;
  for (size_t k = 0; k < len; ++k) {
    const char c = text[k];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// An object of path -> SHA-256 in hex (either case, kept in lower case).
// Anything else is refused, whatever "strict" says: a list of files to
// write that was read in part would write files nobody previewed.
bool read_file_hashes(const reader &r, const option_row &key_row, yyjson_val *v) {
  const char *wants = "an object of paths to SHA-256 hashes (64 hex digits)";
  if (!yyjson_is_obj(v)) return refuse(key_row, wants);
  size_t idx, max;
  yyjson_val *path, *hash;
  yyjson_obj_foreach(v, idx, max, path, hash) {
    if (!yyjson_is_str(hash) || !is_hex_sha256(yyjson_get_str(hash), yyjson_get_len(hash)) ||
        strlen(yyjson_get_str(path)) != yyjson_get_len(path)) {
      return refuse(key_row, wants);
    }
  }
  grep_file_hash *&list = field<grep_file_hash *>(r.opts, key_row.offset);
  int32_t &count = field<int32_t>(r.opts, key_row.count_offset);
  const size_t n = yyjson_obj_size(v);
  if (n > INT32_MAX) return refuse(key_row, wants);
  list = static_cast<grep_file_hash *>(calloc(n > 0 ? n : 1, sizeof *list));
  if (list == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory reading option '%s'", key_row.key);
    return false;
  }
  yyjson_obj_foreach(v, idx, max, path, hash) {
    grep_file_hash &entry = list[count];
    entry.path = strdup(yyjson_get_str(path));
    if (entry.path == nullptr) {
      qg_fail(GREP_E_NO_MEMORY, "Out of memory reading option '%s'", key_row.key);
      return false;
    }
    for (size_t k = 0; k < 64; ++k) {
      const char c = yyjson_get_str(hash)[k];
      entry.sha256[k] = c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    entry.sha256[64] = '\0';
    ++count;
  }
  return true;
}

// A string without NUL, kept whole, or null for none (the default, as the
// values document writes it); anything else is refused.
bool read_text(const reader &r, const option_row &key_row, yyjson_val *v) {
  char *&value = field<char *>(r.opts, key_row.offset);
  if (yyjson_is_null(v)) {
    free(value);
    value = nullptr;
    return true;
  }
  if (!yyjson_is_str(v) || strlen(yyjson_get_str(v)) != yyjson_get_len(v)) {
    return refuse(key_row, "a text without NUL characters, or null");
  }
  free(value);
  value = strdup(yyjson_get_str(v));
  if (value == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory reading option '%s'", key_row.key);
    return false;
  }
  return true;
}

bool read_value(const reader &r, const option_row &key_row, yyjson_val *v) {
  switch (key_row.type) {
    case option_type::boolean:
      return read_boolean(r, key_row, v);
    case option_type::integer:
      return read_integer(r, key_row, v);
    case option_type::globs:
    case option_type::path_globs:
      return read_globs(r, key_row, v);
    case option_type::choice:
      return read_choice(r, key_row, v);
    case option_type::file_hashes:
      return read_file_hashes(r, key_row, v);
    case option_type::text:
      return read_text(r, key_row, v);
  }
  return true;
}

// Under "strict": every member must be a key of the table, given once.
bool check_strict_members(yyjson_val *root) {
  size_t idx, max;
  yyjson_val *key, *value;
  yyjson_obj_foreach(root, idx, max, key, value) {
    const char *name = yyjson_get_str(key);
    const size_t len = yyjson_get_len(key);
    if (option_row_find(name, len) == nullptr) {
      qg_fail(GREP_E_ARGUMENT, "Unknown option '%s'", name);
      return false;
    }
    size_t later_idx, later_max;
    yyjson_val *later, *later_value;
    yyjson_obj_foreach(root, later_idx, later_max, later, later_value) {
      if (later_idx > idx && yyjson_equals_strn(later, name, len)) {
        qg_fail(GREP_E_ARGUMENT, "Option '%s' is given more than once", name);
        return false;
      }
    }
  }
  return true;
}

// Reads every key of the table from the object `root`, in the table's order.
bool read_keys(grep_opts *opts, yyjson_val *root) {
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  const reader r{opts};
  for (size_t i = 0; i < count; ++i) {
    yyjson_val *v = yyjson_obj_get(root, key_rows[i].key);
    if (v != nullptr && !read_value(r, key_rows[i], v)) return false;
    if (i == 0 && opts->strict && !check_strict_members(root)) return false;
  }
  if (opts->syntax == GREP_SYNTAX_STANDARD) opts->regex = true;
  return true;
}

}  // namespace

void grep_opts_init(grep_opts *opts) {
  memset(opts, 0, sizeof *opts);
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  for (size_t i = 0; i < count; ++i) {
    const option_row &key_row = key_rows[i];
    switch (key_row.type) {
      case option_type::boolean:
        // Keys that write one field with the opposite sense leave the first's default.
        if (!key_row.invert) field<bool>(opts, key_row.offset) = key_row.fallback != 0;
        break;
      case option_type::integer:
        if (key_row.integer_bytes == 8) {
          field<int64_t>(opts, key_row.offset) = key_row.fallback;
        } else {
          field<int32_t>(opts, key_row.offset) = static_cast<int32_t>(key_row.fallback);
        }
        break;
      case option_type::choice:
        field<uint8_t>(opts, key_row.offset) = static_cast<uint8_t>(key_row.fallback);
        break;
      case option_type::globs:
      case option_type::path_globs:
      case option_type::file_hashes:
      case option_type::text:
        break;  // empty
    }
  }
}

void grep_opts_free(grep_opts *opts) {
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  for (size_t i = 0; i < count; ++i) {
    const option_row &key_row = key_rows[i];
    if (key_row.type == option_type::text) {
      free(field<char *>(opts, key_row.offset));
      continue;
    }
    if (key_row.type == option_type::file_hashes) {
      grep_file_hash *list = field<grep_file_hash *>(opts, key_row.offset);
      const int32_t n = field<int32_t>(opts, key_row.count_offset);
      for (int32_t k = 0; k < n; ++k) free(list[k].path);
      free(list);
      continue;
    }
    if (key_row.type != option_type::globs && key_row.type != option_type::path_globs) continue;
    char **list = &field<char *>(opts, key_row.offset);
    const int32_t n = field<int32_t>(opts, key_row.count_offset);
    for (int32_t k = 0; k < n; ++k) free(list[k]);
  }
  memset(opts, 0, sizeof *opts);
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

int32_t grep_opts_before(const grep_opts *opts) {
  return opts->before_context >= 0 ? opts->before_context : opts->context_lines;
}

int32_t grep_opts_after(const grep_opts *opts) {
  return opts->after_context >= 0 ? opts->after_context : opts->context_lines;
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
  const bool ok = yyjson_obj_size(root) == 0 || read_keys(opts, root);
  yyjson_doc_free(doc);
  if (!ok) {
    grep_opts_free(opts);
    grep_opts_init(opts);
  }
  return ok;
}
