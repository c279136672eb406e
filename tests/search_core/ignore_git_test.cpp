// The walk's ignore rules against git itself: on generated trees with
// generated .gitignore files and .git/info/exclude, the files a search with
// "gitignore" reads are exactly those `git check-ignore` does not ignore,
// searching from the repository's top and from a folder inside it.
#include "grep_core/last_error.h"
#include "search_core/report_json.h"
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kMark[] = "QGMARK";

// Runs git in `repo` with no configuration but the repository's own, so no
// global excludes file can take part.
qg_test::run_result git(const qg_test::TempDir &home, const std::string &repo,
                        std::vector<std::string> args, const std::string &input = "") {
  args.insert(args.begin(), {"git", "-C", repo});
  return qg_test::run_process(
      args, input,
      {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path(), "GIT_CONFIG_NOSYSTEM=1"});
}

template <size_t N>
const char *pick(std::mt19937 &rng, const char *const (&pool)[N]) {
  return pool[rng() % N];
}

// One rule line: globs over the names the trees use, with every kind of
// syntax git gives a meaning.
std::string random_rule(std::mt19937 &rng) {
  static const char *const segments[] = {
      "*",          "**",    "a",     "a*",        "*.txt",         "?.log",
      "[ab]*",      "[!a]*", "b.*",   "build",     "sub",           "d",
      "x\\ y",      "x\\ z", "\\*",   "e.?",       "*[[:digit:]]*", "[[:alpha:]].c",
      "[a-c].txt",  "*.c",   ".h*",   "B",         "[^b]*.log",     "\\#c",
      "\\!b*",      "a**",   "[]a]*", "[0-9].log", "*\\.c",         "[a-",
      "*a**",       "su**",  "b**c",  "bu***",     "[[:word:]]*",   "*[[:punct:]]*",
      "[[:upper:]]"};
  static const char *const comments[] = {"# a comment", "", "   ", "#!not a rule"};
  if (rng() % 8 == 0) return pick(rng, comments);
  std::string rule;
  if (rng() % 4 == 0) rule += "!";
  if (rng() % 5 == 0) rule += "/";
  const int count = 1 + static_cast<int>(rng() % 3);
  for (int i = 0; i < count; ++i) {
    if (i > 0) rule += "/";
    rule += pick(rng, segments);
  }
  if (rng() % 5 == 0) rule += "/";
  if (rng() % 8 == 0) rule += "  ";
  return rule;
}

std::string random_rules(std::mt19937 &rng) {
  std::string text;
  const int lines = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < lines; ++i) text += random_rule(rng) + (rng() % 6 == 0 ? "\r\n" : "\n");
  return text;
}

// A tree of up to three levels of folders and files, each file holding the
// mark; ignore files in some folders. Returns the files' relative paths.
std::vector<std::string> make_tree(std::mt19937 &rng, const qg_test::TempDir &t,
                                   const std::string &dir, int depth,
                                   std::vector<std::string> *dirs, std::string *rules_log) {
  static const char *const files[] = {"a1",    "b.txt", "c.log", "x z",   ".h",  "e.c",
                                      "a.txt", "B",     "d1.c",  "1.log", "b.c", "f"};
  static const char *const folders[] = {"a", "d", "build", "sub", "x y", ".hid", "c"};
  std::vector<std::string> made;
  const std::string prefix = dir.empty() ? "" : dir + "/";
  const int file_count = static_cast<int>(rng() % 5);
  for (int i = 0; i < file_count; ++i) {
    const std::string path = prefix + pick(rng, files);
    t.write(path, std::string(kMark) + "\n");
    made.push_back(path);
  }
  if (depth == 0 || rng() % 3 == 0) {
    const std::string rules = random_rules(rng);
    t.write(prefix + ".gitignore", rules);
    *rules_log += "== " + prefix + ".gitignore\n" + rules;
  }
  if (depth < 3) {
    const int folder_count = static_cast<int>(rng() % (depth == 0 ? 4 : 3));
    for (int i = 0; i < folder_count; ++i) {
      const std::string sub = prefix + pick(rng, folders);
      dirs->push_back(sub);
      for (std::string &f : make_tree(rng, t, sub, depth + 1, dirs, rules_log)) made.push_back(f);
    }
  }
  return made;
}

