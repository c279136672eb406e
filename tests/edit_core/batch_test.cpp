#include "edit_core/batch.h"
#include "grep_core/last_error.h"
#include "support/json_text.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using qg_test::read_bytes;
using qg_test::TempDir;

const std::string kFiveLines = "L1\nL2\nL3\nL4\nL5\n";

// Runs the batch with the working folder set to a fresh temporary folder, so
// that relative paths such as a.txt and ./a.txt name files inside it.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(qg_test::from_utf8(dir_.path()));
  }
  void TearDown() override { std::filesystem::current_path(old_cwd_); }

  const TempDir &dir() const { return dir_; }

 private:
  TempDir dir_;
  std::filesystem::path old_cwd_;
};

// The batch's report, freed and returned as a string; "<null>" for null.
std::string run_batch(const char *json) {
  char *result = grep_core_batch_replace_json(json);
  if (result == nullptr) return "<null>";
  std::string text = result;
  free(result);
  return text;
}

struct Report {
  bool parsed = false;
  bool success = false;
  int64_t files_modified = -1;
  int64_t total_edits = -1;
  std::vector<std::string> errors;
};

// Reads a report back with a strict JSON reader.
Report parse_report(const std::string &text) {
  Report r;
  yyjson_doc *doc = yyjson_read(text.c_str(), text.size(), 0);
  if (doc == nullptr) return r;
  yyjson_val *root = yyjson_doc_get_root(doc);
  r.parsed = yyjson_obj_size(root) == 4 || yyjson_obj_size(root) == 5;
  r.success = yyjson_get_bool(yyjson_obj_get(root, "success"));
  r.files_modified = yyjson_get_sint(yyjson_obj_get(root, "files_modified"));
  r.total_edits = yyjson_get_sint(yyjson_obj_get(root, "total_edits"));
  size_t idx, max;
  yyjson_val *e;
  yyjson_arr_foreach(yyjson_obj_get(root, "errors"), idx, max, e) {
    r.errors.push_back(yyjson_get_str(e));
  }
  yyjson_doc_free(doc);
  return r;
}

