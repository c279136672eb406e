// quenmar-grep: a command-line host over the library's public interface.
//
// Exit status, as grep has it: 0 when something matched or an edit succeeded,
// 1 when a search matched nothing, 2 on any error (the library's last-error
// text, or this tool's own message, goes to standard error).
#include <quenmar_grep.h>

#include "console.h"
#include "input.h"
#include "messages.h"
#include "search_command.h"

#include <yyjson.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using qg_cli::doc_ptr;
using qg_cli::fail;
using qg_cli::fail_with;
using qg_cli::kExitError;
using qg_cli::kExitMatch;
using qg_cli::parse_json;
using qg_cli::read_input;

// ---- read, replace, batch ----

// Prints the numbered lines.
int run_read(const std::string &file, int start, int end) {
  const char *text = grep_read_lines(file.c_str(), start, end);
  if (grep_last_status() != GREP_OK) return fail();
  std::fputs(text, stdout);
  return kExitMatch;
}

int run_replace(const std::string &file, int start, int end, const std::string &text_arg) {
  std::string text = text_arg;
  if (text_arg == "-") {
    text.clear();
    std::string error;
    if (!read_input("-", text, error)) return fail_with(error);
  }
  // The library takes a C text; one cut at a NUL would write less than given.
  if (text.find('\0') != std::string::npos) return fail_with("TEXT holds a NUL byte");
  grep_replace_lines(file.c_str(), start, end, text.c_str());
  return grep_last_status() == GREP_OK ? kExitMatch : fail();
}

// Prints the result document; each per-file error also goes to standard error.
int run_batch(const std::string &input) {
  std::string instructions;
  std::string error;
  if (!read_input(input, instructions, error)) return fail_with(error);
  if (instructions.find('\0') != std::string::npos) {
    return fail_with("'" + input + "' holds a NUL byte, which no JSON text holds");
  }
  const char *text = grep_batch_replace_json(instructions.c_str());
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (grep_last_status() == GREP_OK) return kExitMatch;
  doc_ptr doc = parse_json(text);
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(yyjson_obj_get(root, "errors"), idx, max, item) {
    if (const char *message = yyjson_get_str(item)) fail_with(message);
  }
  return kExitError;
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

  std::string text;
  CLI::App *replace = app.add_subcommand(
      "replace", "Replace lines START..END of FILE with TEXT (START > END inserts before START)");
  replace->add_option("FILE", file, "File to edit")->required();
  replace->add_option("START", start, "First line to replace")->required();
  replace->add_option("END", end, "Last line to replace")->required();
  replace->add_option("TEXT", text, "The new lines, or - to read them from standard input")
      ->required();

  std::string batch_input;
  CLI::App *batch = app.add_subcommand("batch", "Apply the line edits of a JSON document");
  batch->add_option("FILE", batch_input, "The edits document, or - for standard input")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kExitError;
  }
  if (search->parsed()) return qg_cli::run_search(search_req, *search);
  if (read->parsed()) return run_read(file, start, end);
  if (replace->parsed()) return run_replace(file, start, end, text);
  if (batch->parsed()) return run_batch(batch_input);
  return kExitError;
}
