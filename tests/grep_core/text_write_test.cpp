#include "grep_core/text_write.h"
#include "edit_core/edit.h"
#include "grep_core/last_error.h"
#include "grep_core/text_read.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using qg_test::read_bytes;
using qg_test::TempDir;

std::string convert(const std::string &utf8, bool big_endian) {
  size_t len = 12345;
  unsigned char *out = utf8_to_utf16_portable(reinterpret_cast<const unsigned char *>(utf8.data()),
                                              utf8.size(), big_endian, &len);
  EXPECT_NE(out, nullptr);
  if (out == nullptr) return {};
  std::string bytes(reinterpret_cast<char *>(out), len);
  free(out);
  return bytes;
}

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> list_dir(const std::string &path) {
  std::vector<std::string> names;
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return names;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

struct stat stat_of(const std::string &path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Runs `body` in a child process and returns its exit status (or 128 plus the
// signal that ended it) together with the last-error text the child sent
// back. Whatever the child changes in its own limits, identity or signal
// handling stays with it.
struct ChildResult {
  int status;
  std::string message;
};

ChildResult run_in_child(const std::function<int()> &body) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, "pipe failed"};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int status = body();
    const char *message = qm_grep_get_last_error();
    (void)!write(fds[1], message, strlen(message));
    close(fds[1]);
    _exit(status);
  }
  close(fds[1]);
  std::string message;
  char chunk[512];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) message.append(chunk, static_cast<size_t>(n));
  close(fds[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return {status, message};
}

TEST(Utf8ToUtf16Portable, ConvertsWithoutValidating) {
  struct Case {
    const char *name;
    std::string utf8;
    std::string le;  // expected units, little-endian
  };
  // clang-format off
  const Case cases[] = {
      {"empty", "", ""},
      {"ascii", "A\n", std::string("A\0\n\0", 4)},
      {"two-byte", "\xC3\xA9", std::string("\xE9\0", 2)},
      {"three-byte", "\xE2\x82\xAC", "\xAC\x20"},
      {"pair", "\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},
      {"lone high surrogate form", "\xED\xA0\x80", std::string("\x00\xD8", 2)},
      {"four-byte zero", "\xF0\x80\x80\x80", std::string("\0\0", 2)},
      {"cut two-byte at end", "x\xC3", std::string("x\0\x03\0", 4)},
      {"cut four-byte at end", "\xF0\x9F\x98", "\xD8\x07"},
      {"stray continuation takes next byte", "\x80\x41", std::string("\x01\0", 2)},
      {"above U+10FFFF", "\xF7\xBF\xBF\xBF", "\xBF\xDF\xFF\xDF"},
      {"F8 keeps three bits", "\xF8\x90\x80\x80", std::string("\x00\xD8\x00\xDC", 4)},
      {"crlf untouched", "\r\n", std::string("\r\0\n\0", 4)},
  };
  // clang-format on
  for (const Case &c : cases) {
    EXPECT_EQ(convert(c.utf8, false), c.le) << c.name;
    std::string be = c.le;
    for (size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    EXPECT_EQ(convert(c.utf8, true), be) << c.name;
  }
}

TEST(WriteFileFromUtf8, WritesMarkAndFormPerEncoding) {
  struct Case {
    const char *name;
    const char *text;
    text_encoding enc;
    std::string bytes;
  };
  // clang-format off
  const Case cases[] = {
      {"plain null", nullptr, ENC_PLAIN, ""},
      {"plain", "a\r\nb", ENC_PLAIN, "a\r\nb"},
      {"utf8 mark empty", "", ENC_UTF8_BOM, "\xEF\xBB\xBF"},
      {"utf8 mark null", nullptr, ENC_UTF8_BOM, "\xEF\xBB\xBF"},
      {"utf8 mark", "x\n", ENC_UTF8_BOM, "\xEF\xBB\xBFx\n"},
      {"utf16le empty", "", ENC_UTF16LE, "\xFF\xFE"},
      {"utf16le", "A\n", ENC_UTF16LE, std::string("\xFF\xFE" "A\0\n\0", 6)},
      {"utf16be", "A", ENC_UTF16BE, std::string("\xFE\xFF\0A", 4)},
      {"utf16le crlf", "\r\n", ENC_UTF16LE, std::string("\xFF\xFE\r\0\n\0", 6)},
      {"unknown code is plain", "z", 7, "z"},
  };
  // clang-format on
  TempDir dir;
  for (const Case &c : cases) {
    std::string path = dir.write(c.name, "old contents that are longer than the new ones\n");
    ASSERT_TRUE(write_file_from_utf8(path.c_str(), c.text, c.enc)) << c.name;
    EXPECT_EQ(read_bytes(path), c.bytes) << c.name;
  }
}

// Reading a file and writing its text back with the encoding found gives the
// same bytes, for any bytes of a file without a mark or with the UTF-8 mark and
// any units of a UTF-16 file.
TEST(WriteFileFromUtf8, ReadThenWriteReproducesTheFile) {
  struct Case {
    const char *name;
    std::string bytes;
    text_encoding enc;
  };
  // clang-format off
  const Case cases[] = {
      {"empty", "", ENC_PLAIN},
      {"plain mixed endings", "a\r\nb\nc\rd", ENC_PLAIN},
      {"plain invalid utf8", "\xFF\xC3(\xE2\x82\n\x80", ENC_PLAIN},
      {"utf8 mark", "\xEF\xBB\xBFx\r\ny", ENC_UTF8_BOM},
      {"utf8 two marks", "\xEF\xBB\xBF\xEF\xBB\xBF", ENC_UTF8_BOM},
      {"utf16le mark only", "\xFF\xFE", ENC_UTF16LE},
      {"utf16le text", std::string("\xFF\xFEh\0i\0\r\0\n\0", 10), ENC_UTF16LE},
      {"utf16le pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), ENC_UTF16LE},
      {"utf16le lone surrogates", std::string("\xFF\xFE\x00\xDC\x00\xD8" "A\0\x00\xD8", 10),
       ENC_UTF16LE},
      {"utf16be high units", std::string("\xFE\xFF\xFF\xFF\xD8\x00\xDC\x00\x00\x80", 10),
       ENC_UTF16BE},
      {"utf16be inner mark", std::string("\xFE\xFF\xFE\xFF\0a", 6), ENC_UTF16BE},
  };
  // clang-format on
  TempDir dir;
  for (const Case &c : cases) {
    std::string path = dir.write(c.name, c.bytes);
    text_encoding enc = -1;
    char *text = read_file_to_utf8(path.c_str(), nullptr, &enc, nullptr);
    ASSERT_NE(text, nullptr) << c.name;
    EXPECT_EQ(enc, c.enc) << c.name;
    EXPECT_TRUE(write_file_from_utf8(path.c_str(), text, enc)) << c.name;
    free(text);
    EXPECT_EQ(read_bytes(path), c.bytes) << c.name;
  }
}

TEST(WriteFileFromUtf8, ReplacesWithoutLeavingTemporaryFiles) {
  TempDir dir;
  std::string path = dir.write("f.txt", "old\n");
  ASSERT_TRUE(write_file_from_utf8(path.c_str(), "new\n", ENC_PLAIN));
  EXPECT_EQ(read_bytes(path), "new\n");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"f.txt"});
}

TEST(WriteFileFromUtf8, CreatesMissingFileWithUmaskMode) {
  TempDir dir;
  mode_t old_mask = umask(027);
  std::string path = dir.at("new.txt");
  bool ok = write_file_from_utf8(path.c_str(), "n", ENC_PLAIN);
  umask(old_mask);
  ASSERT_TRUE(ok);
  EXPECT_EQ(read_bytes(path), "n");
  EXPECT_EQ(stat_of(path).st_mode & 07777, 0640u);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"new.txt"});
}

