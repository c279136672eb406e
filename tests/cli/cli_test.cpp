// The command-line tool, run as a separate process: exit statuses, the output
// forms, standard input for replace and batch, and the mapping of flags onto
// the options document.
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using qg_test::run_result;

std::string cli_path() {
  const char *dir = std::getenv("QG_TEST_BIN_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/tools/cli/quenmar-grep";
}

// Runs the tool with `args`, feeding `input` on standard input.
run_result run_cli(const std::vector<std::string> &args, const std::string &input = "",
                   const std::vector<std::string> &extra_env = {}) {
  std::vector<std::string> argv = {cli_path()};
  argv.insert(argv.end(), args.begin(), args.end());
  run_result result = qg_test::run_process(argv, input, extra_env);
  if (result.status < 0) ADD_FAILURE() << "cannot run " << argv[0] << " (is QG_TEST_BIN_DIR set?)";
  return result;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> sorted_lines(const std::string &text) {
  std::vector<std::string> lines = lines_of(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

struct json_doc {
  yyjson_doc *doc = nullptr;
  explicit json_doc(const std::string &text) : doc(yyjson_read(text.data(), text.size(), 0)) {}
  ~json_doc() { yyjson_doc_free(doc); }
  json_doc(const json_doc &) = delete;
  json_doc &operator=(const json_doc &) = delete;
  yyjson_val *root() const { return yyjson_doc_get_root(doc); }
  yyjson_val *get(const char *key) const { return yyjson_obj_get(root(), key); }
};

// ---- Arguments and usage ----

TEST(CliUsage, VersionPrintsTheLibraryVersion) {
  run_result r = run_cli({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1.0.0\n");
}

TEST(CliUsage, EverySubcommandHasHelp) {
  for (const char *sub : {"search", "read", "replace", "batch", "sub"}) {
    run_result r = run_cli({sub, "--help"});
    EXPECT_EQ(r.status, 0) << sub;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << sub;
    EXPECT_NE(r.out.find(sub), std::string::npos) << sub;
  }
}

TEST(CliUsage, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"read"},
      {"read", "f", "one"},
      {"search"},
      {"search", "x", ".", "--json", "--stream"},
      {"search", "x", ".", "--json", "--document"},
      {"search", "x", ".", "-l", "-c"},
      {"search", "x", ".", "--options", "{}", "-i"},
      {"search", "x", ".", "--color=sometimes"},
      {"search", "x", ".", "-m", "lots"},
      {"search", "x", ".", "-m", "0"},
      {"search", "x", ".", "-A", "-1"},
      {"search", "x", ".", "-F", "-E"},
      {"replace", "f", "1", "1"},
      {"batch"},
      {"sub", "x"},
      {"sub", "x", "y", ".", "--json"},
      {"sub", "x", "y", ".", "-C", "1"},
      {"sub", "x", "y", "-"},
      {"sub", "-E", "(x)", "$2", "."},
  };
  for (const std::vector<std::string> &args : cases) {
    run_result r = run_cli(args);
    std::string shown;
    for (const std::string &a : args) shown += a + " ";
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_FALSE(r.err.empty()) << shown;
  }
}

// ---- Options document mapping ----

// The members the tool sends for its walk unless a flag says otherwise:
// links left alone, no skipped folder names, .ignore files outside a git
// work tree, a thread for each processor.
std::string default_walk_members() {
  const unsigned processors = std::min(std::thread::hardware_concurrency(), 64u);
  std::string members = R"(,"skip_dirs":false,"follow_links":false,"dot_ignore":true)";
  if (processors > 1) members += ",\"threads\":" + std::to_string(processors);
  return members;
}

// `doc` without the default walk's members and the default "unicode",
// wherever they stand.
std::string without_default_walk(std::string doc) {
  for (std::string member :
       {std::string(R"(,"skip_dirs":false)"), std::string(R"(,"follow_links":false)"),
        std::string(R"(,"dot_ignore":true)"), std::string(R"(,"unicode":true)")}) {
    const size_t at = doc.find(member);
    if (at != std::string::npos) doc.erase(at, member.size());
  }
  const unsigned processors = std::min(std::thread::hardware_concurrency(), 64u);
  const std::string threads = ",\"threads\":" + std::to_string(processors);
  const size_t at = doc.find(threads);
  if (processors > 1 && at != std::string::npos && !std::isdigit(doc[at + threads.size()])) {
    doc.erase(at, threads.size());
  }
  return doc;
}

TEST(CliOptions, FlagsMapOneToOneOntoTheDocument) {
  qg_test::TempDir outside_git;  // where ignore files are not read by default
  struct row {
    std::vector<std::string> flags;
    std::string document;
  };
  const std::vector<row> rows = {
      {{}, R"({"strict":true})"},
      {{"-E"}, R"({"strict":true,"syntax":"standard"})"},
      {{"--dialect"}, R"({"strict":true,"regex":true})"},
      {{"-E", "--dialect"}, R"({"strict":true,"regex":true})"},
      {{"-F"}, R"({"strict":true})"},
      {{"--regex", "--ignore-case", "--word-regexp"},
       R"({"strict":true,"syntax":"standard","ignore_case":true,"whole_word":true})"},
      {{"-i", "-w"}, R"({"strict":true,"ignore_case":true,"whole_word":true})"},
      {{"-m", "5", "-C", "2"}, R"({"strict":true,"max_per_file":5,"context_lines":2})"},
      {{"--max-total", "7", "--context", "0"}, R"({"strict":true,"max_results":7})"},
      {{"-A", "1", "-B", "3"}, R"({"strict":true,"before_context":3,"after_context":1})"},
      {{"-C", "2", "-A", "0"}, R"({"strict":true,"context_lines":2,"after_context":0})"},
      {{"-l", "-C", "2"}, R"({"strict":true,"print":"files"})"},
      {{"-c", "-m", "2", "-A", "1"}, R"({"strict":true,"max_per_file":2,"print":"count"})"},
      {{"--hidden", "--no-skip-dirs", "--no-follow", "--gitignore"},
       R"({"strict":true,"hidden":true,"gitignore":true})"},
      {{"--skip-dirs", "-L", "--no-ignore"}, R"({"strict":true})"},
      {{"--color=always", "-j", "65"}, R"({"strict":true,"threads":65,"color":true})"},
      {{"-v", "-x", "-d", "3", "--sortr", "modified"},
       R"({"strict":true,"invert_match":true,"whole_line":true,"sort_reverse":true,"max_depth":3,)"
       R"("sort":"modified"})"},
      {{"--sort", "path", "-0", "-I"},
       R"({"strict":true,"sort":"path","null_after_path":true,"with_filename":false})"},
      {{"--vimgrep"}, R"({"strict":true,"print":"vimgrep"})"},
      {{"-o"}, R"({"strict":true,"print":"matches"})"},
      {{"--stream", "-C", "1"}, R"({"strict":true,"context_lines":1,"print":"json"})"},
      {{"--document", "--color=always"}, R"({"strict":true})"},
      {{"--json", "--color=always"}, R"({"strict":true,"submatches":true})"},
      {{"--include", "*.c", "--include", "*.h"},
       R"({"strict":true,"include_globs":["*.c","*.h"]})"},
      {{"--include=*.c", "--exclude", "*.min.js", "--exclude-dir", "build", "--exclude-dir", "out"},
       R"({"strict":true,"include_globs":["*.c"],"exclude_globs":["*.min.js"],)"
       R"("exclude_dirs":["build","out"]})"},
      // A glob is one element whatever it holds: no splitting at commas or
      // spaces, and quotation marks and reverse solidi are escaped.
      {{"--include", "a,b c;d"}, R"({"strict":true,"include_globs":["a,b c;d"]})"},
      {{"--exclude", "q\"uo\\te"}, R"({"strict":true,"exclude_globs":["q\"uo\\te"]})"},
      // A document passed as it is keeps its text, gaining only what the
      // output flags ask the printer for.
      {{"--options", R"({"regex":tru)"}, R"({"regex":tru)"},
      {{"--options", R"( {"include_globs":"*.c;*.h"} )"}, R"( {"include_globs":"*.c;*.h"} )"},
      {{"--options", R"({"print":"json","x":1})", "-c"}, R"({"x":1,"print":"count"})"},
  };
  for (const row &r : rows) {
    std::vector<std::string> args = {"search", "--show-options", "pattern", outside_git.path()};
    args.insert(args.end(), r.flags.begin(), r.flags.end());
    run_result result = run_cli(args);
    EXPECT_EQ(result.status, 0) << r.document << "\n" << result.err;
    EXPECT_EQ(without_default_walk(result.out), r.document + "\n");
  }
  const run_result plain = run_cli({"search", "--show-options", "pattern", outside_git.path()});
  EXPECT_EQ(plain.out, R"({"strict":true,"unicode":true)" + default_walk_members() + "}\n");
  const run_result ascii =
      run_cli({"search", "--show-options", "--no-unicode", "pattern", outside_git.path()});
  EXPECT_EQ(ascii.out, R"({"strict":true)" + default_walk_members() + "}\n");
}

TEST(CliOptions, GlobFlagsDoNotSwallowThePositionals) {
  qg_test::TempDir outside_git;
  run_result r = run_cli(
      {"search", "--show-options", "--include", "*.c", "--", "-x", outside_git.at("ROOT")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(without_default_walk(r.out), "{\"strict\":true,\"include_globs\":[\"*.c\"]}\n");
}

// A search stopped by --timeout prints what it found, says why on standard
// error and exits with 2, whatever form its output takes.
TEST(CliSearchTimeout, StopsWithAnError) {
  qg_test::TempDir dir;
  dir.write("long.txt", std::string(40000, 'a') + "b\n");
  const std::string pattern = std::string(20000, 'a') + "b";
  for (const char *form : {"--json", "--document", "--stream", "--color=never"}) {
    run_result r = run_cli({"search", pattern, dir.path(), "--dialect", "--timeout", "30", form});
    EXPECT_EQ(r.status, 2) << form;
    EXPECT_EQ(r.err, "quenmar-grep: Search stopped at the time limit of 30 ms (GREP_TIMED_OUT)\n")
        << form;
  }
}

// Of two PATHs, only the one that hit the limit says so; the other's matches
// are printed whole.
TEST(CliSearchTimeout, OnlyThePathThatHitTheLimitSaysSo) {
  qg_test::TempDir dir;
  const std::string slow = dir.write("slow/long.txt", std::string(40000, 'a') + "b\n");
  const std::string fast = dir.write("fast/short.txt", "ab\n");
  const std::string pattern = std::string(20000, 'a') + "b|ab";
  for (const auto &paths : {std::vector<std::string>{slow, fast}, {fast, slow}}) {
    // The slow file would take many seconds; the fast one takes milliseconds
    // even on a loaded machine.
    run_result r =
        run_cli({"search", "--dialect", "--timeout", "1000", pattern, paths[0], paths[1]});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "quenmar-grep: Search stopped at the time limit of 1000 ms (GREP_TIMED_OUT)\n");
    EXPECT_NE(r.out.find(fast + ":1:1:ab\n"), std::string::npos) << r.out;
  }
}

// A PATH the library refuses is an error with its message, not "no match".
TEST(CliSearchPaths, RefusedPathsExitWithTwoAndTheirMessage) {
  qg_test::TempDir dir;
  const std::string missing = dir.at("missing");
  const std::string pipe = dir.at("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  struct row {
    std::string path, message;
  };
  for (const row &r :
       {row{missing,
            "Cannot open file '" + missing + "': No such file or directory (GREP_E_NOT_FOUND)"},
        row{pipe, "Cannot open file '" + pipe + "': Not a regular file (GREP_E_IO)"}}) {
    for (const char *form : {"--json", "--document", "-l", "--color=never"}) {
      run_result result = run_cli({"search", "x", r.path, form});
      EXPECT_EQ(result.status, 2) << r.path << " " << form;
      EXPECT_EQ(result.err, "quenmar-grep: " + r.message + "\n") << form;
    }
  }
}

// Standard input is searched when it is a pipe or a file and no PATH is
// given, and wherever "-" stands among the PATHs.
TEST(CliSearchPaths, StandardInputIsSearchedAsOneFile) {
  qg_test::TempDir dir;
  const std::string file = dir.write("f.txt", "needle\n");
  const std::string input = "hay\na needle\r\nneedle";
  // Searched alone, as ripgrep prints it: without its name.
  EXPECT_EQ(run_cli({"search", "needle"}, input).out, "2:3:a needle\n3:1:needle\n");
  EXPECT_EQ(run_cli({"search", "-H", "needle"}, input).out,
            "<stdin>:2:3:a needle\n<stdin>:3:1:needle\n");
  EXPECT_EQ(run_cli({"search", "needle", file, "-", "-c"}, input).out, file + ":1\n<stdin>:2\n");
  run_result json =
      run_cli({"search", "--document", "needle", "-"}, std::string("\xFF\xFEn\0e\0e\0d\0l\0e\0", 14));
  EXPECT_NE(json.out.find(R"({"file":"<stdin>","line":1,"col":1,"text":"needle")"),
            std::string::npos)
      << json.out;  // UTF-16 recognised by its mark, as in a file
  EXPECT_EQ(run_cli({"search", "zz", "-"}, input).status, 1);
}

TEST(CliAgainstRipgrep, OnlyMatchingPrintsEachMatch) {
  if (!qg_test::program_exists("rg")) GTEST_SKIP() << "ripgrep is not installed";
  std::mt19937 rng(11);
  static const char *const words[] = {"ab", "aba", "b", " ", "AB", "x", "abab"};
  for (int round = 0; round < 40; ++round) {
    qg_test::TempDir t;
    std::string text;
    for (int line = 0; line < 8; ++line) {
      for (int w = static_cast<int>(rng() % 6); w > 0; --w) text += words[rng() % 7];
      text += "\n";
    }
    const std::string file = t.write("f.txt", text);
    for (const std::vector<std::string> &flags : {std::vector<std::string>{}, {"-i"}, {"-w"}}) {
      std::vector<std::string> ours = {"search", "-o", "-H", "ab", file};
      ours.insert(ours.end(), flags.begin(), flags.end());
      std::vector<std::string> theirs = {"rg", "-o",           "-F", "--column", "-n",
                                         "-H", "--no-heading", "ab", file};
      theirs.insert(theirs.end(), flags.begin(), flags.end());
      EXPECT_EQ(run_cli(ours).out, qg_test::run_process(theirs).out) << text;
    }
  }
}

// A --json output with its time values left out (each "elapsed" and
// "elapsed_total" member), which no two runs share.
std::string without_times(std::string text) {
  for (size_t at; (at = text.find("\"elapsed")) != std::string::npos;) {
    const size_t close = text.find("},", at);
    if (close == std::string::npos) break;
    text.erase(at, close + 2 - at);
  }
  return text;
}

// Standard input, which the generated trees of the differential test do not
// give, prints ripgrep's messages byte for byte, times aside: line endings
// kept, escapes in lower-case hex, bytes that are not UTF-8 in base64, a last
// line without an ending, context, and a summary alone when nothing matched.
TEST(CliAgainstRipgrep, JsonLinesOfStandardInput) {
  if (!qg_test::program_exists("rg")) GTEST_SKIP() << "ripgrep is not installed";
  struct row {
    std::string input;
    std::vector<std::string> flags;
  };
  for (const row &r : {
           row{"hay\na needle\r\nneedle", {"needle"}},
           row{"tab\there \"q\" \\ needle\x1f\x7f\n", {"needle"}},
           row{"caf\xE9 needle needle\nneedle\n", {"needle"}},
           row{"one\nneedle\ntwo\nthree\nfour\nneedle\n", {"-C", "1", "needle"}},
           row{"Needle NEEDLE\n", {"-i", "needle"}},
           row{"no match here\n", {"needle"}},
       }) {
    std::vector<std::string> ours = {"search", "--json"}, theirs = {"rg", "--json"};
    for (auto *args : {&ours, &theirs}) {
      args->insert(args->end(), r.flags.begin(), r.flags.end());
      args->emplace_back("-");
    }
    const run_result mine = run_cli(ours, r.input);
    const run_result rg = qg_test::run_process(theirs, r.input);
    EXPECT_EQ(mine.status, rg.status) << r.input;
    EXPECT_NE(mine.out.find("\"type\":\"summary\""), std::string::npos) << r.input;
    EXPECT_EQ(without_times(mine.out), without_times(rg.out)) << r.input;
  }
}

// Matched and context lines of several files, each line once and "--"
// between groups that do not touch, within a file and between files, are
// ripgrep's lines for -C and for every mix of -A and -B, with and without
// -w.
TEST(CliAgainstRipgrep, ContextLinesAgree) {
  if (!qg_test::program_exists("rg")) GTEST_SKIP() << "ripgrep is not installed";
  std::mt19937 rng(23);
  static const char *const lines[] = {"x", "hay", "x x", "", "ax", "y", "b x"};
  for (int round = 0; round < 60; ++round) {
    qg_test::TempDir t;
    std::vector<std::string> files;
    for (int f = static_cast<int>(1 + rng() % 3); f > 0; --f) {
      std::string text;
      for (int n = static_cast<int>(rng() % 16); n > 0; --n) {
        text += std::string(lines[rng() % 7]) + "\n";
      }
      files.push_back(t.write("f" + std::to_string(f) + ".txt", text));
    }
    std::vector<std::string> flags;
    // -C alone, or -A and -B: ripgrep lets a later one of them undo an earlier -C.
    if (rng() % 3 == 0) {
      flags.insert(flags.end(), {"-C", std::to_string(rng() % 4)});
    } else {
      for (const char *flag : {"-A", "-B"}) {
        if (rng() % 2 == 0) flags.insert(flags.end(), {flag, std::to_string(rng() % 4)});
      }
    }
    if (rng() % 4 == 0) flags.emplace_back("-w");
    std::vector<std::string> ours = {"search", "x", "-H", "--color=never"};
    std::vector<std::string> theirs = {"rg", "-j1", "-n", "--column", "-H", "--no-heading", "-F"};
    for (auto *args : {&ours, &theirs}) args->insert(args->end(), flags.begin(), flags.end());
    theirs.emplace_back("x");
    for (auto *args : {&ours, &theirs}) args->insert(args->end(), files.begin(), files.end());
    std::string shown;
    for (const std::string &a : flags) shown += a + " ";
    ASSERT_EQ(run_cli(ours).out, qg_test::run_process(theirs).out) << shown << round;
  }
}

// ---- read ----

TEST(CliRead, SelectsLinesLikeTheLibrary) {
  qg_test::TempDir dir;
  std::string file = dir.write("endings.txt", "a\r\nb\n\nc\r\r\nd");
  struct row {
    std::vector<std::string> range;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<row> rows = {
      {{}, 0, "1: a\n2: b\n3: \n4: c\n5: \n6: d\n", ""},
      {{"2"}, 0, "2: b\n3: \n4: c\n5: \n6: d\n", ""},
      {{"2", "3"}, 0, "2: b\n3: \n", ""},
      {{"-1"}, 0, "1: a\n2: b\n3: \n4: c\n5: \n6: d\n", ""},
      {{"3", "-1"}, 0, "3: \n4: c\n5: \n6: d\n", ""},
      {{"6", "9"}, 0, "6: d\n", ""},
      {{"7", "9"},
       2,
       "",
       "quenmar-grep: File has only 6 lines, requested start at line 7 (GREP_E_ARGUMENT)\n"},
      {{"4", "2"}, 2, "", "quenmar-grep: start_line (4) must be <= end_line (2) (GREP_E_ARGUMENT)\n"},
  };
  for (const row &r : rows) {
    std::vector<std::string> args = {"read", file};
    args.insert(args.end(), r.range.begin(), r.range.end());
    run_result result = run_cli(args);
    std::string shown = r.range.empty() ? "(whole)" : r.range[0];
    EXPECT_EQ(result.status, r.status) << shown;
    EXPECT_EQ(result.out, r.out) << shown;
    EXPECT_EQ(result.err, r.err) << shown;
  }
}

TEST(CliRead, EmptyFileIsAnEmptySuccessButHasNoLineOne) {
  qg_test::TempDir dir;
  std::string file = dir.write("empty.txt", "");
  run_result whole = run_cli({"read", file});
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.out, "");
  EXPECT_EQ(whole.err, "");

  run_result first = run_cli({"read", file, "1"});
  EXPECT_EQ(first.status, 2);
  EXPECT_EQ(first.err,
            "quenmar-grep: File has only 0 lines, requested start at line 1 (GREP_E_ARGUMENT)\n");
}

TEST(CliRead, MissingFileReportsTheLibraryMessage) {
  qg_test::TempDir dir;
  std::string missing = dir.at("nope.txt");
  run_result r = run_cli({"read", missing});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("quenmar-grep: Cannot open file '" + missing + "'", 0), 0u) << r.err;
}

// ---- search ----

class CliSearch : public ::testing::Test {
 protected:
  qg_test::TempDir dir;
  std::string tree;
  void SetUp() override {
    tree = dir.mkdir("tree");
    dir.write("tree/a.c", "int alpha;\nint beta;\n");
    dir.write("tree/b.h", "// beta here\n");
    dir.write("tree/c.md", "beta in prose\n");
    dir.write("tree/sub/d.c", "no match\nbeta again\n");
  }
};

TEST_F(CliSearch, HumanFormIsPathLineColumnText) {
  run_result r = run_cli({"search", "beta", tree});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {
      tree + "/a.c:2:5:int beta;",
      tree + "/b.h:1:4:// beta here",
      tree + "/c.md:1:1:beta in prose",
      tree + "/sub/d.c:2:1:beta again",
  };
  EXPECT_EQ(sorted_lines(r.out), expected);
}

TEST_F(CliSearch, NothingMatchedExitsWithOne) {
  run_result r = run_cli({"search", "gamma", tree});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(CliSearch, MissingRootIsAnError) {
  run_result r = run_cli({"search", "beta", dir.at("absent")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(CliSearch, InvalidOptionsDocumentIsAnErrorInEveryForm) {
  for (const char *form : {"--json", "--document", "--stream", "--color=never"}) {
    run_result r = run_cli({"search", "beta", tree, form, "--options", R"({"regex":tru)"});
    EXPECT_EQ(r.status, 2) << form;
    EXPECT_EQ(r.err, "quenmar-grep: Invalid JSON in options: {\"regex\":tru (GREP_E_ARGUMENT)\n")
        << form;
  }
}

TEST_F(CliSearch, IncludeGivenTwiceKeepsBothGlobs) {
  run_result r = run_cli({"search", "beta", tree, "--include", "*.c", "--include", "*.h"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {
      tree + "/a.c:2:5:int beta;",
      tree + "/b.h:1:4:// beta here",
      tree + "/sub/d.c:2:1:beta again",
  };
  EXPECT_EQ(sorted_lines(r.out), expected);

  run_result dirs = run_cli({"search", "beta", tree, "--exclude-dir", "sub", "--exclude", "*.md"});
  EXPECT_EQ(sorted_lines(dirs.out), (std::vector<std::string>{tree + "/a.c:2:5:int beta;",
                                                              tree + "/b.h:1:4:// beta here"}));
}

TEST_F(CliSearch, DocumentPrintsTheSearchDocument) {
  run_result r = run_cli({"search", "beta", tree, "--document"});
  EXPECT_EQ(r.status, 0) << r.err;
  json_doc doc(r.out);
  ASSERT_NE(doc.doc, nullptr) << r.out;
  EXPECT_EQ(yyjson_get_sint(doc.get("total_matches")), 4);
  EXPECT_EQ(yyjson_get_sint(doc.get("files_searched")), 4);
  EXPECT_EQ(yyjson_arr_size(doc.get("matches")), 4u);
  EXPECT_TRUE(yyjson_is_int(doc.get("duration_ms")));

  run_result none = run_cli({"search", "gamma", tree, "--document"});
  EXPECT_EQ(none.status, 1);
  json_doc empty(none.out);
  EXPECT_EQ(yyjson_get_sint(empty.get("total_matches")), 0);
}

TEST_F(CliSearch, StreamPrintsOneMatchObjectPerLine) {
  run_result r = run_cli({"search", "beta", tree, "--stream", "--max-total", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string &line : lines) {
    json_doc doc(line);
    ASSERT_NE(doc.doc, nullptr) << line;
    EXPECT_NE(std::string(yyjson_get_str(doc.get("text"))).find("beta"), std::string::npos);
    EXPECT_TRUE(yyjson_is_arr(doc.get("context")));
  }
  EXPECT_EQ(run_cli({"search", "gamma", tree, "--stream"}).status, 1);
}

TEST_F(CliSearch, StreamAndDocumentAgree) {
  run_result stream = run_cli({"search", "beta", tree, "--stream", "-C", "1"});
  run_result json = run_cli({"search", "beta", tree, "--document", "-C", "1"});
  json_doc doc(json.out);
  std::vector<std::string> from_document;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(doc.get("matches"), idx, max, item) {
    char *text = yyjson_val_write(item, 0, nullptr);
    from_document.emplace_back(text);
    std::free(text);
  }
  EXPECT_EQ(lines_of(stream.out), from_document);
}

TEST(CliSearchContext, GroupsAreMergedAndSeparated) {
  qg_test::TempDir dir;
  std::string file = dir.write("ten.txt", "1\nhit 2\n3\nhit 4\n5\n6\n7\n8\nhit 9\n10\n");
  run_result r = run_cli({"search", "-H", "hit", file, "-C", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected = file + "-1-1\n" +        //
                         file + ":2:1:hit 2\n" +  //
                         file + "-3-3\n" +        //
                         file + ":4:1:hit 4\n" +  //
                         file + "-5-5\n" +        //
                         "--\n" +                 //
                         file + "-8-8\n" +        //
                         file + ":9:1:hit 9\n" +  //
                         file + "-10-10\n";
  EXPECT_EQ(r.out, expected);
}

TEST(CliSearchContext, LineSeenAsContextThenMatchedIsPrintedOnceAsAMatch) {
  qg_test::TempDir dir;
  std::string file = dir.write("two.txt", "x\nhit a\nhit b\ny\n");
  run_result r = run_cli({"search", "-H", "hit", file, "-C", "2"});
  std::string expected =
      file + "-1-x\n" + file + ":2:1:hit a\n" + file + ":3:1:hit b\n" + file + "-4-y\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(CliSearch, PatternFirstThenPathsInOrder) {
  const std::string a = dir.write("one/a.txt", "beta\n");
  const std::string b = dir.write("two/b.txt", "x\nbeta\n");
  run_result r = run_cli({"search", "beta", dir.at("two"), dir.at("one"), "--color=never"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, b + ":2:1:beta\n" + a + ":1:1:beta\n");

  run_result dashed = run_cli({"search", "-e", "-1", dir.at("one")});
  EXPECT_EQ(dashed.status, 1) << dashed.err;
  run_result missing = run_cli({"search", "beta", dir.at("absent"), dir.at("one")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, a + ":1:1:beta\n");
}

TEST_F(CliSearch, FilesWithMatchesAndCountsPerFile) {
  dir.write("tree/sub/d.c", "beta\nbeta beta\nbeta\n");
  run_result list = run_cli({"search", "-l", "beta", tree});
  EXPECT_EQ(sorted_lines(list.out), (std::vector<std::string>{tree + "/a.c", tree + "/b.h",
                                                              tree + "/c.md", tree + "/sub/d.c"}));
  run_result counts = run_cli({"search", "-c", "beta", tree, "--include", "*.c"});
  EXPECT_EQ(sorted_lines(counts.out),
            (std::vector<std::string>{tree + "/a.c:1", tree + "/sub/d.c:3"}));
  run_result capped = run_cli({"search", "-H", "-c", "-m", "2", "beta", tree + "/sub/d.c"});
  EXPECT_EQ(capped.out, tree + "/sub/d.c:2\n");
  EXPECT_EQ(run_cli({"search", "-l", "gamma", tree}).status, 1);
}

TEST(CliSearchContext, AfterAndBeforeShowEachSide) {
  qg_test::TempDir dir;
  std::string f = dir.write("f.txt", "1\n2\nhit 3\n4\n5\n6\n7\nhit 8\n9\n");
  EXPECT_EQ(run_cli({"search", "-H", "hit", f, "-A", "1"}).out,
            f + ":3:1:hit 3\n" + f + "-4-4\n--\n" + f + ":8:1:hit 8\n" + f + "-9-9\n");
  EXPECT_EQ(run_cli({"search", "-H", "hit", f, "-B", "2", "-C", "0"}).out,
            f + "-1-1\n" + f + "-2-2\n" + f + ":3:1:hit 3\n--\n" + f + "-6-6\n" + f + "-7-7\n" + f +
                ":8:1:hit 8\n");
}

// With --dialect, syntax of another dialect is searched as the library's
// dialect reads it, with a hint on standard error that does not change the
// exit status; -E reads it as other tools do.
TEST(CliSearchHints, OtherDialectsSyntaxIsNamed) {
  qg_test::TempDir dir;
  std::string f = dir.write("f.txt", "mutex_lock 2024\n");
  struct row {
    const char *pattern;
    const char *hint;
  };
  const row rows[] = {{"mutex_(un)?lock", "'(' and ')'"},
                      {"[0-9]{2,3}", "'{n,m}'"},
                      {"\\bmutex", "'\\b'"},
                      {"[[:digit:]]", "'[[:name:]]'"}};
  for (const row &r : rows) {
    run_result result = run_cli({"search", "--dialect", r.pattern, f});
    EXPECT_EQ(result.status, 1) << r.pattern;
    EXPECT_NE(result.err.find(std::string("hint: ") + r.hint), std::string::npos) << result.err;
    // In the standard syntax they mean what other tools make of them.
    run_result standard = run_cli({"search", "-E", r.pattern, f});
    EXPECT_EQ(standard.status, 0) << r.pattern;
    EXPECT_EQ(standard.err, "") << r.pattern;
  }
  run_result plain = run_cli({"search", "-E", "mutex_(un)?lock", f, "-F"});
  EXPECT_EQ(plain.status, 2);  // -E and -F together are a usage error
  run_result literal = run_cli({"search", "(un)", f});
  EXPECT_EQ(literal.err, "");  // a literal search means what it says
  EXPECT_EQ(run_cli({"search", "--dialect", "mutex_\\w+", f}).err, "");
}

// A standard pattern that is not valid is an error, with where it goes wrong.
TEST(CliSearchHints, InvalidStandardPatternIsAnError) {
  qg_test::TempDir dir;
  std::string f = dir.write("f.txt", "a[b\n");
  run_result r = run_cli({"search", "-E", "a[b", f});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "quenmar-grep: Invalid pattern: unterminated character set at byte 1 (GREP_E_ARGUMENT)\n");
  EXPECT_EQ(run_cli({"search", "-H", "-e", "a\\[b", f}).out, f + ":1:1:a[b\n");
  EXPECT_EQ(run_cli({"search", "-H", "-F", "-e", "a[b", f}).out, f + ":1:1:a[b\n");
}

// Ignore files count by default inside a git work tree only, as they do for
// ripgrep; --gitignore and --no-gitignore decide it anywhere.
TEST(CliSearchIgnore, DefaultFollowsTheWorkTree) {
  qg_test::TempDir dir;
  dir.write(".gitignore", "*.log\n");
  dir.write("a.log", "beta\n");
  const std::string kept = dir.write("a.txt", "beta\n");
  const std::vector<std::string> both = {dir.at("a.log"), kept};
  EXPECT_EQ(sorted_lines(run_cli({"search", "-l", "beta", dir.path()}).out), both);
  EXPECT_EQ(run_cli({"search", "-l", "beta", dir.path(), "--gitignore"}).out, kept + "\n");
  dir.mkdir(".git");
  EXPECT_EQ(run_cli({"search", "-l", "beta", dir.path()}).out, kept + "\n");
  EXPECT_EQ(sorted_lines(run_cli({"search", "-l", "beta", dir.path(), "--no-gitignore"}).out),
            both);
}

// On generated trees, -l and -c give the file sets and counts of the
// equivalent ripgrep command: plain, with dot entries and the fixed folder
// names opened, and with ignore files in a git work tree.
TEST(CliAgainstRipgrep, FileSetsAndCountsAgree) {
  if (!qg_test::program_exists("rg")) GTEST_SKIP() << "ripgrep is not installed";
  qg_test::TempDir home;  // no global ignore file or configuration for either tool
  const std::vector<std::string> env = {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path(),
                                        "RIPGREP_CONFIG_PATH=", "GIT_CONFIG_NOSYSTEM=1"};
  static const char *const dirs[] = {"src", "build", ".hid", "node_modules", "sub", "x y"};
  static const char *const files[] = {"a.c", "b.log", "keep.log", ".dot", "c.txt", "top.txt"};
  static const char *const rules[] = {"*.log", "build/", "!keep.log", "/top.txt", "sub/**/c.txt",
                                      ".hid",  "*.c",    "!src/a.c",  "x y/"};
  std::mt19937 rng(5);
  int rounds_with_ignored_files = 0;
  for (int round = 0; round < 25; ++round) {
    qg_test::TempDir t;
    for (int f = 0; f < 30; ++f) {
      std::string path;
      for (int depth = static_cast<int>(rng() % 3); depth > 0; --depth)
        path += std::string(dirs[rng() % 6]) + "/";
      std::string text;
      for (int line = static_cast<int>(rng() % 6); line > 0; --line)
        text += rng() % 2 ? "a needle here\n" : "hay\n";
      t.write(path + files[rng() % 6], text);
    }
    for (int g = 0; g < 3; ++g) {
      std::string where = g == 0 ? "" : std::string(dirs[rng() % 6]) + "/";
      std::string text;
      for (int r = static_cast<int>(1 + rng() % 3); r > 0; --r)
        text += std::string(rules[rng() % 9]) + "\n";
      t.write(where + ".gitignore", text);
    }
    const std::string root = t.path();
    auto ours = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"search", "needle", root});
      return sorted_lines(run_cli(args, "", env).out);
    };
    auto theirs = [&](std::vector<std::string> args) {
      args.insert(args.begin(), "rg");
      args.insert(args.end(), {"needle", root});
      return sorted_lines(qg_test::run_process(args, "", env).out);
    };
    const std::string fixed_names = "!{node_modules,bin,obj,target,dist,build,__pycache__}/";
    ASSERT_EQ(ours({"-l", "--skip-dirs"}), theirs({"-l", "--no-ignore", "-g", fixed_names}))
        << round;
    const std::vector<std::string> unignored = ours({"-c", "--no-skip-dirs"});
    ASSERT_EQ(unignored, theirs({"-c", "--no-ignore"})) << round;
    ASSERT_EQ(ours({"-l", "--hidden", "--no-skip-dirs"}), theirs({"-l", "--no-ignore", "--hidden"}))
        << round;
    t.mkdir(".git");  // a work tree: both tools now read the ignore files
    const std::vector<std::string> ignored = ours({"-c", "--no-skip-dirs"});
    ASSERT_EQ(ignored, theirs({"-c"})) << round;
    rounds_with_ignored_files += ignored.size() < unignored.size();
    ASSERT_EQ(ours({"-l", "--gitignore", "--hidden", "--no-skip-dirs"}),
              theirs({"-l", "--hidden", "-g", "!.git/"}))
        << round;
  }
  EXPECT_GT(rounds_with_ignored_files, 10);
}

// On generated trees without ignore files, dot entries or skipped folder
// names, the flags ripgrep also has give ripgrep's file sets, counts and exit
// statuses: --files, -g (git's glob syntax with braces and '!'), -t and -T,
// several -e, -q.
TEST(CliAgainstRipgrep, PathGlobsTypesPatternsAndListsAgree) {
  if (!qg_test::program_exists("rg")) GTEST_SKIP() << "ripgrep is not installed";
  qg_test::TempDir home;
  const std::vector<std::string> env = {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path(),
                                        "RIPGREP_CONFIG_PATH="};
  static const char *const dirs[] = {"src", "linux", "sub", "x y", "lib"};
  static const char *const files[] = {"a.c", "b.h", "c.py", "d.txt", "e.rs", "f.md", "g"};
  static const char *const globs[] = {"*.c",      "**/linux/*.h", "*.{c,h}", "!sub/**", "src/*",
                                      "!*.txt",   "lib/",         "!b.h",    "**/x y/**",
                                      "{src,lib}/**/*.{py,rs}"};
  static const char *const types[] = {"c", "py", "rust", "txt", "md"};
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    qg_test::TempDir t;
    for (int f = 0; f < 30; ++f) {
      std::string path;
      for (int depth = static_cast<int>(rng() % 4); depth > 0; --depth)
        path += std::string(dirs[rng() % 5]) + "/";
      std::string text;
      for (int line = static_cast<int>(rng() % 5); line > 0; --line)
        text += rng() % 2 ? "a needle here\n" : "hay\n";
      t.write(path + files[rng() % 7], text);
    }
    // Both run in the root and search ".": ripgrep reads its globs relative
    // to the folder it runs in.
    auto in_root = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"sh", "-c", "cd \"$0\" && exec \"$@\"", t.path()});
      args.emplace_back(".");
      return qg_test::run_process(args, "", env);
    };
    auto ours = [&](std::vector<std::string> args, bool pattern = true) {
      if (pattern) args.insert(args.begin(), "needle");
      args.insert(args.begin(), cli_path());
      return in_root(args);
    };
    auto theirs = [&](std::vector<std::string> args, bool pattern = true) {
      args.insert(args.begin(), {"rg", "--no-ignore"});
      if (pattern) args.emplace_back("needle");
      return in_root(args);
    };
    ASSERT_EQ(sorted_lines(ours({"--files"}, false).out),
              sorted_lines(theirs({"--files"}, false).out))
        << round;
    std::vector<std::string> with_globs;
    for (int g = static_cast<int>(1 + rng() % 3); g > 0; --g) {
      with_globs.insert(with_globs.end(), {"-g", globs[rng() % 10]});
    }
    std::string shown;
    for (const std::string &a : with_globs) shown += a + " ";
    std::vector<std::string> listed = with_globs;
    listed.insert(listed.begin(), "--files");
    ASSERT_EQ(sorted_lines(ours(listed, false).out), sorted_lines(theirs(listed, false).out))
        << round << ": " << shown;
    with_globs.insert(with_globs.begin(), "-c");
    ASSERT_EQ(sorted_lines(ours(with_globs).out), sorted_lines(theirs(with_globs).out))
        << round << ": " << shown;
    const std::vector<std::string> typed = {"-l", "-t", types[rng() % 5], "-t", types[rng() % 5],
                                            "-T", types[rng() % 5]};
    ASSERT_EQ(sorted_lines(ours(typed).out), sorted_lines(theirs(typed).out)) << round;
    const std::vector<std::string> patterns = {"-c", "-e", "needle", "-e", "hay", "-e", "a n"};
    ASSERT_EQ(sorted_lines(ours(patterns, false).out), sorted_lines(theirs(patterns, false).out))
        << round;
    const std::vector<std::string> fixed = {"-c", "-F", "-e", "e.e", "-e", "h(y", "-e", "y"};
    ASSERT_EQ(sorted_lines(ours(fixed, false).out), sorted_lines(theirs(fixed, false).out))
        << round;
    for (const char *word : {"needle", "absent"}) {
      const run_result q = ours({"-q", "-e", word}, false);
      EXPECT_EQ(q.status, theirs({"-q", "-e", word}, false).status) << round << word;
      EXPECT_EQ(q.out, "");
    }
  }
}

TEST(CliUsage, SearchWithoutTheCommandWordAndFlagsAcceptedAsGrepHasThem) {
  qg_test::TempDir t;
  t.write("a.txt", "one\ntwo\n");
  const std::string file = t.path() + "/a.txt";
  const std::string expected = file + ":2:1:two\n";
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"-H", "two", file},
                                             {"-n", "-H", "two", file},
                                             {"-H", "-n", "-e", "two", file},
                                             {"search", "-nH", "two", file}}) {
    const run_result r = run_cli(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out, expected) << args[0];
  }
}

TEST(CliUsage, UnknownFlagsNameTheNearestAndHelpListsEachFlagOnce) {
  for (const auto &[args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"search", "x", "--max-cont", "3"},
            "unknown flag '--max-cont'; did you mean '--max-count'?"},
           {{"x", "--ignore-cse"}, "unknown flag '--ignore-cse'; did you mean '--ignore-case'?"},
           {{"x", "--frobnicate-everything"}, "unknown flag '--frobnicate-everything' (see"},
           {{"read", "f", "--strat"}, "unknown flag '--strat' (see quenmar-grep read --help)"},
           {{"x", "-t", "nosuch"}, "unknown file type 'nosuch'"},
           {{"--files", "-e", "x"}, "--files takes no pattern"},
           {{"x", "--files", "-l"}, "choose one of"},
       }) {
    const run_result r = run_cli(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  const run_result help = run_cli({"search", "--help"});
  EXPECT_EQ(help.out.find("Excludes"), std::string::npos);
  std::vector<std::string> listed;  // the flag column of every line
  for (const std::string &line : lines_of(help.out)) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos || line[start] != '-') continue;
    std::istringstream names(line.substr(start, line.find(' ', start) - start));
    for (std::string name; std::getline(names, name, ',');) listed.push_back(name);
  }
  for (const char *flag : {"--max-count", "--glob", "--files", "--type-list", "--quiet", "-n"}) {
    EXPECT_EQ(std::count(listed.begin(), listed.end(), flag), 1) << flag;
  }
  const run_result types = run_cli({"--type-list"});
  EXPECT_EQ(types.status, 0);
  EXPECT_NE(types.out.find("\nrust: *.rs\n"), std::string::npos);
}

