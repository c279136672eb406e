#include "json_lines_files.h"

#include "input.h"
#include "messages.h"
#include "search_command.h"
#include "utf8_bytes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

namespace qg_cli {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// A file's text cut into lines as the library cuts it: a line ends at LF,
// CR LF or a lone CR, a last line may have no ending, and the text ends at
// its first NUL byte.
class file_lines {
 public:
  explicit file_lines(std::string_view bytes) : text_(bytes.substr(0, bytes.find('\0'))) {
    starts_.push_back(0);
    for (size_t i = 0; i < text_.size(); ++i) {
      if (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ++i;
      if (text_[i] == '\n' || text_[i] == '\r') starts_.push_back(i + 1);
    }
    if (starts_.back() != text_.size()) starts_.push_back(text_.size());
  }

  // The bytes read as text: up to the first NUL.
  size_t text_size() const { return text_.size(); }

  bool has(int64_t n) const { return n >= 1 && static_cast<size_t>(n) < starts_.size(); }

  // The offset of line `n`'s first byte; the text's end past the last line.
  size_t offset(int64_t n) const {
    return has(n) ? starts_[static_cast<size_t>(n) - 1] : text_.size();
  }

  // Line `n` with its ending.
  std::string_view line(int64_t n) const {
    return text_.substr(offset(n), offset(n + 1) - offset(n));
  }

  // Line `n` without its ending.
  std::string_view body(int64_t n) const {
    std::string_view l = line(n);
    if (!l.empty() && l.back() == '\n') l.remove_suffix(1);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    return l;
  }

 private:
  std::string_view text_;
  std::vector<size_t> starts_;  // each line's first byte, then the text's end
};

// The name in the folder `dir` that the library writes as `lossy`; `lossy`
// itself when none does.
std::string entry_named(const std::string &dir, const std::string &lossy) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(native_path(dir.empty() ? "." : dir), ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::u8string name = it->path().filename().u8string();
    std::string bytes(name.begin(), name.end());
    if (lossy_utf8(bytes) == lossy) return bytes;
  }
  return lossy;
}

// The path that the library writes as `lossy`: the same text when it holds
// no U+FFFD; otherwise each part of it that does is the first name of its
// folder that reads the same once its stray bytes are replaced.
std::string own_path(const std::string &lossy) {
  if (lossy.find(kReplacement) == std::string::npos) return lossy;
  std::string out;
  for (size_t at = 0; at <= lossy.size();) {
    const size_t slash = std::min(lossy.find('/', at), lossy.size());
    const std::string part = lossy.substr(at, slash - at);
    out += part.find(kReplacement) == std::string::npos ? part : entry_named(out, part);
    if (slash < lossy.size()) out += '/';
    at = slash + 1;
  }
  return out;
}

// `path` below `root`, as the line printer shows a walk's paths when the
// tool chose the root: the root and the separators after it left out.
std::string_view below(std::string_view path, std::string_view root) {
  if (root.empty() || path.substr(0, root.size()) != root) return path;
  std::string_view rest = path.substr(root.size());
  if (root.back() != '/' && (rest.empty() || rest.front() != '/')) return path;
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  return rest.empty() ? path : rest;
}

int64_t int_of(yyjson_val *obj, const char *key) {
  return yyjson_get_sint(yyjson_obj_get(obj, key));
}

std::string_view text_of(yyjson_val *v) {
  return std::string_view(yyjson_get_str(v) ? yyjson_get_str(v) : "", yyjson_get_len(v));
}

// A line to print: a match (with its object) or context (with the window's
// text of it).
struct shown_line {
  yyjson_val *match = nullptr;
  std::string_view library_text;
};

// The lines a file's matches print, by number: each match, and each line of
// its context window (the window starts `before` lines above the match,
// or at the first line) that is not itself a match.
std::map<int64_t, shown_line> lines_to_show(const std::vector<yyjson_val *> &matches, int before) {
  std::map<int64_t, shown_line> shown;
  for (yyjson_val *m : matches) {
    const int64_t n = int_of(m, "line");
    yyjson_val *window = yyjson_obj_get(m, "context");
    int64_t at = n - std::min<int64_t>(before, n - 1);
    size_t k, count;
    yyjson_val *text;
    yyjson_arr_foreach(window, k, count, text) {
      shown.emplace(at++, shown_line{nullptr, text_of(text)});
    }
  }
  for (yyjson_val *m : matches) {
    shown[int_of(m, "line")] = shown_line{m, text_of(yyjson_obj_get(m, "text"))};
  }
  return shown;
}

// The matches of a line, from the object's "submatches" ({"col","length"}
// each), or its own "col" and "length" when it has no list; none for a line
// without a match (an inverted search's). Each is kept within the line.
std::vector<submatch> submatches_of(yyjson_val *match, size_t line_size) {
  std::vector<submatch> out;
  const auto add = [&](yyjson_val *m) {
    const int64_t col = int_of(m, "col"), length = int_of(m, "length");
    if (col < 1) return;
    const size_t start = std::min(static_cast<size_t>(col - 1), line_size);
    out.push_back(
        {start, std::min(start + static_cast<size_t>(std::max<int64_t>(length, 0)), line_size)});
  };
  yyjson_val *list = yyjson_obj_get(match, "submatches");
  if (yyjson_is_arr(list)) {
    size_t k, count;
    yyjson_val *m;
    yyjson_arr_foreach(list, k, count, m) add(m);
  } else if (yyjson_obj_get(match, "length") != nullptr) {
    add(match);
  }
  return out;
}

// Writes one message and its line end; the bytes written.
int64_t put_message(const std::string &message) {
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fputc('\n', stdout);
  return static_cast<int64_t>(message.size()) + 1;
}

// Prints the messages of one file (the matches of `matches`, all of the file
// the library wrote as `lossy_path`) and adds its counts to `totals`. False,
// with the reason printed, when its bytes cannot be read back.
bool print_file(const std::string &lossy_path, const std::vector<yyjson_val *> &matches,
                const document_source &src, message_stats &totals) {
  const auto started = std::chrono::steady_clock::now();
  const bool input = src.root == "-" && lossy_path == kStdinName;
  const std::string path = input ? lossy_path : own_path(lossy_path);
  std::string read;
  if (!input) {
    std::string error;
    if (!read_input(path, read, error)) {
      fail_with(error);
      return false;
    }
  }
  const std::string_view bytes = input ? src.stdin_text : std::string_view(read);
  const std::string_view shown_path = src.below_root ? below(path, src.root) : path;
  const file_lines lines(bytes);

  message_stats stats;
  stats.searches = stats.searches_with_match = 1;
  stats.bytes_printed += put_message(begin_message(shown_path));
  int64_t last_match = 0;
  for (const auto &[n, shown] : lines_to_show(matches, src.before)) {
    // The file's own bytes, unless they no longer read as the library's text
    // (a file changed since, or one the library decoded from UTF-16).
    std::string fallback;
    std::string_view line = lines.line(n);
    if (!lines.has(n) || lossy_utf8(lines.body(n)) != shown.library_text) {
      fallback = std::string(shown.library_text) + "\n";
      line = fallback;
    }
    std::vector<submatch> found;
    if (shown.match != nullptr) {
      found = submatches_of(shown.match, line.size());
      ++stats.matched_lines;
      stats.matches += static_cast<int64_t>(found.size());
      last_match = n;
    }
    stats.bytes_printed += put_message(line_message(shown.match == nullptr, shown_path, line, n,
                                                    static_cast<int64_t>(lines.offset(n)), found));
  }
  // A search that stopped at its cap read up to the end of its last match.
  const bool capped = src.max_per_file && stats.matched_lines >= *src.max_per_file;
  stats.bytes_searched =
      static_cast<int64_t>(capped ? lines.offset(last_match + 1) : lines.text_size());
  const size_t nul = bytes.find('\0');
  const std::optional<int64_t> binary_offset =
      nul == std::string_view::npos ? std::nullopt : std::optional<int64_t>(nul);
  stats.elapsed_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now() - started)
                         .count();
  put_message(end_message(shown_path, binary_offset, stats));
  totals.add(stats);
  return true;
}

}  // namespace