TEST(WriteFileFromUtf8, KeepsPermissionBits) {
  TempDir dir;
  for (mode_t mode : {0600u, 0640u, 0755u, 02750u}) {
    std::string path = dir.write("m", "x");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(write_file_from_utf8(path.c_str(), "yy", ENC_PLAIN)) << std::oct << mode;
    EXPECT_EQ(stat_of(path).st_mode & 07777, mode) << std::oct << mode;
  }
}

TEST(WriteFileFromUtf8, KeepsOwnerWhereAllowed) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  TempDir dir;
  std::string path = dir.write("owned", "x");
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(write_file_from_utf8(path.c_str(), "y", ENC_PLAIN));
  struct stat st = stat_of(path);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
}

TEST(WriteFileFromUtf8, ReplacesTheTargetOfASymbolicLinkAndKeepsTheLink) {
  TempDir dir;
  std::string target = dir.write("real/target.txt", "old");
  std::string link1 = dir.at("link1");
  std::string link2 = dir.at("sub/link2");
  dir.mkdir("sub");
  ASSERT_EQ(symlink("real/target.txt", link1.c_str()), 0);
  ASSERT_EQ(symlink("../link1", link2.c_str()), 0);  // relative to sub/

  ASSERT_TRUE(write_file_from_utf8(link2.c_str(), "new", ENC_PLAIN)) << qm_grep_get_last_error();
  EXPECT_EQ(read_bytes(target), "new");
  EXPECT_TRUE(S_ISLNK(stat_of(link1).st_mode));
  EXPECT_TRUE(S_ISLNK(stat_of(link2).st_mode));
  EXPECT_EQ(list_dir(dir.at("real")), std::vector<std::string>{"target.txt"});

  // A link whose target is missing creates the target, as writing through it
  // always did.
  std::string dangling = dir.at("dangling");
  ASSERT_EQ(symlink("real/created.txt", dangling.c_str()), 0);
  ASSERT_TRUE(write_file_from_utf8(dangling.c_str(), "c", ENC_PLAIN));
  EXPECT_TRUE(S_ISLNK(stat_of(dangling).st_mode));
  EXPECT_EQ(read_bytes(dir.at("real/created.txt")), "c");
}

