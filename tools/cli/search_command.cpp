#include "search_command.h"

#include "console.h"
#include "dialect_hints.h"
#include "human_output.h"
#include "messages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace qg_cli {

namespace {

bool use_colour(const std::string &when) {
  if (when == "always") return true;
  if (when == "never") return false;
  const char *no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && no_colour[0] != '\0') return false;
  return is_terminal(stdout);
}

std::filesystem::path native_path(const std::string &utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The library passes over a root that does not exist as an empty search; a
// person asking for it has mistyped, so that is an error here.
bool root_exists(const std::string &root, std::string &error) {
  std::error_code ec;
  if (std::filesystem::exists(native_path(root), ec)) return true;
  if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
  error = "'" + root + "': " + ec.message();
  return false;
}

// Whether `root` lies in a git work tree: it, or a folder above it, holds a
// ".git" entry. Ignore files are honoured there by default, as ripgrep users
// expect; outside a repository a .gitignore is only a file.
bool inside_git_work_tree(const std::string &root) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::weakly_canonical(native_path(root), ec);
  if (ec) return false;
  if (!std::filesystem::is_directory(dir, ec)) dir = dir.parent_path();
  for (;;) {
    if (std::filesystem::exists(dir / ".git", ec)) return true;
    if (!dir.has_parent_path() || dir.parent_path() == dir) return false;
    dir = dir.parent_path();
  }
}

// True when the search just made on this thread stopped at its time limit:
// the library leaves that message last, after any message of a file it
// passed over, and this process makes no other search meanwhile.
bool stopped_at_time_limit() {
  return std::strncmp(grep_last_error(), "Search stopped at the time limit", 32) == 0;
}

// How one path's search ended.
enum class outcome { matched, nothing, failed };

// The outcome of a streamed search that gave `count`: one that did not run to
// its end is a failure (reported), after what it found.
outcome outcome_of_count(int count) {
  if (count < 0 || stopped_at_time_limit()) {
    fail();
    return outcome::failed;
  }
  return count > 0 ? outcome::matched : outcome::nothing;
}

outcome search_document(const std::string &root, const search_request &req,
                        const std::string &options) {
  const char *text = grep_search_json(root.c_str(), req.pattern.c_str(), options.c_str());
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  doc_ptr doc = parse_json(text);
  yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  const char *error = yyjson_get_str(yyjson_obj_get(top, "error"));
  if (top == nullptr || error != nullptr || yyjson_get_bool(yyjson_obj_get(top, "timed_out"))) {
    fail_with(error != nullptr ? error : grep_last_error());
    return outcome::failed;
  }
  return yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0 ? outcome::matched
                                                                   : outcome::nothing;
}

// JSON Lines: one match object per line, flushed so a pipe sees it at once.
int print_match_object(const char *match_json, void *) {
  std::fputs(match_json, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  return 0;
}

int print_human(const char *match_json, void *printer) {
  printer_add_match(*static_cast<human_printer *>(printer), match_json);
  return 0;
}

// The files of a search in the order the walk meets them, each with the
// number of its matches: the matches of one file arrive together.
struct file_tally {
  bool colour = false;
  bool with_counts = false;
  std::string file;
  long long count = 0;
};

void print_tally(file_tally &t) {
  if (t.count == 0) return;
  print_path(stdout, t.colour, t.file);
  if (t.with_counts) std::printf(":%lld", t.count);
  std::fputc('\n', stdout);
  t.count = 0;
}

int tally_match(const char *match_json, void *user_data) {
  auto *t = static_cast<file_tally *>(user_data);
  doc_ptr doc = parse_json(match_json);
  const char *file = yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "file"));
  if (file == nullptr) return 0;
  if (t->count > 0 && t->file != file) print_tally(*t);
  t->file = file;
  ++t->count;
  return 0;
}

// The options document for one path: the flags as given, with "gitignore"
// decided for this path unless a flag said it.
std::string options_for(const search_request &req, const std::string &root, bool colour) {
  if (!req.options_json.empty()) return req.options_json;
  search_flags flags = req.flags;
  flags.gitignore = req.gitignore || (!req.no_gitignore && inside_git_work_tree(root));
  const bool human = !req.json && !req.stream && !req.files_with_matches && !req.count;
  flags.match_length = human && colour;
  return build_options_json(flags);
}

