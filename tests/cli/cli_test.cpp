// The command-line tool, run as a separate process: exit statuses, the output
// forms, standard input for replace and batch, and the mapping of flags onto
// the options document.
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
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
  for (const char *sub : {"search", "read", "replace", "batch"}) {
    run_result r = run_cli({sub, "--help"});
    EXPECT_EQ(r.status, 0) << sub;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << sub;
    EXPECT_NE(r.out.find(sub), std::string::npos) << sub;
  }
}

TEST(CliUsage, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"read"},
      {"read", "f", "one"},
      {"search", "."},
      {"search", ".", "x", "--json", "--stream"},
      {"search", ".", "x", "--options", "{}", "-i"},
      {"search", ".", "x", "--color=sometimes"},
      {"search", ".", "x", "-m", "lots"},
      {"replace", "f", "1", "1"},
      {"batch"},
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

TEST(CliOptions, FlagsMapOneToOneOntoTheDocument) {
  struct row {
    std::vector<std::string> flags;
    std::string document;
  };
  const std::vector<row> rows = {
      {{}, "{}"},
      {{"-e"}, R"({"regex":true})"},
      {{"--regex", "--ignore-case", "--word"},
       R"({"regex":true,"ignore_case":true,"whole_word":true})"},
      {{"-i", "-w"}, R"({"ignore_case":true,"whole_word":true})"},
      {{"-m", "5", "-C", "2"}, R"({"max_results":5,"context_lines":2})"},
      {{"--max=-1", "--context", "0"}, R"({"max_results":-1,"context_lines":0})"},
      {{"--include", "*.c", "--include", "*.h"}, R"({"include_globs":["*.c","*.h"]})"},
      {{"--include=*.c", "--exclude", "*.min.js", "--exclude-dir", "build", "--exclude-dir", "out"},
       R"({"include_globs":["*.c"],"exclude_globs":["*.min.js"],"exclude_dirs":["build","out"]})"},
      // A glob is one element whatever it holds: no splitting at commas or
      // spaces, and quotation marks and reverse solidi are escaped.
      {{"--include", "a,b c;d"}, R"({"include_globs":["a,b c;d"]})"},
      {{"--exclude", "q\"uo\\te"}, R"({"exclude_globs":["q\"uo\\te"]})"},
      {{"--options", R"({"regex":tru)"}, R"({"regex":tru)"},
      {{"--options", R"( {"include_globs":"*.c;*.h"} )"}, R"( {"include_globs":"*.c;*.h"} )"},
  };
  for (const row &r : rows) {
    std::vector<std::string> args = {"search", "--show-options", ".", "pattern"};
    args.insert(args.end(), r.flags.begin(), r.flags.end());
    run_result result = run_cli(args);
    EXPECT_EQ(result.status, 0) << r.document << "\n" << result.err;
    EXPECT_EQ(result.out, r.document + "\n");
  }
}