TEST(WriteFileFromUtf8, HardLinkedFileIsWrittenInPlace) {
  TempDir dir;
  std::string a = dir.write("a", "a long original text\n");
  std::string b = dir.at("b");
  ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
  ino_t inode = stat_of(a).st_ino;

  ASSERT_TRUE(write_file_from_utf8(a.c_str(), "short\n", ENC_PLAIN));
  EXPECT_EQ(read_bytes(b), "short\n");
  ASSERT_TRUE(write_file_from_utf8(b.c_str(), "a longer text than any before\n", ENC_PLAIN));
  EXPECT_EQ(read_bytes(a), "a longer text than any before\n");
  EXPECT_EQ(stat_of(a).st_ino, inode);
  EXPECT_EQ(stat_of(a).st_nlink, 2u);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"a", "b"}));
}

TEST(WriteFileFromUtf8, OpenFailuresNameThePathAndTheReason) {
  TempDir dir;
  ASSERT_EQ(symlink("loop-b", dir.at("loop-a").c_str()), 0);
  ASSERT_EQ(symlink("loop-a", dir.at("loop-b").c_str()), 0);
  struct Case {
    std::string path;
    std::string reason;
  };
  // clang-format off
  const Case cases[] = {
      {dir.path(), "Is a directory"},
      {dir.at("no/such/dir/f.txt"), "No such file or directory"},
      {dir.path() + "/" + std::string(5000, 'n'), "File name too long"},
      {dir.at("loop-a"), "Too many levels of symbolic links"},
  };
  // clang-format on
  for (const Case &c : cases) {
    EXPECT_FALSE(write_file_from_utf8(c.path.c_str(), "x", ENC_PLAIN)) << c.reason;
    std::string expected = "Cannot open file for writing '" + c.path + "': " + c.reason;
    EXPECT_EQ(std::string(qm_grep_get_last_error()), expected.substr(0, 1023));
  }
  EXPECT_FALSE(write_file_from_utf8(nullptr, "x", ENC_PLAIN));
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"loop-a", "loop-b"}));
}

