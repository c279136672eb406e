#include "grep_core/option_schema.h"

#include "grep_core/json_out.h"

#include <stddef.h>
#include <string.h>

#include <string_view>

namespace {

constexpr int64_t kInt32Min = INT32_MIN;
constexpr int64_t kInt32Max = INT32_MAX;

constexpr option_row boolean(const char *key, option_origin origin, option_scope scope,
                              bool fallback, size_t offset, const char *doc,
                              bool invert = false) {
  return {key, nullptr, option_type::boolean, origin, scope, 0, 1, fallback ? 1 : 0,
          nullptr, doc, offset, 0, invert, 0};
}

constexpr option_row integer(const char *key, option_origin origin, option_scope scope,
                              int64_t fallback, size_t offset, const char *doc) {
  return {key,     nullptr, option_type::integer, origin, scope, kInt32Min, kInt32Max,
          fallback, nullptr, doc, offset, 0, false, 4};
}

// A key read whole into an int64_t, never cut: a large value stays large.
constexpr option_row integer64(const char *key, option_scope scope, int64_t fallback,
                                size_t offset, const char *doc) {
  return {key,     nullptr, option_type::integer, option_origin::extension, scope, INT64_MIN,
          INT64_MAX, fallback, nullptr, doc, offset, 0, false, 8};
}

constexpr option_row list(const char *key, const char *keyword, option_type type,
                           option_origin origin, option_scope scope, size_t offset,
                           size_t count_offset, const char *doc) {
  return {key, keyword, type, origin, scope, 0, GREP_OPTS_MAX_GLOBS, 0, nullptr, doc, offset,
          count_offset, false, 0};
}

constexpr option_row choice(const char *key, option_scope scope, const char *choices,
                             size_t offset, const char *doc) {
  return {key,     nullptr, option_type::choice, option_origin::extension, scope, 0, 0, 0,
          choices, doc,     offset,              0,                        false, 0};
}

constexpr option_row file_hashes(const char *key, option_scope scope, size_t offset,
                                 size_t count_offset, const char *doc) {
  return {key,
          nullptr,
          option_type::file_hashes,
          option_origin::extension,
          scope,
          0,
          0,
          0,
          nullptr,
          doc,
          offset,
          count_offset,
          false,
          0};
}

constexpr option_row text(const char *key, option_scope scope, size_t offset, const char *doc) {
  return {key,
          nullptr,
          option_type::text,
          option_origin::extension,
          scope,
          0,
          0,
          0,
          nullptr,
          doc,
          offset,
          0,
          false,
          0};
}

constexpr option_origin kCore = option_origin::core;
constexpr option_origin kExt = option_origin::extension;
constexpr option_scope kSearch = option_scope::search;
constexpr option_scope kWalk = option_scope::walk;
constexpr option_scope kLines = option_scope::lines;
constexpr option_scope kCall = option_scope::call;
constexpr option_scope kReplace = option_scope::replace;

#define QG_AT(field) offsetof(grep_opts, field)

// "strict" comes first, since it decides how every other key is read. The
// three case keys stand in this order so that "ignore_case" wins over
// "case_insensitive", which wins over "case_sensitive".
constexpr option_row kSpecs[] = {
    boolean("strict", kExt, kCall, false, QG_AT(strict),
            "refuse unknown keys, repeated keys, values of the wrong type and lists past their "
            "limit, for every key; searches say when the walk met its depth limit"),
    boolean("regex", kCore, kSearch, false, QG_AT(regex),
            "the pattern is in the library's own dialect, not a literal"),
    boolean("case_sensitive", kCore, kSearch, true, QG_AT(case_sensitive),
            "false: letters match regardless of ASCII case"),
    boolean("case_insensitive", kCore, kSearch, false, QG_AT(case_sensitive),
            "true: letters match regardless of ASCII case (wins over case_sensitive)", true),
    boolean("ignore_case", kCore, kSearch, false, QG_AT(case_sensitive),
            "true: letters match regardless of ASCII case (wins over both others)", true),
    boolean("whole_word", kCore, kSearch, false, QG_AT(whole_word),
            "a match counts only where it stands as a whole word"),
    integer("max_results", kCore, kSearch, 0, QG_AT(max_results),
            "stop after this many matches; 0 or below: no limit"),
    integer("context_lines", kCore, kSearch, 0, QG_AT(context_lines),
            "lines before and after each match reported with it; 0 or below: none"),
    list("include_globs", "include", option_type::globs, kCore, kWalk, QG_AT(include_globs),
         QG_AT(include_count), "a file is searched only if its name matches one of them"),
    list("exclude_globs", "exclude", option_type::globs, kCore, kWalk, QG_AT(exclude_globs),
         QG_AT(exclude_count), "a file whose name matches one of them is skipped"),
    list("exclude_dirs", nullptr, option_type::globs, kCore, kWalk, QG_AT(exclude_dirs),
         QG_AT(exclude_dir_count), "a directory whose name matches one of them is not entered"),
    integer("timeout_ms", kExt, kSearch, 0, QG_AT(timeout_ms),
            "stop after this many milliseconds, keeping what was found; 0 or below: no limit"),
    integer("threads", kExt, kSearch, 0, QG_AT(threads),
            "read and scan files on this many threads (at most 64); 0 or 1: the caller's alone"),
    integer("max_per_file", kExt, kSearch, 0, QG_AT(max_per_file),
            "take at most this many matches from each file; 0 or below: no cap"),
    integer64("max_output_bytes", kWalk, 0, QG_AT(max_output_bytes),
              "stop when the document, file list or streamed texts would pass this many bytes, "
              "keeping what fits; 0 or below: no cap"),
    boolean("hidden", kExt, kWalk, false, QG_AT(hidden),
            "walk and search entries whose name starts with '.'"),
    boolean("skip_dirs", kExt, kWalk, true, QG_AT(skip_dirs),
            "false: enter node_modules, bin, obj, target, dist, build and __pycache__ too"),
    boolean("follow_links", kExt, kWalk, true, QG_AT(follow_links),
            "false: links met in the walk are not followed"),
    boolean("gitignore", kExt, kWalk, false, QG_AT(gitignore),
            "honour .gitignore, .ignore and .git/info/exclude with git's rules"),
    boolean("match_length", kExt, kSearch, false, QG_AT(match_length),
            "match objects carry the byte length of the first match"),
    boolean("submatches", kExt, kSearch, false, QG_AT(submatches),
            "match objects carry every match of their line"),
    boolean("captures", kExt, kSearch, false, QG_AT(captures),
            "standard syntax: match objects carry where each group of the pattern matched"),
    boolean(
        "unicode", kExt, kSearch, false, QG_AT(unicode),
        "standard syntax: \\w \\d \\s \\b and the POSIX classes follow Unicode's properties "
        "and letters fold with Unicode's simple case folding; literals: ignore_case folds every "
        "letter and whole_word reads Unicode's word characters"),
    list("path_globs", nullptr, option_type::path_globs, kExt, kWalk, QG_AT(path_globs),
         QG_AT(path_glob_count),
         "globs in git's syntax over each entry's path below the root; !GLOB excludes"),
    choice("syntax", kSearch, "dialect|standard", QG_AT(syntax),
           "standard: the pattern is a regular expression in the standard syntax"),
    integer("before_context", kExt, kSearch, -1, QG_AT(before_context),
            "lines before each match reported with it; below 0: context_lines"),
    integer("after_context", kExt, kSearch, -1, QG_AT(after_context),
            "lines after each match reported with it; below 0: context_lines"),
    choice("print", kLines, "lines|matches|files|count|json|vimgrep|paths", QG_AT(print_mode),
           "what the line printer writes: matched lines, each match, files, counts, match "
           "objects, each line once per match at that match's column, or the paths of the "
           "files the search would read (reading none)"),
    boolean("heading", kExt, kLines, false, QG_AT(heading),
            "each file's path on a line of its own above its lines"),
    boolean("color", kExt, kLines, false, QG_AT(color),
            "paths, numbers, separators and matches in the terminal's colours"),
    boolean("line_number", kExt, kLines, true, QG_AT(line_number), "each line's number"),
    boolean("column", kExt, kLines, true, QG_AT(column), "each matched line's column"),
    boolean("with_filename", kExt, kLines, true, QG_AT(with_filename), "each line's path"),
    boolean("continued", kExt, kLines, false, QG_AT(continued),
            "the lines follow what an earlier call printed: the first file is parted from them "
            "as later files are"),
    boolean("relative_paths", kExt, kLines, false, QG_AT(relative_paths),
            "print each path below the search's root (a root that is a file as given)"),
    integer("max_columns", kExt, kLines, 0, QG_AT(max_columns),
            "show a longer line as a window of this many bytes around its first match, saying "
            "how many were left out; 0 or below: whole lines"),
    boolean("null_after_path", kExt, kLines, false, QG_AT(null_after_path),
            "a NUL byte, not ':', '-' or a line end, after each printed path"),
    boolean("invert_match", kExt, kSearch, false, QG_AT(invert_match),
            "report each line that holds no match instead (column 0, no submatches)"),
    boolean("whole_line", kExt, kSearch, false, QG_AT(whole_line),
            "a match counts only where it covers its whole line"),
    integer("max_depth", kExt, kWalk, -1, QG_AT(max_depth),
            "walk at most this many levels below the root (0: nothing below it, 1: its own "
            "entries); below 0: no limit"),
    choice("sort", kWalk, "none|path|modified", QG_AT(sort),
           "walk each directory's entries by name (bytewise) or by modification time, oldest "
           "first, the same on any number of threads; none: the platform's order"),
    boolean("sort_reverse", kExt, kWalk, false, QG_AT(sort_reverse),
            "with sort: the reverse order"),
    boolean("dot_ignore", kExt, kWalk, false, QG_AT(dot_ignore),
            "honour .ignore files with git's rules (gitignore honours them too)"),
    text("replacement", kLines, QG_AT(replacement),
         "the printed lines show each match replaced by this template ($0, $1, ${name}, $$); "
         "nothing is written"),
    boolean("preserve_case", kExt, kReplace, false, QG_AT(preserve_case),
            "a replacement of plain words takes the case shape of each match (lower, UPPER, "
            "Capitalised, camelCase, snake_case)"),
    boolean("dry_run", kExt, kReplace, false, QG_AT(dry_run),
            "write nothing; each file's entry carries the unified diff of what would be written"),
    file_hashes("expect", kReplace, QG_AT(expect), QG_AT(expect_count),
                "replace only in these files (path as the walk gives it -> SHA-256 of the "
                "bytes previewed), each only while it still has that hash"),
};

#undef QG_AT

constexpr size_t kSpecCount = sizeof kSpecs / sizeof kSpecs[0];

const char *type_name(option_type type) {
  switch (type) {
    case option_type::boolean:
      return "boolean";
    case option_type::integer:
      return "integer";
    case option_type::globs:
      return "globs";
    case option_type::path_globs:
      return "path_globs";
    case option_type::choice:
      return "choice";
    case option_type::file_hashes:
      return "file_hashes";
    case option_type::text:
      return "text";
  }
  return "";
}

const char *scope_name(option_scope scope) {
  switch (scope) {
    case option_scope::search:
      return "search";
    case option_scope::walk:
      return "walk";
    case option_scope::lines:
      return "lines";
    case option_scope::call:
      return "call";
    case option_scope::replace:
      return "replace";
  }
  return "";
}

void write_string(json_out *out, const char *s) { json_out_string(out, s, strlen(s)); }

void write_member(json_out *out, const char *key) {
  json_out_char(out, ',');
  write_string(out, key);
  json_out_char(out, ':');
}

// The default as a JSON value.
void write_default(json_out *out, const option_row &key_row) {
  switch (key_row.type) {
    case option_type::boolean:
      if (key_row.fallback != 0) {
        JSON_OUT_LITERAL(out, "true");
      } else {
        JSON_OUT_LITERAL(out, "false");
      }
      return;
    case option_type::integer:
      json_out_int(out, key_row.fallback);
      return;
    case option_type::globs:
    case option_type::path_globs:
      JSON_OUT_LITERAL(out, "[]");
      return;
    case option_type::file_hashes:
      JSON_OUT_LITERAL(out, "{}");
      return;
    case option_type::text:
      JSON_OUT_LITERAL(out, "null");
      return;
    case option_type::choice: {
      char text[64];
      const size_t n = option_choice_text(&key_row, key_row.fallback, text, sizeof text);
      json_out_string(out, text, n);
      return;
    }
  }
}

// The next choice of the '|'-separated `rest`, which moves past it.
std::string_view next_choice(std::string_view &rest) {
  const size_t bar = rest.find('|');
  const std::string_view one = rest.substr(0, bar);
  rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
  return one;
}

void write_choices(json_out *out, const option_row &key_row) {
  json_out_char(out, '[');
  std::string_view rest(key_row.choices);
  for (bool first = true; !rest.empty(); first = false) {
    const std::string_view one = next_choice(rest);
    if (!first) json_out_char(out, ',');
    json_out_string(out, one.data(), one.size());
  }
  json_out_char(out, ']');
}

void write_spec(json_out *out, const option_row &key_row) {
  JSON_OUT_LITERAL(out, "{\"key\":");
  write_string(out, key_row.key);
  write_member(out, "keyword");
  write_string(out, key_row.keyword != nullptr ? key_row.keyword : key_row.key);
  write_member(out, "type");
  write_string(out, type_name(key_row.type));
  if (key_row.type == option_type::integer) {
    write_member(out, "minimum");
    json_out_int(out, key_row.min);
    write_member(out, "maximum");
    json_out_int(out, key_row.max);
  }
  if (key_row.type == option_type::globs || key_row.type == option_type::path_globs) {
    write_member(out, "max_items");
    json_out_int(out, key_row.max);
  }
  if (key_row.type == option_type::choice) {
    write_member(out, "choices");
    write_choices(out, key_row);
  }
  write_member(out, "default");
  write_default(out, key_row);
  write_member(out, "origin");
  write_string(out, key_row.origin == option_origin::core ? "core" : "extension");
  write_member(out, "scope");
  write_string(out, scope_name(key_row.scope));
  write_member(out, "doc");
  write_string(out, key_row.doc);
  json_out_char(out, '}');
}

template <typename T>
const T &field(const grep_opts *opts, size_t offset) {
  return *reinterpret_cast<const T *>(reinterpret_cast<const char *>(opts) + offset);
}

// The value `opts` holds for `key_row`, as JSON.
void write_value(json_out *out, const option_row &key_row, const grep_opts *opts) {
  switch (key_row.type) {
    case option_type::boolean:
      if (field<bool>(opts, key_row.offset) != key_row.invert) {
        JSON_OUT_LITERAL(out, "true");
      } else {
        JSON_OUT_LITERAL(out, "false");
      }
      return;
    case option_type::integer:
      json_out_int(out, key_row.integer_bytes == 8 ? field<int64_t>(opts, key_row.offset)
                                                : field<int32_t>(opts, key_row.offset));
      return;
    case option_type::globs:
    case option_type::path_globs: {
      char *const *list = &field<char *>(opts, key_row.offset);
      const int32_t n = field<int32_t>(opts, key_row.count_offset);
      json_out_char(out, '[');
      for (int32_t k = 0; k < n; ++k) {
        if (k > 0) json_out_char(out, ',');
        json_out_string(out, list[k], strlen(list[k]));
      }
      json_out_char(out, ']');
      return;
    }
    case option_type::text: {
      const char *value = field<const char *>(opts, key_row.offset);
      if (value == nullptr) {
        JSON_OUT_LITERAL(out, "null");
      } else {
        json_out_string(out, value, strlen(value));
      }
      return;
    }
    case option_type::file_hashes: {
      const grep_file_hash *hashes = field<const grep_file_hash *>(opts, key_row.offset);
      const int32_t n = field<int32_t>(opts, key_row.count_offset);
      json_out_char(out, '{');
      for (int32_t k = 0; k < n; ++k) {
        if (k > 0) json_out_char(out, ',');
        json_out_string(out, hashes[k].path, strlen(hashes[k].path));
        json_out_char(out, ':');
        json_out_string(out, hashes[k].sha256, 64);
      }
      json_out_char(out, '}');
      return;
    }
    case option_type::choice: {
      char text[64];
      const size_t n =
          option_choice_text(&key_row, field<uint8_t>(opts, key_row.offset), text, sizeof text);
      json_out_string(out, text, n);
      return;
    }
  }
}

}  // namespace

