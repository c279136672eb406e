// The tree walk and the per-file scan: skip rules, globs, depth, binary
// files, encodings and the cap on matches, on every platform (links, pipes,
// sockets and long paths made with POSIX calls: walk_posix_test.cpp).

#include "grep_core/last_error.h"
#include "platform/platform.h"
#include "search_core/walk_recorder.h"
#include "support/line_array.h"
#include "support/literal.h"
#include "support/regex_named_ops.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(SearchRoot, RootFileIsScannedWhateverItsName) {
  qg_test::TempDir t;
  std::string file = t.write(".env", "x\nneedle\n");
  Result r = search(file, "needle", R"({"include_globs":"*.c","exclude_globs":".env"})");
  ASSERT_EQ(r.hits.size(), 1u);
  EXPECT_EQ(r.hits[0].path, file);
  EXPECT_EQ(r.hits[0].line_no, 2);
  EXPECT_EQ(r.files_searched, 1);
}

TEST(SearchRoot, MissingRootFailsTheSearch) {
  qg_test::TempDir t;
  std::string missing = t.at("nope");
  Result r = search(missing, "x");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.status, GREP_E_NOT_FOUND);
  EXPECT_EQ(std::string(qm_grep_get_last_error()).rfind("Cannot open file '" + missing + "': ", 0),
            0u);
}

TEST(SearchRoot, RootNamedLikeASkippedDirectoryIsWalked) {
  qg_test::TempDir t;
  t.write("build/a.txt", "needle");
  t.write(".git/a.txt", "needle");
  EXPECT_EQ(search(t.at("build"), "needle").paths(),
            std::multiset<std::string>{t.at("build/a.txt")});
  EXPECT_EQ(search(t.at(".git"), "needle").paths(), std::multiset<std::string>{t.at(".git/a.txt")});
}

TEST(SearchRoot, ChildPathsJoinTheRootUnchanged) {
  qg_test::TempDir t;
  t.write("a.txt", "needle");
  t.write("d/b.txt", "needle");
  // The root's own separator stays, and the walk adds the platform's.
  const std::string sep(1, plat_path_separator());
  EXPECT_EQ(search(t.path() + "/", "needle").paths(),
            (std::multiset<std::string>{t.path() + "/" + sep + "a.txt",
                                        t.path() + "/" + sep + "d" + sep + "b.txt"}));
}

// True when the file system keeps names that differ only in case apart.
bool case_sensitive_names() {
  qg_test::TempDir probe;
  probe.write("case-probe", "");
  return !std::filesystem::exists(qg_test::from_utf8(probe.at("CASE-PROBE")));
}

TEST(SearchDirectory, FixedSkipRulesAndDotEntries) {
  qg_test::TempDir t;
  const char *skipped[] = {"node_modules", "bin",         "obj",  "target", "dist",
                           "build",        "__pycache__", ".git", ".vscode"};
  for (const char *dir : skipped) t.write(std::string(dir) + "/f.txt", "needle");
  // Names that differ from the fixed ones by case are other directories only
  // where names keep their case apart.
  std::vector<std::string> walked = {"builds", "_pycache__"};
  if (case_sensitive_names()) walked.insert(walked.end(), {"Build", "BIN", "Target"});
  for (const std::string &dir : walked) t.write(dir + "/f.txt", "needle");
  t.write("build2/.hidden.txt", "needle");
  t.write(".env", "needle");
  t.write("sub/build", "needle");  // the fixed names concern directories only
  t.write("f.txt", "needle");

  std::multiset<std::string> expected{t.at("f.txt"), t.at("sub/build")};
  for (const std::string &dir : walked) expected.insert(t.at(dir + "/f.txt"));
  Result r = search(t.path(), "needle");
  EXPECT_EQ(r.paths(), expected);
  EXPECT_EQ(r.files_searched, static_cast<int32_t>(expected.size()));
}

struct GlobCase {
  const char *options;
  std::vector<const char *> found;
};

