// The keys that choose lines and order the walk, against plain definitions:
// "invert_match" reports exactly the lines without a match, "whole_line"
// exactly the lines a pattern matches whole (on generated texts, literal and
// standard-syntax patterns, with and without case folding); "max_depth"
// walks the levels it names; "sort" gives the names in byte order, or the
// files by modification time, on one thread or several alike.
#include "grep_core/last_error.h"
#include "search_core/report_files.h"
#include "search_core/report_json.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// The line numbers (and columns) of the matches of a search of `text`.
std::vector<std::pair<int64_t, int64_t>> matched_lines(const std::string &text,
                                                       const std::string &pattern,
                                                       const std::string &options) {
  char *doc_text =
      grep_core_search_text("t.txt", text.data(), text.size(), pattern.c_str(), options.c_str());
  EXPECT_NE(doc_text, nullptr) << qm_grep_get_last_error();
  std::vector<std::pair<int64_t, int64_t>> out;
  if (doc_text == nullptr) return out;
  yyjson_doc *doc = yyjson_read(doc_text, strlen(doc_text), 0);
  free(doc_text);
  size_t i, n;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), i, n, m) {
    out.emplace_back(yyjson_get_sint(yyjson_obj_get(m, "line")),
                     yyjson_get_sint(yyjson_obj_get(m, "col")));
  }
  yyjson_doc_free(doc);
  return out;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

TEST(LineSelection, InvertAndWholeLineSelectTheDefinitionsLines) {
  static const char *const words[] = {"ab", "b", "abc", "AB", " ", "x"};
  struct pattern_case {
    std::string pattern;
    bool regex;
    std::string ecma;  // the same pattern for std::regex
  };
  const std::vector<pattern_case> patterns = {
      {"ab", false, "ab"},    {"b", false, "b"},        {"ab b", false, "ab b"},
      {"ab|x", true, "ab|x"}, {"a?bc?", true, "a?bc?"}, {"(ab)+", true, "(ab)+"},
      {"", true, ""},
  };
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int n = static_cast<int>(rng() % 7); n > 0; --n) {
      for (int w = static_cast<int>(rng() % 4); w > 0; --w) text += words[rng() % 6];
      text += "\n";
    }
    if (!text.empty() && rng() % 3 == 0) text.pop_back();  // a last line without its break
    const std::vector<std::string> lines = lines_of(text);
    for (const pattern_case &p : patterns) {
      for (const bool fold : {false, true}) {
        for (const bool whole : {false, true}) {
          for (const bool invert : {false, true}) {
            if (!p.regex && p.pattern.empty()) continue;
            const auto flags =
                fold ? std::regex::ECMAScript | std::regex::icase : std::regex::ECMAScript;
            const std::regex re(p.ecma, flags);
            std::vector<int64_t> expected;
            for (size_t k = 0; k < lines.size(); ++k) {
              const bool hit =
                  whole ? std::regex_match(lines[k], re) : std::regex_search(lines[k], re);
              if (hit != invert) expected.push_back(static_cast<int64_t>(k + 1));
            }
            std::string options = "{\"strict\":true";
            if (p.regex) options += ",\"syntax\":\"standard\"";
            if (fold) options += ",\"ignore_case\":true";
            if (whole) options += ",\"whole_line\":true";
            if (invert) options += ",\"invert_match\":true";
            options += "}";
            std::vector<int64_t> got;
            for (const auto &[line, col] : matched_lines(text, p.pattern, options)) {
              got.push_back(line);
              // A reported line without a match has no column; one with a
              // whole-line match starts at the first.
              EXPECT_EQ(col, invert ? 0 : (whole ? 1 : col));
            }
            ASSERT_EQ(got, expected) << options << " " << p.pattern << "\n" << text;
          }
        }
      }
    }
  }
}

TEST(LineSelection, InvertedLinesCarryTheirContext) {
  const std::string text = "hit\nb\nhit\nhit\nc\n";
  char *doc = grep_core_search_text("t.txt", text.data(), text.size(), "hit",
                                    R"({"invert_match":true,"context_lines":1})");
  ASSERT_NE(doc, nullptr);
  const std::string s = doc;
  free(doc);
  EXPECT_NE(s.find(R"("line":2,"col":0,"text":"b","context":["hit","b","hit"])"), std::string::npos)
      << s;
}

// `path` below `root`, with '/' between its names whatever the platform's
// separator.
std::string below(const std::string &root, std::string path) {
  path.erase(0, root.size() + 1);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The files a listing gives, in its order.
std::vector<std::string> listed(const std::string &root, const std::string &options) {
  char *text = grep_core_list_files_json(root.c_str(), options.c_str());
  EXPECT_NE(text, nullptr) << qm_grep_get_last_error();
  std::vector<std::string> out;
  if (text == nullptr) return out;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  free(text);
  size_t i, n;
  yyjson_val *f;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "files"), i, n, f) {
    out.push_back(below(root, yyjson_get_str(f)));
  }
  yyjson_doc_free(doc);
  return out;
}