char *option_values_json(const grep_opts *opts) {
  json_out out = {};
  json_out_char(&out, '{');
  for (size_t i = 0; i < kSpecCount; ++i) {
    if (i > 0) json_out_char(&out, ',');
    write_string(&out, kSpecs[i].key);
    json_out_char(&out, ':');
    write_value(&out, kSpecs[i], opts);
  }
  json_out_char(&out, '}');
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}

const option_row *option_rows(size_t *count) {
  *count = kSpecCount;
  return kSpecs;
}

const option_row *option_row_find(const char *key, size_t len) {
  const std::string_view wanted(key, len);
  for (const option_row &key_row : kSpecs) {
    if (wanted == key_row.key) return &key_row;
  }
  return nullptr;
}

size_t option_choice_text(const option_row *key_row, int64_t index, char *out, size_t cap) {
  std::string_view rest(key_row->choices);
  for (int64_t i = 0; !rest.empty(); ++i) {
    const std::string_view one = next_choice(rest);
    if (i != index) continue;
    const size_t n = one.size() < cap ? one.size() : cap - 1;
    memcpy(out, one.data(), n);
    out[n] = '\0';
    return n;
  }
  out[0] = '\0';
  return 0;
}

int64_t option_choice_index(const option_row *key_row, const char *text, size_t len) {
  const std::string_view wanted(text, len);
  std::string_view rest(key_row->choices);
  for (int64_t i = 0; !rest.empty(); ++i) {
    if (next_choice(rest) == wanted) return i;
  }
  return -1;
}

char *option_schema_json(void) {
  json_out out = {};
  JSON_OUT_LITERAL(&out, "{\"options\":[");
  for (size_t i = 0; i < kSpecCount; ++i) {
    if (i > 0) json_out_char(&out, ',');
    write_spec(&out, kSpecs[i]);
  }
  JSON_OUT_LITERAL(&out, "]}");
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}
