#include "search_command.h"

#include "console.h"
#include "dialect_hints.h"
#include "file_types.h"
#include "flag_errors.h"
#include "input.h"
#include "json_lines.h"
#include "json_lines_files.h"
#include "messages.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace qg_cli {

namespace {

bool use_colour(const std::string &when) {
  if (when == "always") return true;
  if (when == "never") return false;
  const char *no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && no_colour[0] != '\0') return false;
  return is_terminal(stdout);
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

// The notice a search of `root` gives when its walk met folders deeper than
// the library walks; true when there was one.
void notice_depth_limit(yyjson_val *summary, const std::string &root) {
  if (!yyjson_get_bool(yyjson_obj_get(summary, "depth_limited"))) return;
  std::fprintf(stderr,
               "quenmar-grep: notice: '%s' holds folders deeper than the 64 levels searched; "
               "name a deeper folder to search them\n",
               root.c_str());
}

// What --stats sums up over the PATHs.
struct search_stats {
  int64_t matched_lines = 0;
  int64_t files_matched = 0;
  int64_t files_searched = 0;
  int64_t duration_ms = 0;

  void add(yyjson_val *summary) {
    matched_lines += yyjson_get_sint(yyjson_obj_get(summary, "total_matches"));
    files_matched += yyjson_get_sint(yyjson_obj_get(summary, "files_matched"));
    files_searched += yyjson_get_sint(yyjson_obj_get(summary, "files_searched"));
    duration_ms += yyjson_get_sint(yyjson_obj_get(summary, "duration_ms"));
  }

