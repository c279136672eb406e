// The search document and the streaming search: shape, escaping, context
// windows, repair of invalid UTF-8, agreement of the two reports, threads.
#include "search_core/clock.h"
#include "search_core/report_json.h"
#include "search_core/report_stream.h"

#include "grep_core/last_error.h"
#include "quenmar_grep.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The document search's text, or "<null>" when it gave none.
std::string search_json(const std::string &root, const char *pattern,
                        const char *options = nullptr) {
  char *text = grep_core_search_json(root.c_str(), pattern, options);
  std::string out = text != nullptr ? text : "<null>";
  free(text);
  return out;
}

// A text as the content of a JSON string, for the paths that expected
// documents hold (on Windows every separator is a reverse solidus).
std::string json_text(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// The document with its timing replaced by 0, for comparing whole texts.
std::string without_duration(const std::string &doc) {
  static const std::regex duration("\"duration_ms\":[0-9]+\\}$");
  EXPECT_TRUE(std::regex_search(doc, duration)) << doc;
  return std::regex_replace(doc, duration, "\"duration_ms\":0}");
}

// Streamed texts are collected per thread, since the callback has no
// context: into the vector of the search_stream call running on the thread
// (a plain pointer, so that no thread-local object has a destructor).
thread_local std::vector<std::string> *t_streamed = nullptr;

void collect(const char *match_json) {
  if (t_streamed != nullptr) t_streamed->emplace_back(match_json);
}

std::vector<std::string> search_stream(const std::string &root, const char *pattern,
                                       const char *options, int *out_count) {
  std::vector<std::string> texts;
  t_streamed = &texts;
  *out_count = grep_core_search_stream(root.c_str(), pattern, options, collect);
  t_streamed = nullptr;
  return texts;
}

// Each element of the document's "matches", written compactly on its own.
std::vector<std::string> document_matches(const std::string &doc_text) {
  std::vector<std::string> out;
  yyjson_doc *doc = yyjson_read(doc_text.c_str(), doc_text.size(), 0);
  EXPECT_NE(doc, nullptr) << doc_text;
  if (doc == nullptr) return out;
  size_t idx, max;
  yyjson_val *match;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, match) {
    char *text = yyjson_val_write(match, 0, nullptr);
    out.emplace_back(text);
    free(text);
  }
  yyjson_doc_free(doc);
  return out;
}

std::string ten_lines() {
  std::string text;
  for (int i = 1; i <= 10; ++i)
    text += "line" + std::to_string(i) + (i == 1 || i == 5 || i == 10 ? " hit" : "") + "\n";
  return text;
}

TEST(SearchJson, NothingFoundGivesTheBareDocument) {
  qg_test::TempDir t;
  t.write("a.txt", "alpha\n");
  t.write("b.txt", "beta\n");
  EXPECT_EQ(without_duration(search_json(t.path(), "zeta")),
            R"({"matches":[],"total_matches":0,"files_searched":2,"duration_ms":0})");
}

TEST(SearchJson, WholeDocumentWithEscaping) {
  qg_test::TempDir t;
  // A name with a quotation mark and a reverse solidus where names may hold
  // them; on Windows the separators give the reverse solidi.
  const std::string name = qg_test::names_are_bytes() ? "q\"b\\.txt" : "q'b.txt";
  std::string file = t.write(name, "x\n\tsay \"hi\" \\ a/b \x01\x1F caf\xC3\xA9\n");
  const std::string expected_file = json_text(file);
  EXPECT_EQ(without_duration(search_json(file, "say")),
            "{\"matches\":[{\"file\":\"" + expected_file +
                "\",\"line\":2,\"col\":2,\"text\":\"\\tsay \\\"hi\\\" \\\\ a/b \\u0001\\u001F "
                "caf\xC3\xA9\",\"context\":[]}],\"total_matches\":1,\"files_searched\":1,"
                "\"duration_ms\":0}");
}