// ---- colour ----

TEST(CliColour, AlwaysColoursPathNumbersAndTheLiteralMatch) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "say Hello there\n");
  run_result r = run_cli({"search", "-H", "hello", file, "-i", "--color=always"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected = "\033[35m" + file + "\033[m\033[36m:\033[m\033[32m1\033[m\033[36m:\033[m" +
                         "\033[32m5\033[m\033[36m:\033[msay \033[01;31mHello\033[m there\n";
  EXPECT_EQ(r.out, expected);
}

TEST(CliColour, RegexMatchesAreColouredWithTheirLength) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "say Hello there\n");
  run_result r = run_cli({"search", "H[a-z]+", file, "-E", "--color=always"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("say \033[01;31mHello\033[m there\n"), std::string::npos) << r.out;
}

TEST(CliColour, EveryMatchOfALineIsColoured) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "Hello hello, hellO\n");
  run_result r = run_cli({"search", "-H", "hello", file, "-i", "--color=always"});
  EXPECT_NE(r.out.find("\033[01;31mHello\033[m \033[01;31mhello\033[m, \033[01;31mhellO\033[m\n"),
            std::string::npos)
      << r.out;
}

TEST(CliColour, AutoAndNeverAndNoColorGiveThePlainForm) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "hello\n");
  std::string plain = file + ":1:1:hello\n";
  // Standard output is a file here, so auto means no colour.
  EXPECT_EQ(run_cli({"search", "-H", "hello", file}).out, plain);
  EXPECT_EQ(run_cli({"search", "-H", "hello", file, "--color=never"}).out, plain);
  EXPECT_EQ(run_cli({"search", "-H", "hello", file, "--color=auto"}, "", {"NO_COLOR=1"}).out,
            plain);
  // An explicit request wins over the environment.
  EXPECT_NE(run_cli({"search", "-H", "hello", file, "--color=always"}, "", {"NO_COLOR=1"}).out,
            plain);
}

