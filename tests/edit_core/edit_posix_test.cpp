// Edits against what POSIX lets a test arrange: patch(1) and git apply
// applying a dry run's diffs, exact line ends on files of every form,
// extended attributes, processes racing for one file, and files that change
// or turn into named pipes between an edit's read and its write.
#include "edit_core/batch.h"
#include "edit_core/edit.h"
#include "edit_core/file_edit.h"
#include "grep_core/last_error.h"
#include "support/json_text.h"
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// Set by a test to make the library's fsetxattr calls fail as a file system
// or a security policy that refuses an attribute does; else the system's.
std::atomic<bool> g_refuse_attributes{false};

extern "C" int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags) {
  using setter = int (*)(int, const char *, const void *, size_t, int);
  static const setter real = reinterpret_cast<setter>(dlsym(RTLD_NEXT, "fsetxattr"));
  if (g_refuse_attributes) {
    errno = EPERM;
    return -1;
  }
  return real(fd, name, value, size, flags);
}

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

// A UTF-16 LE file with its mark: each byte of `text` (ASCII) as one unit.
std::string utf16le(const std::string &text) {
  std::string out = "\xFF\xFE";
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

// With "exact", a file of any line ending keeps every byte that no edit
// names: its lines' own endings (LF, CR LF, lone CR, mixed), its missing
// final ending, its mark and encoding; new lines take the ending of the line
// they replace, inserted ones the file's most common one. Every row's
// dry-run diff, of the file's own bytes (from "diff_base64" where they are
// not UTF-8), applies with patch and git apply to the file on the disk and
// gives the same bytes; a UTF-16 file's diff is of its UTF-8 text.
TEST(ExactLineEnds, EveryOtherByteIsKeptAndDiffsApply) {
  const bool apply = qg_test::program_exists("patch") && qg_test::program_exists("git");
  struct Case {
    const char *name;
    std::string before;
    const char *edit;  // members after "file"
    std::string after;
    bool exact;
  };
  const std::string bom = "\xEF\xBB\xBF";
  // clang-format off
  const Case cases[] = {
      {"lf", "a\nb\nc\n", R"("start_line":2,"new_text":"X")", "a\nX\nc\n", true},
      {"crlf", "a\r\nb\r\nc\r\n", R"("start_line":2,"new_text":"X\nY")", "a\r\nX\r\nY\r\nc\r\n", true},
      {"lone cr", "a\rb\rc\r", R"("start_line":2,"new_text":"X\nY")", "a\rX\rY\rc\r", true},
      {"lone cr insertion", "a\rb\rc\r", R"("start_line":4,"end_line":3,"new_text":"Y\nZ")", "a\rb\rc\rY\rZ\r", true},
      {"lone cr made lf", "a\rb\nc\n", R"("start_line":3,"new_text":"X")", "a\nb\nX\n", false},
      {"mixed", "a\r\nb\nc\rd\r\n", R"("start_line":3,"new_text":"X\r\nY")", "a\r\nb\nX\rY\rd\r\n", true},
      {"mixed, ends by place", "a\r\nb\nc\rd\r\n", R"("start_line":1,"end_line":3,"new_text":"1\n2\n3")", "1\r\n2\n3\rd\r\n", true},
      {"mixed text edit", "a\r\nb\nc\rd\r\n", R"("old_text":"b\nc","new_text":"B\nC")", "a\r\nB\nC\rd\r\n", true},
      {"no final ending", "a\nb", R"("start_line":1,"new_text":"X")", "X\nb", true},
      {"no final ending, last line", "a\nb", R"("start_line":2,"new_text":"B\n")", "a\nB", true},
      {"no final ending, appended", "a\r\nb", R"("start_line":3,"end_line":2,"new_text":"c")", "a\r\nb\r\nc", true},
      {"no final ending, empty line kept", "a\nb", R"("start_line":2,"new_text":"\n")", "a\n\n", true},
      {"no final ending, last deleted", "a\nb\nc", R"("start_line":3)", "a\nb\n", true},
      {"mark, first line", bom + "a\r\nb\n", R"("start_line":1,"new_text":"\u00e9")", bom + "\xC3\xA9\r\nb\n", true},
      {"mark, last line", bom + "a\nb\nc\nd\ne\n", R"("start_line":5,"new_text":"X")", bom + "a\nb\nc\nd\nX\n", true},
      {"mark, lines above deleted", bom + "a\nb\nc\n", R"("start_line":1,"end_line":2)", bom + "c\n", false},
      {"mark, everything deleted", bom + "a\nb\n", R"("start_line":1,"end_line":2)", bom, true},
      {"mark alone, line added", bom, R"("start_line":1,"end_line":0,"new_text":"a")", bom + "a\n", true},
      {"not utf-8, edited", "caf\xE9\nb\n", R"("start_line":1,"new_text":"cafe")", "cafe\nb\n", true},
      {"not utf-8, context", "x\ncaf\xE9\n", R"("start_line":1,"new_text":"y")", "y\ncaf\xE9\n", true},
      {"utf16", utf16le("a\r\nb\rc"), R"("start_line":2,"new_text":"X")", utf16le("a\r\nX\rc"), true},
      {"start below 1 clamped", "a\nb\n", R"("start_line":-4,"end_line":0,"new_text":"top")", "top\na\nb\n", true},
      {"end past the end clamped", "a\nb\r\n", R"("start_line":2,"end_line":9,"new_text":"B")", "a\nB\r\n", true},
  };
  // clang-format on
  TempDir dir;
  const std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(qg_test::from_utf8(dir.path()));
  for (const Case &c : cases) {
    const std::string edits = std::string("\"edits\":[{\"file\":\"f.txt\",") + c.edit + "}]}";
    const std::string head = c.exact ? "{\"exact\":true," : "{";
    dir.write("f.txt", c.before);
    char *dry = grep_core_batch_replace_json((head + "\"dry_run\":true," + edits).c_str());
    yyjson_doc *doc = yyjson_read(dry, strlen(dry), 0);
    free(dry);
    yyjson_val *first = yyjson_arr_get_first(yyjson_obj_get(yyjson_doc_get_root(doc), "diffs"));
    yyjson_val *raw = yyjson_obj_get(first, "diff_base64");
    const std::string diff = raw != nullptr
                                 ? qg_test::run_process({"base64", "-d"}, yyjson_get_str(raw)).out
                                 : yyjson_get_str(yyjson_obj_get(first, "diff"));
    yyjson_doc_free(doc);
    char *result = grep_core_batch_replace_json((head + edits).c_str());
    EXPECT_NE(strstr(result, "\"success\":true"), nullptr) << c.name << ": " << result;
    free(result);
    EXPECT_EQ(read_bytes("f.txt"), c.after) << c.name;
    if (!apply || c.before.rfind("\xFF\xFE", 0) == 0) continue;
    dir.write("f.txt", c.before);
    const qg_test::run_result p = qg_test::run_process({"patch", "-s", "-o", "-", "f.txt"}, diff);
    EXPECT_EQ(p.status, 0) << c.name << ": " << p.err << diff;
    EXPECT_EQ(p.out, c.after) << c.name << "\n" << diff;
    const qg_test::run_result g = qg_test::run_process({"git", "apply", "-p0", "-"}, diff);
    EXPECT_EQ(g.status, 0) << c.name << ": " << g.err << diff;
    EXPECT_EQ(read_bytes("f.txt"), c.after) << c.name << "\n" << diff;
  }
  std::filesystem::current_path(old_cwd);
  // The export's form of one edit, and a start past the line after the last.
  const std::string path = dir.write("g.txt", "a\rb");
  EXPECT_EQ(grep_core_replace_lines_exact(path.c_str(), 3, 2, "c"), 0);
  EXPECT_EQ(read_bytes(path), "a\rb\rc");
  EXPECT_EQ(grep_core_replace_lines_exact(path.c_str(), 5, 5, "x"), -1);
  EXPECT_STREQ(qm_grep_get_last_error(), "File has only 3 lines, requested start at line 5");
  EXPECT_EQ(qg_get_status(), GREP_E_ARGUMENT);
  EXPECT_EQ(read_bytes(path), "a\rb\rc");
}

// Extended attributes (user ones here; ACLs and security labels are kept the
// same way) survive an edit, which replaces the file by a new one. They are
// set with setfattr on a folder of the build tree: a temporary folder in
// memory may not take them.
TEST(EditMetadata, ExtendedAttributesAreKept) {
  if (!qg_test::program_exists("setfattr")) GTEST_SKIP() << "setfattr (attr) is not installed";
  const char *bin = getenv("QG_TEST_BIN_DIR");
  const std::string path = std::string(bin != nullptr ? bin : ".") + "/xattr-edit-test.txt";
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fputs("a\nb\n", f);
  fclose(f);
  const std::string value(300, 'v');
  const qg_test::run_result set =
      qg_test::run_process({"setfattr", "-n", "user.quenmar.test", "-v", value, path});
  if (set.status != 0) {
    unlink(path.c_str());
    GTEST_SKIP() << "the file system of " << path << " takes no user attributes: " << set.err;
  }
  ASSERT_EQ(qg_test::run_process({"setfattr", "-n", "user.empty", path}).status, 0);
  EXPECT_EQ(grep_core_replace_lines(path.c_str(), 1, 1, "A"), 0) << qm_grep_get_last_error();
  EXPECT_EQ(grep_core_replace_lines_exact(path.c_str(), 3, 2, "c"), 0) << qm_grep_get_last_error();
  const qg_test::run_result got =
      qg_test::run_process({"getfattr", "--absolute-names", "-d", path});
  EXPECT_NE(got.out.find("user.quenmar.test=\"" + value + "\""), std::string::npos) << got.out;
  EXPECT_NE(got.out.find("user.empty"), std::string::npos) << got.out;
  EXPECT_EQ(read_bytes(path), "A\nb\nc\n");

  // Where the new file cannot take them, the file is written in place (the
  // same file, every attribute on it) rather than lose them.
  struct stat before, after;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  g_refuse_attributes = true;
  EXPECT_EQ(grep_core_replace_lines(path.c_str(), 2, 2, "B"), 0) << qm_grep_get_last_error();
  g_refuse_attributes = false;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(read_bytes(path), "A\nB\nc\n");
  const qg_test::run_result kept =
      qg_test::run_process({"getfattr", "--absolute-names", "-d", path});
  EXPECT_NE(kept.out.find("user.quenmar.test=\"" + value + "\""), std::string::npos) << kept.out;
  unlink(path.c_str());
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
