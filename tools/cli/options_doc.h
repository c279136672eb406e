// The search options document as the command line builds it: one member of
// search_flags per key, and one table row per key saying how the member
// becomes the key's value. The library reads the document under "strict",
// so a key this tool spells or types otherwise than the library's options
// schema is refused, never ignored.
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
  bool unicode = false;  // Unicode's classes, word boundaries and case folding
  std::optional<int> max_results;
  std::optional<int> max_per_file;
  std::optional<int> context_lines;
  std::optional<int> before_context;
  std::optional<int> after_context;
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
  bool invert_match = false;
  bool whole_line = false;
  std::optional<int> max_depth;
  std::string sort;  // "path" or "modified"; empty: the platform's order
  bool sort_reverse = false;
  bool dot_ignore = false;
  // The line printer's settings.
  std::string print;  // "lines", "matches", "files", "count", "json"; empty: the default
  bool colour = false;
  bool continued = false;  // the lines follow what an earlier search printed
  bool null_after_path = false;
  bool relative_paths = false;  // paths below the root, as when the tool chose the root
  bool no_filename = false;     // lines without their path
  std::optional<std::string> replacement;  // each printed match shown replaced by this template
  // Replacing in the files (the sub command).
  bool dry_run = false;
  bool preserve_case = false;
};

// The options document for `flags`, compact JSON written by yyjson (every
// string escaped by the writer): "strict" first, then a key for each flag
// that was given; each glob list is an array in the order the flags came.
// Empty on allocation failure.
std::string build_options_json(const search_flags &flags);

// `options_json` as given with the printer keys of `flags` set in it, so that
// a document passed as it is still prints what the output flags ask for.
// Text that is not a JSON object is returned unchanged: the library then
// says what is wrong with it.
std::string with_printer_keys(const std::string &options_json, const search_flags &flags);

}  // namespace qg_cli

#endif  // QG_CLI_OPTIONS_DOC_H
