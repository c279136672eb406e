// The one line rule, held by one table against every part of the library
// that cuts, counts or numbers lines: the rule's own functions, the vector
// break counters, the edits' span cutter, the numbered reader, the search's
// numbering, and the definition's line array.
#include "grep_core/text_lines.h"
#include "edit_core/line_spans.h"
#include "grep_core/find_bytes.h"
#include "grep_core/simd/simd.h"
#include "grep_core/utf8.h"
#include "read_core/read_lines.h"
#include "search_core/report_json.h"
#include "support/line_array.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

struct LineCase {
  std::string text;
  std::vector<std::string> lines;
  size_t lf, crlf;  // its endings, as the dominant-ending rule counts them
};

// clang-format off
const LineCase kCases[] = {
    {"", {}, 0, 0},
    {"a", {"a"}, 0, 0},
    {"a\n", {"a"}, 1, 0},
    {"a\n\n", {"a", ""}, 2, 0},
    {"\n", {""}, 1, 0},
    {"\r\n", {""}, 0, 1},
    {"\r", {""}, 0, 0},
    {"\n\n", {"", ""}, 2, 0},
    {"\r\r\n", {"", ""}, 0, 1},
    {"\n\r", {"", ""}, 1, 0},
    {"a\r\r", {"a", ""}, 0, 0},
    {"a\r\nb\rc\nd", {"a", "b", "c", "d"}, 1, 1},
    {"one\r\ntwo\nthree\rfour", {"one", "two", "three", "four"}, 1, 1},
    {"x\r\ny\r\nz\n", {"x", "y", "z"}, 1, 2},
    {"caf\xC3\xA9\n\xFF\x80 x\n", {"caf\xC3\xA9", "\xFF\x80 x"}, 2, 0},
    {std::string("a\nb\0c\nd", 7), {"a", "b"}, 1, 0},  // the text ends at its first NUL
};
// clang-format on

// The text up to its first NUL.
std::string visible(const std::string &text) { return text.substr(0, text.find('\0')); }

std::vector<std::string> by_rule(const std::string &text) {
  std::vector<std::string> out;
  const char *p = text.data();
  const char *const end = p + text.size();
  while (p < end) {
    const char *line_end = qg_line_end(p, end, true);
    out.emplace_back(p, line_end);
    p = qg_line_next(line_end, end);
  }
  return out;
}

std::vector<std::string> by_spans(const std::string &text) {
  line_spans spans = {nullptr, 0, 0};
  EXPECT_TRUE(spans_split(text.data(), text.size(), &spans, nullptr));
  std::vector<std::string> out;
  for (size_t i = 0; i < spans.count; ++i)
    out.emplace_back(spans.items[i].text, spans.items[i].len);
  spans_free(&spans);
  return out;
}

std::vector<std::string> by_reference(const std::string &text) {
  line_array a;
  EXPECT_TRUE(split_into_lines(text.c_str(), &a));
  std::vector<std::string> out(a.items, a.items + a.count);
  la_free(&a);
  return out;
}

// The lines the numbered reader gives for the file at `path`.
std::vector<std::string> by_reader(const std::string &path) {
  char *text = grep_core_read_lines(path.c_str(), 0, 0);
  EXPECT_NE(text, nullptr);
  std::vector<std::string> out;
  std::string rows = text != nullptr ? text : "";
  free(text);
  for (size_t at = 0, number = 1; at < rows.size(); ++number) {
    const size_t nl = rows.find('\n', at);
    const std::string prefix = std::to_string(number) + ": ";
    EXPECT_EQ(rows.compare(at, prefix.size(), prefix), 0) << rows;
    out.push_back(rows.substr(at + prefix.size(), nl - at - prefix.size()));
    at = nl + 1;
  }
  return out;
}

// The lines a search for the empty pattern (which matches every line)
// reports, each checked to carry its own number.
std::vector<std::string> by_search(const std::string &path) {
  char *text = grep_core_search_json(path.c_str(), "", R"({"regex":true})");
  EXPECT_NE(text, nullptr);
  std::vector<std::string> out;
  yyjson_doc *doc = text != nullptr ? yyjson_read(text, strlen(text), 0) : nullptr;
  free(text);
  size_t i, n;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), i, n, m) {
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(m, "line")), static_cast<int64_t>(i + 1));
    yyjson_val *line = yyjson_obj_get(m, "text");
    out.emplace_back(yyjson_get_str(line), yyjson_get_len(line));
  }
  yyjson_doc_free(doc);
  return out;
}

TEST(LineRule, EveryUserCutsCountsAndNumbersTheSameLines) {
  std::vector<qg_simd_ops> impls(8);
  impls.resize(qg_simd_all(impls.data(), impls.size()));
  qg_test::TempDir dir;
  int file = 0;
  for (const LineCase &c : kCases) {
    const std::string shown = testing::PrintToString(c.text);
    const std::string text = visible(c.text);
    EXPECT_EQ(by_rule(text), c.lines) << shown;
    EXPECT_EQ(by_spans(text), c.lines) << shown;
    EXPECT_EQ(by_reference(c.text), c.lines) << shown;

    // One break per line, less one for a last line without an ending.
    const bool open_last = !text.empty() && text.back() != '\n' && text.back() != '\r';
    const size_t breaks = c.lines.size() - (open_last ? 1 : 0);
    const std::string padded = text + '\0';
    const char *end = padded.data() + text.size();
    EXPECT_EQ(qg_count_breaks_portable(padded.data(), end), breaks) << shown;
    EXPECT_EQ(qg_count_line_breaks(padded.data(), end), breaks) << shown;
    for (const qg_simd_ops &ops : impls) {
      EXPECT_EQ(ops.count_breaks(padded.data(), end), breaks) << ops.name << " " << shown;
    }

    const ending_counts counts = qg_count_endings(text.data(), text.size());
    EXPECT_EQ(counts.lf, c.lf) << shown;
    EXPECT_EQ(counts.crlf, c.crlf) << shown;
    EXPECT_EQ(detect_line_ending(text.c_str()), c.crlf > c.lf ? LE_CRLF : LE_LF) << shown;

    const std::string path = dir.write("f" + std::to_string(file++) + ".txt", c.text);
    EXPECT_EQ(by_reader(path), c.lines) << shown;
    // A text cut at a NUL is binary to a search, which then reports nothing;
    // one that is not UTF-8 comes back repaired.
    if (text.size() == c.text.size() && qg_utf8_valid(text.data(), text.size())) {
      EXPECT_EQ(by_search(path), c.lines) << shown;
    }
  }
}

}  // namespace
