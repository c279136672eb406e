// Edits against what POSIX lets a test arrange: patch(1) applying a dry
// run's diffs, processes racing for one file, and files that change or turn
// into named pipes between an edit's read and its write.
#include "edit_core/batch.h"
#include "edit_core/edit.h"
#include "edit_core/file_edit.h"
#include "grep_core/last_error.h"
#include "support/json_text.h"
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using qg_test::json_quoted;
using qg_test::read_bytes;
using qg_test::TempDir;

// The diffs of a dry run, one per file that would be written.
std::vector<std::string> dry_run_diffs(const std::string &edits) {
  char *text = grep_core_batch_replace_json(("{\"dry_run\":true,\"edits\":" + edits + "}").c_str());
  std::vector<std::string> diffs;
  yyjson_doc *doc = text != nullptr ? yyjson_read(text, strlen(text), 0) : nullptr;
  free(text);
  size_t i, n;
  yyjson_val *d;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "diffs"), i, n, d) {
    yyjson_val *diff = yyjson_obj_get(d, "diff");
    diffs.emplace_back(yyjson_get_str(diff), yyjson_get_len(diff));
  }
  yyjson_doc_free(doc);
  return diffs;
}

// patch(1) applied to a dry run's diff gives exactly what the same edits
// write, on generated files of every line ending (CR LF, lone CR, the
// minority kind, no ending at the end) and generated line and text edits.
TEST(DryRun, PatchAppliedToTheDiffGivesTheWrittenFile) {
  if (!qg_test::program_exists("patch")) GTEST_SKIP() << "patch is not installed";
  std::mt19937 rng(29);
  static const char *const endings[] = {"\n", "\n", "\r\n", "\r\n", "\r"};
  TempDir dir;
  int compared = 0;
  for (int round = 0; round < 250; ++round) {
    std::string file;
    const int lines = static_cast<int>(rng() % 30);
    const int style = static_cast<int>(rng() % 3);  // LF, CR LF, or mixed
    for (int l = 1; l <= lines; ++l) {
      file += "line " + std::to_string(l % 7);
      if (l < lines || rng() % 3) {
        file += style == 0 ? "\n" : style == 1 ? "\r\n" : endings[rng() % 5];
      }
    }
    const std::string path = dir.write("f.txt", file);
    std::string edits = "[";
    int32_t top = lines + 2;
    for (int e = static_cast<int>(1 + rng() % 4); e > 0 && top > 0; --e) {
      // Edits from the bottom up, apart, so that they never overlap.
      const int32_t start = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(top));
      const int32_t end = start - 1 + static_cast<int32_t>(rng() % 3);
      std::string text;
      for (int k = static_cast<int>(rng() % 3); k > 0; --k)
        text += "new " + std::to_string(rng() % 9) + "\n";
      if (edits.size() > 1) edits += ",";
      edits += "{\"file\":\"" + path + "\",\"start_line\":" + std::to_string(start) +
               ",\"end_line\":" + std::to_string(end) + ",\"new_text\":" + json_quoted(text) + "}";
      top = start - 2;
    }
    if (lines > 0 && rng() % 3 == 0) {
      edits = "[{\"file\":\"" + path + "\",\"old_text\":\"line " + std::to_string(rng() % 7) +
              "\",\"new_text\":" + json_quoted(rng() % 2 ? "X\nY" : "") + ",\"replace_all\":true}";
    }
    edits += "]";
    const std::vector<std::string> diffs = dry_run_diffs(edits);
    ASSERT_EQ(read_bytes(path), file) << "a dry run writes nothing";
    char *result = grep_core_batch_replace_json(edits.c_str());
    const bool written = result != nullptr && strstr(result, "\"success\":true") != nullptr;
    free(result);
    if (!written) continue;  // a text that does not occur: no diff, nothing written
    ASSERT_EQ(diffs.size(), 1u) << edits;
    const std::string patched = dir.write("original.txt", file);
    const qg_test::run_result p =
        qg_test::run_process({"patch", "-s", "-o", "-", patched}, diffs[0]);
    EXPECT_EQ(p.status, 0) << p.err << diffs[0];
    EXPECT_EQ(p.out, read_bytes(path)) << testing::PrintToString(file) << "\n"
                                       << edits << "\n"
                                       << diffs[0];
    ++compared;
  }
  EXPECT_GT(compared, 150);
}

// Editors in two processes each take the file in turn: every insertion of
// both survives.
TEST(EditLocking, TwoProcessesLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir.write("shared.txt", "first\n");
  std::vector<pid_t> children;
  for (const char *who : {"a", "b"}) {
    const pid_t pid = fork();
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < 300; ++i) {
        const std::string line = std::string(who) + std::to_string(i);
        failures += grep_core_replace_lines(path.c_str(), 2, 1, line.c_str()) != 0;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string text = read_bytes(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 601);
}

// Between an edit's read and its write the file is replaced by a named pipe,
// or changed by a program that takes no lock: the edit is refused at once,
// and what now stands there is left as it is.
TEST(EditLocking, AFileChangedSinceItWasReadIsRefused) {
  TempDir dir;
  struct change {
    const char *what;
    void (*apply)(const std::string &path);
  };
  const change changes[] = {
      {"named pipe",
       [](const std::string &p) {
         unlink(p.c_str());
         mkfifo(p.c_str(), 0644);
       }},
      {"longer",
       [](const std::string &p) {
         FILE *f = fopen(p.c_str(), "ab");
         fputs("more\n", f);
         fclose(f);
       }},
      {"renamed over",
       [](const std::string &p) {
         const std::string other = p + ".new";
         FILE *f = fopen(other.c_str(), "wb");
         fputs("L1\nL2\n", f);
         fclose(f);
         rename(other.c_str(), p.c_str());
       }},
  };
  for (const change &c : changes) {
    const std::string path = dir.write("f.txt", "L1\nL2\n");
    line_edit edit = {1, 1, "X", nullptr};
    const file_edit_input in = {path.c_str(), &edit, 1, nullptr, 0, false, false};
    file_edit fe;
    ASSERT_TRUE(file_edit_prepare(&fe, &in)) << qm_grep_get_last_error();
    c.apply(path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file_edit_stage(&fe)) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
    EXPECT_EQ(std::string(qm_grep_get_last_error()),
              "File '" + path + "' changed since it was read")
        << c.what;
    file_edit_release(&fe);
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    if (S_ISREG(st.st_mode)) {
      EXPECT_NE(read_bytes(path).substr(0, 2), "X\n") << c.what;
    }
    unlink(path.c_str());
  }
  std::vector<std::string> left;
  for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
    left.push_back(e.path().filename().string());
  }
  EXPECT_TRUE(left.empty()) << "a temporary file stayed behind: " << left[0];
}

}  // namespace
