// What every export says about how it ended, through the public interface
// alone: the status of each kind of outcome, the texts that stand for a
// failure, and the status of one call never leaking into the next.
#include "quenmar_grep.h"

#include "support/json_text.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using qg_test::json_quoted;

// The members of a search document that tell its outcome.
struct Document {
  bool parsed = false;
  std::string error;  // "" when there is no "error" member
  int64_t total = -1;
  int64_t files = -1;
  bool timed_out = false;
};

Document read_document(const char *text) {
  Document d;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  if (doc == nullptr) return d;
  yyjson_val *root = yyjson_doc_get_root(doc);
  d.parsed = true;
  const char *error = yyjson_get_str(yyjson_obj_get(root, "error"));
  d.error = error != nullptr ? error : "";
  d.total = yyjson_get_int(yyjson_obj_get(root, "total_matches"));
  d.files = yyjson_get_int(yyjson_obj_get(root, "files_searched"));
  d.timed_out = yyjson_get_bool(yyjson_obj_get(root, "timed_out"));
  yyjson_doc_free(doc);
  return d;
}

int count_all(const char *, void *) { return 0; }

// One export called one way, and what it must say.
struct Call {
  const char *what;
  std::function<void()> run;
  int status;
};

TEST(Status, EveryExportSaysHowItEnded) {
  qg_test::TempDir t;
  const std::string file = t.write("a.txt", "L1\nneedle\nL3\n");
  const std::string other = t.write("b.txt", "needle\n");
  const std::string missing = t.at("missing");
  const std::string large = t.write("large.txt", "");
  ASSERT_TRUE(qg_test::set_file_size(large, 268435457));
  const std::string big_pattern(300000, 'a');
  const std::string dir = t.path();
  const char *text = "x needle y";

  const Call calls[] = {
      {"search", [&] { grep_search_json(dir.c_str(), "needle", nullptr); }, GREP_OK},
      {"search finding nothing", [&] { grep_search_json(file.c_str(), "zz", nullptr); }, GREP_OK},
      {"search without pattern", [&] { grep_search_json(dir.c_str(), nullptr, nullptr); },
       GREP_E_ARGUMENT},
      {"search, bad options", [&] { grep_search_json(dir.c_str(), "x", "{"); }, GREP_E_ARGUMENT},
      {"search, missing root", [&] { grep_search_json(missing.c_str(), "x", nullptr); },
       GREP_E_NOT_FOUND},
      {"search, root too large", [&] { grep_search_json(large.c_str(), "x", nullptr); }, GREP_E_IO},
      {"search, pattern too large",
       [&] { grep_search_json(dir.c_str(), big_pattern.c_str(), R"({"regex":true})"); },
       GREP_E_ARGUMENT},
      {"search text", [&] { grep_search_text("buf.c", text, strlen(text), "needle", nullptr); },
       GREP_OK},
      {"search text, no name", [&] { grep_search_text(nullptr, text, 3, "needle", nullptr); },
       GREP_E_ARGUMENT},
      {"search text, null with a length",
       [&] { grep_search_text("b", nullptr, 3, "needle", nullptr); }, GREP_E_ARGUMENT},
      {"stream", [&] { grep_search_stream(dir.c_str(), "needle", nullptr, nullptr); }, GREP_OK},
      {"stream, missing root",
       [&] { grep_search_stream(missing.c_str(), "needle", nullptr, nullptr); }, GREP_E_NOT_FOUND},
      {"stream stopped by its callback",
       [&] {
         grep_search_stream_ctx(
             dir.c_str(), "needle", nullptr, [](const char *, void *) { return 1; }, nullptr);
       },
       GREP_STOPPED},
      {"stream, bad options",
       [&] { grep_search_stream_ctx(dir.c_str(), "x", "[1,", count_all, nullptr); },
       GREP_E_ARGUMENT},
      {"replace", [&] { grep_replace_lines(file.c_str(), 1, 1, "L1"); }, GREP_OK},
      {"replace, no path", [&] { grep_replace_lines(nullptr, 1, 1, "x"); }, GREP_E_ARGUMENT},
      {"replace, missing file", [&] { grep_replace_lines(missing.c_str(), 1, 1, "x"); },
       GREP_E_NOT_FOUND},
      {"batch",
       [&] {
         grep_batch_replace_json(
             ("[{\"file\":" + json_quoted(other) + ",\"start_line\":1,\"new_text\":\"needle\"}]")
                 .c_str());
       },
       GREP_OK},
      {"batch, first failure decides",
       [&] {
         grep_batch_replace_json(
             ("[{\"file\":" + json_quoted(missing) + "},{\"file\":" + json_quoted(other) +
              ",\"start_line\":1},{\"file\":" + json_quoted(other) + ",\"start_line\":1}]")
                 .c_str());
       },
       GREP_E_NOT_FOUND},
      {"batch, invalid JSON", [&] { grep_batch_replace_json("[1,"); }, GREP_E_ARGUMENT},
      {"batch, empty", [&] { grep_batch_replace_json(""); }, GREP_E_ARGUMENT},
      {"read", [&] { grep_read_lines(file.c_str(), 1, 2); }, GREP_OK},
      {"read, nothing selected", [&] { grep_read_lines(t.write("empty.txt", "").c_str(), 0, 0); },
       GREP_OK},
      {"read, no path", [&] { grep_read_lines(nullptr, 1, 1); }, GREP_E_ARGUMENT},
      {"read, missing file", [&] { grep_read_lines(missing.c_str(), 1, 1); }, GREP_E_NOT_FOUND},
      {"read, reversed range", [&] { grep_read_lines(file.c_str(), 3, 2); }, GREP_E_ARGUMENT},
      {"read, past the end", [&] { grep_read_lines(file.c_str(), 9, 9); }, GREP_E_ARGUMENT},
      {"read, too large", [&] { grep_read_lines(large.c_str(), 1, 1); }, GREP_E_IO},
  };
  // Each call after every other: a status never outlives the call that set it.
  for (const Call &before : calls) {
    for (const Call &c : calls) {
      before.run();
      c.run();
      EXPECT_EQ(grep_last_status(), c.status) << c.what << " after " << before.what;
      // The texts beside the status leave it alone.
      grep_version();
      grep_last_error();
      EXPECT_EQ(grep_last_status(), c.status) << c.what;
      if (c.status < 0) {
        EXPECT_STRNE(grep_last_error(), "") << c.what;
      }
    }
  }
}

