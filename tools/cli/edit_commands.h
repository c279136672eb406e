// The commands that change files: `replace` (a range of lines, optionally
// only while they hold an expected text), `edit` (by matching text), and
// `batch` (a JSON document of edits); each can be a dry run that prints the
// unified diff instead of writing.
#ifndef QG_CLI_EDIT_COMMANDS_H
#define QG_CLI_EDIT_COMMANDS_H

#include <CLI/CLI.hpp>

#include <yyjson.h>

#include <optional>
#include <string>

namespace qg_cli {

// Everything the command line says about one edit command.
struct edit_request {
  std::string file;
  int start = 0;
  int end = 0;
  std::string text;                   // replace's TEXT ("-": standard input)
  std::optional<std::string> expect;  // replace --expect
  std::string old_text;               // edit --old
  std::string new_text;               // edit --new
  bool all = false;                   // edit --all
  bool dry_run = false;
  std::string batch_input;  // batch's FILE ("-": standard input)
};

// The three commands, declared on `app`.
struct edit_commands {
  CLI::App *replace;
  CLI::App *edit;
  CLI::App *batch;
};

edit_commands add_edit_commands(CLI::App &app, edit_request &req);

// Runs the parsed command; the process's exit status.
int run_replace(const edit_request &req);
int run_edit(const edit_request &req);
int run_batch(const edit_request &req);

// Prints the unified diff of a report's file entry ("diff", or the bytes of
// "diff_base64" where it has them) on standard output, as patch takes it.
void print_diff_of(yyjson_val *entry);

}  // namespace qg_cli

#endif  // QG_CLI_EDIT_COMMANDS_H
