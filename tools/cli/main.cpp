// quenmar-grep: a command-line host over the library's public interface.
//
// Exit status, as grep has it: 0 when something matched or an edit succeeded,
// 1 when a search matched nothing, 2 on any error (the library's last-error
// text, or this tool's own message, goes to standard error).
#include <quenmar_grep.h>

#include "console.h"
#include "human_output.h"
#include "options_doc.h"

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

constexpr int kExitMatch = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;

// Prints "quenmar-grep: <message>" on standard error and gives the error status.
int fail_with(const std::string &message) {
  std::fprintf(stderr, "quenmar-grep: %s\n", message.c_str());
  return kExitError;
}

// Fails with the calling thread's last-error text.
int fail() { return fail_with(grep_last_error()); }

struct doc_free {
  void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};
using doc_ptr = std::unique_ptr<yyjson_doc, doc_free>;

doc_ptr parse_json(const char *text) { return doc_ptr(yyjson_read(text, std::strlen(text), 0)); }

// Reads the whole of FILE, or standard input for "-", as bytes.
bool read_input(const std::string &name, std::string &out, std::string &error) {
  bool from_stdin = name == "-";
  FILE *in = from_stdin ? stdin : qg_cli::open_for_reading(name.c_str());
  if (in == nullptr) {
    error = "Cannot open '" + name + "': " + std::strerror(errno);
    return false;
  }
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.append(chunk, n);
  bool ok = !std::ferror(in);
  if (!ok) error = "Cannot read '" + name + "': " + std::strerror(errno);
  if (!from_stdin) std::fclose(in);
  return ok;
}

// ---- search ----

struct search_request {
  std::string root;
  std::string pattern;
  qg_cli::search_flags flags;
  std::string options_json;
  bool options_given = false;
  bool json = false;
  bool stream = false;
  bool show_options = false;
  std::string colour = "auto";
};

bool use_colour(const std::string &when) {
  if (when == "always") return true;
  if (when == "never") return false;
  const char *no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && no_colour[0] != '\0') return false;
  return qg_cli::is_terminal(stdout);
}

// The library passes over a root that does not exist as an empty search; a
// person asking for it has mistyped, so that is an error here.
bool root_exists(const std::string &root, std::string &error) {
  std::error_code ec;
  std::filesystem::path path(std::u8string(root.begin(), root.end()));
  if (std::filesystem::exists(path, ec)) return true;
  if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
  error = "'" + root + "': " + ec.message();
  return false;
}

// The callback has no context argument; the printer of the running search
// lives here while grep_search_stream runs on this thread.
qg_cli::human_printer *g_printer = nullptr;

void on_match_human(const char *match_json) { qg_cli::printer_add_match(*g_printer, match_json); }