// "captures": each match, and with "submatches" each submatch, says where
// each group took part: named ones with their name first, null for one that
// took none; a pattern without groups, a literal or the dialect gives [].
TEST(SearchJson, GroupsOfEachMatch) {
  qg_test::TempDir t;
  const std::string file = t.write("a.c", "f(12) g(7)\n");
  const std::string head = "{\"matches\":[{\"file\":\"" + json_text(file) +
                           "\",\"line\":1,\"col\":1,\"text\":\"f(12) g(7)\"";
  const std::string tail =
      ",\"context\":[]}],\"total_matches\":1,\"files_searched\":1,"
      "\"duration_ms\":0}";
  const std::string std_caps = R"({"regex":true,"syntax":"standard","captures":true)";
  const struct {
    const char *pattern;
    std::string options;
    std::string members;
  } cases[] = {
      {R"((?P<name>\w)\((\d+)(x)?)", std_caps + "}",
       R"(,"groups":[{"name":"name","col":1,"length":1},{"col":3,"length":2},null])"},
      {R"((\w)\((?:\d)+)", std_caps + R"(,"submatches":true})",
       R"(,"submatches":[{"col":1,"length":4,"groups":[{"col":1,"length":1}]},)"
       R"({"col":7,"length":3,"groups":[{"col":7,"length":1}]}],"groups":[{"col":1,"length":1}])"},
      {R"(\w\()", std_caps + "}", R"(,"groups":[])"},
      {"f(", R"({"captures":true})", R"(,"groups":[])"},
      {"f(", R"({"regex":true,"captures":true})", R"(,"groups":[])"},
      {R"((\w)\()", R"({"regex":true,"syntax":"standard"})", ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(without_duration(search_json(file, c.pattern, c.options.c_str())),
              head + c.members + tail)
        << c.pattern << " " << c.options;
  }
  // The captures' working memory is bounded: a pattern of very many groups
  // is refused with captures, and searched as usual without.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "(f)";
  EXPECT_EQ(search_json(file, many.c_str(), (std_caps + "}").c_str()), "<null>");
  EXPECT_EQ(std::string(qm_grep_get_last_error()).rfind("Pattern too large for captures: ", 0), 0u)
      << qm_grep_get_last_error();
  EXPECT_NE(search_json(file, many.c_str(), R"({"regex":true,"syntax":"standard"})"), "<null>");
}

struct WindowCase {
  const char *options;
  std::string expected_matches;
};

TEST(SearchJson, ContextWindows) {
  qg_test::TempDir t;
  std::string file = t.write("ten.txt", ten_lines());
  auto obj = [](int line, const char *text, const std::string &context) {
    return "{\"file\":\"FILE\",\"line\":" + std::to_string(line) +
           ",\"col\":" + std::to_string(static_cast<int>(std::string(text).find("hit")) + 1) +
           ",\"text\":\"" + text + "\",\"context\":[" + context + "]}";
  };
  const std::string all =
      R"("line1 hit","line2","line3","line4","line5 hit","line6","line7","line8","line9","line10 hit")";
  const WindowCase cases[] = {
      {nullptr,
       obj(1, "line1 hit", "") + "," + obj(5, "line5 hit", "") + "," + obj(10, "line10 hit", "")},
      {R"({"context_lines":-4})",
       obj(1, "line1 hit", "") + "," + obj(5, "line5 hit", "") + "," + obj(10, "line10 hit", "")},
      {R"({"context_lines":2})",
       obj(1, "line1 hit", R"("line1 hit","line2","line3")") + "," +
           obj(5, "line5 hit", R"("line3","line4","line5 hit","line6","line7")") + "," +
           obj(10, "line10 hit", R"("line8","line9","line10 hit")")},
      {R"({"context_lines":2147483647})", obj(1, "line1 hit", all) + "," +
                                              obj(5, "line5 hit", all) + "," +
                                              obj(10, "line10 hit", all)},
  };
  for (const WindowCase &c : cases) {
    std::string expected =
        "{\"matches\":[" +
        std::regex_replace(c.expected_matches, std::regex("FILE"), json_text(file)) +
        "],\"total_matches\":3,\"files_searched\":1,\"duration_ms\":0}";
    EXPECT_EQ(without_duration(search_json(file, "hit", c.options)), expected)
        << (c.options ? c.options : "no options");
  }
}

TEST(SearchJson, NeighbouringWindowsAreNotMerged) {
  qg_test::TempDir t;
  std::string file = t.write("n.txt", "a\nhit\nhit\nb\n");
  std::vector<std::string> m = document_matches(search_json(file, "hit", R"({"context_lines":1})"));
  ASSERT_EQ(m.size(), 2u);
  EXPECT_NE(m[0].find(R"("context":["a","hit","hit"])"), std::string::npos) << m[0];
  EXPECT_NE(m[1].find(R"("context":["hit","hit","b"])"), std::string::npos) << m[1];
}

TEST(SearchJson, RefusedArgumentsAndOptions) {
  qm_grep_clear_last_error();
  EXPECT_EQ(grep_core_search_json("/", nullptr, "{}"), nullptr);
  EXPECT_STREQ(qm_grep_get_last_error(), "root_path and pattern are required");
  EXPECT_EQ(grep_core_search_json(nullptr, "x", "{"), nullptr);
  EXPECT_STREQ(qm_grep_get_last_error(), "root_path and pattern are required");
  EXPECT_EQ(grep_core_search_json("/nonexistent", "x", "{\"regex\":tru"), nullptr);
  EXPECT_STREQ(qm_grep_get_last_error(), "Invalid JSON in options: {\"regex\":tru");
}

// A root that names nothing is a failure, not an empty result.
TEST(SearchJson, MissingRootFails) {
  qg_test::TempDir t;
  EXPECT_EQ(search_json(t.at("missing"), "x"), "<null>");
  EXPECT_EQ(qg_get_status(), GREP_E_NOT_FOUND);
  EXPECT_EQ(std::string(qm_grep_get_last_error()).rfind("Cannot open file '", 0), 0u);
}

// A Latin-1 line, a UTF-16 line with an unpaired surrogate and a file whose
// name is not UTF-8: each string is repaired, nothing is lost.
struct InvalidCase {
  const char *name;
  std::string bytes;
  const char *file_json;  // the name as "file" ends, null: unchanged
  const char *text_json;
  int col;
};

TEST(SearchReports, InvalidUtf8IsRepairedInBothReports) {
  const InvalidCase cases[] = {
      {"latin1.txt", "caf\xE9 needle\n", nullptr, "caf\xEF\xBF\xBD needle", 6},
      {"surrogate.txt", std::string("\xFF\xFE\x00\xD8n\0e\0e\0d\0l\0e\0", 16), nullptr,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDneedle", 4},
      {"n\xE9.txt", "needle\n", "n\xEF\xBF\xBD.txt", "needle", 1},
  };
  for (const InvalidCase &c : cases) {
    if (c.file_json != nullptr && !qg_test::names_are_bytes()) continue;  // no such name there
    qg_test::TempDir t;
    std::string file = t.write(c.name, c.bytes);
    t.write("ok.txt", "fine needle\n");
    const std::string expected = std::string("\"text\":\"") + c.text_json + "\",";
    const std::string expected_file =
        "\"file\":\"" + json_text(t.at(c.file_json ? c.file_json : c.name)) + "\"";
    const std::string col = ",\"col\":" + std::to_string(c.col) + ",";

    std::string doc = search_json(t.path(), "needle", R"({"context_lines":1})");
    std::vector<std::string> matches = document_matches(doc);
    int count = 0;
    std::vector<std::string> streamed =
        search_stream(t.path(), "needle", R"({"context_lines":1})", &count);
    EXPECT_EQ(count, 2) << c.name;
    EXPECT_EQ(streamed, matches) << c.name;
    ASSERT_EQ(matches.size(), 2u) << doc;
    const std::string &bad =
        matches[0].find("ok.txt") != std::string::npos ? matches[1] : matches[0];
    EXPECT_NE(bad.find(expected_file), std::string::npos) << bad;
    EXPECT_NE(bad.find(col), std::string::npos) << bad;
    EXPECT_NE(bad.find(expected), std::string::npos) << bad;
    EXPECT_NE(bad.find(std::string("\"context\":[\"") + c.text_json + "\"]"), std::string::npos)
        << bad;
  }
}

TEST(SearchReports, PublicSearchKeepsTheDocumentOfALatin1Tree) {
  qg_test::TempDir t;
  t.write("a.txt", "\xE9t\xE9 needle\n");
  const char *doc = grep_search_json(t.path().c_str(), "needle", nullptr);
  EXPECT_EQ(std::string(doc).find("\"error\""), std::string::npos) << doc;
  EXPECT_NE(std::string(doc).find("\"total_matches\":1,"), std::string::npos) << doc;
}

TEST(SearchStream, TextsEqualTheDocumentsMatches) {
  qg_test::TempDir t;
  t.write("a.c", "int needle = 1;\n\"needle\"\\\n");
  t.write("sub/b.txt", ten_lines() + "needle\r\nx\r\n");
  t.write("sub/deeper/c.txt", "\tneedle\n");
  const char *options[] = {nullptr, R"({"context_lines":3})",
                           R"({"context_lines":1,"max_results":3})",
                           R"({"regex":true,"ignore_case":true})"};
  for (const char *o : options) {
    const char *pattern =
        o != nullptr && std::string(o).find("regex") != std::string::npos ? "n[e]+DLE" : "needle";
    std::string doc = search_json(t.path(), pattern, o);
    int count = 0;
    std::vector<std::string> streamed = search_stream(t.path(), pattern, o, &count);
    std::vector<std::string> matches = document_matches(doc);
    EXPECT_FALSE(matches.empty());
    EXPECT_EQ(streamed, matches) << (o ? o : "no options");
    EXPECT_NE(doc.find("\"total_matches\":" + std::to_string(count) + ","), std::string::npos);
    if (o != nullptr) continue;
    for (const std::string &s : streamed)
      EXPECT_EQ(s.substr(s.size() - 14), ",\"context\":[]}") << s;
  }
}

TEST(SearchStream, ShapeOfOneMatchText) {
  qg_test::TempDir t;
  std::string file = t.write("a.c", "x\ny\nint x = 1;\n");
  int count = 0;
  std::vector<std::string> streamed = search_stream(file, "x = 1", nullptr, &count);
  ASSERT_EQ(streamed.size(), 1u);
  EXPECT_EQ(streamed[0], "{\"file\":\"" + json_text(file) +
                             "\",\"line\":3,\"col\":5,\"text\":\"int x = 1;\",\"context\":[]}");
}

TEST(SearchStream, CountsWithoutACallbackAndHonoursTheCap) {
  qg_test::TempDir t;
  for (int i = 0; i < 10; ++i) t.write("f" + std::to_string(i) + ".txt", "needle\n");
  EXPECT_EQ(grep_core_search_stream(t.path().c_str(), "needle", nullptr, nullptr), 10);
  int count = 0;
  EXPECT_EQ(search_stream(t.path(), "needle", R"({"max_results":3})", &count).size(), 3u);
  EXPECT_EQ(count, 3);
}

TEST(SearchStream, RefusalsCallNothing) {
  qg_test::TempDir t;
  t.write("a.txt", "needle\n");
  int count = 0;
  EXPECT_TRUE(search_stream(t.path(), "needle", "{bad", &count).empty());
  EXPECT_EQ(count, -1);
  EXPECT_STREQ(qm_grep_get_last_error(), "Invalid JSON in options: {bad");
  EXPECT_EQ(grep_core_search_stream(t.path().c_str(), nullptr, nullptr, collect), -1);
  EXPECT_STREQ(qm_grep_get_last_error(), "root_path and pattern are required");
  EXPECT_TRUE(search_stream(t.at("missing"), "needle", nullptr, &count).empty());
  EXPECT_EQ(count, -1);
}

// The stoppable stream: the host's context reaches every call, a non-zero
// return ends the search at once, and the result counts the stopping match.
TEST(SearchStreamCtx, NonZeroReturnStopsAtOnce) {
  qg_test::TempDir t;
  for (int i = 0; i < 10; ++i) t.write("f" + std::to_string(i) + ".txt", "needle\nneedle\n");
  struct host {
    std::vector<std::string> texts;
    size_t stop_after;
  } h{{}, 3};
  auto callback = [](const char *match_json, void *user_data) {
    auto *me = static_cast<host *>(user_data);
    me->texts.emplace_back(match_json);
    return me->texts.size() == me->stop_after ? 1 : 0;
  };
  EXPECT_EQ(grep_search_stream_ctx(t.path().c_str(), "needle", nullptr, callback, &h), 3);
  EXPECT_EQ(h.texts.size(), 3u);
  // Never stopped, it delivers what grep_search_stream delivers; null only counts.
  h = {{}, 0};
  int count = 0;
  EXPECT_EQ(grep_search_stream_ctx(t.path().c_str(), "needle", nullptr, callback, &h), 20);
  EXPECT_EQ(h.texts, search_stream(t.path(), "needle", nullptr, &count));
  EXPECT_EQ(grep_search_stream_ctx(t.path().c_str(), "needle", nullptr, nullptr, nullptr), 20);
  EXPECT_EQ(grep_search_stream_ctx(t.path().c_str(), "needle", "{bad", callback, &h), -1);
}

// A time limit stops even a search stuck in one long line (a pattern of
// 20,000 atoms against 40,000 bytes is searched breadth first, for seconds):
// the document says so after its timing, the last error names the limit, and
// the stream stops the same way.
TEST(SearchTimeLimit, StopsInsideALongLineAndSaysSo) {
  qg_test::TempDir t;
  const std::string pattern = std::string(20000, 'a') + "b";
  t.write("long.txt", std::string(40000, 'a') + "b\n");
  const std::string doc =
      search_json(t.path(), pattern.c_str(), R"({"regex":true,"timeout_ms":30})");
  EXPECT_TRUE(std::regex_search(doc, std::regex("\"duration_ms\":[0-9]+,\"timed_out\":true\\}$")))
      << doc;
  EXPECT_STREQ(qm_grep_get_last_error(), "Search stopped at the time limit of 30 ms");
  qm_grep_set_last_error("earlier");
  int count = -1;
  search_stream(t.path(), pattern.c_str(), R"({"regex":true,"timeout_ms":30})", &count);
  EXPECT_EQ(count, 0);
  EXPECT_STREQ(qm_grep_get_last_error(), "Search stopped at the time limit of 30 ms");
  // Without the key (or with 0) nothing is added to the document.
  EXPECT_EQ(search_json(t.path(), "zzz", R"({"timeout_ms":0})").find("timed_out"),
            std::string::npos);
}

// A tree of files whose lines vary in length (none to a few hundred bytes)
// and about half of which hold "hit": matches of many sizes for the caps.
void write_varied_tree(const qg_test::TempDir &t) {
  uint32_t x = 12345;
  auto next = [&x] { return x = x * 1103515245u + 12345u, (x >> 16) & 0x7FFF; };
  for (int f = 0; f < 6; ++f) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
      const std::string filler(next() % 400, static_cast<char>('a' + f));
      text += next() % 2 == 0 ? filler + " hit\n" : filler + "\n";
    }
    t.write("d" + std::to_string(f % 2) + "/f" + std::to_string(f) + ".txt", text);
  }
}

