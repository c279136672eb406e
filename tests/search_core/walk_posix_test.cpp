// The tree walk where POSIX calls make the tree: symbolic links (loops,
// fan-outs, several ways to one directory, dangling links), named pipes and
// sockets, and paths beyond the walk's limit.

#include "grep_core/last_error.h"
#include "search_core/report_stream.h"
#include "search_core/walk_recorder.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace {

void symlink_or_fail(const std::string &target, const std::string &link) {
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

TEST(SearchDirectory, LinksBackToTheirOwnDirectoryEndTheWalk) {
  qg_test::TempDir t;
  t.write("f.txt", "needle");
  t.write("sub/g.txt", "needle");
  symlink_or_fail(".", t.at("self1"));
  symlink_or_fail(t.path(), t.at("self2"));
  symlink_or_fail("..", t.at("sub/up"));
  symlink_or_fail("../sub", t.at("sub/again"));
  Result r = search(t.path(), "needle");
  EXPECT_EQ(r.paths(), (std::multiset<std::string>{t.at("f.txt"), t.at("sub/g.txt")}));
}

// Named pipes, sockets and a fan-out of links cannot hang or multiply the
// walk: each of 25 levels holds two links to the next, which reached 2^25
// paths before; every real file is reported once and no pipe is opened.
TEST(SearchDirectory, PipesSocketsAndLinkFanOutsNeitherHangNorMultiply) {
  qg_test::TempDir t;
  t.write("a.txt", "needle");
  ASSERT_EQ(mkfifo(t.at("pipe").c_str(), 0644), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = t.at("sock");
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  std::string level = "fan";
  for (int i = 0; i < 25; ++i) {
    t.mkdir(level + "/next");
    symlink_or_fail("next", t.at(level + "/l1"));
    symlink_or_fail("next", t.at(level + "/l2"));
    level += "/next";
  }
  t.write(level + "/deep.txt", "needle");
  symlink_or_fail("../pipe", t.at("fan/pipe_link"));
  Result r = search(t.path(), "needle");
  close(sock);
  EXPECT_EQ(r.files_searched, 2);
  ASSERT_EQ(r.paths().size(), 2u);
  EXPECT_EQ(r.paths().count(t.at("a.txt")), 1u);
}

// A named pipe, a socket or a device named directly is refused at once,
// without being opened in a way that could block.
TEST(SearchRoot, RootThatIsNotARegularFileIsRefused) {
  qg_test::TempDir t;
  const std::string pipe = t.at("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  for (const std::string &root : {pipe, std::string("/dev/null")}) {
    Result r = search(root, "x");
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.status, GREP_E_IO);
    EXPECT_EQ(std::string(qm_grep_get_last_error()),
              "Cannot open file '" + root + "': Not a regular file");
  }
}

// A directory reached by several links, or by a link and its own path, is
// walked once, under whichever path the walk meets first.
TEST(SearchDirectory, EachDirectoryIsWalkedOnceWhicheverWayReachesIt) {
  qg_test::TempDir t;
  t.write("real/f.txt", "needle");
  t.mkdir("other");
  symlink_or_fail("real", t.at("alias"));
  symlink_or_fail("../real", t.at("other/alias2"));
  Result r = search(t.path(), "needle");
  ASSERT_EQ(r.paths().size(), 1u);
  const std::set<std::string> ways = {t.at("real/f.txt"), t.at("alias/f.txt"),
                                      t.at("other/alias2/f.txt")};
  EXPECT_EQ(ways.count(*r.paths().begin()), 1u) << *r.paths().begin();
}

// Creates `name` under the open directory `dirfd` and returns the new
// directory's descriptor.
int mkdir_at(int dirfd, const std::string &name) {
  EXPECT_EQ(mkdirat(dirfd, name.c_str(), 0755), 0) << name.size();
  int fd = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_GE(fd, 0);
  return fd;
}

void write_at(int dirfd, const std::string &name, const std::string &bytes) {
  int fd = openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << name.size();
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

TEST(SearchDirectory, PathsBeyondTheLimitArePassedOverNotCut) {
  qg_test::TempDir t;
  // Directories of up to 200-byte names until the path leaves exactly 100
  // bytes for a child name.
  const size_t target = SEARCH_MAX_PATH_BYTES - 1 - 100 - 1;
  std::string deep = t.path();
  int fd = open(t.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; deep.size() < target; ++level) {
    const size_t room = target - deep.size() - 1;
    std::string name(room <= 200 ? room : 150, static_cast<char>('a' + level % 26));
    int next = mkdir_at(fd, name);
    close(fd);
    fd = next;
    deep += "/" + name;
  }
  ASSERT_EQ(deep.size(), target);
  // A child of exactly the longest length, and one longer whose first
  // 4095 bytes spell the shorter one's path.
  const size_t fit = SEARCH_MAX_PATH_BYTES - 1 - deep.size() - 1;
  const std::string long_name(fit + 20, 'n');
  write_at(fd, long_name.substr(0, fit), "needle");
  write_at(fd, long_name, "needle");
  mkdir_at(fd, std::string(fit + 5, 'd'));
  int inner = openat(fd, std::string(fit + 5, 'd').c_str(), O_RDONLY | O_DIRECTORY);
  write_at(inner, "f.txt", "needle");

  Result r = search(t.path(), "needle");
  EXPECT_EQ(r.paths(), std::multiset<std::string>{deep + "/" + long_name.substr(0, fit)});
  EXPECT_EQ(r.hits.size(), 1u);
  EXPECT_EQ(r.hits[0].path.size(), SEARCH_MAX_PATH_BYTES - 1u);

  // The temporary folder's removal works with whole paths: take away what
  // lies beyond the limit first.
  unlinkat(inner, "f.txt", 0);
  close(inner);
  unlinkat(fd, std::string(fit + 5, 'd').c_str(), AT_REMOVEDIR);
  unlinkat(fd, long_name.c_str(), 0);
  close(fd);
}

TEST(SearchFileContent, MaxResultsStopsBeforeAnyFurtherRead) {
  qg_test::TempDir t;
  t.write("five.txt", "needle\nneedle\nneedle\nneedle\nneedle\n");
  // Each unreadable entry would leave its own message if it were read.
  for (int i = 0; i < 6; ++i) {
    symlink_or_fail(t.at("missing" + std::to_string(i)), t.at("dangling" + std::to_string(i)));
    t.write("d" + std::to_string(i) + "/more.txt", "needle");
    symlink_or_fail(t.at("gone"), t.at("d" + std::to_string(i) + "/dangling"));
  }
  qm_grep_clear_last_error();
  Result r = search(t.path(), "needle", R"({"max_results":2,"context_lines":-7})");
  EXPECT_EQ(r.hits.size(), 2u);
  EXPECT_LE(r.files_searched, 2);
  EXPECT_EQ(r.status, GREP_OK);
  // What the last-error text held at the last match is what it holds at the
  // end: nothing was read after it.
  std::string at_last_match;
  auto keep = [](const char *, void *user_data) {
    *static_cast<std::string *>(user_data) = qm_grep_get_last_error();
    return 0;
  };
  EXPECT_EQ(grep_core_search_stream_ctx(t.path().c_str(), "needle", R"({"max_results":2})", keep,
                                        &at_last_match),
            2);
  EXPECT_EQ(std::string(qm_grep_get_last_error()), at_last_match);

  Result all = search(t.path(), "needle", R"({"max_results":-1})");
  EXPECT_EQ(all.hits.size(), 11u);
}

}  // namespace