// Settles the pattern, the paths and the flags that several options feed.
// False, with a message printed, for a command that names no pattern.
bool settle_request(search_request &req, const CLI::App &cmd) {
  if (cmd.count("-e") > 0) {
    if (cmd.count("PATTERN") > 0) req.paths.insert(req.paths.begin(), req.pattern);
    req.pattern = req.pattern_flag;
  } else if (cmd.count("PATTERN") == 0) {
    fail_with("search: a PATTERN is required (or -e PATTERN); see quenmar-grep search --help");
    return false;
  }
  if (req.paths.empty()) req.paths.emplace_back(".");
  if (req.context || req.before || req.after) {
    const int around = req.context.value_or(0);
    req.before = req.before.value_or(around);
    req.after = req.after.value_or(around);
    if (*req.before > 0 || *req.after > 0) {
      req.flags.context_lines = std::max(*req.before, *req.after);
    }
  }
  req.flags.max_per_file = req.max_per_file;
  if (req.files_with_matches) {
    req.flags.max_per_file = 1;  // one match tells that a file matches
    req.flags.context_lines.reset();
  }
  if (req.count) req.flags.context_lines.reset();
  return true;
}

// The hints for a regex pattern; whether it is one, the flags or the options
// document given as it is tell.
void print_hints(const search_request &req) {
  const bool regex =
      req.options_json.empty() ? req.flags.regex : read_display_settings(req.options_json).regex;
  if (!regex) return;
  for (const std::string &hint : dialect_hints(req.pattern)) {
    std::fprintf(stderr, "quenmar-grep: hint: %s\n", hint.c_str());
  }
  if (req.flags.whole_word) {
    std::fprintf(stderr, "quenmar-grep: hint: -w applies to literal searches; -E ignores it\n");
  }
}

outcome search_one(const std::string &root, const search_request &req, const std::string &options,
                   bool colour, human_printer &printer) {
  if (req.json) return search_document(root, req, options);
  const char *r = root.c_str();
  const char *p = req.pattern.c_str();
  const char *o = options.c_str();
  if (req.stream)
    return outcome_of_count(grep_search_stream_ctx(r, p, o, print_match_object, nullptr));
  if (req.files_with_matches || req.count) {
    file_tally tally{colour, req.count, {}, 0};
    const int count = grep_search_stream_ctx(r, p, o, tally_match, &tally);
    print_tally(tally);
    std::fflush(stdout);
    return outcome_of_count(count);
  }
  printer.settings = read_display_settings(options);
  const int count = grep_search_stream_ctx(r, p, o, print_human, &printer);
  std::fflush(stdout);
  return outcome_of_count(count);
}

}  // namespace