TEST(BatchReplaceJson, FixedFailureDocuments) {
  struct Case {
    const char *json;
    const char *error;
    const char *message;
  };
  // clang-format off
  const Case cases[] = {
      {nullptr, "Empty input", "Empty batch instructions JSON"},
      {"", "Empty input", "Empty batch instructions JSON"},
      {"  ", "Invalid JSON", "Invalid JSON in batch instructions"},
      {"[1,", "Invalid JSON", "Invalid JSON in batch instructions"},
      {"[1,]", "Invalid JSON", "Invalid JSON in batch instructions"},
      {"[] x", "Invalid JSON", "Invalid JSON in batch instructions"},
      {"[\"\xFF\"]", "Invalid JSON", "Invalid JSON in batch instructions"},
      {"{}", "Missing edits array", "Expected 'edits' array in JSON"},
      {"{\"edits\":{}}", "Missing edits array", "Expected 'edits' array in JSON"},
      {"{\"edits\":5,\"edits\":[]}", "Missing edits array", "Expected 'edits' array in JSON"},
      {"5", "Missing edits array", "Expected 'edits' array in JSON"},
      {"\"x\"", "Missing edits array", "Expected 'edits' array in JSON"},
      {"{\"edits\":[],\"dry_run\":1}", "dry_run is not true or false", "dry_run is not true or false"},
      {"{\"edits\":[],\"exact\":\"yes\"}", "exact is not true or false", "exact is not true or false"},
  };
  // clang-format on
  for (const Case &c : cases) {
    EXPECT_EQ(
        run_batch(c.json),
        std::string("{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"") +
            c.error + "\"]}")
        << (c.json ? c.json : "null");
    EXPECT_STREQ(qm_grep_get_last_error(), c.message);
  }
}

TEST_F(BatchTest, NothingToDoSucceedsAndKeepsTheLastError) {
  dir().write("a.txt", kFiveLines);
  qm_grep_set_last_error("earlier");
  for (const char *json : {"[]", "{\"edits\":[]}", "{\"edits\":[],\"dry_run\":false}",
                           "{\"edits\":[],\"exact\":true,\"diffs\":false}"}) {
    EXPECT_EQ(run_batch(json),
              "{\"success\":true,\"files_modified\":0,\"total_edits\":0,\"errors\":[],"
              "\"failures\":[]}")
        << json;
  }
  EXPECT_STREQ(qm_grep_get_last_error(), "earlier");
  EXPECT_EQ(read_bytes("a.txt"), kFiveLines);
}

// An element that names no file is a failure of its own in the report, with
// its position, never a silent skip; the files that are named go on.
TEST_F(BatchTest, ElementsThatNameNoFileFailInTheReport) {
  const std::string takes =
      " (an edit takes file, file_path, start_line, end_line, new_text, expected_text, old_text "
      "and replace_all)";
  struct Case {
    const char *elements;  // after a good edit of b.txt
    std::vector<std::string> errors;
  };
  // clang-format off
  const Case cases[] = {
      {R"(1,"x",null,{},[])", {"Edit 2 is not an object", "Edit 3 is not an object",
                               "Edit 4 is not an object", "Edit 5 names no file",
                               "Edit 6 is not an object"}},
      {R"([{"file":"a.txt","start_line":1}])", {"Edit 2 is not an object"}},
      {R"({"file":5,"file_path":"a.txt"})", {"Edit 2: file is not a string"}},
      {R"({"file_path":null})", {"Edit 2: file_path is not a string"}},
      {R"({"start_line":1,"new_text":"X"})", {"Edit 2 names no file"}},
      {R"({"path":"a.txt","start_line":2,"new_text":"X"})", {"Edit 2 names no file: unknown member 'path'" + takes}},
      {R"({"fiel":"a.txt","new_text":"X"})", {"Edit 2 names no file: unknown member 'fiel'" + takes}},
  };
  // clang-format on
  for (const Case &c : cases) {
    dir().write("a.txt", kFiveLines);
    dir().write("b.txt", kFiveLines);
    qg_set_status(GREP_OK);
    const std::string json =
        std::string(R"([{"file":"b.txt","start_line":1,"new_text":"B"},)") + c.elements + "]";
    Report r = parse_report(run_batch(json.c_str()));
    ASSERT_TRUE(r.parsed) << c.elements;
    EXPECT_FALSE(r.success) << c.elements;
    EXPECT_EQ(qg_get_status(), GREP_E_ARGUMENT) << c.elements;
    EXPECT_EQ(r.files_modified, 1) << c.elements;
    EXPECT_EQ(r.total_edits, static_cast<int64_t>(1 + c.errors.size())) << c.elements;
    EXPECT_EQ(r.errors, c.errors) << c.elements;
    EXPECT_EQ(read_bytes("a.txt"), kFiveLines) << c.elements;
    EXPECT_EQ(read_bytes("b.txt"), "B\nL2\nL3\nL4\nL5\n") << c.elements;
  }
}

// A member the batch document does not take fails the whole call, naming
// it, before any file is touched: a misspelt "dry_run" must not write.
TEST_F(BatchTest, UnknownDocumentMembersFailTheWholeCall) {
  for (const char *member : {"dryrun", "Edits", "dry-run", "exact_endings"}) {
    dir().write("a.txt", kFiveLines);
    const std::string json =
        std::string(R"({"edits":[{"file":"a.txt","new_text":"X"}],")") + member + R"(":true})";
    const std::string message =
        std::string("Unknown member '") + member +
        "' in the batch document (it takes edits, dry_run, diffs and exact)";
    EXPECT_EQ(run_batch(json.c_str()),
              "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"" + message +
                  "\"]}");
    EXPECT_EQ(qm_grep_get_last_error(), message);
    EXPECT_EQ(qg_get_status(), GREP_E_ARGUMENT);
    EXPECT_EQ(read_bytes("a.txt"), kFiveLines) << member;
  }
}

// How the members of one edit object become an edit of a.txt (L1..L5).
TEST_F(BatchTest, EditObjectRules) {
  struct Case {
    const char *json;
    std::string result;
  };
  // clang-format off
  const Case cases[] = {
      // Paths and keys.
      {R"([{"file_path":"a.txt"}])", "L2\nL3\nL4\nL5\n"},
      {R"([{"file":"a.txt","start_line":3}])", "L1\nL2\nL4\nL5\n"},
      {R"([{"file":"a.txt","file":"b.txt","start_line":2,"start_line":4,"new_text":"X"}])",
       "L1\nX\nL3\nL4\nL5\n"},
      {R"([{"file_path":"a.txt","file_path":7,"new_text":"X","new_text":"Y"}])",
       "X\nL2\nL3\nL4\nL5\n"},
      {R"([{"fil\u0065":"a.txt","new_text":"X"}])", "X\nL2\nL3\nL4\nL5\n"},
      {R"({"edits":[{"file":"a.txt","start_line":1,"end_line":0,"new_text":"top"}],"edits":5})",
       "top\nL1\nL2\nL3\nL4\nL5\n"},
      // start_line / end_line: missing, or a number without a fraction.
      {R"([{"file":"a.txt","new_text":"X"}])", "X\nL2\nL3\nL4\nL5\n"},
      {R"([{"file":"a.txt","end_line":3,"new_text":"X"}])", "X\nL4\nL5\n"},
      {R"([{"file":"a.txt","start_line":3,"new_text":"X"}])", "L1\nL2\nX\nL4\nL5\n"},
      {R"([{"file":"a.txt","start_line":2,"end_line":4,"new_text":"X"}])", "L1\nX\nL5\n"},
      {R"([{"file":"a.txt","start_line":2.0,"new_text":"X"}])", "L1\nX\nL3\nL4\nL5\n"},
      {R"([{"file":"a.txt","start_line":3e0,"end_line":4.0,"new_text":"X"}])", "L1\nL2\nX\nL5\n"},
      {R"([{"file":"a.txt","start_line":-2147483648,"end_line":2147483647,"new_text":"X"}])", "X\n"},
  };
  // clang-format on
  for (const Case &c : cases) {
    std::string a = dir().write("a.txt", kFiveLines);
    std::string b = dir().write("b.txt", kFiveLines);
    Report r = parse_report(run_batch(c.json));
    EXPECT_TRUE(r.parsed) << c.json;
    EXPECT_TRUE(r.success) << c.json << ": " << (r.errors.empty() ? "" : r.errors[0]);
    EXPECT_EQ(r.files_modified, 1) << c.json;
    EXPECT_EQ(r.total_edits, 1) << c.json;
    EXPECT_EQ(read_bytes(a), c.result) << c.json;
    EXPECT_EQ(read_bytes(b), kFiveLines) << c.json;
  }
}

// An edit object that does not say plainly what it means fails its file's
// group untouched, naming the edit's place in the instructions, the path and
// the member; the other files go on.
TEST_F(BatchTest, MalformedEditObjectsFailTheirGroup) {
  struct Case {
    const char *edit;  // the second element; the first is a good edit of b.txt
    std::string message;
  };
  auto unknown = [](const char *member) {
    return std::string("Edit 2 for 'a.txt': unknown member '") + member +
           "' (an edit takes file, file_path, start_line, end_line, new_text, expected_text, "
           "old_text and replace_all)";
  };
  // clang-format off
  const Case cases[] = {
      // Misspelt members would delete or overwrite lines, or drop a check.
      {R"({"file":"a.txt","start_lin":2,"end_line":3,"new_text":"X"})", unknown("start_lin")},
      {R"({"file":"a.txt","start_line":2,"end_line":3,"new_txt":"X"})", unknown("new_txt")},
      {R"({"file":"a.txt","old_txt":"L2","new_text":"X"})", unknown("old_txt")},
      {R"({"file":"a.txt","old_text":"L2","new_txt":"X"})", unknown("new_txt")},
      {R"({"file":"a.txt","start_line":2,"new_text":"X","expected_txt":"L9"})", unknown("expected_txt")},
      {R"({"file":"a.txt","start_line":2,"new_text":"X","expected":"L9"})", unknown("expected")},
      {R"({"file":"a.txt","start_line":2,"new_text":"X","id":"host-7"})", unknown("id")},
      {R"({"file":"a.txt","line":2,"text":"x"})", unknown("line")},
      {R"({"file":"a.txt","expected_text":"L1"})", "Edit 2 for 'a.txt' has no start_line, end_line, old_text or new_text"},
      {R"({"file":"a.txt","start_line":"3"})", "Edit 2 for 'a.txt': start_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":3.5})", "Edit 2 for 'a.txt': start_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":true})", "Edit 2 for 'a.txt': start_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":4294967298})", "Edit 2 for 'a.txt': start_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":-2147483649})", "Edit 2 for 'a.txt': start_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":1,"end_line":null})", "Edit 2 for 'a.txt': end_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":1,"end_line":4.5})", "Edit 2 for 'a.txt': end_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":1,"end_line":[]})", "Edit 2 for 'a.txt': end_line is not a 32-bit integer"},
      {R"({"file":"a.txt","start_line":1,"new_text":["X"]})", "Edit 2 for 'a.txt': new_text is not a string"},
      {R"({"file":"a.txt","start_line":1,"new_text":3})", "Edit 2 for 'a.txt': new_text is not a string"},
      {R"({"file":"a.txt","start_line":1,"new_text":"X","expected_text":1})", "Edit 2 for 'a.txt': expected_text is not a string"},
      {R"({"file":"a.txt","old_text":5})", "Edit 2 for 'a.txt': old_text is not a string"},
      {R"({"file":"a.txt","old_text":""})", "Edit 2 for 'a.txt': old_text is empty"},
      {R"({"file":"a.txt","old_text":"L1","start_line":1})", "Edit 2 for 'a.txt': old_text cannot be combined with start_line or end_line"},
      {R"({"file":"a.txt","old_text":"L1","replace_all":1})", "Edit 2 for 'a.txt': replace_all is not true or false"},
  };
  // clang-format on
  for (const Case &c : cases) {
    dir().write("a.txt", kFiveLines);
    dir().write("b.txt", kFiveLines);
    const std::string json =
        std::string(R"([{"file":"b.txt","start_line":1,"new_text":"B"},)") + c.edit + "]";
    Report r = parse_report(run_batch(json.c_str()));
    EXPECT_FALSE(r.success) << c.edit;
    EXPECT_EQ(qg_get_status(), GREP_E_ARGUMENT) << c.edit;
    EXPECT_EQ(r.files_modified, 1) << c.edit;
    EXPECT_EQ(r.total_edits, 2) << c.edit;
    EXPECT_EQ(r.errors, std::vector<std::string>{"a.txt: " + c.message}) << c.edit;
    EXPECT_EQ(read_bytes("a.txt"), kFiveLines) << c.edit;
    EXPECT_EQ(read_bytes("b.txt"), "B\nL2\nL3\nL4\nL5\n") << c.edit;
  }
}

