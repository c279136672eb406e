// The contract every platform layer keeps (platform.h), run on each platform
// against its real file system: names in UTF-8 whatever the system's own
// form, names too long refused whole, listings, identities, the clock, and
// replacing a file's contents without ever leaving it half written.
#include "platform/platform.h"
#include "edit_core/edit.h"
#include "read_core/read_lines.h"
#include "search_core/report_json.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

namespace {

using qg_test::TempDir;

// Names that need more than one byte per character in UTF-8, and more than
// one unit per character in UTF-16 (the last one).
const char *const kNames[] = {"café.txt", "日本語.c", "Ωmega", "\xF0\x9F\x98\x80.md"};

// The whole contents of `path` through the platform's own read, or an error.
struct read_result {
  int error;
  std::string bytes;
};

read_result read_through_platform(const std::string &path) {
  plat_file file;
  uint64_t size = 0;
  read_result r{plat_open_read(path.c_str(), &file, &size), {}};
  if (r.error != 0) return r;
  char chunk[4096];
  for (;;) {
    size_t got = 0;
    r.error = plat_read(file, chunk, sizeof chunk, &got);
    if (r.error != 0 || got == 0) break;
    r.bytes.append(chunk, got);
  }
  plat_close(file);
  EXPECT_EQ(size, r.bytes.size()) << path;
  return r;
}

// The entries of a directory, "." and ".." left out.
std::vector<plat_dir_entry> list(const std::string &path, std::vector<std::string> *names) {
  std::vector<plat_dir_entry> entries;
  plat_dir *dir = plat_dir_open(path.c_str());
  if (dir == nullptr) return entries;
  plat_dir_entry e;
  while (plat_dir_next(dir, &e)) {
    const std::string name = e.name;
    if (name == "." || name == "..") continue;
    names->push_back(name);
    entries.push_back(e);
    entries.back().name = nullptr;  // valid only until the next call
  }
  plat_dir_close(dir);
  return entries;
}

std::set<std::string> names_in(const std::string &path) {
  std::vector<std::string> names;
  list(path, &names);
  return {names.begin(), names.end()};
}

plat_file_id id_of(const std::string &path) {
  plat_dir *dir = plat_dir_open(path.c_str());
  EXPECT_NE(dir, nullptr) << path;
  plat_file_id id{0, 0};
  if (dir != nullptr) id = plat_dir_id(dir);
  plat_dir_close(dir);
  return id;
}

bool same(plat_file_id a, plat_file_id b) { return a.volume == b.volume && a.index == b.index; }

plat_replace_result replace(const std::string &path, const std::string &a, const std::string &b) {
  const plat_bytes pieces[] = {{a.data(), a.size()}, {b.data(), b.size()}};
  return plat_replace_file_contents(path.c_str(), pieces, 2, nullptr);
}

TEST(PlatformNames, NonAsciiNamesOpenListAndReadBack) {
  TempDir t;
  std::set<std::string> expected;
  for (const char *name : kNames) {
    t.write(std::string("dir/") + name, std::string("contents of ") + name + "\r\n");
    expected.insert(name);
  }
  EXPECT_EQ(names_in(t.at("dir")), expected);
  for (const char *name : kNames) {
    const read_result r = read_through_platform(t.at(std::string("dir/") + name));
    EXPECT_EQ(r.error, 0) << name;
    EXPECT_EQ(r.bytes, std::string("contents of ") + name + "\r\n");
    EXPECT_EQ(plat_path_kind_of(t.at(std::string("dir/") + name).c_str()), PLAT_PATH_FILE);
  }
}

TEST(PlatformNames, TooLongNamesAreRefusedWholeNeverCut) {
  TempDir t;
  // A file whose name is the long name's first part, which a cut name
  // would reach.
  const std::string stem(200, 'a');
  t.write(stem, "must not be opened\n");
  for (const size_t extra : {size_t{400}, size_t{70000}}) {
    const std::string long_name = t.at(stem + std::string(extra, 'a'));
    plat_file file;
    uint64_t size = 0;
    EXPECT_EQ(plat_open_read(long_name.c_str(), &file, &size), ENAMETOOLONG) << extra;
    EXPECT_EQ(plat_path_kind_of(long_name.c_str()), PLAT_PATH_MISSING);
    EXPECT_FALSE(plat_is_directory(long_name.c_str()));
    EXPECT_EQ(plat_dir_open(long_name.c_str()), nullptr);
  }
}

TEST(PlatformNames, PathsPastTheClassicLimitWork) {
  TempDir t;
  // Nested folders bring the path well past 260 characters while each name
  // stays short.
  std::string relative;
  for (int i = 0; i < 12; ++i) relative += std::string(30, static_cast<char>('a' + i)) + "/";
  const std::string file = t.write(relative + "deep.txt", "deep\n");
  ASSERT_GT(file.size(), 400u);
  EXPECT_EQ(read_through_platform(file).bytes, "deep\n");
  EXPECT_EQ(names_in(t.at(relative)), std::set<std::string>{"deep.txt"});
  EXPECT_EQ(replace(file, "deeper", "\n").step, PLAT_REPLACE_DONE);
  EXPECT_EQ(qg_test::read_bytes(file), "deeper\n");
}

TEST(PlatformFiles, KindsOfPaths) {
  TempDir t;
  const std::string file = t.write("f.txt", "x");
  plat_file handle;
  uint64_t size = 0;
  EXPECT_EQ(plat_open_read(t.path().c_str(), &handle, &size), EISDIR);
  EXPECT_EQ(plat_open_read(t.at("missing").c_str(), &handle, &size), ENOENT);
  EXPECT_EQ(plat_path_kind_of(t.path().c_str()), PLAT_PATH_DIRECTORY);
  EXPECT_EQ(plat_path_kind_of(file.c_str()), PLAT_PATH_FILE);
  EXPECT_EQ(plat_path_kind_of(t.at("missing").c_str()), PLAT_PATH_MISSING);
  EXPECT_TRUE(plat_is_directory(t.path().c_str()));
  EXPECT_FALSE(plat_is_directory(file.c_str()));
}

TEST(PlatformDirs, EntryBitsFollowLinksAndTellThem) {
  TempDir t;
  t.write("target/inside.txt", "x\n");
  t.write("plain.txt", "x\n");
  if (!qg_test::make_dir_link(t.at("target"), t.at("link"))) {
    GTEST_SKIP() << "this system refuses to make a directory link";
  }
  std::vector<std::string> names;
  const std::vector<plat_dir_entry> entries = list(t.path(), &names);
  ASSERT_EQ(entries.size(), 3u);
  for (size_t i = 0; i < entries.size(); ++i) {
    const plat_dir_entry &e = entries[i];
    if (names[i] == "plain.txt") {
      EXPECT_TRUE(e.is_regular && !e.is_dir && !e.is_link);
    } else if (names[i] == "target") {
      EXPECT_TRUE(e.is_dir && !e.is_regular && !e.is_link);
    } else {
      EXPECT_EQ(names[i], "link");
      EXPECT_TRUE(e.is_dir && !e.is_regular && e.is_link);
    }
  }
  // The same directory, whichever way it is reached.
  EXPECT_TRUE(same(id_of(t.at("target")), id_of(t.at("link"))));
  EXPECT_FALSE(same(id_of(t.at("target")), id_of(t.path())));
}

TEST(PlatformDirs, IdentityOfADirectoryReachedTwoWays) {
  TempDir t;
  t.mkdir("a/b");
  const std::string sep(1, plat_path_separator());
  EXPECT_TRUE(same(id_of(t.at("a")), id_of(t.at("a/b") + sep + "..")));
  EXPECT_TRUE(same(id_of(t.at("a/b")), id_of(t.at("a") + sep + "." + sep + "b")));
  EXPECT_FALSE(same(id_of(t.at("a")), id_of(t.at("a/b"))));
}

TEST(PlatformClock, CounterRunsForwardAtItsFrequency) {
  EXPECT_GT(plat_counter_frequency(), 0);
  const int64_t first = plat_counter();
  int64_t later = first;
  // Spin until the counter moves: it must, and never backwards.
  for (int i = 0; i < 100000000 && later == first; ++i) later = plat_counter();
  EXPECT_GT(later, first);
}

TEST(PlatformReplace, NewContentsWholeAndNothingLeftBeside) {
  TempDir t;
  const std::string file = t.write("dir/f.txt", "old contents\n");
  EXPECT_EQ(replace(file, "new ", "contents\r\n").step, PLAT_REPLACE_DONE);
  EXPECT_EQ(qg_test::read_bytes(file), "new contents\r\n");
  const std::string created = t.at("dir/created.txt");
  EXPECT_EQ(replace(created, "", "made\n").step, PLAT_REPLACE_DONE);
  EXPECT_EQ(qg_test::read_bytes(created), "made\n");
  EXPECT_EQ(names_in(t.at("dir")), (std::set<std::string>{"f.txt", "created.txt"}));
}

TEST(PlatformReplace, FailuresLeaveEverythingAsItWas) {
  TempDir t;
  const std::string file = t.write("dir/locked.txt", "keep me\n");
  const plat_replace_result missing_folder = replace(t.at("nowhere/f.txt"), "x", "\n");
  EXPECT_NE(missing_folder.step, PLAT_REPLACE_DONE);
  EXPECT_EQ(missing_folder.error, ENOENT);
  EXPECT_EQ(plat_path_kind_of(t.at("nowhere").c_str()), PLAT_PATH_MISSING);

  if (!qg_test::read_only_is_enforced()) {
    GTEST_SKIP() << "this process may write a read-only file";
  }
  ASSERT_TRUE(qg_test::set_read_only(file, true));
  const plat_replace_result r = replace(file, "lost", "\n");
  qg_test::set_read_only(file, false);
  EXPECT_EQ(r.step, PLAT_REPLACE_OPEN);
  EXPECT_EQ(r.error, EACCES);
  EXPECT_EQ(qg_test::read_bytes(file), "keep me\n");
  EXPECT_EQ(names_in(t.at("dir")), std::set<std::string>{"locked.txt"});
}

// The operations a host calls, on a non-ASCII name: the name the search
// reports opens for reading and for editing.
TEST(PlatformNames, NonAsciiNamesRoundTripThroughSearchReadAndEdit) {
  TempDir t;
  const std::string file = t.write("données/café.txt", "un\ndeux\n");
  char *doc = grep_core_search_json(t.path().c_str(), "deux", nullptr);
  ASSERT_NE(doc, nullptr);
  const std::string sep(1, plat_path_separator());
  const std::string reported = t.path() + sep + "donn\xC3\xA9" + "es" + sep + "caf\xC3\xA9.txt";
  EXPECT_EQ(reported, file);
  std::string escaped;
  for (char c : reported) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_NE(std::string(doc).find("\"file\":\"" + escaped + "\""), std::string::npos) << doc;
  free(doc);

  EXPECT_EQ(grep_core_replace_lines(reported.c_str(), 2, 2, "trois"), 0);
  char *lines = grep_core_read_lines(reported.c_str(), 1, 2);
  ASSERT_NE(lines, nullptr);
  EXPECT_NE(std::string(lines).find("trois"), std::string::npos) << lines;
  free(lines);
  EXPECT_EQ(qg_test::read_bytes(file), "un\ntrois\n");
}

}  // namespace