// A file-size limit below the new size is met before a byte is written: the
// write fails, the old contents survive whole and no temporary file stays,
// in both the replacing and the in-place route, and the process lives on
// whether it ignores SIGXFSZ or keeps its default action (which ends it).
TEST(WriteFileFromUtf8, FailedWriteLeavesFileUnchanged) {
  TempDir dir;
  const std::string original(600, 'o');
  const std::string bigger(8192, 'n');
  std::string single = dir.write("single.txt", original);
  std::string linked = dir.write("linked.txt", original);
  ASSERT_EQ(link(linked.c_str(), dir.at("linked-2.txt").c_str()), 0);

  for (const std::string &path : {single, linked}) {
    for (bool ignore_signal : {true, false}) {
      ChildResult r = run_in_child([&] {
        if (ignore_signal) signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        return write_file_from_utf8(path.c_str(), bigger.c_str(), ENC_PLAIN) ? 1 : 0;
      });
      EXPECT_EQ(r.status, 0) << path << " must fail, the process alive";
      EXPECT_EQ(r.message, "Cannot write file '" + path + "': File too large");
      EXPECT_EQ(read_bytes(path), original) << path;
    }
  }
  EXPECT_EQ(list_dir(dir.path()),
            (std::vector<std::string>{"linked-2.txt", "linked.txt", "single.txt"}));
}

// The same fault met through the edit engine: the edit fails with the
// writer's message and the file keeps every byte.
TEST(WriteFileFromUtf8, EditThatCannotBeWrittenLeavesFileUnchanged) {
  TempDir dir;
  std::string original;
  for (int i = 1; i <= 50; ++i) original += "line " + std::to_string(i) + "\r\n";
  std::string path = dir.write("edit.txt", original);
  const std::string long_text(10000, 'x');

  ChildResult r = run_in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {2048, 2048};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    return grep_core_replace_lines(path.c_str(), 10, 12, long_text.c_str()) == -1 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.message, "Cannot write file '" + path + "': File too large");
  EXPECT_EQ(read_bytes(path), original);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"edit.txt"});
}

// A folder that cannot take a new entry cannot take the temporary file: the
// write fails with a message and the file stays as it was. Root passes every
// permission check, so the child gives up root first.
TEST(WriteFileFromUtf8, ReadOnlyDirectoryFailsCleanly) {
  TempDir dir;
  std::string ro = dir.mkdir("ro");
  std::string path = dir.write("ro/f.txt", "keep\n");
  std::string missing = dir.at("ro/new.txt");
  std::string read_only_file = dir.write("w/locked.txt", "locked\n");
  ASSERT_EQ(chmod(read_only_file.c_str(), 0444), 0);
  ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    for (const std::string &p : {ro, path, dir.at("w"), read_only_file}) {
      ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
    }
  }
  auto as_unprivileged = [](const std::function<bool()> &write) {
    return run_in_child([&] {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
      return write() ? 1 : 0;
    });
  };

  ChildResult r =
      as_unprivileged([&] { return write_file_from_utf8(path.c_str(), "x", ENC_PLAIN); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.message, "Cannot create temporary file beside '" + path + "': Permission denied");
  EXPECT_EQ(read_bytes(path), "keep\n");
  EXPECT_EQ(list_dir(ro), std::vector<std::string>{"f.txt"});

  r = as_unprivileged([&] { return write_file_from_utf8(missing.c_str(), "x", ENC_PLAIN); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.message, "Cannot open file for writing '" + missing + "': Permission denied");

  // A file without write permission is refused although its folder would let
  // a rename replace it.
  r = as_unprivileged([&] { return write_file_from_utf8(read_only_file.c_str(), "x", ENC_PLAIN); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.message, "Cannot open file for writing '" + read_only_file + "': Permission denied");
  EXPECT_EQ(read_bytes(read_only_file), "locked\n");
}

}  // namespace