// The files a search with "gitignore" reported, relative to `repo`: with
// dot entries and the fixed skipped names walked, so that only the ignore
// rules decide (nothing in .git holds the mark).
std::set<std::string> searched(const std::string &repo, const std::string &root) {
  char *text = grep_core_search_json(root.c_str(), kMark,
                                     R"({"gitignore":true,"hidden":true,"skip_dirs":false})");
  std::set<std::string> files;
  EXPECT_NE(text, nullptr) << qm_grep_get_last_error();
  if (text == nullptr) return files;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  size_t i, n;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), i, n, m) {
    files.insert(std::string(yyjson_get_str(yyjson_obj_get(m, "file"))).substr(repo.size() + 1));
  }
  yyjson_doc_free(doc);
  free(text);
  return files;
}

TEST(IgnoreRules, AgreeWithGitCheckIgnore) {
  if (!qg_test::program_exists("git")) GTEST_SKIP() << "git is not installed";
  qg_test::TempDir home;
  std::mt19937 rng(7);
  int ignored_somewhere = 0;
  for (int round = 0; round < 150; ++round) {
    qg_test::TempDir t;
    const std::string repo = t.path();
    ASSERT_EQ(git(home, repo, {"-c", "init.defaultBranch=main", "init", "-q"}).status, 0);
    std::vector<std::string> dirs;
    std::string log;
    std::vector<std::string> files = make_tree(rng, t, "", 0, &dirs, &log);
    if (rng() % 2) {
      const std::string rules = random_rules(rng);
      t.write(".git/info/exclude", rules);
      log += "== .git/info/exclude\n" + rules;
    }
    const std::set<std::string> all(files.begin(), files.end());
    std::string list;
    for (const std::string &f : all) list += f + "\n";
    for (const std::string &d : dirs) list += d + "\n";
    const qg_test::run_result check =
        git(home, repo, {"check-ignore", "--no-index", "--stdin"}, list);
    ASSERT_LE(check.status, 1) << check.err;
    std::set<std::string> ignored;
    std::istringstream lines(check.out);
    for (std::string line; std::getline(lines, line);) ignored.insert(line);
    std::set<std::string> kept;
    for (const std::string &f : all) {
      if (ignored.count(f) == 0) kept.insert(f);
    }
    if (kept.size() < all.size()) ++ignored_somewhere;
    ASSERT_EQ(searched(repo, repo), kept) << "tree:\n" << list << log;

    // From a folder inside that git keeps: the rules of the folders above it
    // still count. (A folder that is ignored is searched when asked for.)
    std::vector<std::string> open_dirs;
    for (const std::string &d : dirs) {
      bool open = true;
      for (size_t cut = d.size(); cut != std::string::npos && open; cut = d.rfind('/', cut - 1)) {
        open = ignored.count(d.substr(0, cut)) == 0;
        if (cut == 0) break;
      }
      // A folder that holds no file was never made.
      if (open && std::filesystem::is_directory(t.at(d))) open_dirs.push_back(d);
    }
    if (open_dirs.empty()) continue;
    const std::string sub = open_dirs[rng() % open_dirs.size()];
    std::set<std::string> below;
    for (const std::string &f : kept) {
      if (f.compare(0, sub.size() + 1, sub + "/") == 0) below.insert(f);
    }
    EXPECT_EQ(searched(repo, t.at(sub)), below) << "from " << sub << ", tree and rules:\n" << list;
  }
  EXPECT_GT(ignored_somewhere, 50);  // many rounds ignore something
}

}  // namespace