// The document's bytes before its closing members.
size_t entries_length(const std::string &doc) {
  const size_t at = doc.rfind("],\"total_matches\":");
  EXPECT_NE(at, std::string::npos) << doc;
  return at;
}

// The output cap, held against the search without it: for caps from below
// an empty document to beyond the whole output, on one thread and four, the
// document holds the first matches of the whole search, never passes the
// cap, and says "output_limited" exactly when the next match would not have
// fitted with room for the closing members (at most 114 bytes); the stream
// hands over the first texts whose lengths add up to no more than the cap
// and stops at the one that would pass it, counting only what it handed.
TEST(SearchOutputCap, KeepsThePrefixThatFits) {
  qg_test::TempDir t;
  write_varied_tree(t);
  constexpr size_t kTailRoom = 114;
  constexpr size_t kEmptyDocument = 12 + kTailRoom;
  const char *base = R"({"context_lines":1)";
  const std::string whole = search_json(t.path(), "hit", (std::string(base) + "}").c_str());
  const std::vector<std::string> all = document_matches(whole);
  ASSERT_GT(all.size(), 50u);
  for (size_t cap : {size_t{1}, size_t{125}, size_t{126}, size_t{127}, size_t{400}, size_t{1500},
                     whole.size() / 3, whole.size() / 2, whole.size(), whole.size() + 200}) {
    for (int threads : {1, 4}) {
      const std::string options = std::string(base) + ",\"threads\":" + std::to_string(threads) +
                                  ",\"max_output_bytes\":" + std::to_string(cap) + "}";
      const std::string doc = search_json(t.path(), "hit", options.c_str());
      const std::vector<std::string> kept = document_matches(doc);
      ASSERT_LE(kept.size(), all.size()) << options;
      EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin())) << options;
      EXPECT_LE(doc.size(), std::max(cap, kEmptyDocument)) << options;
      const bool limited = kept.size() < all.size();
      EXPECT_EQ(doc.find("\"output_limited\":true}") != std::string::npos, limited) << options;
      EXPECT_EQ(grep_last_status(), limited ? GREP_OUTPUT_LIMITED : GREP_OK) << options;
      EXPECT_NE(doc.find("\"total_matches\":" + std::to_string(kept.size()) + ","),
                std::string::npos)
          << options;
      if (limited) {
        EXPECT_STREQ(
            qm_grep_get_last_error(),
            ("Search stopped at the output limit of " + std::to_string(cap) + " bytes").c_str());
        const size_t comma = kept.empty() ? 0 : 1;
        EXPECT_GT(entries_length(doc) + comma + all[kept.size()].size() + kTailRoom, cap)
            << options;
      }

      int count = -1;
      const std::vector<std::string> texts =
          search_stream(t.path(), "hit", options.c_str(), &count);
      ASSERT_LE(texts.size(), all.size()) << options;
      EXPECT_TRUE(std::equal(texts.begin(), texts.end(), all.begin())) << options;
      size_t handed = 0;
      for (const std::string &text : texts) handed += text.size();
      EXPECT_LE(handed, cap) << options;
      if (texts.size() < all.size()) {
        EXPECT_GT(handed + all[texts.size()].size(), cap) << options;
      }
      EXPECT_EQ(count, static_cast<int>(texts.size())) << options;
      EXPECT_EQ(grep_last_status(), texts.size() < all.size() ? GREP_OUTPUT_LIMITED : GREP_OK);
    }
  }
  // Without the key, or with 0 or below, nothing changes.
  for (const char *none : {R"({"context_lines":1,"max_output_bytes":0})",
                           R"({"context_lines":1,"max_output_bytes":-5})"}) {
    EXPECT_EQ(without_duration(search_json(t.path(), "hit", none)), without_duration(whole));
  }
}