  // Printed after the search's output, as ripgrep's --stats prints them.
  void print() const {
    std::printf(
        "\n%lld matched lines\n%lld files contained matches\n%lld files searched\n"
        "%.6f seconds spent searching\n",
        static_cast<long long>(matched_lines), static_cast<long long>(files_matched),
        static_cast<long long>(files_searched), static_cast<double>(duration_ms) / 1000);
  }
};

// The lines the library prints, written out as they come.
int write_lines(const char *text, size_t length, void *) {
  std::fwrite(text, 1, length, stdout);
  return 0;
}

// Prints the search of one PATH (or of standard input, "-", searched as one
// file) as the options' printer keys say.
outcome print_search(const std::string &root, const search_request &req, const std::string &options,
                     search_stats &stats) {
  const bool input = root == "-";
  const char *summary =
      grep_search_lines(input ? kStdinName : root.c_str(), input ? req.stdin_text.data() : nullptr,
                        input ? req.stdin_text.size() : 0, req.pattern.c_str(), options.c_str(),
                        write_lines, nullptr);
  std::fflush(stdout);
  doc_ptr doc = parse_json(summary);
  yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  notice_depth_limit(top, root);
  stats.add(top);
  return outcome_of_search(yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0);
}

// The library's search document of one PATH (standard input for "-").
const char *document_of(const std::string &root, const search_request &req,
                        const std::string &options) {
  return root == "-" ? grep_search_text(kStdinName, req.stdin_text.data(), req.stdin_text.size(),
                                        req.pattern.c_str(), options.c_str())
                     : grep_search_json(root.c_str(), req.pattern.c_str(), options.c_str());
}

// --document: prints the search document of one PATH on a line of its own.
outcome search_document(const std::string &root, const search_request &req,
                        const std::string &options) {
  const char *text = document_of(root, req, options);
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  doc_ptr doc = parse_json(text);
  yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  notice_depth_limit(top, root);
  return outcome_of_search(yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0);
}

// --json: prints the messages of the files of one PATH that matched and adds
// their counts to `totals`; a file that cannot be read back fails the PATH.
outcome search_json_lines(const std::string &root, const search_request &req,
                          const std::string &options, message_stats &totals) {
  document_source src = source_for(root, options);
  src.stdin_text = req.stdin_text;
  src.below_root = req.path_defaulted;
  doc_ptr doc = parse_json(document_of(root, req, options));
  yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  const bool searched = grep_last_status() == GREP_OK;
  const bool printed = print_file_messages(top, src, totals);
  std::fflush(stdout);
  notice_depth_limit(top, root);
  if (!searched) {
    fail();
    return outcome::failed;
  }
  if (!printed) return outcome::failed;
  return yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0 ? outcome::matched
                                                                   : outcome::nothing;
}

// What the line printer is to print for the output flags; "" for the
// matched lines, its default.
const char *print_mode(const search_request &req) {
  if (req.stream) return "json";
  if (req.list_files) return "paths";
  if (req.vimgrep) return "vimgrep";
  if (req.quiet) return "files";
  if (req.files_with_matches) return "files";
  if (req.count) return "count";
  if (req.only_matching) return "matches";
  return "";
}

// Whether the paths' lines print without the path: -I, or a single PATH that
// is a file (or standard input) unless -H, as ripgrep prints them.
bool lines_without_path(const search_request &req) {
  if (req.flags.no_filename) return true;
  if (req.with_filename || req.paths.size() != 1) return false;
  std::error_code ec;
  return req.paths.front() == "-" ||
         std::filesystem::is_regular_file(native_path(req.paths.front()), ec);
}

// The walk ripgrep users expect, unless a flag says otherwise: links left
// alone, no fixed list of skipped folder names, every processor at work,
// and the ignore files of a git work tree inside one (.ignore alone outside
// one).
void use_ripgrep_walk(const search_request &req, const std::string &root, search_flags &flags) {
  flags.no_follow = !req.follow;
  flags.no_skip_dirs = !req.skip_dirs;
  if (!flags.threads) {
    const unsigned processors = std::thread::hardware_concurrency();
    if (processors > 1) flags.threads = static_cast<int>(std::min(processors, 64u));
  }
  const bool git =
      req.gitignore || (!req.no_gitignore && root != "-" && inside_git_work_tree(root));
  flags.gitignore = git;
  flags.dot_ignore = !git && !req.no_gitignore;
}

// The options document for one path: the flags as given, with the walk
// decided for this path unless a flag said it, and the printer's keys for
// the output flags (also in a document passed as it is); `continued` when an
// earlier PATH printed lines that this one's must be parted from.
std::string options_for(const search_request &req, const std::string &root, bool colour,
                        bool continued = false) {
  search_flags flags = req.flags;
  if (req.json) {
    flags.submatches = true;  // each match of a line, for its "submatches"
  } else if (!req.document) {
    flags.print = print_mode(req);
    flags.colour = colour;
    flags.continued = continued;
    flags.relative_paths = req.path_defaulted;
    flags.no_filename = lines_without_path(req);
  }
  if (!req.options_json.empty()) return with_printer_keys(req.options_json, flags);
  use_ripgrep_walk(req, root, flags);
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
  for (const char *form :
       {"-l", "-c", "--json", "--document", "--stream", "-q", "--files", "--vimgrep"}) {
    forms += given(form);
  }
  if (forms > 1) {
    fail_with(
        "search: choose one of -l, -c, --json, --document, --stream, -q, --files and "
        "--vimgrep");
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

// The globs --type-add gives the type `name` ("NAME:GLOB" each), in the
// order given; false when a --type-add is not of that form.
bool added_type_globs(const search_request &req, const std::string &name,
                      std::vector<std::string> &globs) {
  for (const std::string &added : req.type_adds) {
    const size_t colon = added.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == added.size()) {
      fail_with("search: --type-add takes NAME:GLOB, not '" + added + "'");
      return false;
    }
    if (added.compare(0, colon, name) == 0 && colon == name.size()) {
      globs.push_back(added.substr(colon + 1));
    }
  }
  return true;
}

// Adds the name globs of every -t TYPE to the include globs and of every
// -T TYPE to the exclude globs: the table's and those of --type-add. False,
// with a message, for an unknown type.
bool add_type_globs(search_request &req) {
  for (auto [names, globs] : {std::pair{&req.types, &req.flags.include_globs},
                              std::pair{&req.types_not, &req.flags.exclude_globs}}) {
    for (const std::string &name : *names) {
      const file_type *type = find_file_type(name);
      const size_t before = globs->size();
      if (type != nullptr) {
        for (std::string_view g : type->globs) globs->emplace_back(g);
      }
      if (!added_type_globs(req, name, *globs)) return false;
      if (globs->size() == before) {
        fail_with("search: unknown file type '" + name + "' (see quenmar-grep search --type-list)");
        return false;
      }
    }
  }
  return true;
}

// Adds a pattern for each line of every -f FILE ("-": standard input), its
// line ending left out. False, with a message, when one cannot be read.
bool read_pattern_files(search_request &req) {
  for (const std::string &name : req.pattern_files) {
    std::string text, error;
    if (!read_input(name, text, error)) {
      fail_with(error);
      return false;
    }
    for (size_t at = 0; at < text.size();) {
      const size_t end = std::min(text.find('\n', at), text.size());
      size_t stop = end;
      if (stop > at && text[stop - 1] == '\r') --stop;
      req.pattern_flags.push_back(text.substr(at, stop - at));
      at = end + 1;
    }
  }
  return true;
}

// Whether `pattern` holds an upper-case letter that stands for itself (not
// one that names an escape, as in \W or \S): with `unicode`, any letter of
// Unicode's categories Lu and Lt, which the library itself looks for;
// otherwise an ASCII one.
bool has_literal_upper_case(const std::string &pattern, bool unicode) {
  std::string letters;  // the pattern without its escapes
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '\\') {
      letters.push_back(pattern[i]);
      continue;
    }
    ++i;  // the escaped character, all its bytes
    while (i + 1 < pattern.size() && (static_cast<unsigned char>(pattern[i + 1]) & 0xC0) == 0x80)
      ++i;
  }
  if (!unicode) {
    return std::any_of(letters.begin(), letters.end(),
                       [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; });
  }
  const char *doc = grep_search_text("pattern", letters.data(), letters.size(), "\\p{Lu}|\\p{Lt}",
                                     R"({"syntax":"standard","max_results":1})");
  doc_ptr parsed = parse_json(doc != nullptr ? doc : "");
  yyjson_val *top = parsed ? yyjson_doc_get_root(parsed.get()) : nullptr;
  return yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0;
}

