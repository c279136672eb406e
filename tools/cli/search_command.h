// The `search` command: PATTERN then the PATHs to search (standard input when
// it is a pipe or a file, or the current folder, when none; "-" for standard
// input), with the flags grep and ripgrep users know, printed as
// `path:line:col:text` lines, file names (-l), counts per file (-c), one
// line per match (--vimgrep), ripgrep's JSON Lines messages (--json), the
// library's document (--document) or its match objects as JSON Lines
// (--stream);
// or nothing but the exit status (-q); or, with --files, the files a search
// would read.
#ifndef QG_CLI_SEARCH_COMMAND_H
#define QG_CLI_SEARCH_COMMAND_H

#include "options_doc.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace qg_cli {

// Everything the command line says about one search command.
struct search_request {
  std::string pattern;  // the first positional, unless -e gave the pattern
  std::vector<std::string> pattern_flags;  // each -e PATTERN: any of them matches
  std::vector<std::string> paths;
  search_flags flags;
  bool fixed = false;
  std::optional<int> context, after, before;
  std::optional<int> max_per_file;
  bool files_with_matches = false;
  bool count = false;
  bool gitignore = false;
  bool no_gitignore = false;
  std::string options_json;
  bool json = false;      // --json: ripgrep's JSON Lines messages
  bool document = false;  // --document: the library's search document of each PATH
  bool stream = false;
  bool show_options = false;
  bool only_matching = false;
  bool quiet = false;       // -q: the exit status alone
  bool list_files = false;  // --files: the files a search would read
  bool type_list = false;   // --type-list
  std::vector<std::string> types, types_not;  // -t TYPE, -T TYPE
  bool line_number = false, with_filename = false;  // -n: always so; -H: even for one file
  bool column = false;                              // --column: always so
  bool vimgrep = false;    // --vimgrep: each match on a line of its own, with the whole line
  bool stats = false;      // --stats: a summary of the search after its output
  bool follow = false;     // -L: links in the tree are followed
  bool skip_dirs = false;  // --skip-dirs: the library's list of skipped folder names
  bool no_unicode = false;  // --no-unicode: ASCII's classes, word boundaries and folding
  bool smart_case = false, case_sensitive = false;  // -S, -s
  int unrestricted = 0;                             // -u, -uu, -uuu
  std::vector<std::string> pattern_files;           // -f FILE: a pattern on each line
  std::vector<std::string> type_adds;               // --type-add NAME:GLOB
  std::string sort_reversed;                        // --sortr SORTBY
  bool path_defaulted = false;  // no PATH was given: the current folder is searched
  std::string colour = "auto";
  std::string stdin_text;  // what standard input held, when a PATH is "-"
};

// The name standard input is searched under.
constexpr const char *kStdinName = "<stdin>";

// Declares the command and its flags on `app`, filling `req` when parsed.
CLI::App *add_search_command(CLI::App &app, search_request &req);

// Declares the search's flags on `cmd` (any command that searches as the
// search command does), filling `req` when parsed.
void add_search_flags(CLI::App *cmd, search_request &req);

// Runs the parsed command; the process's exit status.
int run_search(search_request &req, const CLI::App &cmd);

// Settles a parsed request as the search command does (types, case, the
// patterns, the paths); false with a message printed.
bool settle_search_request(search_request &req, const CLI::App &cmd);

// The options document of the pattern, file and limit flags for `root`,
// with the walk the search command takes there; no printer keys.
std::string walk_options_for(const search_request &req, const std::string &root);

}  // namespace qg_cli

#endif  // QG_CLI_SEARCH_COMMAND_H
