// quenmar-grep: a command-line host over the library's public interface.
//
// Exit status, as grep has it: 0 when something matched or an edit succeeded,
// 1 when a search matched nothing, 2 on any error (the library's last-error
// text, or this tool's own message, goes to standard error).
#include <quenmar_grep.h>

#include "console.h"
#include "edit_commands.h"
#include "flag_errors.h"
#include "messages.h"
#include "search_command.h"
#include "sub_command.h"

#include <yyjson.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using qg_cli::doc_ptr;
using qg_cli::fail;
using qg_cli::fail_with;
using qg_cli::kExitError;
using qg_cli::kExitMatch;

// ---- read, replace, batch ----

// Prints the numbered lines.
int run_read(const std::string &file, int start, int end) {
  const char *text = grep_read_lines(file.c_str(), start, end);
  if (grep_last_status() != GREP_OK) return fail();
  std::fputs(text, stdout);
  return kExitMatch;
}

// The arguments with the command word `search` put in where the first
// argument names no command, so that `quenmar-grep PATTERN [PATH...]` and
// `quenmar-grep -i PATTERN` search as grep and ripgrep do.
std::vector<char *> with_command(int argc, char **argv) {
  std::vector<char *> args(argv, argv + argc);
  static char search_word[] = "search";
  if (argc < 2) return args;
  constexpr std::string_view kNotSearch[] = {"search", "read",   "replace", "edit",     "batch",
                                             "sub",    "--help", "-h",      "--version"};
  for (std::string_view word : kNotSearch) {
    if (word == argv[1]) return args;
  }
  args.insert(args.begin() + 1, search_word);
  return args;
}

}  // namespace

int main(int argc, char **argv) {
  if (!qg_cli::utf8_arguments(argc, argv)) return fail_with("Cannot read the command line");
  qg_cli::prepare_console();
  CLI::App app{"Search source trees and edit text files by line number.", "quenmar-grep"};
  app.set_version_flag("--version", std::string(grep_version()));
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 when something matched or an edit succeeded, 1 when nothing matched, "
      "2 on an error.");

  qg_cli::search_request search_req;
  CLI::App *search = qg_cli::add_search_command(app, search_req);

  std::string file;
  int start = 0;
  int end = 0;
  CLI::App *read = app.add_subcommand("read", "Print lines of FILE, each prefixed with its number");
  read->add_option("FILE", file, "File to read")->required();
  read->add_option("START", start, "First line (below 1: the whole file)");
  read->add_option("END", end, "Last line (below 1: to the end)");

  qg_cli::edit_request edit_req;
  const qg_cli::edit_commands edits = qg_cli::add_edit_commands(app, edit_req);

  qg_cli::sub_request sub_req;
  CLI::App *sub = qg_cli::add_sub_command(app, sub_req);

  for (CLI::App *cmd : {read, edits.replace, edits.edit, edits.batch}) cmd->allow_extras();

  std::vector<char *> args = with_command(argc, argv);
  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::ParseError &e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kExitError;
  }
  if (search->parsed()) return qg_cli::run_search(search_req, *search);
  if (sub->parsed()) return qg_cli::run_sub(sub_req, *sub);
  for (CLI::App *cmd : {read, edits.replace, edits.edit, edits.batch}) {
    if (cmd->parsed() && !qg_cli::no_leftovers(*cmd)) return kExitError;
  }
  if (read->parsed()) return run_read(file, start, end);
  if (edits.replace->parsed()) return qg_cli::run_replace(edit_req);
  if (edits.edit->parsed()) return qg_cli::run_edit(edit_req);
  if (edits.batch->parsed()) return qg_cli::run_batch(edit_req);
  return kExitError;
}
