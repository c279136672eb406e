#include "sub_command.h"

#include "edit_commands.h"
#include "flag_errors.h"
#include "messages.h"

#include <quenmar_grep.h>

#include <yyjson.h>

#include <cstdio>
#include <string>

namespace qg_cli {

namespace {

// The help groups of the search's flags that only shape what a search
// prints; sub prints what it changed, so they are refused, not ignored.
bool is_output_group(const std::string &group) {
  return group == "Output" || group == "Context" || group == "Options document";
}

// False, with a message, when a flag that sub does not take was given.
bool only_sub_flags(const CLI::App &cmd) {
  for (const CLI::Option *option : cmd.get_options()) {
    if (option->count() == 0 || !is_output_group(option->get_group())) continue;
    if (option->check_name("-q")) continue;
    fail_with("sub: " + option->get_name() + " is a flag of search; see quenmar-grep sub --help");
    return false;
  }
  if (cmd.count("-e") > 0 || cmd.count("-f") > 0) {
    fail_with("sub: PATTERN is its first word; -e and -f are flags of search");
    return false;
  }
  return true;
}

// Prints what the report of one PATH says: the diffs of a dry run, or each
// file written with its count; each failed file on standard error. True
// when a file failed.
bool print_report(yyjson_val *report, const sub_request &req, bool dry_run) {
  size_t idx, max;
  yyjson_val *entry;
  yyjson_arr_foreach(yyjson_obj_get(report, "files"), idx, max, entry) {
    if (req.quiet) break;
    if (dry_run) {
      print_diff_of(entry);
      continue;
    }
    const int64_t n = yyjson_get_sint(yyjson_obj_get(entry, "replacements"));
    std::printf("%s: %lld replacement%s\n", yyjson_get_str(yyjson_obj_get(entry, "file")),
                static_cast<long long>(n), n == 1 ? "" : "s");
  }
  std::fflush(stdout);
  yyjson_arr_foreach(yyjson_obj_get(report, "failures"), idx, max, entry) {
    const char *file = yyjson_get_str(yyjson_obj_get(entry, "file"));
    fail_with(std::string(file != nullptr ? file : "") + ": " +
              with_status(yyjson_get_str(yyjson_obj_get(entry, "message")),
                          yyjson_get_str(yyjson_obj_get(entry, "status"))));
  }
  return yyjson_arr_size(yyjson_obj_get(report, "failures")) > 0;
}

}  // namespace

CLI::App *add_sub_command(CLI::App &app, sub_request &req) {
  CLI::App *cmd = app.add_subcommand(
      "sub",
      "Replace every match of PATTERN by REPLACEMENT in the files below the PATHs (the current "
      "folder when none), as search with the same flags finds them; --dry-run shows the diffs");
  cmd->allow_extras();
  cmd->add_option("PATTERN", req.search.pattern, "Literal text (a regular expression with -E)")
      ->required();
  cmd->add_option("REPLACEMENT", req.replacement,
                  "The text of each match: $0 the match, $1..$99 and ${N} a group, ${name} a "
                  "named group, $$ a dollar (only $$ and $0 for literal text)")
      ->required();
  cmd->add_option("PATH", req.search.paths, "Files or folders to edit (default: .)");
  add_search_flags(cmd, req.search);
  cmd->add_flag("--dry-run", req.search.flags.dry_run,
                "Print the unified diff of each file that would change; write nothing");
  cmd->add_flag("--preserve-case", req.search.flags.preserve_case,
                "Give a REPLACEMENT of plain words the case of each match (foo_bar, FOO_BAR, "
                "FooBar, fooBar)");
  return cmd;
}

int run_sub(sub_request &req, const CLI::App &cmd) {
  if (!no_leftovers(cmd) || !only_sub_flags(cmd)) return kExitError;
  req.quiet = cmd.count("-q") > 0;
  search_request &search = req.search;
  // Standard input cannot be written back: the default is the current folder.
  if (search.paths.empty()) search.paths.emplace_back(".");
  for (const std::string &path : search.paths) {
    if (path == "-") return fail_with("sub: standard input cannot be written; name a PATH");
  }
  if (!settle_search_request(search, cmd)) return kExitError;
  bool replaced = false, failed = false;
  for (const std::string &root : search.paths) {
    const std::string options = walk_options_for(search, root);
    if (options.empty()) return fail_with("Out of memory");
    const char *text = grep_replace_json(root.c_str(), search.pattern.c_str(),
                                         req.replacement.c_str(), options.c_str());
    doc_ptr doc = parse_json(text);
    yyjson_val *report = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (yyjson_obj_get(report, "files_searched") == nullptr) return fail();  // could not start
    failed = print_report(report, req, search.flags.dry_run) || failed;
    replaced = replaced || yyjson_get_sint(yyjson_obj_get(report, "total_replacements")) > 0;
  }
  if (failed) return kExitError;
  return replaced ? kExitMatch : kExitNoMatch;
}

}  // namespace qg_cli