// The file list under the same cap: the first paths of the whole list, and
// "output_limited" after "duration_ms" when a path was left out.
TEST(SearchOutputCap, CutsTheFileList) {
  qg_test::TempDir t;
  write_varied_tree(t);
  const std::string whole = grep_list_files_json(t.path().c_str(), nullptr);
  // Room for the first path and the longest members that may close the
  // list, whatever the length of the temporary folder's path on this system.
  const size_t first_path_end = whole.find("\",\"");
  ASSERT_NE(first_path_end, std::string::npos) << whole;
  const size_t longest_tail = strlen(
      "],\"total_files\":2147483647,\"duration_ms\":-9223372036854775808"
      ",\"output_limited\":true,\"depth_limited\":true}");
  const size_t cap = first_path_end + 1 + longest_tail;
  ASSERT_LT(cap, whole.size()) << whole;
  const std::string options = "{\"max_output_bytes\":" + std::to_string(cap) + "}";
  const std::string cut = grep_list_files_json(t.path().c_str(), options.c_str());
  EXPECT_EQ(grep_last_status(), GREP_OUTPUT_LIMITED);
  EXPECT_LE(cut.size(), cap);
  const size_t end = cut.find("],\"total_files\":");
  ASSERT_NE(end, std::string::npos) << cut;
  EXPECT_EQ(whole.compare(0, end, cut, 0, end), 0) << cut;
  EXPECT_GE(end, first_path_end + 1) << "holds a path";
  EXPECT_TRUE(
      std::regex_search(cut, std::regex("\"duration_ms\":[0-9]+,\"output_limited\":true\\}$")))
      << cut;
}

