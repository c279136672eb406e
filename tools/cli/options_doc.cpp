#include "options_doc.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace qg_cli {

namespace {

struct mut_doc_free {
  void operator()(yyjson_mut_doc *doc) const { yyjson_mut_doc_free(doc); }
};
struct doc_free {
  void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};

// Adds `globs` under `key` as an array of copied strings; adds nothing for an
// empty list, so an absent flag leaves the library's default.
bool add_glob_array(yyjson_mut_doc *doc, yyjson_mut_val *root, const char *key,
                    const std::vector<std::string> &globs) {
  if (globs.empty()) return true;
  yyjson_mut_val *array = yyjson_mut_arr(doc);
  if (array == nullptr || !yyjson_mut_obj_add_val(doc, root, key, array)) return false;
  for (const std::string &glob : globs) {
    if (!yyjson_mut_arr_add_strncpy(doc, array, glob.data(), glob.size())) return false;
  }
  return true;
}

// A boolean member read as the library reads it: only true and false count.
void read_bool(yyjson_val *root, const char *key, bool &out) {
  yyjson_val *value = yyjson_obj_get(root, key);
  if (yyjson_is_bool(value)) out = yyjson_get_bool(value);
}

// An integer member cut to its low 32 bits, read as a signed number; reals are
// not integers.
void read_int32(yyjson_val *root, const char *key, int &out) {
  yyjson_val *value = yyjson_obj_get(root, key);
  if (yyjson_is_uint(value)) {
    out = static_cast<int32_t>(static_cast<uint32_t>(yyjson_get_uint(value)));
  } else if (yyjson_is_sint(value)) {
    out = static_cast<int32_t>(static_cast<uint32_t>(yyjson_get_sint(value)));
  }
}

}  // namespace

std::string build_options_json(const search_flags &flags) {
  std::unique_ptr<yyjson_mut_doc, mut_doc_free> doc(yyjson_mut_doc_new(nullptr));
  if (!doc) return {};
  yyjson_mut_val *root = yyjson_mut_obj(doc.get());
  if (root == nullptr) return {};
  yyjson_mut_doc_set_root(doc.get(), root);

  bool ok = true;
  if (flags.regex && flags.dialect) {
    ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "regex", true);
  } else if (flags.regex) {
    ok = ok && yyjson_mut_obj_add_str(doc.get(), root, "syntax", "standard");
  }
  if (flags.ignore_case) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "ignore_case", true);
  if (flags.whole_word) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "whole_word", true);
  if (flags.max_results) {
    ok = ok && yyjson_mut_obj_add_int(doc.get(), root, "max_results", *flags.max_results);
  }
  if (flags.max_per_file) {
    ok = ok && yyjson_mut_obj_add_int(doc.get(), root, "max_per_file", *flags.max_per_file);
  }
  if (flags.context_lines) {
    ok = ok && yyjson_mut_obj_add_int(doc.get(), root, "context_lines", *flags.context_lines);
  }
  if (flags.timeout_ms) {
    ok = ok && yyjson_mut_obj_add_int(doc.get(), root, "timeout_ms", *flags.timeout_ms);
  }
  if (flags.threads) ok = ok && yyjson_mut_obj_add_int(doc.get(), root, "threads", *flags.threads);
  if (flags.hidden) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "hidden", true);
  if (flags.no_skip_dirs) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "skip_dirs", false);
  if (flags.no_follow) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "follow_links", false);
  if (flags.gitignore) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "gitignore", true);
  if (flags.match_length) {
    ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "match_length", true);
  }
  if (flags.submatches) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "submatches", true);
  ok = ok && add_glob_array(doc.get(), root, "include_globs", flags.include_globs) &&
       add_glob_array(doc.get(), root, "exclude_globs", flags.exclude_globs) &&
       add_glob_array(doc.get(), root, "exclude_dirs", flags.exclude_dirs) &&
       add_glob_array(doc.get(), root, "path_globs", flags.path_globs);
  if (!ok) return {};

  size_t len = 0;
  char *text = yyjson_mut_write(doc.get(), 0, &len);
  if (text == nullptr) return {};
  std::string result(text, len);
  std::free(text);
  return result;
}

display_settings read_display_settings(const std::string &options_json) {
  display_settings settings;
  if (options_json.empty()) return settings;
  std::unique_ptr<yyjson_doc, doc_free> doc(
      yyjson_read(options_json.data(), options_json.size(), 0));
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  if (!yyjson_is_obj(root)) return settings;

  read_bool(root, "regex", settings.regex);
  settings.standard = yyjson_equals_str(yyjson_obj_get(root, "syntax"), "standard");
  settings.regex = settings.regex || settings.standard;
  read_bool(root, "case_sensitive", settings.case_sensitive);
  bool folded = !settings.case_sensitive;
  read_bool(root, "case_insensitive", folded);
  read_bool(root, "ignore_case", folded);
  settings.case_sensitive = !folded;
  read_int32(root, "context_lines", settings.context_lines);
  return settings;
}

}  // namespace qg_cli
