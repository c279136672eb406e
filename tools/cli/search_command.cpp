#include "search_command.h"

#include "console.h"
#include "dialect_hints.h"
#include "file_types.h"
#include "flag_errors.h"
#include "human_output.h"
#include "input.h"
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

// How one path's search ended.
enum class outcome { matched, nothing, failed };

// The outcome of the search just made on this thread, from the library's
// status: one that did not run to its end (a time limit, a failure) is a
// failure of this path, reported with the library's message, after what it
// found.
outcome outcome_of_search(bool found) {
  if (grep_last_status() != GREP_OK) {
    fail();
    return outcome::failed;
  }
  return found ? outcome::matched : outcome::nothing;
}

// Hands every match object of a search document to `each`; true when there
// was one.
bool for_each_match(const char *document, int (*each)(const char *, void *), void *user_data) {
  doc_ptr doc = parse_json(document);
  yyjson_val *matches = yyjson_obj_get(doc ? yyjson_doc_get_root(doc.get()) : nullptr, "matches");
  size_t idx, max;
  yyjson_val *m;
  yyjson_arr_foreach(matches, idx, max, m) {
    char *text = yyjson_val_write(m, 0, nullptr);
    if (text != nullptr) each(text, user_data);
    std::free(text);
  }
  return yyjson_arr_size(matches) > 0;
}

// The search of one PATH, handing each match object to `each` (a stream), or
// of standard input ("-"), whose text is read whole and searched as one file.
// The number of matches, or -1 when the search failed.
int search_path(const std::string &root, const search_request &req, const std::string &options,
                int (*each)(const char *, void *), void *user_data) {
  if (root != "-") {
    return grep_search_stream_ctx(root.c_str(), req.pattern.c_str(), options.c_str(), each,
                                  user_data);
  }
  const char *document = grep_search_text(kStdinName, req.stdin_text.data(), req.stdin_text.size(),
                                          req.pattern.c_str(), options.c_str());
  // A search that ended early (a time limit, the output cap) still delivers
  // what it found; its status then fails the path after it.
  if (grep_last_status() < 0) return -1;
  for_each_match(document, each, user_data);
  doc_ptr doc = parse_json(document);
  return static_cast<int>(yyjson_get_sint(
      yyjson_obj_get(doc ? yyjson_doc_get_root(doc.get()) : nullptr, "total_matches")));
}

