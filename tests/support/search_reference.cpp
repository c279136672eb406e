#include "support/search_reference.h"

#include "grep_core/glob.h"
#include "grep_core/options.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"
#include "support/line_array.h"
#include "support/literal.h"
#include "support/match_object.h"
#include "support/regex_named_ops.h"

#include <yyjson.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace qg_test {

namespace {

struct reference_search {
  const std::string &pattern;
  grep_opts opts;
  yyjson_mut_doc *doc;
  yyjson_mut_val *matches;
  int64_t total = 0;
  int64_t files = 0;
  bool stop = false;
};

bool any_glob(char *const *globs, int32_t count, const char *name) {
  for (int32_t i = 0; i < count; ++i) {
    if (glob_match(globs[i], name)) return true;
  }
  return false;
}

// The first match in `line` at or after byte `from`: true with its column
// (1-based in the whole line) and length.
bool find_in_line(const reference_search &r, const char *line, size_t from, int32_t *col,
                  int32_t *len) {
  const size_t n = strlen(line);
  if (from > n) return false;
  if (r.opts.regex) {
    // The dialect looks at nothing before a match but its own '^', which
    // anchors at the line's start only.
    if (from > 0 && r.pattern[0] == '^') return false;
    if (!regex_find_first(r.pattern.c_str(), line + from, r.opts.case_sensitive, col, len)) {
      return false;
    }
    *col += static_cast<int32_t>(from);
    return true;
  }
  // Whole words are judged on the whole line: each occurrence from `from` on,
  // one byte further after a rejected one.
  auto word = [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
  };
  for (size_t s = from; s < n; ++s) {
    int32_t c = 0, l = 0;
    if (!fixed_find_first(r.pattern.c_str(), line + s, r.opts.case_sensitive, false, &c, &l)) {
      return false;
    }
    const size_t at = s + static_cast<size_t>(c) - 1;
    if (!r.opts.whole_word || ((at == 0 || !word(line[at - 1])) && !word(line[at + l]))) {
      *col = static_cast<int32_t>(at + 1);
      *len = l;
      return true;
    }
    s = at;
  }
  return false;
}

void add_submatches(const reference_search &r, yyjson_mut_val *obj, const char *line, int32_t col,
                    int32_t len) {
  yyjson_mut_val *arr = yyjson_mut_arr(r.doc);
  for (;;) {
    yyjson_mut_val *sub = yyjson_mut_obj(r.doc);
    yyjson_mut_obj_add_int(r.doc, sub, "col", col);
    yyjson_mut_obj_add_int(r.doc, sub, "length", len);
    yyjson_mut_arr_append(arr, sub);
    size_t from = static_cast<size_t>(col - 1 + len);
    if (len == 0) ++from;
    if (!find_in_line(r, line, from, &col, &len)) break;
  }
  yyjson_mut_obj_add_val(r.doc, obj, "submatches", arr);
}

// A match object for line `index` of `lines`, with the optional members where
// the options ask for them, in their places.
void add_match(reference_search &r, const char *path, const line_array &lines, int32_t index,
               int32_t col, int32_t len) {
  yyjson_mut_val *obj = yyjson_mut_obj(r.doc);
  match_object_fill(r.doc, obj, path, index + 1, col, lines.items[index], &lines, index,
                    r.opts.context_lines);
  // match_object_fill writes file, line, col, text, context; the optional
  // members go between them, so the object is copied out in order.
  yyjson_mut_val *ordered = yyjson_mut_obj(r.doc);
  auto copy = [&](const char *key) {
    yyjson_mut_val *value = yyjson_mut_val_mut_copy(r.doc, yyjson_mut_obj_get(obj, key));
    yyjson_mut_obj_add_val(r.doc, ordered, key, value);
  };
  copy("file");
  copy("line");
  copy("col");
  if (r.opts.match_length) yyjson_mut_obj_add_int(r.doc, ordered, "length", len);
  copy("text");
  if (r.opts.submatches) add_submatches(r, ordered, lines.items[index], col, len);
  copy("context");
  yyjson_mut_arr_append(r.matches, ordered);
}

void scan_file(reference_search &r, const char *path) {
  if (r.stop) return;
  size_t len = 0;
  char *text = read_file_to_utf8(path, &len, nullptr, nullptr);
  if (text == nullptr) return;
  if (is_binary_buffer(text, len)) {
    free(text);
    return;
  }
  ++r.files;
  line_array lines;
  split_into_lines(text, &lines);
  free(text);
  int64_t taken = 0;
  const bool never = !r.opts.regex && r.pattern.empty();
  for (int32_t i = 0; i < lines.count && !r.stop && !never; ++i) {
    int32_t col = 0, mlen = 0;
    if (!find_in_line(r, lines.items[i], 0, &col, &mlen)) continue;
    ++r.total;
    add_match(r, path, lines, i, col, mlen);
    if (r.opts.max_results > 0 && r.total >= r.opts.max_results) r.stop = true;
    if (r.opts.max_per_file > 0 && ++taken >= r.opts.max_per_file) break;
  }
  la_free(&lines);
}

void walk(reference_search &r, const std::string &dir) {
  plat_dir *d = plat_dir_open(dir.c_str());
  if (d == nullptr) return;
  plat_dir_entry e;
  static const char *const skipped[] = {"node_modules", "bin",   "obj",        "target",
                                        "dist",         "build", "__pycache__"};
  while (!r.stop && plat_dir_next(d, &e)) {
    const std::string name = e.name;
    if (name == "." || name == ".." || name[0] == '.') continue;
    const std::string child = dir + plat_path_separator() + name;
    if (e.is_dir) {
      bool skip = any_glob(r.opts.exclude_dirs, r.opts.exclude_dir_count, name.c_str());
      for (const char *s : skipped) skip = skip || name == s;
      if (!skip) walk(r, child);
    } else if (e.is_regular) {
      if (r.opts.include_count > 0 &&
          !any_glob(r.opts.include_globs, r.opts.include_count, name.c_str())) {
        continue;
      }
      if (any_glob(r.opts.exclude_globs, r.opts.exclude_count, name.c_str())) continue;
      scan_file(r, child.c_str());
    }
  }
  plat_dir_close(d);
}

}  // namespace

std::string reference_search_document(const std::string &root, const std::string &pattern,
                                      const std::string &options_json) {
  reference_search r{pattern, {}, yyjson_mut_doc_new(nullptr), nullptr};
  grep_opts_parse_json(&r.opts, options_json.c_str());
  yyjson_mut_val *top = yyjson_mut_obj(r.doc);
  yyjson_mut_doc_set_root(r.doc, top);
  r.matches = yyjson_mut_arr(r.doc);
  yyjson_mut_obj_add_val(r.doc, top, "matches", r.matches);
  if (plat_is_directory(root.c_str())) {
    walk(r, root);
  } else {
    scan_file(r, root.c_str());
  }
  yyjson_mut_obj_add_int(r.doc, top, "total_matches", r.total);
  yyjson_mut_obj_add_int(r.doc, top, "files_searched", r.files);
  yyjson_mut_obj_add_int(r.doc, top, "duration_ms", 0);
  char *text = yyjson_mut_write(r.doc, 0, nullptr);
  std::string out = text != nullptr ? text : "<null>";
  free(text);
  yyjson_mut_doc_free(r.doc);
  grep_opts_free(&r.opts);
  return out;
}

}  // namespace qg_test