// -i, -s and -S, the last given deciding as with ripgrep: -i folds case, -s
// matches it, -S folds it unless the pattern holds an upper-case letter.
void settle_case(search_request &req, const CLI::App &cmd) {
  char last = 0;
  for (const CLI::Option *opt : cmd.parse_order()) {
    for (const char *name : {"i", "s", "S"}) {
      if (opt->check_sname(name)) last = name[0];
    }
  }
  if (last == 's') req.flags.ignore_case = false;
  if (last == 'S') {
    bool upper = false;
    for (const std::string &p :
         req.pattern_flags.empty() ? std::vector{req.pattern} : req.pattern_flags) {
      upper = upper || has_literal_upper_case(p, req.flags.unicode);
    }
    req.flags.ignore_case = !upper;
  }
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
  if (req.pattern_flags.empty()) {
    // An empty -f FILE: the empty literal, which matches no line.
    req.pattern.clear();
    req.flags.regex = req.flags.dialect = false;
    return;
  }
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
  // -u: no ignore files; -uu: hidden entries too; -uuu: as -uu (binary files
  // are always passed over).
  if (req.unrestricted >= 1) req.no_gitignore = true;
  if (req.unrestricted >= 2) req.flags.hidden = true;
  if (!req.sort_reversed.empty()) {
    req.flags.sort = req.sort_reversed;
    req.flags.sort_reverse = true;
  }
  if (req.flags.sort == "none") {
    req.flags.sort.clear();
    req.flags.sort_reverse = false;
  }
  if (req.list_files) {
    // --files takes no pattern: every positional is a PATH.
    if (cmd.count("PATTERN") > 0) req.paths.insert(req.paths.begin(), req.pattern);
    req.path_defaulted = req.paths.empty();
    if (req.paths.empty()) req.paths.emplace_back(".");
    return true;
  }
  if (!req.pattern_files.empty() && !read_pattern_files(req)) return false;
  if (!req.pattern_files.empty() || !req.pattern_flags.empty()) {
    if (cmd.count("PATTERN") > 0) req.paths.insert(req.paths.begin(), req.pattern);
    join_patterns(req);
  } else if (cmd.count("PATTERN") == 0) {
    fail_with("search: a PATTERN is required (or -e PATTERN); see quenmar-grep search --help");
    return false;
  }
  req.flags.unicode = !req.no_unicode;  // patterns as ripgrep reads them, unless asked not to
  settle_case(req, cmd);
  // Without a PATH, standard input is searched when it brings something (a
  // pipe or a file), as grep and ripgrep do; the current folder otherwise,
  // its files printed below it.
  if (req.paths.empty()) {
    const bool from_input = stdin_has_input() && req.pattern_files != std::vector<std::string>{"-"};
    req.paths.emplace_back(from_input ? "-" : ".");
    req.path_defaulted = !from_input;
  }
  if (std::count(req.paths.begin(), req.paths.end(), "-") > 0) {
    std::string error;
    if (!read_input("-", req.stdin_text, error)) {
      fail_with(error);
      return false;
    }
  }
  if (req.flags.dialect) req.flags.regex = true;
  // -C gives both sides; -B and -A each side, over -C.
  if (req.context.value_or(0) > 0) req.flags.context_lines = req.context;
  req.flags.before_context = req.before;
  req.flags.after_context = req.after;
  req.flags.max_per_file = req.max_per_file;
  // Context is not printed with a file's name, its count or its matches alone.
  if (req.files_with_matches || req.count || req.only_matching || req.quiet) {
    req.flags.context_lines.reset();
    req.flags.before_context.reset();
    req.flags.after_context.reset();
  }
  return true;
}