TEST(CliOptions, GlobFlagsDoNotSwallowThePositionals) {
  run_result r = run_cli({"search", "--show-options", "--include", "*.c", "ROOT", "--", "-x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"include_globs\":[\"*.c\"]}\n");
}

// A search stopped by --timeout prints what it found, says why on standard
// error and exits with 2, whatever form its output takes.
TEST(CliSearchTimeout, StopsWithAnError) {
  qg_test::TempDir dir;
  dir.write("long.txt", std::string(40000, 'a') + "b\n");
  const std::string pattern = std::string(20000, 'a') + "b";
  for (const char *form : {"--json", "--stream", "--color=never"}) {
    run_result r = run_cli({"search", dir.path(), pattern, "-e", "--timeout", "30", form});
    EXPECT_EQ(r.status, 2) << form;
    EXPECT_EQ(r.err, "quenmar-grep: Search stopped at the time limit of 30 ms\n") << form;
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
      {{"7", "9"}, 2, "", "quenmar-grep: File has only 6 lines, requested start at line 7\n"},
      {{"4", "2"}, 2, "", "quenmar-grep: start_line (4) must be <= end_line (2)\n"},
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
  EXPECT_EQ(first.err, "quenmar-grep: File has only 0 lines, requested start at line 1\n");
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
  run_result r = run_cli({"search", tree, "beta"});
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
  run_result r = run_cli({"search", tree, "gamma"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(CliSearch, MissingRootIsAnError) {
  run_result r = run_cli({"search", dir.at("absent"), "beta"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(CliSearch, InvalidOptionsDocumentIsAnErrorInEveryForm) {
  for (const char *form : {"--json", "--stream", "--color=never"}) {
    run_result r = run_cli({"search", tree, "beta", form, "--options", R"({"regex":tru)"});
    EXPECT_EQ(r.status, 2) << form;
    EXPECT_EQ(r.err, "quenmar-grep: Invalid JSON in options: {\"regex\":tru\n") << form;
  }
}

TEST_F(CliSearch, IncludeGivenTwiceKeepsBothGlobs) {
  run_result r = run_cli({"search", tree, "beta", "--include", "*.c", "--include", "*.h"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {
      tree + "/a.c:2:5:int beta;",
      tree + "/b.h:1:4:// beta here",
      tree + "/sub/d.c:2:1:beta again",
  };
  EXPECT_EQ(sorted_lines(r.out), expected);

  run_result dirs = run_cli({"search", tree, "beta", "--exclude-dir", "sub", "--exclude", "*.md"});
  EXPECT_EQ(sorted_lines(dirs.out), (std::vector<std::string>{tree + "/a.c:2:5:int beta;",
                                                              tree + "/b.h:1:4:// beta here"}));
}

TEST_F(CliSearch, JsonPrintsTheSearchDocument) {
  run_result r = run_cli({"search", tree, "beta", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  json_doc doc(r.out);
  ASSERT_NE(doc.doc, nullptr) << r.out;
  EXPECT_EQ(yyjson_get_sint(doc.get("total_matches")), 4);
  EXPECT_EQ(yyjson_get_sint(doc.get("files_searched")), 4);
  EXPECT_EQ(yyjson_arr_size(doc.get("matches")), 4u);
  EXPECT_TRUE(yyjson_is_int(doc.get("duration_ms")));

  run_result none = run_cli({"search", tree, "gamma", "--json"});
  EXPECT_EQ(none.status, 1);
  json_doc empty(none.out);
  EXPECT_EQ(yyjson_get_sint(empty.get("total_matches")), 0);
}

TEST_F(CliSearch, StreamPrintsOneMatchObjectPerLine) {
  run_result r = run_cli({"search", tree, "beta", "--stream", "-m", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string &line : lines) {
    json_doc doc(line);
    ASSERT_NE(doc.doc, nullptr) << line;
    EXPECT_NE(std::string(yyjson_get_str(doc.get("text"))).find("beta"), std::string::npos);
    EXPECT_TRUE(yyjson_is_arr(doc.get("context")));
  }
  EXPECT_EQ(run_cli({"search", tree, "gamma", "--stream"}).status, 1);
}

TEST_F(CliSearch, StreamAndDocumentAgree) {
  run_result stream = run_cli({"search", tree, "beta", "--stream", "-C", "1"});
  run_result json = run_cli({"search", tree, "beta", "--json", "-C", "1"});
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
  run_result r = run_cli({"search", file, "hit", "-C", "1"});
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
  run_result r = run_cli({"search", file, "hit", "-C", "2"});
  std::string expected =
      file + "-1-x\n" + file + ":2:1:hit a\n" + file + ":3:1:hit b\n" + file + "-4-y\n";
  EXPECT_EQ(r.out, expected);
}

// ---- colour ----

TEST(CliColour, AlwaysColoursPathNumbersAndTheLiteralMatch) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "say Hello there\n");
  run_result r = run_cli({"search", file, "hello", "-i", "--color=always"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected = "\033[35m" + file + "\033[m\033[36m:\033[m\033[32m1\033[m\033[36m:\033[m" +
                         "\033[32m5\033[m\033[36m:\033[msay \033[01;31mHello\033[m there\n";
  EXPECT_EQ(r.out, expected);
}

TEST(CliColour, RegexMatchLengthIsUnknownSoOnlyPathAndNumbersAreColoured) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "say Hello there\n");
  run_result r = run_cli({"search", file, "H[a-z]+", "-e", "--color=always"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\033[35m"), std::string::npos);
  EXPECT_EQ(r.out.find("\033[01;31m"), std::string::npos);
  EXPECT_NE(r.out.find("say Hello there\n"), std::string::npos);
}

TEST(CliColour, AutoAndNeverAndNoColorGiveThePlainForm) {
  qg_test::TempDir dir;
  std::string file = dir.write("c.txt", "hello\n");
  std::string plain = file + ":1:1:hello\n";
  // Standard output is a file here, so auto means no colour.
  EXPECT_EQ(run_cli({"search", file, "hello"}).out, plain);
  EXPECT_EQ(run_cli({"search", file, "hello", "--color=never"}).out, plain);
  EXPECT_EQ(run_cli({"search", file, "hello", "--color=auto"}, "", {"NO_COLOR=1"}).out, plain);
  // An explicit request wins over the environment.
  EXPECT_NE(run_cli({"search", file, "hello", "--color=always"}, "", {"NO_COLOR=1"}).out, plain);
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
  EXPECT_EQ(r.out, "{\"success\":true,\"files_modified\":2,\"total_edits\":2,\"errors\":[]}\n");
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