TEST(SearchDirectory, NameGlobs) {
  qg_test::TempDir t;
  const char *files[] = {"a.c",        "test_a.c",       "a.h",         "B.C",
                         "vendor/v.c", "src/vendor/w.c", "src/lib/x.c", "notes.md"};
  for (const char *f : files) t.write(f, "needle");
  const GlobCase cases[] = {
      {R"({"include_globs":"*.c","exclude_globs":"test_*"})",
       {"a.c", "B.C", "vendor/v.c", "src/vendor/w.c", "src/lib/x.c"}},
      {R"({"include_globs":["*.h","*.md"]})", {"a.h", "notes.md"}},
      {R"({"exclude_dirs":"vendor","include_globs":"*.c"})",
       {"a.c", "test_a.c", "B.C", "src/lib/x.c"}},
      {R"({"exclude_dirs":"src/vendor","include_globs":"*.c"})",
       {"a.c", "test_a.c", "B.C", "vendor/v.c", "src/vendor/w.c", "src/lib/x.c"}},
      {R"({"exclude_dirs":"s*;v*","exclude_globs":"*.c *.h"})", {"notes.md"}},
  };
  for (const GlobCase &c : cases) {
    std::multiset<std::string> expected;
    for (const char *f : c.found) expected.insert(t.at(f));
    EXPECT_EQ(search(t.path(), "needle", c.options).paths(), expected) << c.options;
  }
}

// A chain root/d1/d2/.../dN with a file f.txt in the root and at every level.
std::string make_chain(const qg_test::TempDir &t, int levels) {
  std::string rel;
  t.write("f.txt", "needle");
  for (int i = 1; i <= levels; ++i) {
    rel += "d" + std::to_string(i) + "/";
    t.write(rel + "f.txt", "needle");
  }
  return rel;
}

TEST(SearchDirectory, ListsSixtyFourLevelsBelowTheRoot) {
  qg_test::TempDir t;
  make_chain(t, 70);
  Result r = search(t.path(), "needle");
  EXPECT_EQ(r.files_searched, 65);
  ASSERT_EQ(r.hits.size(), 65u);
  size_t deepest = 0;
  for (const Hit &h : r.hits) {
    deepest =
        std::max<size_t>(deepest, std::count(h.path.begin(), h.path.end(), plat_path_separator()));
  }
  size_t root_slashes = std::count(t.path().begin(), t.path().end(), plat_path_separator());
  EXPECT_EQ(deepest, root_slashes + 65);  // 64 directories and the file name
}

TEST(SearchFileContent, BinaryTestLooksAtTheFirst8192DecodedBytes) {
  qg_test::TempDir t;
  std::string early = "needle\n" + std::string(9000, 'x');
  early[8191] = '\0';
  std::string late = "needle\n" + std::string(9000, 'x');
  late[8192] = '\0';
  t.write("early.txt", early);
  t.write("late.txt", late);
  t.write("utf16_nul.txt", std::string("\xFF\xFEn\0e\0\0\0", 8));
  Result r = search(t.path(), "needle");
  EXPECT_EQ(r.paths(), std::multiset<std::string>{t.at("late.txt")});
  EXPECT_EQ(r.files_searched, 1);
}

struct EncodingCase {
  const char *name;
  std::string bytes;
};

TEST(SearchFileContent, FilesInEveryEncodingAndLineEnding) {
  qg_test::TempDir t;
  // "ab\r\nx needle\r\n" in each encoding, and mixed endings in plain UTF-8.
  const EncodingCase cases[] = {
      {"plain.txt", "ab\r\nx needle\r\n"},
      {"bom.txt",
       "\xEF\xBB\xBF"
       "ab\r\nx needle\r\n"},
      {"le.txt", std::string("\xFF\xFE"
                             "a\0b\0\r\0\n\0x\0 \0n\0e\0e\0d\0l\0e\0\r\0\n\0",
                             30)},
      {"be.txt", std::string("\xFE\xFF\0a\0b\0\r\0\n\0x\0 \0n\0e\0e\0d\0l\0e\0\r\0\n", 30)},
  };
  for (const EncodingCase &c : cases) t.write(c.name, c.bytes);
  Result r = search(t.path(), "needle");
  ASSERT_EQ(r.hits.size(), 4u);
  for (const Hit &h : r.hits) {
    EXPECT_EQ(h.line_no, 2) << h.path;
    EXPECT_EQ(h.col, 3) << h.path;
    EXPECT_EQ(h.text, "x needle") << h.path;
  }
}