// The hints for a pattern of the library's dialect; whether it is one, the
// library says of the options document this command passes.
void print_hints(const search_request &req, const std::string &options) {
  doc_ptr doc = parse_json(grep_options_read_json(options.c_str()));
  yyjson_val *used = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  const bool dialect = yyjson_get_bool(yyjson_obj_get(used, "regex")) &&
                       yyjson_equals_str(yyjson_obj_get(used, "syntax"), "dialect");
  if (!dialect) return;
  for (const std::string &hint : dialect_hints(req.pattern)) {
    std::fprintf(stderr, "quenmar-grep: hint: %s\n", hint.c_str());
  }
  if (yyjson_get_bool(yyjson_obj_get(used, "whole_word"))) {
    std::fprintf(stderr,
                 "quenmar-grep: hint: -w applies to literal searches; --dialect ignores it\n");
  }
}

// Searches one PATH and prints it in the form the output flags chose.
outcome search_one(const std::string &root, const search_request &req, const std::string &options,
                   search_stats &stats, message_stats &totals) {
  if (req.json) return search_json_lines(root, req, options, totals);
  if (req.document) return search_document(root, req, options);
  return print_search(root, req, options, stats);
}

// Stops a search at the first file it prints (an empty piece only says the
// search is still at work).
int stop_at_first(const char *, size_t length, void *) { return length > 0 ? 1 : 0; }