TEST_F(BatchTest, OneFailingGroupAmongSeveralFiles) {
  dir().write("a.txt", kFiveLines);
  dir().write("b.txt", kFiveLines);
  dir().write("c.txt", kFiveLines);
  std::string report = run_batch(R"([
    {"file":"a.txt","start_line":1,"new_text":"A"},
    {"file":"b.txt","start_line":2,"end_line":3,"new_text":"B1"},
    {"file":"c.txt","start_line":5,"new_text":"C"},
    {"file":"b.txt","start_line":3,"end_line":4,"new_text":"B2"}
  ])");
  EXPECT_EQ(report,
            "{\"success\":false,\"files_modified\":2,\"total_edits\":4,\"errors\":[\"b.txt: "
            "Overlapping edit ranges in 'b.txt': lines 2-3 and 3-4\"],\"failures\":[{\"file\":"
            "\"b.txt\",\"status\":\"GREP_E_ARGUMENT\",\"message\":\"Overlapping edit ranges in "
            "'b.txt': lines 2-3 and 3-4\"}]}");
  EXPECT_EQ(read_bytes("a.txt"), "A\nL2\nL3\nL4\nL5\n");
  EXPECT_EQ(read_bytes("b.txt"), kFiveLines);
  EXPECT_EQ(read_bytes("c.txt"), "L1\nL2\nL3\nL4\nC\n");
  EXPECT_STREQ(qm_grep_get_last_error(), "Overlapping edit ranges in 'b.txt': lines 2-3 and 3-4");
}

