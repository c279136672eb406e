// Allocation failures during a batch, injected one at a time: the Nth call of
// malloc, calloc or realloc made by the batch fails, for N = 0, 1, 2, ... until
// a run meets no failure. Whatever fails, nothing leaks, a file is either
// fully edited or untouched, and the report (when there is one) is valid.
//
// The allocator is replaced for this whole test program by symbol
// interposition, which AddressSanitizer's own allocator forbids; under the
// sanitizer the test is skipped.
#include "edit_core/batch.h"
#include "grep_core/last_error.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/posix/failing_allocator.h"

#ifndef QG_TEST_UNDER_ASAN

namespace {

using qg_test::g_alloc;
using qg_test::read_bytes;
using qg_test::TempDir;

std::string numbered_lines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += "L" + std::to_string(i) + "\n";
  return text;
}

TEST(BatchUnderAllocationFailure, NeverLeaksNorHalfEditsAFile) {
  TempDir dir;
  const std::string a = dir.at("a.txt");
  const std::string b = dir.at("b.txt");
  const std::string a_original = numbered_lines(20);
  const std::string b_original = numbered_lines(5);

  // Nine edits of a.txt (past the first room of 8), one of b.txt, and sixteen
  // missing files, so that the groups outgrow their first room of 16 too.
  std::string json = "{\"edits\":[";
  std::string a_expected;
  for (int k = 0; k < 9; ++k) {
    int line = 2 * k + 2;
    json += "{\"file\":\"" + a + "\",\"start_line\":" + std::to_string(line) + ",\"new_text\":\"E" +
            std::to_string(line) + "\"},";
    json += "{\"file\":\"" + dir.at("missing-" + std::to_string(k)) + "\"},";
  }
  for (int i = 1; i <= 20; ++i) {
    a_expected += (i % 2 == 0 && i <= 18 ? "E" : "L") + std::to_string(i) + "\n";
  }
  for (int k = 9; k < 16; ++k)
    json += "{\"file\":\"" + dir.at("missing-" + std::to_string(k)) + "\"},";
  json += "{\"file\":\"" + b + "\",\"start_line\":3,\"new_text\":\"x\\r\\ny\"}]}";
  const std::string b_expected = "L1\nL2\nx\ny\nL4\nL5\n";
  const std::vector<std::string> oom_messages = {"Out of memory reading batch instructions",
                                                 "Out of memory grouping batch edits",
                                                 "Out of memory composing the batch report"};

  bool finished = false;
  long runs = 0;
  for (long fail_at = 0; fail_at < 20000 && !finished; ++fail_at, ++runs) {
    dir.write("a.txt", a_original);
    dir.write("b.txt", b_original);
    qm_grep_set_last_error("before");

    g_alloc.arm(fail_at);
    char *result = grep_core_batch_replace_json(json.c_str());
    g_alloc.disarm();

    finished = !g_alloc.injected;
    SCOPED_TRACE("allocation " + std::to_string(fail_at) + " fails");
    EXPECT_EQ(g_alloc.live, result != nullptr ? 1 : 0) << "blocks leaked";
    std::string a_now = read_bytes(a);
    std::string b_now = read_bytes(b);
    EXPECT_TRUE(a_now == a_original || a_now == a_expected) << a_now;
    EXPECT_TRUE(b_now == b_original || b_now == b_expected) << b_now;

    if (result == nullptr) {
      std::string message = qm_grep_get_last_error();
      ASSERT_NE(std::find(oom_messages.begin(), oom_messages.end(), message), oom_messages.end())
          << message;
      if (message != oom_messages[2]) {
        EXPECT_EQ(a_now, a_original) << "no file is touched before the grouping is whole";
        EXPECT_EQ(b_now, b_original);
      }
      continue;
    }
    yyjson_doc *doc = yyjson_read(result, strlen(result), 0);
    ASSERT_NE(doc, nullptr) << result;
    yyjson_val *root = yyjson_doc_get_root(doc);
    int64_t modified = yyjson_get_sint(yyjson_obj_get(root, "files_modified"));
    EXPECT_FALSE(yyjson_get_bool(yyjson_obj_get(root, "success")));
    EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(root, "total_edits")), 26);
    EXPECT_EQ(modified, (a_now == a_expected) + (b_now == b_expected)) << result;
    EXPECT_EQ(static_cast<int64_t>(yyjson_arr_size(yyjson_obj_get(root, "errors"))), 18 - modified);
    yyjson_doc_free(doc);
    free(result);
  }
  EXPECT_TRUE(finished) << "a run without an injected failure was never reached";
  // Reading, grouping, each file's edit and the report allocate far more than
  // this; fewer runs would mean the allocator was not replaced at all.
  EXPECT_GT(runs, 20);
  EXPECT_EQ(read_bytes(a), a_expected);
  EXPECT_EQ(read_bytes(b), b_expected);
}

}  // namespace

#else  // QG_TEST_UNDER_ASAN

TEST(BatchUnderAllocationFailure, NeverLeaksNorHalfEditsAFile) {
  GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
}

#endif  // QG_TEST_UNDER_ASAN
