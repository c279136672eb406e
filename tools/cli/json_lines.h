// The messages of --json, one JSON object a line, as ripgrep's --json writes
// them, so that a program reading ripgrep's output reads this tool's: the
// same types ("begin", "match", "context", "end", "summary"), the same keys
// in the same order and the same escapes byte for byte (a reader that counts
// "bytes_printed" counts the same bytes). Text that is not valid UTF-8 is
// given as {"bytes":BASE64}, other text as {"text":...}. The functions only
// build strings; the caller prints them.
#ifndef QG_CLI_JSON_LINES_H
#define QG_CLI_JSON_LINES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qg_cli {

// What the "end" of a file and the "summary" count.
struct message_stats {
  int64_t elapsed_ns = 0;
  int64_t searches = 0;
  int64_t searches_with_match = 0;
  int64_t bytes_searched = 0;
  int64_t bytes_printed = 0;
  int64_t matched_lines = 0;
  int64_t matches = 0;

  void add(const message_stats &other);
};

// One match in a line: bytes [start, end) of the line.
struct submatch {
  size_t start = 0, end = 0;
};

// {"type":"begin",...} for the file `path` (its own bytes).
std::string begin_message(std::string_view path);

// {"type":"match",...} or, with `context`, {"type":"context",...}: the line's
// bytes with its ending, its number, the offset of its first byte in the file
// and its matches (each within the line).
std::string line_message(bool context, std::string_view path, std::string_view line,
                         int64_t line_number, int64_t offset, const std::vector<submatch> &matches);

// {"type":"end",...}: the file's binary offset (null when it held no NUL
// byte) and its counts.
std::string end_message(std::string_view path, std::optional<int64_t> binary_offset,
                        const message_stats &stats);

// {"type":"summary",...}: the whole run's time and the counts of every file.
std::string summary_message(int64_t elapsed_total_ns, const message_stats &stats);

}  // namespace qg_cli

#endif  // QG_CLI_JSON_LINES_H
