// The line printer against the other reports of the same search: match
// objects as the stream gives them, lines and counts as the document says,
// colour that changes nothing but escape codes, the same text on any number
// of threads, and a stop from the host.
#include "quenmar_grep.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

struct printed {
  std::string text;
  std::string summary;
  int status = 0;
};

int append_piece(const char *text, size_t length, void *user_data) {
  static_cast<std::string *>(user_data)->append(text, length);
  return 0;
}

printed print(const std::string &root, const char *pattern, const std::string &options) {
  printed p;
  p.summary = grep_search_lines(root.c_str(), nullptr, 0, pattern, options.c_str(), append_piece,
                                &p.text);
  p.status = grep_last_status();
  return p;
}

int collect_object(const char *match_json, void *user_data) {
  static_cast<std::string *>(user_data)->append(match_json).append("\n");
  return 0;
}

// A tree of files whose lines often match, often near one another.
void make_tree(const qg_test::TempDir &dir, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char *const words[] = {"needle", "hay", "x needle needle", "", "Needle", "nee"};
  for (int f = 0; f < 12; ++f) {
    std::string text;
    for (int n = static_cast<int>(rng() % 30); n > 0; --n) {
      text += std::string(words[rng() % 6]) + "\n";
    }
    dir.write("d" + std::to_string(f % 3) + "/f" + std::to_string(f) + ".txt", text);
  }
}

std::string without_escapes(const std::string &text) {
  static const std::regex escape("\033\\[[0-9;]*m");
  return std::regex_replace(text, escape, "");
}

TEST(LinePrinter, MatchObjectsAreTheStreamsOnAnyNumberOfThreads) {
  qg_test::TempDir dir;
  make_tree(dir, 3);
  for (const char *options : {R"({"context_lines":2,"submatches":true})", R"({"ignore_case":true})"}) {
    std::string streamed;
    ASSERT_GE(grep_search_stream_ctx(dir.path().c_str(), "needle", options, collect_object,
                                     &streamed),
              0);
    for (int threads : {1, 4}) {
      std::string doc = options;
      doc.insert(1, "\"print\":\"json\",\"threads\":" + std::to_string(threads) + ",");
      EXPECT_EQ(print(dir.path(), "needle", doc).text, streamed) << doc;
    }
  }
}

TEST(LinePrinter, LinesCountsAndFilesAgreeWithTheDocument) {
  qg_test::TempDir dir;
  make_tree(dir, 5);
  const std::string document = grep_search_json(dir.path().c_str(), "needle", nullptr);
  yyjson_doc *doc = yyjson_read(document.data(), document.size(), 0);
  std::string lines, counts, files;
  std::string file;
  int count = 0;
  auto flush = [&] {
    if (count == 0) return;
    counts += file + ":" + std::to_string(count) + "\n";
    files += file + "\n";
  };
  size_t idx, max;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, m) {
    const std::string f = yyjson_get_str(yyjson_obj_get(m, "file"));
    if (f != file) {
      flush();
      file = f;
      count = 0;
    }
    ++count;
    lines += f + ":" + std::to_string(yyjson_get_int(yyjson_obj_get(m, "line"))) + ":" +
             std::to_string(yyjson_get_int(yyjson_obj_get(m, "col"))) + ":" +
             yyjson_get_str(yyjson_obj_get(m, "text")) + "\n";
  }
  flush();
  yyjson_doc_free(doc);
  EXPECT_EQ(print(dir.path(), "needle", "{}").text, lines);
  EXPECT_EQ(print(dir.path(), "needle", R"({"print":"count","threads":3})").text, counts);
  EXPECT_EQ(print(dir.path(), "needle", R"({"print":"files"})").text, files);
  const printed p = print(dir.path(), "needle", R"({"color":true,"context_lines":1})");
  EXPECT_EQ(without_escapes(p.text), print(dir.path(), "needle", R"({"context_lines":1})").text);
  EXPECT_NE(p.text.find("\033[01;31mneedle\033[m"), std::string::npos);
}

TEST(LinePrinter, ContextAndHeadingsOnAnyNumberOfThreads) {
  qg_test::TempDir dir;
  make_tree(dir, 9);
  for (const char *options : {R"({"context_lines":1})", R"({"before_context":2,"heading":true})",
                              R"({"after_context":3,"line_number":false,"column":false})"}) {
    std::string threaded = options;
    threaded.insert(1, "\"threads\":4,");
    const printed one = print(dir.path(), "needle", options);
    EXPECT_EQ(one.status, GREP_OK) << one.summary;
    EXPECT_EQ(print(dir.path(), "needle", threaded).text, one.text) << options;
  }
}

