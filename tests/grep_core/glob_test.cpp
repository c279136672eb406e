// Name globs: case-folded literals, exact classes, stars; the linear matcher
// checked against a direct transcription of the recursive definition.
#include "grep_core/glob.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/glob_reference.h"

namespace {

struct Row {
  const char *glob;
  const char *name;
  bool match;
};

void PrintTo(const Row &r, std::ostream *os) { *os << "'" << r.glob << "' vs '" << r.name << "'"; }

class GlobRows : public testing::TestWithParam<Row> {};

TEST_P(GlobRows, MatchesWholeName) {
  const Row &r = GetParam();
  EXPECT_EQ(glob_match(r.glob, r.name), r.match);
  EXPECT_EQ(qg_test::glob_match_reference(r.glob, r.name), r.match);  // the table binds both
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(StarsAndQuestionMarks, GlobRows, testing::Values(
    Row{"", "", true},
    Row{"", "a", false},
    Row{"*.txt", "a.txt", true},
    Row{"*.txt", "A.TXT", true},
    Row{"*.txt", ".txt", true},
    Row{"*.txt", "a.txt.bak", false},
    Row{"*.txt", "a.txt.txt", true},
    Row{"test_?.c", "test_1.c", true},
    Row{"test_?.c", "test_.c", false},
    Row{"?", "", false},
    Row{"?*", "", false},
    Row{"*", "", true},
    Row{"**", "", true},
    Row{"a**b", "ab", true},
    Row{"*a*", "bab", true},
    Row{"*a*", "bbb", false},
    Row{"a*b*c", "aXbYbZc", true},
    Row{"a*b*c", "aXbYbZ", false},
    Row{"*ab", "aab", true}));  // the star retries one byte further

INSTANTIATE_TEST_SUITE_P(CaseFolding, GlobRows, testing::Values(
    Row{"README*", "readme.md", true},
    Row{".git", ".GIT", true},
    Row{"node_*", "NODE_modules", true},
    Row{"\xC3\xA9", "\xC3\x89", false},
    Row{"[", "[", false}));

INSTANTIATE_TEST_SUITE_P(Classes, GlobRows, testing::Values(
    Row{"[abc]*", "apple", true},
    Row{"[abc]*", "Apple", false},
    Row{"[A-Z]*", "readme", false},
    Row{"*.[ch]", "util.h", true},
    Row{"*.[ch]", "UTIL.H", false},
    Row{"*.[hH]", "util.h", true},
    Row{"*.[hH]", "UTIL.H", true},
    Row{"[!a]*", "bcd", true},
    Row{"[^a]*", "bcd", true},
    Row{"[!a]*", "abc", false},
    Row{"[^a]*", "abc", false},
    Row{"[!a-c]x", "dx", true},
    Row{"[!a-c]x", "bx", false},
    Row{"[a-]", "-", true},
    Row{"[c-a]", "b", false},
    Row{"[\x80-\xFF]", "\xC3", true},
    Row{"[a-\xC3]", "b", false},
    Row{"[]", "]", false},
    Row{"[]*", "x", false},
    Row{"[]a]", "a", false},
    Row{"[]a]", "]a]", false},
    Row{"*[", "x", false},
    Row{"*[", "[", false},
    Row{"[!]", "x", true},
    Row{"[!]", "", false},
    Row{"[!]", "xy", false},
    Row{"[!", "x", true},
    Row{"[!", "xy", false},
    Row{"x[!", "xy", true},
    Row{"[ab", "a", true},
    Row{"[ab", "ab", false},
    Row{"a\\b", "a\\b", true},
    Row{"\\*", "\\x", true},
    Row{"\\*", "*", false}));
// clang-format on

TEST(BasenamePortable, TakesThePartAfterTheLastSeparator) {
  const struct {
    const char *path;
    const char *base;
  } rows[] = {{"a/b\\c.txt", "c.txt"}, {"dir/", ""}, {"plain", "plain"}, {"", ""},
              {"a\\b/c", "c"},         {"/", ""},    {"\\x", "x"}};
  for (const auto &r : rows) {
    const char *base = basename_portable(r.path);
    EXPECT_STREQ(base, r.base) << r.path;
    EXPECT_EQ(base, r.path + strlen(r.path) - strlen(r.base)) << "a view into the path";
  }
}

// Small alphabets make stars, classes and their corners collide often.
TEST(GlobMatch, AgreesWithTheRecursiveDefinitionOnGeneratedGlobs) {
  std::mt19937 rng(4242);
  const char glob_bytes[] = "**??[[]]!^-aAbB\xC3";
  const char name_bytes[] = "aAbB-]![\xC3";
  auto gen = [&](const char *bytes, size_t count, size_t max_len) {
    std::string s(rng() % (max_len + 1), ' ');
    for (char &c : s) c = bytes[rng() % count];
    return s;
  };
  for (int i = 0; i < 100000; ++i) {
    std::string glob = gen(glob_bytes, sizeof glob_bytes - 1, 8);
    std::string name = gen(name_bytes, sizeof name_bytes - 1, 7);
    ASSERT_EQ(glob_match(glob.c_str(), name.c_str()),
              qg_test::glob_match_reference(glob.c_str(), name.c_str()))
        << "'" << glob << "' vs '" << name << "'";
  }
}

// Many stars against a long name that fails at its last byte: the linear
// matcher must finish (the recursive definition would take n^k steps).
TEST(GlobMatch, ManyStarsOnALongNameFinish) {
  std::string glob;
  for (int i = 0; i < 200; ++i) glob += "*a";
  glob += "b";
  std::string name(100000, 'a');
  EXPECT_FALSE(glob_match(glob.c_str(), name.c_str()));
  name += "b";
  EXPECT_TRUE(glob_match(glob.c_str(), name.c_str()));
}

}  // namespace
