// --json for one PATH: the library's search document turned into the
// messages of json_lines.h, file by file. The document says which lines
// matched, where in them and which lines are context; it carries neither a
// line's ending nor its offset, and gives text that is not UTF-8 with U+FFFD,
// so each file that matched is read back here for its own bytes (a path the
// document gives with U+FFFD is found again by listing its folder). A file
// that cannot be read back is reported on standard error and left out.
#ifndef QG_CLI_JSON_LINES_FILES_H
#define QG_CLI_JSON_LINES_FILES_H

#include "json_lines.h"

#include <yyjson.h>

#include <optional>
#include <string>
#include <string_view>

namespace qg_cli {

// Where one PATH's files are read back from and how its document was made.
struct document_source {
  std::string root;                 // the PATH as given; "-" for standard input
  std::string_view stdin_text;      // standard input's bytes, for "-"
  bool below_root = false;          // paths printed below the root (no PATH given)
  int before = 0;                   // the context lines in force above a match
  std::optional<int> max_per_file;  // the search's "max_per_file", when above 0
};

// The context above a match and the per-file cap that the options
// document `options` puts in force, read back from the library.
document_source source_for(const std::string &root, const std::string &options);

// Prints the messages of every file in the search document `top` (begin,
// each match and context line, end) and adds the files' counts to `totals`.
// False when some file could not be read back.
bool print_file_messages(yyjson_val *top, const document_source &src, message_stats &totals);

}  // namespace qg_cli

#endif  // QG_CLI_JSON_LINES_FILES_H
