#include "quenmar_grep.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using qg_test::TempDir;

TEST(Exports, VersionAndFreshLastError) {
  EXPECT_STREQ(grep_version(), QG_VERSION_TEXT);  // the project's version
  std::string fresh = "unset";
  std::thread([&] { fresh = grep_last_error(); }).join();
  EXPECT_EQ(fresh, "");
}

TEST(Exports, ReadLinesFailureGivesEmptyTextAndMessage) {
  const char *text = grep_read_lines(nullptr, 1, 1);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_STREQ(grep_last_error(), "Missing file_path");
}

TEST(Exports, ReadLinesResultLivesUntilTheNextReadOnTheThread) {
  TempDir dir;
  std::string path = dir.write("f.txt", "one\ntwo\n");
  const char *first = grep_read_lines(path.c_str(), 1, 1);
  std::string copy = first;
  // Calls of other exports leave the read slot alone (ASan would catch a
  // release of `first` here).
  grep_search_json(path.c_str(), "one", nullptr);
  grep_batch_replace_json(nullptr);
  EXPECT_EQ(std::string(first), copy);
  const char *second = grep_read_lines(path.c_str(), 2, 2);
  EXPECT_STREQ(second, "2: two\n");
}

// Parses `text` as JSON and returns the "error" member of its root object.
std::string fallback_error(const char *text) {
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  EXPECT_NE(doc, nullptr) << "not valid JSON: " << text;
  if (doc == nullptr) return "<invalid>";
  yyjson_val *root = yyjson_doc_get_root(doc);
  EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "total_matches")), 0);
  EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(root, "matches")), 0u);
  std::string error = yyjson_get_str(yyjson_obj_get(root, "error"));
  yyjson_doc_free(doc);
  return error;
}

TEST(Exports, SearchWithoutRootGivesTheExactFallbackDocument) {
  EXPECT_STREQ(grep_search_json(nullptr, "x", nullptr),
               "{\"total_matches\":0,\"files_searched\":0,\"duration_ms\":0,\"matches\":[],"
               "\"error\":\"root_path and pattern are required\"}");
}

// The fallback document carries the failure's message as JSON string
// content: quotes escaped, and a byte that is not UTF-8 written as U+FFFD, so
// a host's parser never chokes on it.
TEST(Exports, FallbackDocumentIsValidJsonWhateverTheMessage) {
  TempDir dir;
  const char *doc = grep_search_json(dir.path().c_str(), "x", "{\"regex\":tru");
  EXPECT_EQ(fallback_error(doc), "Invalid JSON in options: {\"regex\":tru");
  EXPECT_NE(std::string(doc).find("{\\\"regex\\\":tru"), std::string::npos) << doc;

  doc = grep_search_json(dir.path().c_str(), "x", "{\"caf\xE9\\\":");
  EXPECT_EQ(fallback_error(doc), "Invalid JSON in options: {\"caf\xEF\xBF\xBD\\\":");
}

TEST(Exports, SlotsArePerThread) {
  TempDir dir;
  std::string path = dir.write("f.txt", "alpha\nbeta\n");
  const char *mine = grep_read_lines(path.c_str(), 1, 1);
  std::vector<std::thread> threads;
  std::vector<std::string> seen(4);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 200; ++round) {
        seen[i] = grep_read_lines(path.c_str(), 2, 2);
        grep_read_lines(nullptr, 0, 0);
        if (std::string(grep_last_error()) != "Missing file_path") seen[i] = "wrong error";
      }
      seen[i] = grep_read_lines(path.c_str(), 2, 2);
    });
  }
  for (auto &t : threads) t.join();
  for (const auto &s : seen) EXPECT_EQ(s, "2: beta\n");
  EXPECT_STREQ(mine, "1: alpha\n") << "other threads never release this thread's text";
}

}  // namespace