// A long line is shown as a window of at most "max_columns" bytes around its
// first match, never splitting a character, with marks that account for
// every byte left out: on generated lines, the marks and the window give the
// line back, and the match is in the window whenever it fits.
TEST(LinePrinter, LongLinesShowAWindowAroundTheMatch) {
  qg_test::TempDir dir;
  std::mt19937 rng(17);
  static const char *const pieces[] = {"a", "bb", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", " "};
  static const std::regex row("^f\\.txt:1:([0-9]+):(?:\\[\\.\\.\\. ([0-9]+) bytes\\] )?(.*?)"
                              "(?: \\[\\.\\.\\. ([0-9]+) bytes\\])?$");
  for (int round = 0; round < 300; ++round) {
    std::string line;
    for (int n = static_cast<int>(rng() % 80); n > 0; --n) line += pieces[rng() % 6];
    const size_t at = rng() % (line.size() + 1);
    const std::string needle = "NEEDLE";
    // Insert at a character boundary.
    size_t cut = at;
    while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
    line.insert(cut, needle);
    dir.write("f.txt", line + "\n");
    const int cap = static_cast<int>(8 + rng() % 60);
    const std::string options = "{\"relative_paths\":true,\"max_columns\":" + std::to_string(cap) + "}";
    const printed p = print(dir.path(), "NEEDLE", options);
    std::smatch m;
    const std::string printed_row = p.text.substr(0, p.text.size() - 1);
    ASSERT_TRUE(std::regex_match(printed_row, m, row)) << p.text;
    const size_t before = m[2].matched ? std::stoul(m[2]) : 0;
    const size_t after = m[4].matched ? std::stoul(m[4]) : 0;
    const std::string shown = m[3];
    EXPECT_EQ(std::stoul(m[1]), cut + 1);
    ASSERT_EQ(before + shown.size() + after, line.size()) << p.text;
    EXPECT_EQ(line.substr(before, shown.size()), shown);
    if (line.size() > static_cast<size_t>(cap)) {
      EXPECT_LE(shown.size(), static_cast<size_t>(cap) + 6) << p.text;  // a character's spill
      EXPECT_NE(shown.find(needle), std::string::npos) << p.text;
    } else {
      EXPECT_EQ(shown, line);
    }
    for (size_t edge : {before, before + shown.size()}) {
      if (edge < line.size()) {
        EXPECT_NE(static_cast<unsigned char>(line[edge]) & 0xC0, 0x80u) << p.text;
      }
    }
  }
}

TEST(LinePrinter, PathsBelowTheRootAndNulAfterThem) {
  qg_test::TempDir dir;
  dir.write("sub/a.txt", "x\n");
  const std::string file = dir.at("sub/a.txt");
  const std::string below = file.substr(dir.path().size() + 1);  // "sub/a.txt", the walk's separator
  EXPECT_EQ(print(dir.path(), "x", R"({"relative_paths":true})").text, below + ":1:1:x\n");
  EXPECT_EQ(print(dir.path() + "/", "x", R"({"relative_paths":true,"null_after_path":true})").text,
            below + std::string(1, '\0') + "1:1:x\n");
  EXPECT_EQ(print(file, "x", R"({"relative_paths":true,"print":"files","null_after_path":true})").text,
            file + std::string(1, '\0'));
}

int stop_now(const char *, size_t, void *counter) {
  ++*static_cast<int *>(counter);
  return 1;
}

TEST(LinePrinter, TheHostStopsItWithItsFirstPiece) {
  qg_test::TempDir dir;
  make_tree(dir, 11);
  int calls = 0;
  const std::string summary =
      grep_search_lines(dir.path().c_str(), nullptr, 0, "needle", "{}", stop_now, &calls);
  EXPECT_EQ(grep_last_status(), GREP_STOPPED);
  EXPECT_EQ(calls, 1);
  EXPECT_NE(summary.find("\"files_matched\":1,"), std::string::npos) << summary;
  const std::string failed =
      grep_search_lines(dir.at("missing").c_str(), nullptr, 0, "x", "{}", stop_now, &calls);
  EXPECT_EQ(grep_last_status(), GREP_E_NOT_FOUND);
  EXPECT_EQ(failed.rfind("{\"total_matches\":0,\"files_searched\":0,\"files_matched\":0,", 0), 0u)
      << failed;
}

}  // namespace