// JSON Lines: one match object per line, flushed so a pipe sees it at once.
void on_match_stream(const char *match_json) {
  std::fputs(match_json, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// True when the search just made on this thread stopped at its time limit:
// the library leaves that message last, after any message of a file it
// passed over, and this process makes no other search.
bool stopped_at_time_limit() {
  return std::strncmp(grep_last_error(), "Search stopped at the time limit", 32) == 0;
}

// The exit status of a search that found `count` matches: a search that did
// not run to its end is an error, as grep has it, after what it found.
int status_for_count(int count) {
  if (count < 0 || stopped_at_time_limit()) return fail();
  return count > 0 ? kExitMatch : kExitNoMatch;
}

int run_search_json(const search_request &req, const char *options) {
  const char *text = grep_search_json(req.root.c_str(), req.pattern.c_str(), options);
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  doc_ptr doc = parse_json(text);
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  if (root == nullptr) return fail();
  if (const char *error = yyjson_get_str(yyjson_obj_get(root, "error"))) return fail_with(error);
  if (yyjson_get_bool(yyjson_obj_get(root, "timed_out"))) return fail();
  return yyjson_get_sint(yyjson_obj_get(root, "total_matches")) > 0 ? kExitMatch : kExitNoMatch;
}

int run_search(const search_request &req) {
  std::string options =
      req.options_given ? req.options_json : qg_cli::build_options_json(req.flags);
  if (!req.options_given && options.empty()) return fail_with("Out of memory");
  if (req.show_options) {
    std::printf("%s\n", options.c_str());
    return kExitMatch;
  }
  std::string error;
  if (!root_exists(req.root, error)) return fail_with(error);

  if (req.json) return run_search_json(req, options.c_str());
  if (req.stream) {
    return status_for_count(grep_search_stream(req.root.c_str(), req.pattern.c_str(),
                                               options.c_str(), on_match_stream));
  }
  qg_cli::human_printer printer;
  qg_cli::printer_init(printer, stdout, use_colour(req.colour),
                       qg_cli::read_display_settings(options), req.pattern);
  g_printer = &printer;
  int count =
      grep_search_stream(req.root.c_str(), req.pattern.c_str(), options.c_str(), on_match_human);
  qg_cli::printer_finish(printer);
  g_printer = nullptr;
  std::fflush(stdout);
  return status_for_count(count);
}

// ---- read, replace, batch ----

// Prints the numbered lines. "" is both a failure and an empty selection; a
// selection from line 1 or later is never empty on success, and for a whole
// file this process has made no other library call, so a last-error text can
// only come from this one.
int run_read(const std::string &file, int start, int end) {
  const char *text = grep_read_lines(file.c_str(), start, end);
  if (text[0] == '\0' && (start >= 1 || grep_last_error()[0] != '\0')) return fail();
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
  if (grep_replace_lines(file.c_str(), start, end, text.c_str()) != 0) return fail();
  return kExitMatch;
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
  doc_ptr doc = parse_json(text);
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  if (yyjson_get_bool(yyjson_obj_get(root, "success"))) return kExitMatch;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(yyjson_obj_get(root, "errors"), idx, max, item) {
    if (const char *message = yyjson_get_str(item)) fail_with(message);
  }
  return kExitError;
}

void add_search_command(CLI::App &app, search_request &req, CLI::App *&cmd) {
  cmd = app.add_subcommand("search", "Search ROOT (a file or a directory tree) for PATTERN");
  cmd->add_option("ROOT", req.root, "File or directory to search")->required();
  cmd->add_option("PATTERN", req.pattern, "Literal text, or a pattern with -e")->required();
  std::vector<CLI::Option *> mapped = {
      cmd->add_flag("-e,--regex", req.flags.regex, "PATTERN is a regular expression"),
      cmd->add_flag("-i,--ignore-case", req.flags.ignore_case, "Fold ASCII letter case"),
      cmd->add_flag("-w,--word", req.flags.whole_word, "A literal match must be a whole word"),
      cmd->add_option("-m,--max", req.flags.max_results, "Stop after N matches")->type_name("N"),
      cmd->add_option("-C,--context", req.flags.context_lines,
                      "Show N lines before and after each match")
          ->type_name("N"),
      cmd->add_option("--include", req.flags.include_globs,
                      "Search only files whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--exclude", req.flags.exclude_globs,
                      "Skip files whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--exclude-dir", req.flags.exclude_dirs,
                      "Do not enter directories whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--timeout", req.flags.timeout_ms,
                      "Stop the search after MS milliseconds, keeping what it found")
          ->type_name("MS"),
  };
  CLI::Option *options =
      cmd->add_option("--options", req.options_json, "Pass the options document JSON as it is");
  options->type_name("JSON");
  for (CLI::Option *opt : mapped) options->excludes(opt);

  CLI::Option *json = cmd->add_flag("--json", req.json, "Print the search document");
  CLI::Option *stream =
      cmd->add_flag("--stream", req.stream, "Print each match object as it is found (JSON Lines)");
  json->excludes(stream);
  cmd->add_flag("--show-options", req.show_options,
                "Print the options document this command would pass, and stop");
  cmd->add_option("--color,--colour", req.colour, "Colour the human output")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN");
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

  search_request search_req;
  CLI::App *search = nullptr;
  add_search_command(app, search_req, search);

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
  search_req.options_given = search->count("--options") > 0;

  if (search->parsed()) return run_search(search_req);
  if (read->parsed()) return run_read(file, start, end);
  if (replace->parsed()) return run_replace(file, start, end, text);
  if (batch->parsed()) return run_batch(batch_input);
  return kExitError;
}