// A path or new text holding U+0000 is never cut at it: the group fails
// untouched with the reason, the path's NUL kept in the error string, and the
// other files go on. A path with a NUL is its own group.
TEST_F(BatchTest, NulCharactersFailTheirGroupWhole) {
  dir().write("target.txt", kFiveLines);
  dir().write("keep.txt", kFiveLines);
  dir().write("ok.txt", kFiveLines);
  std::string report = run_batch(R"([
    {"file":"target.txt\u0000.bak","start_line":1,"new_text":"X"},
    {"file":"keep.txt","start_line":1,"new_text":"fine"},
    {"file":"keep.txt","start_line":3,"new_text":"keep\u0000this part is lost\n"},
    {"file":"ok.txt","start_line":2,"new_text":"Y"}
  ])");
  EXPECT_EQ(report,
            "{\"success\":false,\"files_modified\":1,\"total_edits\":4,\"errors\":["
            "\"target.txt\\u0000.bak: Path holds a NUL character\","
            "\"keep.txt: Text for 'keep.txt' holds a NUL character\"],\"failures\":["
            "{\"file\":\"target.txt\\u0000.bak\",\"status\":\"GREP_E_ARGUMENT\","
            "\"message\":\"Path holds a NUL character\"},{\"file\":\"keep.txt\",\"status\":"
            "\"GREP_E_ARGUMENT\",\"message\":\"Text for 'keep.txt' holds a NUL character\"}]}");
  EXPECT_EQ(read_bytes("target.txt"), kFiveLines);
  EXPECT_EQ(read_bytes("keep.txt"), kFiveLines);
  EXPECT_EQ(read_bytes("ok.txt"), "L1\nY\nL3\nL4\nL5\n");
}