outcome search_document(const std::string &root, const search_request &req,
                        const std::string &options) {
  const char *text =
      root == "-" ? grep_search_text(kStdinName, req.stdin_text.data(), req.stdin_text.size(),
                                     req.pattern.c_str(), options.c_str())
                  : grep_search_json(root.c_str(), req.pattern.c_str(), options.c_str());
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  doc_ptr doc = parse_json(text);
  yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  return outcome_of_search(yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0);
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
// decided for this path unless a flag said it. The human output asks for
// every match of a line where it colours them or prints them alone.
std::string options_for(const search_request &req, const std::string &root, bool colour) {
  if (!req.options_json.empty()) return req.options_json;
  search_flags flags = req.flags;
  flags.gitignore =
      req.gitignore || (!req.no_gitignore && root != "-" && inside_git_work_tree(root));
  const bool human = !req.json && !req.stream && !req.files_with_matches && !req.count;
  flags.submatches = flags.submatches || (human && (colour || req.only_matching));
  return build_options_json(flags);
}

// The groups of the help, which also tell which flags feed the options
// document (all but output and the document's own).
constexpr const char *kPatternGroup = "Pattern";
constexpr const char *kFilesGroup = "Files";
constexpr const char *kLimitsGroup = "Limits";
constexpr const char *kContextGroup = "Context";
constexpr const char *kOutputGroup = "Output";
constexpr const char *kDocumentGroup = "Options document";

bool is_mapped_group(const std::string &group) {
  return group == kPatternGroup || group == kFilesGroup || group == kLimitsGroup ||
         group == kContextGroup;
}

// True when no two given flags contradict each other; otherwise prints which.
bool flags_agree(const search_request &req, const CLI::App &cmd) {
  const auto given = [&cmd](const char *name) { return cmd.count(name) > 0; };
  if (req.fixed && (req.flags.regex || req.flags.dialect)) {
    fail_with("search: -F cannot be combined with -E or --dialect");
    return false;
  }
  if (req.gitignore && req.no_gitignore) {
    fail_with("search: --gitignore cannot be combined with --no-gitignore");
    return false;
  }
  int forms = 0;
  for (const char *form : {"-l", "-c", "--json", "--stream", "-q", "--files"}) forms += given(form);
  if (forms > 1) {
    fail_with("search: choose one of -l, -c, --json, --stream, -q and --files");
    return false;
  }
  if (req.list_files && !req.pattern_flags.empty()) {
    fail_with("search: --files takes no pattern");
    return false;
  }
  if (!req.options_json.empty()) {
    for (const CLI::Option *opt : cmd.get_options()) {
      if (is_mapped_group(opt->get_group()) && opt->count() > 0) {
        fail_with("search: --options cannot be combined with " + opt->get_name());
        return false;
      }
    }
  }
  return true;
}

// Adds the name globs of every -t TYPE to the include globs and of every
// -T TYPE to the exclude globs. False, with a message, for an unknown type.
bool add_type_globs(search_request &req) {
  for (auto [names, globs] : {std::pair{&req.types, &req.flags.include_globs},
                              std::pair{&req.types_not, &req.flags.exclude_globs}}) {
    for (const std::string &name : *names) {
      const file_type *type = find_file_type(name);
      if (type == nullptr) {
        fail_with("search: unknown file type '" + name + "' (see quenmar-grep search --type-list)");
        return false;
      }
      for (std::string_view g : type->globs) globs->emplace_back(g);
    }
  }
  return true;
}

// `text` as a pattern of the standard syntax that matches it literally.
std::string escaped_literal(const std::string &text) {
  std::string out;
  for (const char c : text) {
    if (std::ispunct(static_cast<unsigned char>(c)) != 0) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The pattern of the -e flags: one is taken as it is, a regular expression
// unless -F, as grep's and rg's -e is; several become one alternation that
// matches where any of them does (with -F, of their escaped texts).
void join_patterns(search_request &req) {
  if (req.pattern_flags.size() == 1) {
    req.pattern = req.pattern_flags.front();
    req.flags.regex = !req.fixed;
    return;
  }
  req.pattern.clear();
  const bool dialect = req.flags.dialect;
  for (const std::string &p : req.pattern_flags) {
    if (!req.pattern.empty()) req.pattern += '|';
    if (dialect) {
      req.pattern += p;  // the dialect's '|' splits the whole pattern
    } else {
      req.pattern += "(?:" + (req.fixed ? escaped_literal(p) : p) + ")";
    }
  }
  req.fixed = false;
  req.flags.regex = true;
}

// Settles the pattern, the paths and the flags that several options feed.
// False, with a message printed, for a command that names no pattern.
bool settle_request(search_request &req, const CLI::App &cmd) {
  if (!flags_agree(req, cmd) || !add_type_globs(req)) return false;
  if (req.list_files) {
    // --files takes no pattern: every positional is a PATH.
    if (cmd.count("PATTERN") > 0) req.paths.insert(req.paths.begin(), req.pattern);
    if (req.paths.empty()) req.paths.emplace_back(".");
    return true;
  }
  if (!req.pattern_flags.empty()) {
    if (cmd.count("PATTERN") > 0) req.paths.insert(req.paths.begin(), req.pattern);
    join_patterns(req);
  } else if (cmd.count("PATTERN") == 0) {
    fail_with("search: a PATTERN is required (or -e PATTERN); see quenmar-grep search --help");
    return false;
  }
  // Without a PATH, standard input is searched when it brings something (a
  // pipe or a file), as grep and ripgrep do; the current folder otherwise.
  if (req.paths.empty()) req.paths.emplace_back(stdin_has_input() ? "-" : ".");
  if (std::count(req.paths.begin(), req.paths.end(), "-") > 0) {
    std::string error;
    if (!read_input("-", req.stdin_text, error)) {
      fail_with(error);
      return false;
    }
  }
  if (req.flags.dialect) req.flags.regex = true;
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
  if (req.count || req.only_matching) req.flags.context_lines.reset();
  return true;
}

// The hints for a regex pattern; whether it is one, the flags or the options
// document given as it is tell.
void print_hints(const search_request &req) {
  const display_settings given = read_display_settings(req.options_json);
  const bool dialect = req.options_json.empty() ? req.flags.regex && req.flags.dialect
                                                : given.regex && !given.standard;
  if (!dialect) return;
  for (const std::string &hint : dialect_hints(req.pattern)) {
    std::fprintf(stderr, "quenmar-grep: hint: %s\n", hint.c_str());
  }
  if (req.flags.whole_word) {
    std::fprintf(stderr,
                 "quenmar-grep: hint: -w applies to literal searches; --dialect ignores it\n");
  }
}

outcome search_one(const std::string &root, const search_request &req, const std::string &options,
                   bool colour, human_printer &printer) {
  if (req.json) return search_document(root, req, options);
  int count = 0;
  if (req.stream) {
    count = search_path(root, req, options, print_match_object, nullptr);
  } else if (req.files_with_matches || req.count) {
    file_tally tally{colour, req.count, {}, 0};
    count = search_path(root, req, options, tally_match, &tally);
    print_tally(tally);
  } else {
    printer.settings = read_display_settings(options);
    count = search_path(root, req, options, print_human, &printer);
  }
  std::fflush(stdout);
  return outcome_of_search(count > 0);
}

// Stops a search at its first match.
int stop_at_first(const char *, void *) { return 1; }

// -q: searches the PATHs until one matches; prints nothing but errors.
int search_quietly(const search_request &req, bool colour) {
  bool failed = false;
  for (const std::string &root : req.paths) {
    const std::string options = options_for(req, root, colour);
    if (options.empty()) return fail_with("Out of memory");
    const int count = search_path(root, req, options, stop_at_first, nullptr);
    if (count > 0) return kExitMatch;
    if (count < 0 || grep_last_status() != GREP_OK) {
      fail();
      failed = true;
    }
  }
  return failed ? kExitError : kExitNoMatch;
}

// --files: prints the files a search of each PATH would read, in walk order.
int list_files(const search_request &req, bool colour) {
  bool listed = false, failed = false;
  for (const std::string &root : req.paths) {
    const std::string options = options_for(req, root, colour);
    if (options.empty()) return fail_with("Out of memory");
    doc_ptr doc = parse_json(grep_list_files_json(root.c_str(), options.c_str()));
    yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    size_t idx, max;
    yyjson_val *file;
    yyjson_arr_foreach(yyjson_obj_get(top, "files"), idx, max, file) {
      const char *path = yyjson_get_str(file);
      if (path == nullptr) continue;
      print_path(stdout, colour, path);
      std::fputc('\n', stdout);
      listed = true;
    }
    if (grep_last_status() != GREP_OK) {
      fail();
      failed = true;
    }
  }
  std::fflush(stdout);
  if (failed) return kExitError;
  return listed ? kExitMatch : kExitNoMatch;
}

}  // namespace

CLI::App *add_search_command(CLI::App &app, search_request &req) {
  CLI::App *cmd = app.add_subcommand(
      "search",
      "Search the PATHs (files or directory trees; the current folder when none) for PATTERN "
      "(the command word may be left out: quenmar-grep PATTERN [PATH...])");
  cmd->allow_extras();  // what is left is reported with the nearest flag
  cmd->add_option("PATTERN", req.pattern,
                  "Literal text (a regular expression with -E); -e PATTERN for one that starts "
                  "with '-'");
  cmd->add_option("PATH", req.paths, "Files or folders to search, one after another (default: .)");

  cmd->add_flag("-F,--fixed-strings", req.fixed, "PATTERN is literal text (the default)")
      ->group(kPatternGroup);
  cmd->add_flag("-E,--regex", req.flags.regex,
                "PATTERN is a regular expression in the standard syntax (docs/regex.md)")
      ->group(kPatternGroup);
  cmd->add_flag("--dialect", req.flags.dialect, "PATTERN is in the library's own pattern dialect")
      ->group(kPatternGroup);
  cmd->add_option("-e,--pattern", req.pattern_flags,
                  "A pattern, a regular expression unless -F; repeatable: any of them matches "
                  "(then every positional is a PATH)")
      ->type_name("PATTERN")
      ->allow_extra_args(false)
      ->group(kPatternGroup);
  cmd->add_flag("-i,--ignore-case", req.flags.ignore_case, "Fold ASCII letter case")
      ->group(kPatternGroup);
  cmd->add_flag("-w,--word-regexp", req.flags.whole_word, "Only matches that are whole words")
      ->group(kPatternGroup);

  cmd->add_option("-g,--glob", req.flags.path_globs,
                  "Search only paths below the root that match GLOB (git's ignore syntax: **, "
                  "{a,b}; !GLOB excludes); repeatable, the last match decides")
      ->type_name("GLOB")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_option("-t,--type", req.types, "Search only files of TYPE (see --type-list)")
      ->type_name("TYPE")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_option("-T,--type-not", req.types_not, "Skip files of TYPE")
      ->type_name("TYPE")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_option("--include", req.flags.include_globs,
                  "Search only files whose name matches GLOB (repeatable)")
      ->type_name("GLOB")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_option("--exclude", req.flags.exclude_globs,
                  "Skip files whose name matches GLOB (repeatable)")
      ->type_name("GLOB")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_option("--exclude-dir", req.flags.exclude_dirs,
                  "Do not enter folders whose name matches GLOB (repeatable)")
      ->type_name("GLOB")
      ->allow_extra_args(false)
      ->group(kFilesGroup);
  cmd->add_flag("--hidden", req.flags.hidden, "Search files and folders whose name starts with '.'")
      ->group(kFilesGroup);
  cmd->add_flag("--no-skip-dirs", req.flags.no_skip_dirs,
                "Enter node_modules, build, target, bin, obj, dist and __pycache__ too")
      ->group(kFilesGroup);
  cmd->add_flag("--no-follow", req.flags.no_follow, "Do not follow links met in the tree")
      ->group(kFilesGroup);
  cmd->add_flag("--gitignore", req.gitignore,
                "Honour .gitignore, .ignore and .git/info/exclude (the default inside a git work "
                "tree)")
      ->group(kFilesGroup);
  cmd->add_flag("--no-gitignore", req.no_gitignore, "Search what ignore files name too")
      ->group(kFilesGroup);

  cmd->add_option("-m,--max-count", req.max_per_file, "Take at most N matches from each file")
      ->type_name("N")
      ->check(CLI::PositiveNumber)
      ->group(kLimitsGroup);
  cmd->add_option("--max-total", req.flags.max_results, "Stop the search after N matches")
      ->type_name("N")
      ->check(CLI::PositiveNumber)
      ->group(kLimitsGroup);
  cmd->add_option("--timeout", req.flags.timeout_ms,
                  "Stop the search after MS milliseconds, keeping what it found")
      ->type_name("MS")
      ->group(kLimitsGroup);
  cmd->add_option("-j,--threads", req.flags.threads,
                  "Read and scan files on N threads (the same results, in the same order)")
      ->type_name("N")
      ->check(CLI::PositiveNumber)
      ->group(kLimitsGroup);

  cmd->add_option("-C,--context", req.context, "Show N lines before and after each match")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber)
      ->group(kContextGroup);
  cmd->add_option("-A,--after-context", req.after, "Show N lines after each match")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber)
      ->group(kContextGroup);
  cmd->add_option("-B,--before-context", req.before, "Show N lines before each match")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber)
      ->group(kContextGroup);

  cmd->add_flag("-l,--files-with-matches", req.files_with_matches,
                "Print only the files that match")
      ->group(kOutputGroup);
  cmd->add_flag("-c,--count", req.count, "Print path:count for each file that matches")
      ->group(kOutputGroup);
  cmd->add_flag("-o,--only-matching", req.only_matching,
                "Print each match of a line on its own, not the whole line")
      ->group(kOutputGroup);
  cmd->add_flag("-q,--quiet", req.quiet, "Print nothing: the exit status says whether it matched")
      ->group(kOutputGroup);
  cmd->add_flag("--files", req.list_files,
                "Print the files a search would read, in walk order; takes no PATTERN")
      ->group(kOutputGroup);
  cmd->add_flag("--type-list", req.type_list, "Print the file types of -t and -T, and stop")
      ->group(kOutputGroup);
  cmd->add_flag("--json", req.json, "Print the search document of each PATH")->group(kOutputGroup);
  cmd->add_flag("--stream", req.stream, "Print each match object as it is found (JSON Lines)")
      ->group(kOutputGroup);
  cmd->add_option("--color,--colour", req.colour, "Colour the output: auto, always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN")
      ->group(kOutputGroup);
  cmd->add_flag("-n,--line-number", req.line_number, "Accepted: line numbers are always shown")
      ->group(kOutputGroup);
  cmd->add_flag("-H,--with-filename", req.with_filename, "Accepted: file names are always shown")
      ->group(kOutputGroup);

  cmd->add_option("--options", req.options_json,
                  "Pass the options document JSON as it is (instead of the pattern, file, limit "
                  "and context flags)")
      ->type_name("JSON")
      ->group(kDocumentGroup);
  cmd->add_flag("--show-options", req.show_options,
                "Print the options document this command would pass, and stop")
      ->group(kDocumentGroup);
  return cmd;
}

int run_search(search_request &req, const CLI::App &cmd) {
  if (!no_leftovers(cmd)) return kExitError;
  if (req.type_list) {
    print_file_types();
    return kExitMatch;
  }
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
  if (req.list_files) return list_files(req, colour);
  print_hints(req);
  if (req.quiet) return search_quietly(req, colour);

  human_printer printer;
  printer_init(printer, stdout, colour, display_settings{}, req.pattern, req.before.value_or(-1),
               req.after.value_or(-1), req.only_matching);
  bool matched = false, failed = false;
  for (const std::string &root : req.paths) {
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
