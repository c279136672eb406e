// quenmar-grep: a command-line host over the library's public interface.
#include <quenmar_grep.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

// Prints the last-error text and gives the error exit status.
int fail() {
  std::fprintf(stderr, "quenmar-grep: %s\n", grep_last_error());
  return 2;
}

// `read FILE [START [END]]`: prints the numbered lines.
int run_read(const std::string &file, int start, int end) {
  // "" is both a failure and an empty selection. This process makes one
  // library call and its last-error text starts empty, so a message after an
  // empty result can only come from this call.
  const char *text = grep_read_lines(file.c_str(), start, end);
  if (text[0] == '\0' && grep_last_error()[0] != '\0') return fail();
  std::fputs(text, stdout);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"Search source trees and edit text files by line number.", "quenmar-grep"};
  app.set_version_flag("--version", std::string(grep_version()));
  app.require_subcommand(1);

  std::string read_file;
  int read_start = 0;
  int read_end = 0;
  CLI::App *read = app.add_subcommand("read", "Print lines of FILE, each prefixed with its number");
  read->add_option("FILE", read_file, "File to read")->required();
  read->add_option("START", read_start, "First line (below 1: the whole file)");
  read->add_option("END", read_end, "Last line (below 1: to the end)");

  CLI11_PARSE(app, argc, argv);

  if (read->parsed()) {
    return run_read(read_file, read_start, read_end);
  }
  return fail();
}
