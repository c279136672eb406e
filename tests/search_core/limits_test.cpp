// The limits of a search hold however much each match carries: a time limit
// acts within milliseconds on files where every line matches and each match
// brings a wide context window (short lines, and lines of a mebibyte), on
// one thread and four, for the document and the stream; and an output cap
// bounds the memory of a search whose matches would fill gigabytes. The
// bounds are generous (a loaded two-core machine, sanitizer builds): they
// catch a limit that is only looked at between files or every few hundred
// matches, which overshoots by seconds and gigabytes.
#include "quenmar_grep.h"

#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

// How long after a 50 ms limit a search may return, and how much memory it
// may take on top of what the process held before it. A limit looked at too
// seldom overshoots by seconds; a loaded machine delays a sound one by a
// tenth of a second or more.
constexpr double kLimitMs = 50;
constexpr double kReturnWithinMs = 500;
constexpr size_t kMemoryBound = size_t{256} << 20;
constexpr size_t kCappedMemoryBound = size_t{192} << 20;  // the file, the cap, one object

struct measured {
  double ms;
  size_t peak_growth;  // 0 where the system cannot tell
  int status;
};

int count_match(const char *, void *matches) {
  ++*static_cast<long *>(matches);
  return 0;
}

// Runs the document search (or the stream, counting) and measures it.
measured run(const std::string &root, const std::string &options, bool stream) {
  const bool peak = qg_test::peak_memory_reset();
  const size_t before = qg_test::resident_bytes();
  const auto start = std::chrono::steady_clock::now();
  long matches = 0;
  if (stream) {
    grep_search_stream_ctx(root.c_str(), "a", options.c_str(), count_match, &matches);
  } else {
    grep_search_json(root.c_str(), "a", options.c_str());
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  const int status = grep_last_status();
  grep_search_json(nullptr, nullptr, nullptr);  // releases the document
  const size_t growth = peak ? qg_test::peak_resident_bytes() - before : 0;
  return {took.count(), growth, status};
}

class DenseFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new qg_test::TempDir();
    std::string dense;
    for (int i = 0; i < 5000000; ++i) dense += "a\n";
    dir_->write("short/d.txt", dense);
    const std::string line(size_t{1} << 20, 'a');
    std::string wide;
    for (int i = 0; i < 30; ++i) wide += line + "\n";
    dir_->write("wide/d.txt", wide);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static qg_test::TempDir *dir_;
};

qg_test::TempDir *DenseFiles::dir_ = nullptr;

TEST_F(DenseFiles, TimeLimitHoldsWithWideContext) {
  for (const char *kind : {"short", "wide"}) {
    for (int threads : {1, 4}) {
      for (bool stream : {false, true}) {
        const std::string options = "{\"timeout_ms\":" + std::to_string(int(kLimitMs)) +
                                    ",\"context_lines\":10,\"threads\":" + std::to_string(threads) +
                                    "}";
        const measured m = run(dir_->at(kind), options, stream);
        const std::string what = std::string(kind) + (stream ? " stream " : " document ") + options;
        EXPECT_EQ(m.status, GREP_TIMED_OUT) << what;
        EXPECT_LT(m.ms, kReturnWithinMs) << what;
        EXPECT_LT(m.peak_growth, kMemoryBound) << what;
      }
    }
  }
}

// Without a time limit the same searches would write 600 MB of match
// objects; an output cap of 32 MiB ends them after the first (21 MiB; with a
// window as wide as the file, 30 MiB), holding about the file (30 MiB), the
// cap and the object that did not fit.
TEST_F(DenseFiles, OutputCapBoundsMemory) {
  for (const char *context : {"10", "2147483647"}) {
    for (int threads : {1, 4}) {
      for (bool stream : {false, true}) {
        const std::string options =
            std::string("{\"max_output_bytes\":33554432,\"context_lines\":") + context +
            ",\"threads\":" + std::to_string(threads) + "}";
        const measured m = run(dir_->at("wide"), options, stream);
        const std::string what = std::string(stream ? "stream " : "document ") + options;
        EXPECT_EQ(m.status, GREP_OUTPUT_LIMITED) << what;
        EXPECT_LT(m.ms, 2000) << what;
        EXPECT_LT(m.peak_growth, kCappedMemoryBound) << what;
      }
    }
  }
}

}  // namespace