// -q: searches the PATHs until one matches; prints nothing but errors.
int search_quietly(const search_request &req, bool colour) {
  bool failed = false;
  for (const std::string &root : req.paths) {
    const std::string options = options_for(req, root, colour);
    if (options.empty()) return fail_with("Out of memory");
    const bool input = root == "-";
    doc_ptr doc = parse_json(grep_search_lines(
        input ? kStdinName : root.c_str(), input ? req.stdin_text.data() : nullptr,
        input ? req.stdin_text.size() : 0, req.pattern.c_str(), options.c_str(), stop_at_first,
        nullptr));
    yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (yyjson_get_sint(yyjson_obj_get(top, "total_matches")) > 0) return kExitMatch;
    if (grep_last_status() != GREP_OK) {
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
    doc_ptr doc = parse_json(
        grep_search_lines(root.c_str(), nullptr, 0, "", options.c_str(), write_lines, nullptr));
    yyjson_val *top = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    listed = listed || yyjson_get_sint(yyjson_obj_get(top, "files_searched")) > 0;
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
  add_search_flags(cmd, req);
  return cmd;
}

void add_search_flags(CLI::App *cmd, search_request &req) {
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
  cmd->add_option("-f,--file", req.pattern_files,
                  "Read patterns from FILE, one a line ('-': standard input); any of them "
                  "matches (then every positional is a PATH)")
      ->type_name("FILE")
      ->allow_extra_args(false)
      ->group(kPatternGroup);
  cmd->add_flag("-i,--ignore-case", req.flags.ignore_case,
                "Fold letter case (Unicode's simple case folding; ASCII's with --no-unicode)")
      ->group(kPatternGroup);
  cmd->add_flag("-S,--smart-case", req.smart_case,
                "Fold case unless the pattern holds an upper-case letter")
      ->group(kPatternGroup);
  cmd->add_flag("-s,--case-sensitive", req.case_sensitive, "Match case (over -i and -S)")
      ->group(kPatternGroup);
  cmd->add_flag("-w,--word-regexp", req.flags.whole_word, "Only matches that are whole words")
      ->group(kPatternGroup);
  cmd->add_flag("-x,--line-regexp", req.flags.whole_line, "Only matches that are the whole line")
      ->group(kPatternGroup);
  cmd->add_flag("--no-unicode", req.no_unicode,
                "\\w, \\d, \\s, \\b, -w and -i read ASCII alone (by default they follow Unicode)")
      ->group(kPatternGroup);
  cmd->add_flag("-v,--invert-match", req.flags.invert_match, "Print the lines that do not match")
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
  cmd->add_option("--type-add", req.type_adds,
                  "Give the type NAME (new, or one of the table) the glob after ':' "
                  "(NAME:GLOB); repeatable")
      ->type_name("TYPESPEC")
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
  cmd->add_flag("--skip-dirs", req.skip_dirs,
                "Do not enter node_modules, build, target, bin, obj, dist and __pycache__")
      ->group(kFilesGroup);
  cmd->add_flag("--no-skip-dirs", req.flags.no_skip_dirs,
                "Enter every folder, whatever its name (the default)")
      ->group(kFilesGroup);
  cmd->add_flag("-L,--follow", req.follow, "Follow links met in the tree")->group(kFilesGroup);
  cmd->add_flag("--no-follow", req.flags.no_follow,
                "Leave links met in the tree alone (the default)")
      ->group(kFilesGroup);
  cmd->add_option("-d,--max-depth", req.flags.max_depth,
                  "Descend at most N levels below each PATH (1: its own entries)")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber)
      ->group(kFilesGroup);
  cmd->add_option("--sort", req.flags.sort,
                  "Walk each folder's entries by path or modification time (the same output on "
                  "any number of threads): path, modified or none")
      ->check(CLI::IsMember({"path", "modified", "none"}))
      ->type_name("SORTBY")
      ->group(kFilesGroup);
  cmd->add_option("--sortr", req.sort_reversed, "As --sort, in the reverse order")
      ->check(CLI::IsMember({"path", "modified", "none"}))
      ->type_name("SORTBY")
      ->group(kFilesGroup);
  cmd->add_flag("--gitignore", req.gitignore,
                "Honour .gitignore, .ignore and .git/info/exclude (the default inside a git work "
                "tree; outside one, .ignore alone)")
      ->group(kFilesGroup);
  cmd->add_flag("--no-ignore,--no-gitignore", req.no_gitignore, "Search what ignore files name too")
      ->group(kFilesGroup);
  cmd->add_flag("-u,--unrestricted", req.unrestricted,
                "-u: as --no-ignore; -uu: and --hidden; -uuu: as -uu")
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
  cmd->add_option("-r,--replace", req.flags.replacement,
                  "Print each match replaced by TEXT ($0, $1, ${name}, $$); writes nothing "
                  "(the sub command writes)")
      ->type_name("TEXT")
      ->group(kOutputGroup);
  cmd->add_flag("-q,--quiet", req.quiet, "Print nothing: the exit status says whether it matched")
      ->group(kOutputGroup);
  cmd->add_flag("--files", req.list_files,
                "Print the files a search would read, in walk order; takes no PATTERN")
      ->group(kOutputGroup);
  cmd->add_flag("--type-list", req.type_list, "Print the file types of -t and -T, and stop")
      ->group(kOutputGroup);
  cmd->add_flag("--json", req.json,
                "Print ripgrep's JSON Lines: begin, match, context and end messages for each file "
                "that matches, then a summary")
      ->group(kOutputGroup);
  cmd->add_flag("--document", req.document, "Print the library's search document of each PATH")
      ->group(kOutputGroup);
  cmd->add_flag("--stream", req.stream, "Print each match object as it is found (JSON Lines)")
      ->group(kOutputGroup);
  cmd->add_option("--color,--colour", req.colour, "Colour the output: auto, always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN")
      ->group(kOutputGroup);
  cmd->add_flag("--vimgrep", req.vimgrep,
                "Print path:line:col:line once for each match, as ripgrep's --vimgrep does")
      ->group(kOutputGroup);
  cmd->add_flag("-n,--line-number", req.line_number, "Accepted: line numbers are always shown")
      ->group(kOutputGroup);
  cmd->add_flag("--column", req.column, "Accepted: columns are always shown")->group(kOutputGroup);
  cmd->add_flag("-H,--with-filename", req.with_filename,
                "Print each line's path, even when a single file is searched")
      ->group(kOutputGroup);
  cmd->add_flag("-I,--no-filename", req.flags.no_filename, "Print lines without their path")
      ->group(kOutputGroup);
  cmd->add_flag("-0,--null", req.flags.null_after_path,
                "Print a NUL byte after each path, not ':' or a line end")
      ->group(kOutputGroup);
  cmd->add_flag("--stats", req.stats, "Print a summary of the search after its output")
      ->group(kOutputGroup);

  cmd->add_option("--options", req.options_json,
                  "Pass the options document JSON as it is (instead of the pattern, file, limit "
                  "and context flags)")
      ->type_name("JSON")
      ->group(kDocumentGroup);
  cmd->add_flag("--show-options", req.show_options,
                "Print the options document this command would pass, and stop")
      ->group(kDocumentGroup);
}

bool settle_search_request(search_request &req, const CLI::App &cmd) {
  return settle_request(req, cmd);
}

std::string walk_options_for(const search_request &req, const std::string &root) {
  search_flags flags = req.flags;
  use_ripgrep_walk(req, root, flags);
  return build_options_json(flags);
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
  if (req.quiet) return search_quietly(req, colour);

  bool matched = false, failed = false, printed = false;
  search_stats stats;
  message_stats totals;
  const auto started = std::chrono::steady_clock::now();
  for (const std::string &root : req.paths) {
    const std::string options = options_for(req, root, colour, printed);
    if (options.empty()) return fail_with("Out of memory");
    if (&root == &req.paths.front()) print_hints(req, options);
    const outcome o = search_one(root, req, options, stats, totals);
    matched = matched || o == outcome::matched;
    failed = failed || o == outcome::failed;
    printed = printed || o == outcome::matched;
  }
  if (req.json) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    std::printf("%s\n",
                summary_message(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count(), totals)
                    .c_str());
  }
  if (req.stats && !req.json && !req.document) stats.print();
  std::fflush(stdout);
  if (failed) return kExitError;
  return matched ? kExitMatch : kExitNoMatch;
}

}  // namespace qg_cli