// ---- replace ----

TEST(CliReplace, ReplacesInsertsAndReadsStandardInput) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "a\nb\nc\n");
  run_result r = run_cli({"replace", file, "2", "2", "B"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(qg_test::read_bytes(file), "a\nB\nc\n");

  r = run_cli({"replace", file, "1", "0", "-"}, "top 1\ntop 2\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "top 1\ntop 2\na\nB\nc\n");

  r = run_cli({"replace", file, "3", "5", ""});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "top 1\ntop 2\n");
}

TEST(CliReplace, FailureLeavesTheMessageAndExitsWithTwo) {
  qg_test::TempDir dir;
  std::string missing = dir.at("missing.txt");
  run_result r = run_cli({"replace", missing, "1", "1", "x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("quenmar-grep: ", 0), 0u);
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
}

// Input with a NUL byte is refused, not cut at it, and the file stays.
TEST(CliReplace, InputHoldingNulIsRefused) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "a\nb\n");
  run_result r = run_cli({"replace", file, "1", "1", "-"}, std::string("keep\0lost\n", 10));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quenmar-grep: TEXT holds a NUL byte\n");
  r = run_cli({"batch", "-"}, "[{\"file\":\"" + file + "\"}]" + std::string("\0junk", 5));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quenmar-grep: '-' holds a NUL byte, which no JSON text holds\n");
  EXPECT_EQ(qg_test::read_bytes(file), "a\nb\n");
}

// --expect guards the range; --dry-run prints the diff and writes nothing.
TEST(CliReplace, ExpectAndDryRun) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "a\nb\nc\n");
  run_result r = run_cli({"replace", file, "2", "3", "X", "--expect", "b\nC"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quenmar-grep: Lines 2-3 of '" + file +
                       "' do not hold the expected text (GREP_E_CONFLICT)\n");
  EXPECT_EQ(qg_test::read_bytes(file), "a\nb\nc\n");

  r = run_cli({"replace", file, "2", "3", "X", "--expect", "b\nc", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "--- " + file + "\n+++ " + file + "\n@@ -1,3 +1,2 @@\n a\n-b\n-c\n+X\n");
  EXPECT_EQ(qg_test::read_bytes(file), "a\nb\nc\n");

  r = run_cli({"replace", file, "2", "3", "X", "--expect", "b\nc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(qg_test::read_bytes(file), "a\nX\n");
}

// Every command changes only what it names: the other lines keep their own
// endings and a missing last one; a batch says "exact" unless its document
// does; a dry run prints the file's own bytes, so patch applies them.
TEST(CliReplace, ChangesOnlyWhatItNames) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "a\r\nb\nc\rd");
  run_result r = run_cli({"replace", file, "2", "2", "B"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "a\r\nB\nc\rd");
  r = run_cli({"edit", file, "--old", "c", "--new", "C"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "a\r\nB\nC\rd");
  r = run_cli({"replace", file, "6", "6", "x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "quenmar-grep: File has only 4 lines, requested start at line 6 (GREP_E_ARGUMENT)\n");

  const std::string edit = R"({"file":")" + file + R"(","start_line":1,"new_text":"A"})";
  r = run_cli({"batch", "-"}, "[" + edit + "]");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "A\r\nB\nC\rd");
  r = run_cli({"batch", "-"}, R"({"exact":false,"edits":[)" + edit + "]}");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(file), "A\nB\nC\nd\n");

  std::string latin = dir.write("l.txt", "caf\xE9\nx\n");
  r = run_cli({"replace", latin, "2", "2", "y", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "--- " + latin + "\n+++ " + latin + "\n@@ -1,2 +1,2 @@\n caf\xE9\n-x\n+y\n");
}

// sub replaces what search finds with the same flags: a dry run prints
// diffs that patch applies to give what the write gives, and the write
// prints each file with its count; the exit status is grep's.
TEST(CliSub, DryRunDiffsApplyToGiveWhatIsWritten) {
  qg_test::TempDir dir;
  const std::string a = dir.write("src/a.c", "int size_t;\r\nssize_t size_t_x;\n");
  const std::string b = dir.write("src/b.h", "size_t\rsize_t");
  dir.write("src/skip.txt", "size_t\n");
  const std::vector<std::string> flags = {"sub",     "-E",       "-w",    "-g",
                                          "*.{c,h}", "(size)_t", "${1}x", dir.path() + "/src"};
  std::vector<std::string> dry = flags;
  dry.push_back("--dry-run");
  run_result preview = run_cli(dry);
  ASSERT_EQ(preview.status, 0) << preview.err;
  const std::string patched = dir.write("patched.c", qg_test::read_bytes(a));
  const size_t from = preview.out.find("--- " + a + "\n");
  ASSERT_NE(from, std::string::npos) << preview.out;
  const size_t to = preview.out.find("\n--- ", from);
  const std::string diff =
      preview.out.substr(from, to == std::string::npos ? std::string::npos : to + 1 - from);
  run_result patch = qg_test::run_process({"patch", "--quiet", "--binary", patched}, diff);
  EXPECT_EQ(patch.status, 0) << patch.err << preview.out;
  EXPECT_EQ(qg_test::read_bytes(a), "int size_t;\r\nssize_t size_t_x;\n");

  run_result written = run_cli(flags);
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(sorted_lines(written.out),
            (std::vector<std::string>{a + ": 1 replacement", b + ": 2 replacements"}));
  EXPECT_EQ(qg_test::read_bytes(a), "int sizex;\r\nssize_t size_t_x;\n");
  EXPECT_EQ(qg_test::read_bytes(patched), qg_test::read_bytes(a));
  EXPECT_EQ(qg_test::read_bytes(b), "sizex\rsizex");
  EXPECT_EQ(qg_test::read_bytes(dir.path() + "/src/skip.txt"), "size_t\n");
  EXPECT_EQ(run_cli(flags).status, 1);  // nothing left to replace
}

TEST(CliEdit, ReplacesTextThatOccursOnceOrEveryOccurrenceWithAll) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "int x;\r\nint y;\r\n");
  run_result r = run_cli({"edit", file, "--old", "int", "--new", "long"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Text occurs 2 times in '" + file + "'"), std::string::npos) << r.err;

  r = run_cli({"edit", file, "--old", "x;\ni", "--new", "x, z;\ni", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "--- " + file + "\n+++ " + file +
                       "\n@@ -1,2 +1,2 @@\n-int x;\r\n+int x, z;\r\n int y;\r\n");
  EXPECT_EQ(qg_test::read_bytes(file), "int x;\r\nint y;\r\n");

  r = run_cli({"edit", file, "--old", "int", "--new", "long", "--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(qg_test::read_bytes(file), "long x;\r\nlong y;\r\n");

  r = run_cli({"edit", file, "--old", "absent"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quenmar-grep: Text not found in '" + file + "' (GREP_E_CONFLICT)\n");
}

// ---- batch ----

TEST(CliBatch, AppliesEditsFromAFileOrStandardInput) {
  qg_test::TempDir dir;
  std::string one = dir.write("one.txt", "1\n2\n3\n");
  std::string two = dir.write("two.txt", "x\ny\n");
  std::string edits = R"([{"file":")" + one +
                      R"(","start_line":2,"end_line":2,"new_text":"two"},)" + R"({"file":")" + two +
                      R"(","start_line":1,"end_line":1,"new_text":"X"}])";
  std::string edits_file = dir.write("edits.json", edits);

  run_result r = run_cli({"batch", edits_file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"success\":true,\"files_modified\":2,\"total_edits\":2,\"errors\":[],"
                   "\"failures\":[]}\n");
  EXPECT_EQ(qg_test::read_bytes(one), "1\ntwo\n3\n");
  EXPECT_EQ(qg_test::read_bytes(two), "X\ny\n");

  std::string again = R"({"edits":[{"file":")" + one + R"(","start_line":1,"end_line":1}]})";
  r = run_cli({"batch", "-"}, again);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(qg_test::read_bytes(one), "two\n3\n");
}

TEST(CliBatch, AFailedFileGivesTwoAndItsErrorOnStandardError) {
  qg_test::TempDir dir;
  std::string good = dir.write("good.txt", "a\n");
  std::string missing = dir.at("missing.txt");
  std::string edits =
      R"([{"file":")" + missing + R"(","new_text":"x"},{"file":")" + good + R"(","new_text":"A"}])";
  run_result r = run_cli({"batch", "-"}, edits);
  EXPECT_EQ(r.status, 2);
  json_doc doc(r.out);
  ASSERT_NE(doc.doc, nullptr) << r.out;
  EXPECT_FALSE(yyjson_get_bool(doc.get("success")));
  EXPECT_EQ(yyjson_get_sint(doc.get("files_modified")), 1);
  EXPECT_EQ(qg_test::read_bytes(good), "A\n");
  EXPECT_EQ(r.err.rfind("quenmar-grep: " + missing + ": ", 0), 0u) << r.err;
}

// --dry-run turns an array or an object into a dry run: the report carries
// the diffs and no file changes.
TEST(CliBatch, DryRunReportsDiffsAndWritesNothing) {
  qg_test::TempDir dir;
  std::string file = dir.write("f.txt", "1\n2\n");
  const std::string edit = R"({"file":")" + file + R"(","old_text":"2","new_text":"two"})";
  for (const std::string &doc : {"[" + edit + "]", R"({"dry_run":false,"edits":[)" + edit + "]}"}) {
    run_result r = run_cli({"batch", "-", "--dry-run"}, doc);
    EXPECT_EQ(r.status, 0) << r.err;
    json_doc result(r.out);
    ASSERT_NE(result.doc, nullptr) << r.out;
    EXPECT_EQ(yyjson_get_sint(result.get("files_modified")), 1);
    yyjson_val *first = yyjson_arr_get_first(result.get("diffs"));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(first, "diff")),
                 ("--- " + file + "\n+++ " + file + "\n@@ -1,2 +1,2 @@\n 1\n-2\n+two\n").c_str());
    EXPECT_EQ(qg_test::read_bytes(file), "1\n2\n");
  }
}

TEST(CliBatch, UnreadableInstructionsOrInvalidJsonExitWithTwo) {
  qg_test::TempDir dir;
  run_result r = run_cli({"batch", dir.at("absent.json")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("absent.json"), std::string::npos);
  EXPECT_EQ(r.out, "");

  r = run_cli({"batch", "-"}, "[{\"file\":");
  EXPECT_EQ(r.status, 2);
  json_doc doc(r.out);
  EXPECT_FALSE(yyjson_get_bool(doc.get("success")));
}

}  // namespace