// The files a search with `options` matched in, in its order.
std::vector<std::string> searched(const std::string &root, const std::string &options) {
  char *text = grep_core_search_json(root.c_str(), "x", options.c_str());
  EXPECT_NE(text, nullptr) << qm_grep_get_last_error();
  std::vector<std::string> out;
  if (text == nullptr) return out;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  free(text);
  size_t i, n;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), i, n, m) {
    out.push_back(below(root, yyjson_get_str(yyjson_obj_get(m, "file"))));
  }
  yyjson_doc_free(doc);
  return out;
}

TEST(WalkOrder, SortAndMaxDepthGiveTheNamedFilesInOrder) {
  qg_test::TempDir t;
  std::mt19937 rng(3);
  std::vector<std::string> files;
  for (int k = 0; k < 60; ++k) {
    std::string path;
    for (int depth = static_cast<int>(rng() % 3); depth > 0; --depth) {
      path += std::string(1, static_cast<char>('a' + rng() % 4)) + "d/";
    }
    path +=
        std::to_string(rng() % 1000) + "_" + std::string(1, static_cast<char>('A' + rng() % 26));
    if (std::find(files.begin(), files.end(), path) != files.end()) continue;
    t.write(path, "x\n");
    files.push_back(path);
  }
  // Depth first, each folder's entries by their bytes (the separator of a
  // folder's files sorts as the end of its name).
  auto by_walk = [](const std::string &a, const std::string &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      const auto key = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c); };
      return key(x) < key(y);
    });
  };
  std::vector<std::string> expected = files;
  std::sort(expected.begin(), expected.end(), by_walk);
  EXPECT_EQ(listed(t.path(), R"({"sort":"path"})"), expected);
  // Reversed: the same files, the root's own in falling byte order.
  const std::vector<std::string> backwards =
      listed(t.path(), R"({"sort":"path","sort_reverse":true})");
  EXPECT_EQ(std::multiset<std::string>(backwards.begin(), backwards.end()),
            std::multiset<std::string>(files.begin(), files.end()));
  for (size_t k = 1; k < backwards.size(); ++k) {
    const std::string &a = backwards[k - 1], &b = backwards[k];
    if (a.find('/') == std::string::npos && b.find('/') == std::string::npos) {
      EXPECT_GT(a, b);
    }
  }
  for (const int threads : {1, 4}) {
    const std::string options = R"({"sort":"path","threads":)" + std::to_string(threads) + "}";
    EXPECT_EQ(searched(t.path(), options), expected) << threads;
  }
  for (const int depth : {0, 1, 2}) {
    std::vector<std::string> shallow;
    for (const std::string &p : expected) {
      if (std::count(p.begin(), p.end(), '/') < depth) shallow.push_back(p);
    }
    EXPECT_EQ(listed(t.path(), R"({"sort":"path","max_depth":)" + std::to_string(depth) + "}"),
              shallow)
        << depth;
  }
}

// "sort":"modified" gives a folder's files oldest first and with
// "sort_reverse" newest first, whatever their names' order, on one thread
// and on several; each file's time is set ten seconds apart from the next.
TEST(WalkOrder, SortModifiedGivesOldestFirstAndReversedNewestFirst) {
  qg_test::TempDir t;
  std::mt19937 rng(5);
  std::vector<std::string> names;
  for (int k = 0; k < 24; ++k) names.push_back("f" + std::to_string(k) + ".txt");
  std::shuffle(names.begin(), names.end(), rng);  // oldest first, in no name order
  const auto oldest = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string path = t.write(names[k], "x\n");
    std::filesystem::last_write_time(path, oldest + std::chrono::seconds(10 * k));
  }
  const std::vector<std::string> newest_first(names.rbegin(), names.rend());
  for (const int threads : {1, 3}) {
    const std::string n = std::to_string(threads);
    EXPECT_EQ(searched(t.path(), R"({"sort":"modified","threads":)" + n + "}"), names) << n;
    EXPECT_EQ(searched(t.path(), R"({"sort":"modified","sort_reverse":true,"threads":)" + n + "}"),
              newest_first)
        << n;
  }
  EXPECT_EQ(listed(t.path(), R"({"sort":"modified"})"), names);
  EXPECT_EQ(listed(t.path(), R"({"sort":"modified","sort_reverse":true})"), newest_first);
}

}  // namespace
