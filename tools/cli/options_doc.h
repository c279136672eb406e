// The search options document as the command line builds it, and the few
// settings the human output needs to read back from any options document.
#ifndef QG_CLI_OPTIONS_DOC_H
#define QG_CLI_OPTIONS_DOC_H

#include <optional>
#include <string>
#include <vector>

namespace qg_cli {

// The search flags of the command line, one member per key of the document.
// Booleans that the library defaults to true are kept as their negations, so
// that false means "key absent" for every member.
struct search_flags {
  bool regex = false;
  bool dialect = false;  // with regex: the library's own dialect, not the standard syntax
  bool ignore_case = false;
  bool whole_word = false;
  std::optional<int> max_results;
  std::optional<int> max_per_file;
  std::optional<int> context_lines;
  std::vector<std::string> include_globs;
  std::vector<std::string> exclude_globs;
  std::vector<std::string> exclude_dirs;
  std::vector<std::string> path_globs;
  std::optional<int> timeout_ms;
  std::optional<int> threads;
  bool hidden = false;
  bool no_skip_dirs = false;
  bool no_follow = false;
  bool gitignore = false;
  bool match_length = false;
  bool submatches = false;
};

// What the human output needs to know about a search: whether the pattern was
// a literal, whether case was folded, and how many context lines surround a
// match (0 or below: none).
struct display_settings {
  bool regex = false;
  bool standard = false;  // the regex is in the standard syntax
  bool case_sensitive = true;
  int context_lines = 0;
};

// The options document for `flags`, compact JSON written by yyjson (every
// string escaped by the writer). Keys appear only for flags that were given;
// each glob list is an array in the order the flags came. Empty on allocation
// failure.
std::string build_options_json(const search_flags &flags);

// Reads `options_json` (may be empty) under the library's rules: the first
// member with a key counts, booleans only from true/false, integers cut to
// their low 32 bits, "ignore_case" over "case_insensitive" over
// "case_sensitive". Text that is not a JSON object gives the defaults.
display_settings read_display_settings(const std::string &options_json);

}  // namespace qg_cli

#endif  // QG_CLI_OPTIONS_DOC_H
