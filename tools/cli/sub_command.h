// The `sub` command: PATTERN, REPLACEMENT, then the PATHs (the current folder
// when none). Every match that `search` with the same flags would report is
// replaced in the files (the library's replace: each file written once,
// atomically, every other byte kept), and each file written is printed with
// its number of replacements; with --dry-run nothing is written and the
// unified diffs are printed instead, as patch takes them.
#ifndef QG_CLI_SUB_COMMAND_H
#define QG_CLI_SUB_COMMAND_H

#include "search_command.h"

#include <CLI/CLI.hpp>

#include <string>

namespace qg_cli {

struct sub_request {
  search_request search;  // the pattern, the paths and the search's flags
  std::string replacement;
  bool quiet = false;
};

// Declares the command and its flags on `app`, filling `req` when parsed.
CLI::App *add_sub_command(CLI::App &app, sub_request &req);

// Runs the parsed command; the process's exit status: 0 when something was
// replaced (or would be), 1 when nothing matched, 2 when a file failed.
int run_sub(sub_request &req, const CLI::App &cmd);

}  // namespace qg_cli

#endif  // QG_CLI_SUB_COMMAND_H