TEST(SearchFileContent, LoneCarriageReturnsEndLinesToo) {
  qg_test::TempDir t;
  std::string file = t.write("m.txt", "a\rneedle one\r\n\nb needle\rneedle needle needle");
  Result r = search(file, "needle");
  ASSERT_EQ(r.hits.size(), 3u);
  EXPECT_EQ(r.hits[0].line_no, 2);
  EXPECT_EQ(r.hits[1].line_no, 4);
  EXPECT_EQ(r.hits[1].col, 3);
  EXPECT_EQ(r.hits[2].line_no, 5);
  EXPECT_EQ(r.hits[2].col, 1);  // one report per line, at its first match
}

TEST(SearchFileContent, OptionsChooseTheFinder) {
  qg_test::TempDir t;
  std::string file = t.write("m.txt", "Needle\nneedles\nx.y\nxzy\n");
  struct Row {
    const char *pattern;
    const char *options;
    std::vector<int32_t> lines;
  };
  const Row rows[] = {
      {"needle", nullptr, {2}},
      {"needle", R"({"ignore_case":true})", {1, 2}},
      {"needle", R"({"ignore_case":true,"whole_word":true})", {1}},
      {"x.y", nullptr, {3}},
      {"x.y", R"({"regex":true})", {3, 4}},
      {"^N", R"({"regex":true,"case_sensitive":false})", {1, 2}},
  };
  for (const Row &row : rows) {
    std::vector<int32_t> lines;
    for (const Hit &h : search(file, row.pattern, row.options).hits) lines.push_back(h.line_no);
    EXPECT_EQ(lines, row.lines) << row.pattern << " " << (row.options ? row.options : "");
  }
}

TEST(SearchFileContent, CapInTheFirstFileCountsOneFile) {
  qg_test::TempDir t;
  std::string file = t.write("five.txt", "needle\nneedle\nneedle\nneedle\nneedle\n");
  Result r = search(file, "needle", R"({"max_results":2})");
  EXPECT_EQ(r.hits.size(), 2u);
  EXPECT_EQ(r.files_searched, 1);
}

// Links back up the tree and a second way into a directory (symbolic links,
// or junctions on Windows) neither loop the walk nor report a file twice.
TEST(SearchDirectory, DirectoryLinksLoopNorRepeat) {
  qg_test::TempDir t;
  t.write("f.txt", "needle");
  t.write("sub/g.txt", "needle");
  if (!qg_test::make_dir_link(t.path(), t.at("sub/up")) ||
      !qg_test::make_dir_link(t.at("sub"), t.at("alias"))) {
    GTEST_SKIP() << "this system makes no directory links";
  }
  Result r = search(t.path(), "needle");
  std::multiset<std::string> found = r.paths();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found.count(t.at("f.txt")), 1u);
  EXPECT_EQ(found.count(t.at("sub/g.txt")) + found.count(t.at("alias/g.txt")), 1u);
}

struct WalkKeyCase {
  const char *options;
  std::vector<const char *> found;
};

// "hidden" opens dot entries and "skip_dirs": false the fixed names; .git
// only with both.
TEST(SearchDirectory, WalkKeysOpenWhatTheFixedRulesClose) {
  qg_test::TempDir t;
  const char *files[] = {"f.txt",   ".env",           ".hid/f",   ".git/f",
                         "build/f", "node_modules/f", ".vscode/f"};
  for (const char *f : files) t.write(f, "needle");
  const WalkKeyCase cases[] = {
      {"{}", {"f.txt"}},
      {R"({"hidden":true})", {"f.txt", ".env", ".hid/f", ".vscode/f"}},
      {R"({"skip_dirs":false})", {"f.txt", "build/f", "node_modules/f"}},
      {R"({"hidden":true,"skip_dirs":false})",
       {"f.txt", ".env", ".hid/f", ".git/f", "build/f", "node_modules/f", ".vscode/f"}},
      {R"({"hidden":true,"skip_dirs":false,"exclude_dirs":".git"})",
       {"f.txt", ".env", ".hid/f", "build/f", "node_modules/f", ".vscode/f"}},
  };
  for (const WalkKeyCase &c : cases) {
    std::multiset<std::string> expected;
    for (const char *f : c.found) expected.insert(t.at(f));
    EXPECT_EQ(search(t.path(), "needle", c.options).paths(), expected) << c.options;
  }
}