// Several threads search the same tree at the same moment (their first clock
// reading included) and each gets the whole, same result.
TEST(SearchReports, SearchesOnSeveralThreadsAtOnce) {
  qg_test::TempDir t;
  for (int i = 0; i < 20; ++i)
    t.write("d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt", ten_lines());
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<std::string> docs(kThreads);
  std::vector<std::vector<std::string>> streams(kThreads);
  std::vector<int> counts(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      docs[i] = search_json(t.path(), "hit", R"({"context_lines":1})");
      streams[i] = search_stream(t.path(), "hit", R"({"context_lines":1})", &counts[i]);
    });
  }
  for (std::thread &th : threads) th.join();
  std::vector<std::string> first = document_matches(docs[0]);
  ASSERT_EQ(first.size(), 60u);
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(document_matches(docs[i]), first) << "thread " << i;
    EXPECT_EQ(streams[i], first) << "thread " << i;
    EXPECT_EQ(counts[i], 60);
  }
}

TEST(SearchClock, FirstReadingFromSeveralThreads) {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<int64_t> first(kThreads), second(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      first[i] = search_clock_ms();
      second[i] = search_clock_ms();
    });
  }
  for (std::thread &th : threads) th.join();
  const int64_t after = search_clock_ms();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_LE(first[i], second[i]);
    EXPECT_LE(second[i], after);
    EXPECT_GE(first[i], 0);
  }
}

}  // namespace