document_source source_for(const std::string &root, const std::string &options) {
  document_source src;
  src.root = root;
  doc_ptr doc = parse_json(grep_options_read_json(options.c_str()));
  yyjson_val *used = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  const int both = static_cast<int>(std::max<int64_t>(int_of(used, "context_lines"), 0));
  const int64_t before = int_of(used, "before_context");
  src.before = before >= 0 ? static_cast<int>(before) : both;
  const int64_t cap = int_of(used, "max_per_file");
  if (cap > 0) src.max_per_file = static_cast<int>(cap);
  return src;
}

bool print_file_messages(yyjson_val *top, const document_source &src, message_stats &totals) {
  yyjson_val *list = yyjson_obj_get(top, "matches");
  bool ok = true;
  std::vector<yyjson_val *> group;  // the matches of `file`, a run of the list
  std::string file;
  size_t k, count;
  yyjson_val *m;
  yyjson_arr_foreach(list, k, count, m) {
    const std::string_view name = text_of(yyjson_obj_get(m, "file"));
    if (!group.empty() && name != file) {
      ok = print_file(file, group, src, totals) && ok;
      group.clear();
    }
    file = name;
    group.push_back(m);
  }
  if (!group.empty()) ok = print_file(file, group, src, totals) && ok;
  return ok;
}

}  // namespace qg_cli