CLI::App *add_search_command(CLI::App &app, search_request &req) {
  CLI::App *cmd = app.add_subcommand(
      "search",
      "Search the PATHs (files or directory trees; the current folder when none) for PATTERN");
  cmd->add_option("PATTERN", req.pattern,
                  "Literal text (or a pattern with -E); -e PATTERN for one that starts with '-'");
  cmd->add_option("PATH", req.paths, "Files or folders to search, one after another (default: .)");
  CLI::Option *fixed =
      cmd->add_flag("-F,--fixed-strings", req.fixed, "PATTERN is literal text (the default)");
  CLI::Option *regex =
      cmd->add_flag("-E,--regex", req.flags.regex,
                    "PATTERN is in the library's pattern dialect (see the README)");
  fixed->excludes(regex);
  cmd->add_option("-e,--pattern", req.pattern_flag, "The pattern (then every positional is a PATH)")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  std::vector<CLI::Option *> mapped = {
      fixed,
      regex,
      cmd->add_flag("-i,--ignore-case", req.flags.ignore_case, "Fold ASCII letter case"),
      cmd->add_flag("-w,--word-regexp", req.flags.whole_word,
                    "A literal match must be a whole word"),
      cmd->add_option("-m,--max-count", req.max_per_file, "Take at most N matches from each file")
          ->type_name("N")
          ->check(CLI::PositiveNumber),
      cmd->add_option("--max-total", req.flags.max_results, "Stop the search after N matches")
          ->type_name("N")
          ->check(CLI::PositiveNumber),
      cmd->add_option("-C,--context", req.context, "Show N lines before and after each match")
          ->type_name("N")
          ->check(CLI::NonNegativeNumber),
      cmd->add_option("-A,--after-context", req.after, "Show N lines after each match")
          ->type_name("N")
          ->check(CLI::NonNegativeNumber),
      cmd->add_option("-B,--before-context", req.before, "Show N lines before each match")
          ->type_name("N")
          ->check(CLI::NonNegativeNumber),
      cmd->add_flag("--hidden", req.flags.hidden,
                    "Search files and folders whose name starts with '.'"),
      cmd->add_flag("--no-skip-dirs", req.flags.no_skip_dirs,
                    "Enter node_modules, build, target, bin, obj, dist and __pycache__ too"),
      cmd->add_flag("--no-follow", req.flags.no_follow, "Do not follow links met in the tree"),
      cmd->add_option("--include", req.flags.include_globs,
                      "Search only files whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--exclude", req.flags.exclude_globs,
                      "Skip files whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--exclude-dir", req.flags.exclude_dirs,
                      "Do not enter folders whose name matches GLOB (repeatable)")
          ->type_name("GLOB")
          ->allow_extra_args(false),
      cmd->add_option("--timeout", req.flags.timeout_ms,
                      "Stop the search after MS milliseconds, keeping what it found")
          ->type_name("MS"),
      cmd->add_option("-j,--threads", req.flags.threads,
                      "Read and scan files on N threads (the same results, in the same order)")
          ->type_name("N")
          ->check(CLI::PositiveNumber),
  };
  CLI::Option *gitignore = cmd->add_flag(
      "--gitignore", req.gitignore,
      "Honour .gitignore, .ignore and .git/info/exclude (the default inside a git work tree)");
  CLI::Option *no_gitignore =
      cmd->add_flag("--no-gitignore", req.no_gitignore, "Search what ignore files name too");
  gitignore->excludes(no_gitignore);
  mapped.push_back(gitignore);
  mapped.push_back(no_gitignore);

  CLI::Option *options =
      cmd->add_option("--options", req.options_json, "Pass the options document JSON as it is");
  options->type_name("JSON");
  for (CLI::Option *opt : mapped) options->excludes(opt);

  CLI::Option *list = cmd->add_flag("-l,--files-with-matches", req.files_with_matches,
                                    "Print only the files that match");
  CLI::Option *count =
      cmd->add_flag("-c,--count", req.count, "Print path:count for each file that matches");
  CLI::Option *json = cmd->add_flag("--json", req.json, "Print the search document of each PATH");
  CLI::Option *stream =
      cmd->add_flag("--stream", req.stream, "Print each match object as it is found (JSON Lines)");
  const std::vector<CLI::Option *> forms = {list, count, json, stream};
  for (CLI::Option *a : forms) {
    for (CLI::Option *b : forms) {
      if (a != b) a->excludes(b);
    }
  }
  cmd->add_flag("--show-options", req.show_options,
                "Print the options document this command would pass, and stop");
  cmd->add_option("--color,--colour", req.colour, "Colour the human output")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN");
  return cmd;
}

int run_search(search_request &req, const CLI::App &cmd) {
  if (!settle_request(req, cmd)) return kExitError;
  const bool colour = use_colour(req.colour);
  if (req.show_options) {
    for (const std::string &root : req.paths) {
      const std::string options = options_for(req, root, colour);
      if (options.empty()) return fail_with("Out of memory");
      std::printf("%s\n", options.c_str());
    }
    return kExitMatch;
  }
  print_hints(req);

  human_printer printer;
  printer_init(printer, stdout, colour, display_settings{}, req.pattern, req.before.value_or(-1),
               req.after.value_or(-1));
  bool matched = false, failed = false;
  for (const std::string &root : req.paths) {
    std::string error;
    if (!root_exists(root, error)) {
      fail_with(error);
      failed = true;
      continue;
    }
    const std::string options = options_for(req, root, colour);
    if (options.empty()) return fail_with("Out of memory");
    const outcome o = search_one(root, req, options, colour, printer);
    matched = matched || o == outcome::matched;
    failed = failed || o == outcome::failed;
  }
  printer_finish(printer);
  std::fflush(stdout);
  if (failed) return kExitError;
  return matched ? kExitMatch : kExitNoMatch;
}

}  // namespace qg_cli