TEST(Status, AFreshThreadStartsAtOk) {
  int status = -99;
  std::string error = "unset";
  std::thread([&] {
    status = grep_last_status();
    error = grep_last_error();
  }).join();
  EXPECT_EQ(status, GREP_OK);
  EXPECT_EQ(error, "");
}

// A root the search cannot read fails it, whatever kind of thing it names; the
// same things met inside a walk are passed over.
TEST(Status, RefusedRootsFailTheSearchAndWalkedOnesArePassedOver) {
  qg_test::TempDir t;
  t.write("tree/a.txt", "needle\n");
  std::vector<std::string> refused = {t.at("missing"), t.write("tree/big.txt", "")};
  ASSERT_TRUE(qg_test::set_file_size(refused[1], 268435457));
  if (qg_test::make_fifo(t.at("tree/pipe"))) refused.push_back(t.at("tree/pipe"));
  for (const std::string &root : refused) {
    const Document d = read_document(grep_search_json(root.c_str(), "needle", nullptr));
    const int status = grep_last_status();
    EXPECT_TRUE(status == GREP_E_IO || status == GREP_E_NOT_FOUND) << root << " " << status;
    EXPECT_EQ(d.error, grep_last_error()) << root;
    EXPECT_FALSE(d.error.empty()) << root;
    EXPECT_EQ(grep_search_stream(root.c_str(), "needle", nullptr, nullptr), -1) << root;
    EXPECT_EQ(grep_last_status(), status) << root;
  }
  for (const char *options : {"{}", R"({"threads":3})"}) {
    const Document d = read_document(grep_search_json(t.at("tree").c_str(), "needle", options));
    EXPECT_EQ(grep_last_status(), GREP_OK);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.total, 1);
    EXPECT_EQ(d.files, 1);
  }
}

// A time limit that a dense file cannot be searched within ends the search
// with what it found, for every report and thread count; the next search on
// the same thread, without a limit, is whole and says so.
TEST(Status, TimeLimitThenACompleteSearch) {
  qg_test::TempDir t;
  std::string dense;
  for (int i = 0; i < 2000000; ++i) dense += "a\n";
  t.write("d/one.txt", dense);
  t.write("d/two.txt", dense);
  const std::string root = t.at("d");
  for (const char *options : {R"({"timeout_ms":1})", R"({"timeout_ms":1,"threads":4})"}) {
    const Document d = read_document(grep_search_json(root.c_str(), "a", options));
    EXPECT_EQ(grep_last_status(), GREP_TIMED_OUT) << options;
    EXPECT_TRUE(d.timed_out) << options;
    EXPECT_LT(d.total, 4000000) << options;
    EXPECT_EQ(std::string(grep_last_error()), "Search stopped at the time limit of 1 ms");
    const int streamed = grep_search_stream(root.c_str(), "a", options, nullptr);
    EXPECT_EQ(grep_last_status(), GREP_TIMED_OUT) << options;
    EXPECT_GE(streamed, 0);
    EXPECT_LT(streamed, 4000000);

    const Document whole = read_document(grep_search_json(t.at("d/one.txt").c_str(), "a", "{}"));
    EXPECT_EQ(grep_last_status(), GREP_OK);
    EXPECT_FALSE(whole.timed_out);
    EXPECT_EQ(whole.total, 2000000);
  }
}

// A callback that stops at the first match stops a search on several threads
// too: one match delivered, GREP_STOPPED.
TEST(Status, ACallbackStopsASearchOnSeveralThreads) {
  qg_test::TempDir t;
  std::string dense;
  for (int i = 0; i < 200000; ++i) dense += "a\n";
  for (int f = 0; f < 20; ++f) t.write("f" + std::to_string(f) + ".txt", dense);
  int calls = 0;
  auto stop_at_once = [](const char *, void *user_data) {
    ++*static_cast<int *>(user_data);
    return 1;
  };
  EXPECT_EQ(grep_search_stream_ctx(t.path().c_str(), "a", R"({"threads":4})", stop_at_once, &calls),
            1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(grep_last_status(), GREP_STOPPED);
}

}  // namespace
