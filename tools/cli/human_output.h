// The familiar human form of search results: `path:line:col:text` for a
// matched line, `path-line-text` for a context line, `--` between groups of
// lines that are not adjacent, optionally coloured.
#ifndef QG_CLI_HUMAN_OUTPUT_H
#define QG_CLI_HUMAN_OUTPUT_H

#include "options_doc.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qg_cli {

// One match in a line: 1-based byte column and length.
struct match_span {
  long long col = 0;
  long long length = 0;
};

// One line waiting to be printed in the current group.
struct printed_line {
  long long number = 0;
  std::string text;
  bool is_match = false;
  long long col = 0;
  long long length = -1;          // bytes of the match when the result gave them
  std::vector<match_span> spans;  // every match of the line, when the result gave them
};

// The printer's state across the matches of one search. Lines of a group are
// held back until a match that does not touch the group arrives, so a line
// first seen as context and later matched is printed once, as a match.
struct human_printer {
  FILE *out = nullptr;
  bool colour = false;
  display_settings settings;
  int before = -1;  // context lines shown above a match; below 0: all delivered
  int after = -1;   // and below it
  std::string pattern;
  bool only_matching = false;  // each match alone, as path:line:col:match
  bool printed_any = false;
  std::string group_file;
  std::vector<printed_line> group;  // ascending, adjacent line numbers
};

// Prepares `printer` to write to `out`. Every match of a line is coloured
// where the match objects carry "submatches"; otherwise the first, its span
// taken from "length" or, in a literal search, from `pattern`. Of the context
// the search delivers, `before` lines above and `after` lines below a match
// are shown; a negative count shows all. With `only_matching`, each match is
// printed on a line of its own instead of its line (no context).
void printer_init(human_printer &printer, FILE *out, bool colour, const display_settings &settings,
                  const std::string &pattern, int before, int after, bool only_matching);

// Takes one match object (the JSON text of a streamed match or an element of
// the search document). A text that is not a match object is ignored.
void printer_add_match(human_printer &printer, const char *match_json);

// Writes `path` to `out`, in the path colour when `colour`.
void print_path(FILE *out, bool colour, const std::string &path);

// Prints whatever group is still held back.
void printer_finish(human_printer &printer);

}  // namespace qg_cli

#endif  // QG_CLI_HUMAN_OUTPUT_H