// Groups follow the order in which paths first appear, whatever lies between
// their edits; the error strings come out in that order.
TEST_F(BatchTest, GroupsInFirstAppearanceOrder) {
  Report r = parse_report(run_batch(R"([
    {"file":"m1.txt"},{"file":"m2.txt"},{"file":"m1.txt","start_line":4}
  ])"));
  ASSERT_TRUE(r.parsed);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.files_modified, 0);
  EXPECT_EQ(r.total_edits, 3);
  EXPECT_EQ(r.errors, (std::vector<std::string>{
                          "m1.txt: Cannot open file 'm1.txt': No such file or directory",
                          "m2.txt: Cannot open file 'm2.txt': No such file or directory"}));
}

// Paths that name one file (the same text, ./, an absolute path, a link) are
// one group, reported under the first path given: every line number counts
// the file as read, overlaps across the paths are found, and the file is
// written once.
TEST_F(BatchTest, PathsToOneFileAreOneGroup) {
  dir().write("a.txt", kFiveLines);
  const std::string absolute = dir().at("a.txt");
  // A symbolic link where the system makes one; else another spelling.
  std::error_code no_link;
  std::filesystem::create_symlink("a.txt", "link.txt", no_link);
  const std::string link = no_link ? "./sub/../a.txt" : "link.txt";
  dir().mkdir("sub");
  EXPECT_EQ(run_batch((R"([{"file":"a.txt","start_line":1,"new_text":"X"},
                          {"file":"./a.txt","start_line":3,"new_text":"Y"},
                          {"file":)" +
                       qg_test::json_quoted(absolute) + R"(,"start_line":5,"new_text":"Z"},
                          {"file":")" +
                       link + R"(","start_line":2,"end_line":1,"new_text":"I"}])")
                          .c_str()),
            "{\"success\":true,\"files_modified\":1,\"total_edits\":4,\"errors\":[],"
            "\"failures\":[]}");
  EXPECT_EQ(read_bytes("a.txt"), "X\nI\nL2\nY\nL4\nZ\n");
  EXPECT_EQ(run_batch((R"([{"file":"./a.txt","start_line":1,"end_line":2,"new_text":"A"},
                          {"file":")" +
                       link + R"(","start_line":2,"end_line":3,"new_text":"B"}])")
                          .c_str()),
            "{\"success\":false,\"files_modified\":0,\"total_edits\":2,\"errors\":[\"./a.txt: "
            "Overlapping edit ranges in './a.txt': lines 1-2 and 2-3\"],\"failures\":[{\"file\":"
            "\"./a.txt\",\"status\":\"GREP_E_ARGUMENT\",\"message\":\"Overlapping edit ranges in "
            "'./a.txt': lines 1-2 and 2-3\"}]}");
}

