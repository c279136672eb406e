#include "human_output.h"

#include <yyjson.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qg_cli {

namespace {

// The colours grep users know: path magenta, numbers green, separators cyan,
// the matched text bold red.
constexpr const char *kPathColour = "\033[35m";
constexpr const char *kNumberColour = "\033[32m";
constexpr const char *kSeparatorColour = "\033[36m";
constexpr const char *kMatchColour = "\033[01;31m";
constexpr const char *kReset = "\033[m";

struct doc_free {
  void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};

// One parsed match object, with the line numbers of its context window.
struct parsed_match {
  std::string file;
  long long line = 0;
  long long col = 0;
  long long length = -1;
  std::vector<match_span> spans;
  std::string text;
  long long window_first = 0;       // line number of window[0]
  std::vector<std::string> window;  // the match line alone when no context
};

// The context lines shown on one side: what was asked, at most what the
// search delivers.
int shown(int asked, int delivered) {
  delivered = std::max(delivered, 0);
  return asked < 0 ? delivered : std::min(asked, delivered);
}

void put(human_printer &p, const char *colour, const std::string &text) {
  if (p.colour) std::fputs(colour, p.out);
  std::fwrite(text.data(), 1, text.size(), p.out);
  if (p.colour) std::fputs(kReset, p.out);
}

void put_separator(human_printer &p, char sep) { put(p, kSeparatorColour, std::string(1, sep)); }

bool ascii_fold_equal(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The byte length of the match at `col` when it can be known exactly: the
// match object's "length", or in a literal search the pattern itself, which
// stands there (folded by ASCII case when case is ignored). Otherwise 0.
size_t exact_match_length(const human_printer &p, const printed_line &line) {
  if (line.col < 1) return 0;
  size_t offset = static_cast<size_t>(line.col - 1);
  if (line.length >= 0) {
    const auto length = static_cast<unsigned long long>(line.length);
    return offset <= line.text.size() && length <= line.text.size() - offset
               ? static_cast<size_t>(length)
               : 0;
  }
  if (p.settings.regex || p.pattern.empty()) return 0;
  if (offset > line.text.size() || line.text.size() - offset < p.pattern.size()) return 0;
  const char *at = line.text.data() + offset;
  bool same = p.settings.case_sensitive ? std::memcmp(at, p.pattern.data(), p.pattern.size()) == 0
                                        : ascii_fold_equal(at, p.pattern.data(), p.pattern.size());
  return same ? p.pattern.size() : 0;
}

// The spans of `line` to colour, in order, each within the line.
std::vector<match_span> coloured_spans(const human_printer &p, const printed_line &line) {
  std::vector<match_span> spans;
  if (!line.is_match || !p.colour) return spans;
  if (line.spans.empty()) {
    const size_t first = exact_match_length(p, line);
    if (first > 0) spans.push_back({line.col, static_cast<long long>(first)});
    return spans;
  }
  const auto size = static_cast<long long>(line.text.size());
  for (const match_span &s : line.spans) {
    if (s.col >= 1 && s.length > 0 && s.col - 1 + s.length <= size) spans.push_back(s);
  }
  return spans;
}

void print_text(human_printer &p, const printed_line &line) {
  size_t at = 0;
  for (const match_span &s : coloured_spans(p, line)) {
    const size_t offset = static_cast<size_t>(s.col - 1);
    if (offset < at) continue;
    std::fwrite(line.text.data() + at, 1, offset - at, p.out);
    put(p, kMatchColour, line.text.substr(offset, static_cast<size_t>(s.length)));
    at = offset + static_cast<size_t>(s.length);
  }
  std::fwrite(line.text.data() + at, 1, line.text.size() - at, p.out);
}

// Each match of the line alone: path:line:col:match, one line each; the
// line's first match alone when the result gives no submatches.
void print_only_matching(human_printer &p, const std::string &file, const printed_line &line) {
  std::vector<match_span> spans = line.spans;
  if (spans.empty()) {
    const size_t first = exact_match_length(p, line);
    if (first > 0) spans.push_back({line.col, static_cast<long long>(first)});
  }
  const auto size = static_cast<long long>(line.text.size());
  for (const match_span &s : spans) {
    if (s.col < 1 || s.length <= 0 || s.col - 1 + s.length > size) continue;
    put(p, kPathColour, file);
    put_separator(p, ':');
    put(p, kNumberColour, std::to_string(line.number));
    put_separator(p, ':');
    put(p, kNumberColour, std::to_string(s.col));
    put_separator(p, ':');
    const std::string text =
        line.text.substr(static_cast<size_t>(s.col - 1), static_cast<size_t>(s.length));
    if (p.colour) {
      put(p, kMatchColour, text);
    } else {
      std::fwrite(text.data(), 1, text.size(), p.out);
    }
    std::fputc('\n', p.out);
  }
}

void print_line(human_printer &p, const std::string &file, const printed_line &line) {
  if (p.only_matching) {
    if (line.is_match) print_only_matching(p, file, line);
    return;
  }
  char sep = line.is_match ? ':' : '-';
  put(p, kPathColour, file);
  put_separator(p, sep);
  put(p, kNumberColour, std::to_string(line.number));
  put_separator(p, sep);
  if (line.is_match) {
    put(p, kNumberColour, std::to_string(line.col));
    put_separator(p, sep);
  }
  print_text(p, line);
  std::fputc('\n', p.out);
}

void flush_group(human_printer &p) {
  if (p.group.empty()) return;
  if (p.printed_any && (shown(p.before, p.settings.context_lines) > 0 ||
                        shown(p.after, p.settings.context_lines) > 0)) {
    put(p, kSeparatorColour, "--");
    std::fputc('\n', p.out);
  }
  for (const printed_line &line : p.group) print_line(p, p.group_file, line);
  p.printed_any = true;
  p.group.clear();
}

const char *string_member(yyjson_val *obj, const char *key) {
  return yyjson_get_str(yyjson_obj_get(obj, key));
}

// Places the context window: it starts `context_lines` above the match, or at
// line 1, and must hold the matched line where that puts it. When it does not
// (an options document this tool could not read), only the match is shown.
void place_window(parsed_match &m, yyjson_val *context, int context_lines) {
  m.window_first = m.line;
  m.window.assign(1, m.text);
  size_t count = yyjson_arr_size(context);
  if (context_lines <= 0 || count == 0) return;
  long long first = std::max(1LL, m.line - context_lines);
  size_t at = static_cast<size_t>(m.line - first);
  const char *there = yyjson_get_str(yyjson_arr_get(context, at));
  if (at >= count || there == nullptr || m.text != there) return;
  std::vector<std::string> window;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(context, idx, max, item) {
    const char *s = yyjson_get_str(item);
    window.emplace_back(s != nullptr ? s : "");
  }
  m.window_first = first;
  m.window = std::move(window);
}

bool parse_match(const char *match_json, int context_lines, parsed_match &m) {
  if (match_json == nullptr) return false;
  std::unique_ptr<yyjson_doc, doc_free> doc(yyjson_read(match_json, std::strlen(match_json), 0));
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  const char *file = string_member(root, "file");
  const char *text = string_member(root, "text");
  yyjson_val *line = yyjson_obj_get(root, "line");
  yyjson_val *col = yyjson_obj_get(root, "col");
  if (file == nullptr || text == nullptr || !yyjson_is_int(line) || !yyjson_is_int(col)) {
    return false;
  }
  m.file = file;
  m.text = text;
  m.line = yyjson_get_sint(line);
  m.col = yyjson_get_sint(col);
  yyjson_val *length = yyjson_obj_get(root, "length");
  if (yyjson_is_int(length)) m.length = yyjson_get_sint(length);
  size_t idx, max;
  yyjson_val *sub;
  yyjson_arr_foreach(yyjson_obj_get(root, "submatches"), idx, max, sub) {
    m.spans.push_back({yyjson_get_sint(yyjson_obj_get(sub, "col")),
                       yyjson_get_sint(yyjson_obj_get(sub, "length"))});
  }
  place_window(m, yyjson_obj_get(root, "context"), context_lines);
  return true;
}

// Keeps the window's lines from `before` above the match to `after` below.
void trim_window(parsed_match &m, int before, int after) {
  const long long first = std::max(m.window_first, m.line - before);
  const long long last =
      std::min(m.window_first + static_cast<long long>(m.window.size()) - 1, m.line + after);
  m.window.erase(m.window.begin() + (last - m.window_first + 1), m.window.end());
  m.window.erase(m.window.begin(), m.window.begin() + (first - m.window_first));
  m.window_first = first;
}

// True when the window of `m` touches or overlaps the group held back.
bool joins_group(const human_printer &p, const parsed_match &m) {
  if (p.group.empty() || p.group_file != m.file) return false;
  return m.window_first >= p.group.front().number && m.window_first <= p.group.back().number + 1;
}

}  // namespace

void printer_init(human_printer &printer, FILE *out, bool colour, const display_settings &settings,
                  const std::string &pattern, int before, int after, bool only_matching) {
  printer = human_printer{};
  printer.out = out;
  printer.colour = colour;
  printer.settings = settings;
  printer.pattern = pattern;
  printer.before = before;
  printer.after = after;
  printer.only_matching = only_matching;
}

void printer_add_match(human_printer &p, const char *match_json) {
  parsed_match m;
  if (!parse_match(match_json, p.settings.context_lines, m)) return;
  const int before = shown(p.before, p.settings.context_lines);
  const int after = shown(p.after, p.settings.context_lines);
  trim_window(m, before, after);
  if (!joins_group(p, m)) {
    flush_group(p);
    p.group_file = m.file;
  }
  for (size_t i = 0; i < m.window.size(); ++i) {
    long long number = m.window_first + static_cast<long long>(i);
    bool is_match = number == m.line;
    if (!p.group.empty() && number <= p.group.back().number) {
      if (is_match) {
        printed_line &held = p.group[static_cast<size_t>(number - p.group.front().number)];
        held.is_match = true;
        held.col = m.col;
        held.length = m.length;
        held.spans = m.spans;
      }
      continue;
    }
    p.group.push_back(printed_line{number, m.window[i], is_match, is_match ? m.col : 0,
                                   is_match ? m.length : -1,
                                   is_match ? m.spans : std::vector<match_span>{}});
  }
  // Without context no line can join a later group, so it need not wait.
  if (before <= 0 && after <= 0) flush_group(p);
}

void printer_finish(human_printer &p) { flush_group(p); }

void print_path(FILE *out, bool colour, const std::string &path) {
  human_printer p;
  p.out = out;
  p.colour = colour;
  put(p, kPathColour, path);
}

}  // namespace qg_cli
