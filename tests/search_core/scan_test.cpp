// The reports' scan (files read into reused buffers and searched whole,
// match objects written straight as text) against the definition's search
// (files cut into lines, each line searched on its own, match objects built
// as yyjson values and written by yyjson): on generated trees and options,
// the documents must be the same bytes, timing aside.
#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/report_json.h"
#include "search_core/report_stream.h"
#include "support/literal.h"
#include "support/regex_named_ops.h"
#include "support/search_reference.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string report_document(const std::string &root, const std::string &pattern,
                            const std::string &options) {
  char *text = grep_core_search_json(root.c_str(), pattern.c_str(), options.c_str());
  std::string out = text != nullptr ? text : "<null>";
  free(text);
  static const std::regex duration("\"duration_ms\":[0-9]+\\}$");
  return std::regex_replace(out, duration, "\"duration_ms\":0}");
}

// A line of words, symbols, control bytes and the odd byte that is not UTF-8.
std::string random_line(std::mt19937 &rng) {
  static const char *pieces[] = {"foo",   "Foo",  "bar_baz", "x",       " ",    "\t",
                                 "\"q\"", "\\",   "(1)",     "10.25",   "\x01", "\xC3\xA9",
                                 "\xE9",  "fooo", "FOO ",    "foo_bar", "a.c",  "[x]",
                                 "|",     "$",    "\x1b",    "xa",      "a ",   "a"};
  std::string line;
  const size_t words = rng() % 8;
  for (size_t i = 0; i < words; ++i) line += pieces[rng() % (sizeof pieces / sizeof *pieces)];
  return line;
}

std::string random_file(std::mt19937 &rng) {
  static const char *endings[] = {"\n", "\r\n", "\r", "\n", "\n"};
  std::string text;
  const size_t lines = rng() % 30;
  for (size_t i = 0; i < lines; ++i) {
    text += random_line(rng);
    if (i + 1 < lines || rng() % 2) text += endings[rng() % 5];
  }
  if (rng() % 20 == 0) text.insert(rng() % (text.size() + 1), std::string(1, '\0'));
  if (rng() % 30 == 0) text = std::string(9000, 'x') + "\n" + text;  // a long first line
  return text;
}

TEST(ReportScan, DocumentsEqualTheDefinitionsOnGeneratedTrees) {
  std::mt19937 rng(23);
  const char *literals[] = {"foo",   "FOO", "o",        "x",   "a.c",
                            "\"q\"", "\\",  "\xC3\xA9", "a a", "o\nb"};
  // With the dialect's literals among them: alternatives that matching
  // divides as it goes (after an escape, inside a class), anchors, escapes
  // that do not fold.
  const char *patterns[] = {"fo+",      "\\w+_baz",   "^foo",        "o$",     "[x]|bar",
                            "",         ".",          "\\d+\\.\\d+", "x*",     "(1)|\\\\",
                            "foo|ba+r", "\\dfoo|bar", "^o|x",        "f\\Oo$", "[|]foo|q"};
  constexpr unsigned kPatterns = sizeof patterns / sizeof *patterns;
  int matched = 0;
  for (int round = 0; round < 600; ++round) {
    qg_test::TempDir dir;
    const int files = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < files; ++f) {
      dir.write("d" + std::to_string(f % 2) + "/f" + std::to_string(f) + ".txt", random_file(rng));
    }
    const bool regex = rng() % 2;
    const std::string pattern = regex ? patterns[rng() % kPatterns] : literals[rng() % 10];
    // Whole words overlapping their rejected neighbours need many tries.
    std::string options = "{\"regex\":" + std::string(regex ? "true" : "false");
    if (rng() % 3 == 0) options += ",\"ignore_case\":true";
    if (rng() % 3 == 0) options += ",\"whole_word\":true";
    if (rng() % 3 == 0) options += ",\"context_lines\":" + std::to_string(rng() % 4);
    if (rng() % 5 == 0) options += ",\"max_results\":" + std::to_string(1 + rng() % 5);
    if (rng() % 4 == 0) options += ",\"max_per_file\":" + std::to_string(1 + rng() % 3);
    if (rng() % 3 == 0) options += ",\"submatches\":true";
    if (rng() % 4 == 0) options += ",\"match_length\":true";
    options += "}";
    const std::string want = qg_test::reference_search_document(dir.path(), pattern, options);
    ASSERT_EQ(report_document(dir.path(), pattern, options), want)
        << "pattern " << pattern << " options " << options;
    if (want.find("\"total_matches\":0,") == std::string::npos) ++matched;
  }
  EXPECT_GT(matched, 100);  // most rounds find something to compare
}