// With "follow_links": false no link met in the walk is followed, to a file
// or a directory; a root that is a link still is.
TEST(SearchDirectory, FollowLinksFalseLeavesLinksInTheTree) {
  qg_test::TempDir t;
  t.write("tree/f.txt", "needle");
  t.write("elsewhere/g.txt", "needle");
  std::error_code error;
  std::filesystem::create_symlink(qg_test::from_utf8(t.at("elsewhere/g.txt")),
                                  qg_test::from_utf8(t.at("tree/file_link")), error);
  if (error || !qg_test::make_dir_link(t.at("elsewhere"), t.at("tree/dir_link")) ||
      !qg_test::make_dir_link(t.at("tree"), t.at("root_link"))) {
    GTEST_SKIP() << "this system makes no links";
  }
  const std::multiset<std::string> followed{t.at("tree/f.txt"), t.at("tree/file_link"),
                                            t.at("tree/dir_link/g.txt")};
  EXPECT_EQ(search(t.at("tree"), "needle").paths(), followed);
  EXPECT_EQ(search(t.at("tree"), "needle", R"({"follow_links":false})").paths(),
            std::multiset<std::string>{t.at("tree/f.txt")});
  EXPECT_EQ(search(t.at("root_link"), "needle", R"({"follow_links":false})").paths(),
            std::multiset<std::string>{t.at("root_link/f.txt")});
}

TEST(SearchDirectory, EmptyDirectoryGivesNothing) {
  qg_test::TempDir t;
  t.mkdir("empty");
  Result r = search(t.at("empty"), "");
  EXPECT_EQ(r.files_searched, 0);
  EXPECT_TRUE(r.hits.empty());
}

}  // namespace

namespace {

// The scan reports, line by line, what the finders report for each line on
// its own, whatever shortcuts it takes through the whole text: line endings of
// every kind, whole-word rejections before a later match, patterns that hold
// a line break, required runs of a pattern, hits at the very start and end.
TEST(SearchFileContent, ScanAgreesWithTheFindersOnEveryLine) {
  const std::string texts[] = {
      "ab\r\nxab\r\nab",          "foo\nfoobar foo\nbar\n",    "a\r\nb\na\rb\r\r\nab",
      "needle\r\n\r\nneedle\r\n", "x\n\nneedleneedle\nneedle", "abab ab\nab_ab\n-ab-\nAB\n",
  };
  const char *patterns[] = {"ab",  "foo", "a\nb", "\r\n",   "needle", "b\r", "a",   "ab-",  "a.b",
                            "^ab", "ab$", "fo+",  "\\w+ab", "x|ab",   "",    "e+d", "[ab]b"};
  const char *option_sets[] = {"{}", R"({"whole_word":true})", R"({"ignore_case":true})",
                               R"({"regex":true})", R"({"regex":true,"ignore_case":true})"};
  qg_test::TempDir t;
  int file = 0;
  for (const std::string &text : texts) {
    std::string path = t.write("f" + std::to_string(file++) + ".txt", text);
    line_array lines;
    ASSERT_TRUE(split_into_lines(text.c_str(), &lines));
    for (const char *pattern : patterns) {
      for (const char *options : option_sets) {
        grep_opts opts;
        ASSERT_TRUE(grep_opts_parse_json(&opts, options));
        std::vector<Hit> expected;
        for (int32_t i = 0; i < lines.count; ++i) {
          int32_t col = 0, len = 0;
          bool found = opts.regex ? regex_find_first(pattern, lines.items[i], opts.case_sensitive,
                                                     &col, &len)
                                  : fixed_find_first(pattern, lines.items[i], opts.case_sensitive,
                                                     opts.whole_word, &col, &len);
          if (found) expected.push_back({path, i + 1, col, lines.items[i]});
        }
        grep_opts_free(&opts);
        Result r = search(path, pattern, options);
        ASSERT_EQ(r.hits.size(), expected.size())
            << testing::PrintToString(text) << " / " << testing::PrintToString(pattern) << " "
            << options;
        for (size_t k = 0; k < expected.size(); ++k) {
          EXPECT_EQ(r.hits[k].line_no, expected[k].line_no);
          EXPECT_EQ(r.hits[k].col, expected[k].col);
          EXPECT_EQ(r.hits[k].text, expected[k].text);
        }
      }
    }
    la_free(&lines);
  }
}

}  // namespace
