// Allocation failures during a search, injected one at a time, on one thread
// and on several: whichever allocation fails, the search either gives the
// whole document it gives without failures, or fails with GREP_E_NO_MEMORY
// and a message; nothing leaks, and nothing in between (a file quietly
// missing, a match dropped) is ever reported as success.
#include "grep_core/last_error.h"
#include "search_core/report_json.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <regex>
#include <string>

#include "support/posix/failing_allocator.h"

#ifndef QG_TEST_UNDER_ASAN

namespace {

using qg_test::g_alloc;

std::string without_duration(const std::string &doc) {
  static const std::regex duration("\"duration_ms\":[0-9]+");
  return std::regex_replace(doc, duration, "\"duration_ms\":0");
}

TEST(SearchUnderAllocationFailure, WholeDocumentOrOutOfMemory) {
  qg_test::TempDir dir;
  for (int f = 0; f < 12; ++f) {
    std::string text;
    for (int i = 0; i < 40 + 30 * f; ++i)
      text += (i % 3 == 0 ? "foo " : "bar ") + std::to_string(i) + "\n";
    dir.write("d" + std::to_string(f % 3) + "/f" + std::to_string(f) + ".txt", text);
  }
  dir.mkdir(".git");
  dir.write(".gitignore", "f1*\n");
  dir.write("d2/.ignore", "!f11.txt\n");
  for (const char *options :
       {R"({"context_lines":2,"submatches":true})",
        R"({"context_lines":2,"submatches":true,"threads":3})",
        R"({"regex":true,"context_lines":1,"threads":4})", R"({"gitignore":true,"threads":2})"}) {
    const char *pattern = strstr(options, "regex") != nullptr ? "fo+ [0-9]" : "foo";
    char *clean = grep_core_search_json(dir.path().c_str(), pattern, options);
    ASSERT_NE(clean, nullptr);
    const std::string whole = without_duration(clean);
    free(clean);
    bool finished = false;
    int failures = 0;
    for (long fail_at = 0; fail_at < 5000 && !finished; ++fail_at) {
      SCOPED_TRACE(std::string(options) + ", allocation " + std::to_string(fail_at) + " fails");
      qg_set_status(GREP_OK);
      g_alloc.arm(fail_at);
      char *text = grep_core_search_json(dir.path().c_str(), pattern, options);
      g_alloc.disarm();
      finished = !g_alloc.injected;
      EXPECT_EQ(g_alloc.live.load(), text != nullptr ? 1 : 0) << "blocks leaked";
      if (text != nullptr) {
        EXPECT_EQ(qg_get_status(), GREP_OK);
        EXPECT_EQ(without_duration(text), whole);
        free(text);
        continue;
      }
      ++failures;
      EXPECT_EQ(qg_get_status(), GREP_E_NO_MEMORY) << qm_grep_get_last_error();
      EXPECT_STRNE(qm_grep_get_last_error(), "");
    }
    EXPECT_TRUE(finished) << "a run without an injected failure was never reached";
    EXPECT_GT(failures, 5) << "the allocator was not replaced";
  }
}

}  // namespace

#else  // QG_TEST_UNDER_ASAN

TEST(SearchUnderAllocationFailure, WholeDocumentOrOutOfMemory) {
  GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
}

#endif  // QG_TEST_UNDER_ASAN