TEST_F(BatchTest, UnchangedFileIsStillWritten) {
  dir().write("a.txt", "L1\nL2");
  EXPECT_EQ(run_batch(R"([{"file":"a.txt","start_line":2,"end_line":1}])"),
            "{\"success\":true,\"files_modified\":1,\"total_edits\":1,\"errors\":[],"
            "\"failures\":[]}");
  EXPECT_EQ(read_bytes("a.txt"), "L1\nL2\n");
}

// A Windows-style path comes out with each reverse solidus doubled, in the
// path and in the message inside the error string.
TEST_F(BatchTest, BackslashPathIsEscapedInTheErrorString) {
  std::string report = run_batch(R"([{"file":"C:\\no\\such.txt"}])");
  EXPECT_NE(report.find(R"("C:\\no\\such.txt: Cannot open file 'C:\\no\\such.txt': )"),
            std::string::npos)
      << report;
  Report r = parse_report(report);
  ASSERT_TRUE(r.parsed) << report;
  EXPECT_EQ(r.errors, std::vector<std::string>{
                          "C:\\no\\such.txt: Cannot open file 'C:\\no\\such.txt': No such file "
                          "or directory"});
}

TEST(BatchAppendGroupError, ResultIsAlwaysValidJson) {
  struct Case {
    std::string path;
    std::string message;
    std::string raw;      // what is appended
    std::string decoded;  // what a JSON reader makes of it
  };
  // clang-format off
  const Case cases[] = {
      {"bad\xFF.txt", "Cannot open file 'bad\xFF.txt': x", "\"bad\xEF\xBF\xBD.txt: Cannot open file 'bad\xEF\xBF\xBD.txt': x\"",
       "bad\xEF\xBF\xBD.txt: Cannot open file 'bad\xEF\xBF\xBD.txt': x"},
      {"cut\xC3", "m\xE2\x82", "\"cut\xEF\xBF\xBD: m\xEF\xBF\xBD\xEF\xBF\xBD\"",
       "cut\xEF\xBF\xBD: m\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC3\xA9\"q\".txt", "tab\there", R"("é\"q\".txt: tab\there")", "\xC3\xA9\"q\".txt: tab\there"},
      {"\x01", "", R"("\u0001: ")", "\x01: "},
      {std::string("a\0b", 3), "m", R"("a\u0000b: m")", std::string("a\0b: m", 6)},
  };
  // clang-format on
  for (const Case &c : cases) {
    json_out out = {};
    batch_append_group_error(&out, c.path.data(), c.path.size(), c.message.c_str());
    ASSERT_FALSE(out.failed);
    std::string raw(out.data, out.len);
    json_out_free(&out);
    EXPECT_EQ(raw, c.raw);
    std::string doc = "[" + raw + "]";
    yyjson_doc *parsed = yyjson_read(doc.c_str(), doc.size(), 0);
    ASSERT_NE(parsed, nullptr) << raw;
    yyjson_val *first = yyjson_arr_get_first(yyjson_doc_get_root(parsed));
    EXPECT_EQ(std::string(yyjson_get_str(first), yyjson_get_len(first)), c.decoded);
    yyjson_doc_free(parsed);
  }
}

}  // namespace