// The parallel search against the search on one thread, on generated trees
// with binary and unreadable (too large) files: the same document bytes
// (timing aside), the same last-error text afterwards, the same objects in
// the same order from a stream that the callback stops.
TEST(ParallelSearch, GivesWhatOneThreadGives) {
  std::mt19937 rng(31);
  for (int round = 0; round < 60; ++round) {
    qg_test::TempDir dir;
    const int files = 1 + static_cast<int>(rng() % 40);
    for (int f = 0; f < files; ++f) {
      const std::string name = "d" + std::to_string(f % 5) + "/f" + std::to_string(f) + ".txt";
      const int kind = static_cast<int>(rng() % 12);
      if (kind == 0) {
        dir.write(name, std::string("bin\0ary foo\n", 12));
      } else if (kind == 1) {
        ASSERT_TRUE(qg_test::set_file_size(dir.write(name, ""), 268435457));  // too large
      } else {
        dir.write(name, random_file(rng));
      }
    }
    const bool regex = rng() % 2;
    const bool groups = regex && rng() % 2;
    const std::string pattern = groups ? "(?P<f>f)(o+)|(a)" : regex ? "fo+|a" : "foo";
    std::string options = "{\"regex\":" + std::string(regex ? "true" : "false");
    if (groups) options += ",\"syntax\":\"standard\",\"captures\":true";
    if (rng() % 2) options += ",\"context_lines\":" + std::to_string(rng() % 3);
    if (rng() % 3 == 0) options += ",\"max_results\":" + std::to_string(1 + rng() % 20);
    if (rng() % 3 == 0) options += ",\"max_per_file\":" + std::to_string(1 + rng() % 4);
    if (rng() % 2) options += ",\"match_length\":true";
    if (rng() % 3 == 0) options += ",\"submatches\":true";
    const std::string threaded = options + ",\"threads\":" + std::to_string(2 + rng() % 3) + "}";
    options += "}";
    qm_grep_set_last_error("before");
    const std::string one = report_document(dir.path(), pattern, options);
    const std::string one_error = qm_grep_get_last_error();
    qm_grep_set_last_error("before");
    ASSERT_EQ(report_document(dir.path(), pattern, threaded), one) << threaded;
    EXPECT_EQ(qm_grep_get_last_error(), one_error);

    struct host {
      std::vector<std::string> texts;
      size_t stop_after;
    };
    auto callback = [](const char *text, void *user_data) {
      auto *h = static_cast<host *>(user_data);
      h->texts.emplace_back(text);
      return h->texts.size() == h->stop_after ? 1 : 0;
    };
    const size_t stop_after = 1 + rng() % 10;
    host a{{}, stop_after}, b{{}, stop_after};
    const int na = grep_core_search_stream_ctx(dir.path().c_str(), pattern.c_str(), options.c_str(),
                                               callback, &a);
    const int nb = grep_core_search_stream_ctx(dir.path().c_str(), pattern.c_str(),
                                               threaded.c_str(), callback, &b);
    EXPECT_EQ(na, nb);
    EXPECT_EQ(a.texts, b.texts);
  }
}

// "match_length" adds one member and changes nothing else: without its
// "length" members the document is the one without the key, and each length
// is the one the finders give for the match's line (checked where the line
// is valid UTF-8, so that its text comes back unchanged).
TEST(MatchLength, AddsTheFindersLengthAndNothingElse) {
  std::mt19937 rng(41);
  const char *literals[] = {"foo", "FOO", "o", "a.c", "\\", "\xC3\xA9", "a a"};
  const char *patterns[] = {"fo+", "\\w+_baz", "^foo", "o$", "[x]|bar", "", ".", "x*", "o*b"};
  static const std::regex length_member(",\"length\":([0-9]+)");
  int checked = 0;
  for (int round = 0; round < 300; ++round) {
    qg_test::TempDir dir;
    dir.write("f.txt", random_file(rng));
    const bool regex = rng() % 2;
    const std::string pattern = regex ? patterns[rng() % 9] : literals[rng() % 7];
    const bool icase = rng() % 3 == 0, word = rng() % 3 == 0;
    std::string options = "{\"regex\":" + std::string(regex ? "true" : "false") +
                          ",\"ignore_case\":" + (icase ? "true" : "false") +
                          ",\"whole_word\":" + (word ? "true" : "false");
    if (rng() % 2) options += ",\"threads\":2";
    const std::string plain = report_document(dir.path(), pattern, options + "}");
    const std::string with =
        report_document(dir.path(), pattern, options + ",\"match_length\":true}");
    ASSERT_EQ(std::regex_replace(with, length_member, ""), plain) << options;

    yyjson_doc *doc = yyjson_read(with.data(), with.size(), 0);
    ASSERT_NE(doc, nullptr);
    size_t i, n;
    yyjson_val *m;
    yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), i, n, m) {
      const std::string text = yyjson_get_str(yyjson_obj_get(m, "text"));
      if (text.find("\xEF\xBF\xBD") != std::string::npos) continue;  // not UTF-8 in the file
      int32_t col = -1, length = -1;
      const bool found =
          regex ? regex_find_first(pattern.c_str(), text.c_str(), !icase, &col, &length)
                : fixed_find_first(pattern.c_str(), text.c_str(), !icase, word, &col, &length);
      ASSERT_TRUE(found) << pattern << " in " << text;
      EXPECT_EQ(yyjson_get_int(yyjson_obj_get(m, "col")), col) << pattern << " in " << text;
      EXPECT_EQ(yyjson_get_int(yyjson_obj_get(m, "length")), length) << pattern << " in " << text;
      ++checked;
    }
    yyjson_doc_free(doc);
  }
  EXPECT_GT(checked, 300);
}

}  // namespace
