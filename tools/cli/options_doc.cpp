#include "options_doc.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

namespace qg_cli {

namespace {

struct mut_doc_free {
  void operator()(yyjson_mut_doc *doc) const { yyjson_mut_doc_free(doc); }
};
using mut_doc_ptr = std::unique_ptr<yyjson_mut_doc, mut_doc_free>;

struct doc_free {
  void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};

// A key sent as `value` when its flag is set.
struct bool_key {
  const char *key;
  bool search_flags::*member;
  bool value;
};

// A key sent with the flag's number, when it was given.
struct int_key {
  const char *key;
  std::optional<int> search_flags::*member;
};

// A key sent as an array of the flag's texts, when there is one.
struct list_key {
  const char *key;
  std::vector<std::string> search_flags::*member;
};

constexpr bool_key kBoolKeys[] = {
    {"ignore_case", &search_flags::ignore_case, true},
    {"whole_word", &search_flags::whole_word, true},
    {"unicode", &search_flags::unicode, true},
    {"hidden", &search_flags::hidden, true},
    {"skip_dirs", &search_flags::no_skip_dirs, false},
    {"follow_links", &search_flags::no_follow, false},
    {"gitignore", &search_flags::gitignore, true},
    {"match_length", &search_flags::match_length, true},
    {"submatches", &search_flags::submatches, true},
    {"invert_match", &search_flags::invert_match, true},
    {"whole_line", &search_flags::whole_line, true},
    {"sort_reverse", &search_flags::sort_reverse, true},
    {"dot_ignore", &search_flags::dot_ignore, true},
    {"dry_run", &search_flags::dry_run, true},
    {"preserve_case", &search_flags::preserve_case, true},
};

// The printer's keys of the output flags, set in a document passed as it is
// too.
constexpr bool_key kPrinterBoolKeys[] = {
    {"color", &search_flags::colour, true},
    {"continued", &search_flags::continued, true},
    {"null_after_path", &search_flags::null_after_path, true},
    {"relative_paths", &search_flags::relative_paths, true},
    {"with_filename", &search_flags::no_filename, false},
};

constexpr int_key kIntKeys[] = {
    {"max_results", &search_flags::max_results},
    {"max_per_file", &search_flags::max_per_file},
    {"context_lines", &search_flags::context_lines},
    {"before_context", &search_flags::before_context},
    {"after_context", &search_flags::after_context},
    {"timeout_ms", &search_flags::timeout_ms},
    {"threads", &search_flags::threads},
    {"max_depth", &search_flags::max_depth},
};

constexpr list_key kListKeys[] = {
    {"include_globs", &search_flags::include_globs},
    {"exclude_globs", &search_flags::exclude_globs},
    {"exclude_dirs", &search_flags::exclude_dirs},
    {"path_globs", &search_flags::path_globs},
};

// Adds `globs` under `key` as an array of copied strings.
bool add_glob_array(yyjson_mut_doc *doc, yyjson_mut_val *root, const char *key,
                    const std::vector<std::string> &globs) {
  yyjson_mut_val *array = yyjson_mut_arr(doc);
  if (array == nullptr || !yyjson_mut_obj_add_val(doc, root, key, array)) return false;
  for (const std::string &glob : globs) {
    if (!yyjson_mut_arr_add_strncpy(doc, array, glob.data(), glob.size())) return false;
  }
  return true;
}

// Sets the printer's keys of `flags` in `root`, replacing any it held.
bool put_printer_keys(yyjson_mut_doc *doc, yyjson_mut_val *root, const search_flags &flags) {
  bool ok = true;
  if (!flags.print.empty()) {
    yyjson_mut_obj_remove_key(root, "print");
    ok = ok && yyjson_mut_obj_add_strncpy(doc, root, "print", flags.print.data(),
                                          flags.print.size());
  }
  for (const bool_key &k : kPrinterBoolKeys) {
    if (!(flags.*k.member)) continue;
    yyjson_mut_obj_remove_key(root, k.key);
    ok = ok && yyjson_mut_obj_add_bool(doc, root, k.key, k.value);
  }
  if (flags.replacement) {
    yyjson_mut_obj_remove_key(root, "replacement");
    ok = ok && yyjson_mut_obj_add_strncpy(doc, root, "replacement", flags.replacement->data(),
                                          flags.replacement->size());
  }
  return ok;
}

std::string written(yyjson_mut_doc *doc) {
  size_t len = 0;
  char *text = yyjson_mut_write(doc, 0, &len);
  if (text == nullptr) return {};
  std::string result(text, len);
  std::free(text);
  return result;
}

}  // namespace

std::string build_options_json(const search_flags &flags) {
  mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
  if (!doc) return {};
  yyjson_mut_val *root = yyjson_mut_obj(doc.get());
  if (root == nullptr) return {};
  yyjson_mut_doc_set_root(doc.get(), root);

  bool ok = yyjson_mut_obj_add_bool(doc.get(), root, "strict", true);
  if (flags.regex && flags.dialect) {
    ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, "regex", true);
  } else if (flags.regex) {
    ok = ok && yyjson_mut_obj_add_str(doc.get(), root, "syntax", "standard");
  }
  for (const bool_key &k : kBoolKeys) {
    if (flags.*k.member) ok = ok && yyjson_mut_obj_add_bool(doc.get(), root, k.key, k.value);
  }
  for (const int_key &k : kIntKeys) {
    if (flags.*k.member) ok = ok && yyjson_mut_obj_add_int(doc.get(), root, k.key, *(flags.*k.member));
  }
  for (const list_key &k : kListKeys) {
    if (!(flags.*k.member).empty()) ok = ok && add_glob_array(doc.get(), root, k.key, flags.*k.member);
  }
  if (!flags.sort.empty()) {
    ok = ok &&
         yyjson_mut_obj_add_strncpy(doc.get(), root, "sort", flags.sort.data(), flags.sort.size());
  }
  ok = ok && put_printer_keys(doc.get(), root, flags);
  return ok ? written(doc.get()) : std::string();
}

std::string with_printer_keys(const std::string &options_json, const search_flags &flags) {
  std::unique_ptr<yyjson_doc, doc_free> given(
      yyjson_read(options_json.data(), options_json.size(), 0));
  yyjson_val *given_root = given ? yyjson_doc_get_root(given.get()) : nullptr;
  bool printer_keys = !flags.print.empty();
  for (const bool_key &k : kPrinterBoolKeys) printer_keys = printer_keys || flags.*k.member;
  if (!yyjson_is_obj(given_root) || !printer_keys) return options_json;
  mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
  yyjson_mut_val *root = doc ? yyjson_val_mut_copy(doc.get(), given_root) : nullptr;
  if (root == nullptr) return {};
  yyjson_mut_doc_set_root(doc.get(), root);
  return put_printer_keys(doc.get(), root, flags) ? written(doc.get()) : std::string();
}

}  // namespace qg_cli
