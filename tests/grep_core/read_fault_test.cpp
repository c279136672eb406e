// Input/output errors while a file is read, and what a search reads. No real
// file fails on demand, so this program links its own plat_read in place of
// the platform's (which sits in a file of its own for that purpose): it
// reads for real (with the platform's own read), counts its calls, and fails
// with EIO, or ends the file early, once a set number of bytes has been
// delivered.
#include "edit_core/edit.h"
#include "grep_core/last_error.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"
#include "search_core/report_stream.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>

#include <atomic>
#include <string>

namespace {

std::atomic<int> g_reads{0};
// Set by a search's callback when it asks to stop; reads after it are counted.
std::atomic<bool> g_stopped{false};
std::atomic<int> g_reads_after_stop{0};

enum class fault { none, eio, early_end };
fault g_fault = fault::none;
size_t g_bytes_before_fault = 0;  // bytes delivered before the fault, per file
size_t g_delivered = 0;

struct fault_scope {
  fault_scope(fault f, size_t after) {
    g_fault = f;
    g_bytes_before_fault = after;
    g_delivered = 0;
  }
  ~fault_scope() { g_fault = fault::none; }
};

}  // namespace

extern "C" int plat_read(plat_file file, void *buf, size_t n, size_t *got) {
  ++g_reads;
  if (g_stopped) ++g_reads_after_stop;
  *got = 0;
  if (g_fault != fault::none && g_delivered >= g_bytes_before_fault) {
    return g_fault == fault::eio ? EIO : 0;
  }
  if (g_fault != fault::none && n > g_bytes_before_fault - g_delivered) {
    n = g_bytes_before_fault - g_delivered;
  }
  const int error = qg_test::os_read(file, buf, n, got);
  g_delivered += *got;
  return error;
}

namespace {

using qg_test::read_bytes;
using qg_test::TempDir;

const std::string kText = "line 1\nline 2\nline 3\nline 4\n";

TEST(ReadFault, AnInputOutputErrorFailsTheRead) {
  TempDir dir;
  std::string path = dir.write("f.txt", kText);
  fault_scope scope(fault::eio, 10);
  EXPECT_EQ(read_file_to_utf8(path.c_str(), nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot read file '" + path + "': Input/output error");
}

// The edit that would have written back the first ten bytes writes nothing.
TEST(ReadFault, AnEditNeverWritesBackAPartialText) {
  TempDir dir;
  std::string path = dir.write("f.txt", kText);
  {
    fault_scope scope(fault::eio, 10);
    line_edit edit = {1, 1, "first", nullptr};
    EXPECT_FALSE(apply_file_edits(path.c_str(), &edit, 1));
  }
  EXPECT_EQ(read_bytes(path), kText);
}

// A file that ends before its size said (it shrank meanwhile) is read as it is.
TEST(ReadFault, AFileThatEndsEarlyIsReadAsItIs) {
  TempDir dir;
  std::string path = dir.write("f.txt", kText);
  fault_scope scope(fault::early_end, 10);
  size_t len = 0;
  char *text = read_file_to_utf8(path.c_str(), &len, nullptr, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, len), kText.substr(0, 10));
  free(text);
}

// A search stopped by its callback reads no further file, on one thread or
// several: each file here is read in one call and is long enough that no
// thread finishes one before the first match stops the search. Only a helper
// already past its check of the stop may still read the file it took.
TEST(ReadFault, AStoppedSearchReadsNoFurtherFile) {
  TempDir dir;
  std::string dense;
  for (int i = 0; i < 500000; ++i) dense += "a\n";
  constexpr int kFiles = 20;
  for (int f = 0; f < kFiles; ++f) dir.write("f" + std::to_string(f) + ".txt", dense);
  auto stop_at_once = [](const char *, void *) {
    g_stopped = true;
    return 1;
  };
  for (int threads : {1, 4}) {
    g_reads = 0;
    g_reads_after_stop = 0;
    g_stopped = false;
    const std::string options = "{\"threads\":" + std::to_string(threads) + "}";
    EXPECT_EQ(grep_core_search_stream_ctx(dir.path().c_str(), "a", options.c_str(), stop_at_once,
                                          nullptr),
              1);
    EXPECT_LE(g_reads_after_stop.load(), threads - 1) << threads << " threads";
    EXPECT_LT(g_reads.load(), kFiles) << threads << " threads";
  }
  g_stopped = false;
}

}  // namespace
