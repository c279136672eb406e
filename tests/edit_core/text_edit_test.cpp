// Edits that state what they expect: expected texts, edits by matching text
// (against a plain str.replace on generated files of every ending), dry runs,
// files that cannot be edited whole, and editors that race for one file.
#include "edit_core/batch.h"
#include "edit_core/edit.h"
#include "grep_core/last_error.h"
#include "support/json_text.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using qg_test::json_quoted;
using qg_test::read_bytes;
using qg_test::TempDir;

const std::string kFiveLines = "L1\nL2\nL3\nL4\nL5\n";

struct Outcome {
  bool success = false;
  int status = GREP_OK;
  std::vector<std::string> errors;
  std::vector<std::string> diffs;  // the dry run's, in order
  int64_t files_modified = -1;
};

Outcome batch(const std::string &json) {
  Outcome o;
  qg_set_status(GREP_OK);
  char *text = grep_core_batch_replace_json(json.c_str());
  o.status = qg_get_status();
  if (text == nullptr) return o;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  free(text);
  yyjson_val *root = yyjson_doc_get_root(doc);
  o.success = yyjson_get_bool(yyjson_obj_get(root, "success"));
  o.files_modified = yyjson_get_sint(yyjson_obj_get(root, "files_modified"));
  size_t i, n;
  yyjson_val *v;
  yyjson_arr_foreach(yyjson_obj_get(root, "errors"), i, n, v) o.errors.push_back(yyjson_get_str(v));
  yyjson_arr_foreach(yyjson_obj_get(root, "diffs"), i, n, v) {
    o.diffs.push_back(yyjson_get_str(yyjson_obj_get(v, "diff")));
  }
  yyjson_doc_free(doc);
  return o;
}

// One edit of f.txt (L1..L5) and what it leaves, or the failure it is.
struct Row {
  std::string edit;    // members after "file"
  std::string result;  // the file afterwards
  int status;
  std::string message;  // after "f.txt: ", for a failure
};

TEST(EditsThatStateWhatTheyExpect, Table) {
  // clang-format off
  const Row rows[] = {
      {R"("start_line":2,"end_line":3,"new_text":"X","expected_text":"L2\nL3")", "L1\nX\nL4\nL5\n", GREP_OK, ""},
      {R"("start_line":2,"end_line":3,"new_text":"X","expected_text":"L2\nL3\n")", kFiveLines, GREP_E_CONFLICT, "Lines 2-3 of 'f.txt' do not hold the expected text"},
      {R"("start_line":2,"new_text":"X","expected_text":"L3")", kFiveLines, GREP_E_CONFLICT, "Lines 2-2 of 'f.txt' do not hold the expected text"},
      {R"("start_line":4,"end_line":9,"new_text":"X","expected_text":"L4\nL5")", "L1\nL2\nL3\nX\n", GREP_OK, ""},
      {R"("start_line":3,"end_line":2,"new_text":"I","expected_text":"")", "L1\nL2\nI\nL3\nL4\nL5\n", GREP_OK, ""},
      {R"("start_line":3,"end_line":2,"new_text":"I","expected_text":"L3")", kFiveLines, GREP_E_CONFLICT, "Lines 3-2 of 'f.txt' do not hold the expected text"},
      {R"("old_text":"L3","new_text":"X")", "L1\nL2\nX\nL4\nL5\n", GREP_OK, ""},
      {R"("old_text":"2\nL3\nL","new_text":"-")", "L1\nL-4\nL5\n", GREP_OK, ""},
      {R"("old_text":"L2\n")", "L1\nL3\nL4\nL5\n", GREP_OK, ""},
      {R"("old_text":"1\nL","new_text":"")", "L2\nL3\nL4\nL5\n", GREP_OK, ""},
      {R"("old_text":"L5\n","new_text":"end")", "L1\nL2\nL3\nL4\nend\n", GREP_OK, ""},
      {R"("old_text":"L","new_text":"M","replace_all":true)", "M1\nM2\nM3\nM4\nM5\n", GREP_OK, ""},
      {R"("old_text":"\nL","new_text":" ","replace_all":true)", "L1 2 3 4 5\n", GREP_OK, ""},
      {R"("old_text":"L6","new_text":"X")", kFiveLines, GREP_E_CONFLICT, "Text not found in 'f.txt'"},
      {R"("old_text":"L","new_text":"X")", kFiveLines, GREP_E_CONFLICT, "Text occurs 5 times in 'f.txt'; add context to old_text to make it unique, or set replace_all"},
      {R"("old_text":"L6","replace_all":true)", kFiveLines, GREP_E_CONFLICT, "Text not found in 'f.txt'"},
  };
  // clang-format on
  TempDir dir;
  for (const Row &r : rows) {
    dir.write("f.txt", kFiveLines);
    const std::string json = "[{\"file\":" + json_quoted(dir.at("f.txt")) + "," + r.edit + "}]";
    const Outcome o = batch(json);
    EXPECT_EQ(o.status, r.status) << r.edit;
    EXPECT_EQ(read_bytes(dir.at("f.txt")), r.result) << r.edit;
    if (r.status != GREP_OK) {
      std::string message = r.message;
      const std::string name = "'f.txt'";
      message.replace(message.find(name), name.size(), "'" + dir.at("f.txt") + "'");
      EXPECT_EQ(o.errors, std::vector<std::string>{dir.at("f.txt") + ": " + message}) << r.edit;
    }
  }
}

// A text edit whose lines touch another edit's is an overlap like any other;
// one whose occurrences touch each other's lines is one edit.
TEST(EditsThatStateWhatTheyExpect, TextEditsJoinLineEditsInOnePass) {
  TempDir dir;
  const std::string f = dir.write("f.txt", kFiveLines);
  const std::string file = "{\"file\":" + json_quoted(f) + ",";
  Outcome o = batch("[" + file + R"("old_text":"L2","new_text":"X"},)" + file +
                    R"("start_line":4,"new_text":"Y"},)" + file +
                    R"("start_line":1,"end_line":0,"new_text":"top"}])");
  EXPECT_EQ(o.status, GREP_OK);
  EXPECT_EQ(read_bytes(f), "top\nL1\nX\nL3\nY\nL5\n");
  o = batch("[" + file + R"("old_text":"L3","new_text":"X"},)" + file +
            R"("start_line":3,"end_line":4,"new_text":"Y"}])");
  EXPECT_EQ(o.status, GREP_E_ARGUMENT);
  EXPECT_EQ(read_bytes(f), "top\nL1\nX\nL3\nY\nL5\n");
}

// The file as the library writes text in `ending` and `encoding`: every line,
// the last one included, ended; UTF-16 LE with its mark.
std::string written_form(const std::string &text, const std::string &ending, bool utf16) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    out += text.substr(at, nl - at) + ending;
    at = nl + 1;
  }
  if (!utf16) return out;
  std::string wide = "\xFF\xFE";
  for (char c : out) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

// Text edits against str.replace on the text as the reader gives it (every
// ending as LF), on generated files in LF, CR LF and UTF-16: unique edits,
// edits of every occurrence, and the failures of the others.
TEST(EditsThatStateWhatTheyExpect, TextEditsAgreeWithStrReplace) {
  std::mt19937 rng(19);
  static const char *const pieces[] = {"ab", "a", "b", "x", " ", "abab", "ba"};
  TempDir dir;
  int applied = 0, refused = 0;
  for (int round = 0; round < 600; ++round) {
    std::string text;  // as the reader gives it
    const int lines = static_cast<int>(rng() % 6);
    for (int l = 0; l < lines; ++l) {
      for (int w = static_cast<int>(rng() % 4); w > 0; --w) text += pieces[rng() % 7];
      if (l + 1 < lines || rng() % 2) text += '\n';
    }
    const int form = static_cast<int>(rng() % 3);  // LF, CR LF, UTF-16 (with LF)
    // The ending CR LF dominates only where there is one.
    const std::string ending = form == 1 && text.find('\n') != std::string::npos ? "\r\n" : "\n";
    std::string file_bytes = text;
    if (form == 1) {
      file_bytes.clear();
      for (char c : text) file_bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
    } else if (form == 2) {
      file_bytes = written_form(text, "\n", true);
      // written_form ends every line; the generated text may not.
      if (!text.empty() && text.back() != '\n') file_bytes.resize(file_bytes.size() - 2);
    }
    std::string old_text;
    for (int w = 1 + static_cast<int>(rng() % 2); w > 0; --w) old_text += pieces[rng() % 7];
    if (rng() % 3 == 0) old_text += "\n";
    if (rng() % 4 == 0) old_text = "\n" + old_text;
    if (rng() % 2 && !text.empty()) {
      // A piece of the text itself, line endings and all.
      const size_t at = rng() % text.size();
      old_text = text.substr(at, 1 + rng() % 6);
    }
    std::string new_text;
    for (int w = static_cast<int>(rng() % 3); w > 0; --w) new_text += rng() % 4 ? "Q" : "\n";
    const bool all = rng() % 2;

    size_t occurrences = 0;
    std::string replaced;
    for (size_t at = 0;;) {
      const size_t hit = text.find(old_text, at);
      if (hit == std::string::npos) {
        replaced += text.substr(at);
        break;
      }
      ++occurrences;
      replaced += text.substr(at, hit - at) + new_text;
      at = hit + old_text.size();
    }
    const std::string path = dir.write("f.txt", file_bytes);
    const Outcome o = batch(
        "[{\"file\":" + json_quoted(path) + ",\"old_text\":" + json_quoted(old_text) +
        ",\"new_text\":" + json_quoted(new_text) + (all ? ",\"replace_all\":true" : "") + "}]");
    const std::string shown = testing::PrintToString(text) + " / " +
                              testing::PrintToString(old_text) + " -> " +
                              testing::PrintToString(new_text) + (all ? " (all)" : "");
    if (occurrences == 0 || (occurrences > 1 && !all)) {
      ++refused;
      EXPECT_EQ(o.status, GREP_E_CONFLICT) << shown;
      EXPECT_EQ(read_bytes(path), file_bytes) << shown;
      continue;
    }
    ++applied;
    EXPECT_EQ(o.status, GREP_OK) << shown << " " << (o.errors.empty() ? "" : o.errors[0]);
    EXPECT_EQ(read_bytes(path), written_form(replaced, ending, form == 2)) << shown;
  }
  EXPECT_GT(applied, 150);
  EXPECT_GT(refused, 100);
}

TEST(EditsThatStateWhatTheyExpect, DryRunWritesNothingAndGivesDiffs) {
  TempDir dir;
  const std::string a = dir.write("a.txt", kFiveLines);
  const std::string b = dir.write("b.txt", "x\r\ny\r\n");
  const std::string edits =
      "[{\"file\":" + json_quoted(a) +
      ",\"start_line\":2,\"new_text\":\"X\"},{\"file\":" + json_quoted(b) +
      ",\"old_text\":\"y\",\"new_text\":\"Y\"},{\"file\":" + json_quoted(dir.at("missing")) + "}]";
  const Outcome dry = batch("{\"dry_run\":true,\"edits\":" + edits + "}");
  EXPECT_EQ(read_bytes(a), kFiveLines);
  EXPECT_EQ(read_bytes(b), "x\r\ny\r\n");
  EXPECT_EQ(dry.status, GREP_E_NOT_FOUND);
  EXPECT_EQ(dry.files_modified, 2);
  EXPECT_EQ(dry.diffs,
            (std::vector<std::string>{
                "--- " + a + "\n+++ " + a + "\n@@ -1,5 +1,5 @@\n L1\n-L2\n+X\n L3\n L4\n L5\n",
                "--- " + b + "\n+++ " + b + "\n@@ -1,2 +1,2 @@\n x\r\n-y\r\n+Y\r\n"}));
  // Without dry_run the same edits write what the diffs say; with "diffs"
  // the report says it too.
  const Outcome real = batch("{\"diffs\":true,\"edits\":" + edits + "}");
  EXPECT_EQ(real.files_modified, 2);
  EXPECT_EQ(real.diffs, dry.diffs);
  EXPECT_EQ(read_bytes(a), "L1\nX\nL3\nL4\nL5\n");
  EXPECT_EQ(read_bytes(b), "x\r\nY\r\n");
  const Outcome plain = batch(edits);
  EXPECT_TRUE(plain.diffs.empty());
  EXPECT_EQ(batch("{\"diffs\":1,\"edits\":" + edits + "}").status, GREP_E_ARGUMENT);
  EXPECT_EQ(read_bytes(a), "L1\nX\nL3\nL4\nL5\n");
}

// Files that an edit cannot write back whole are refused and left as they
// are: NUL bytes, and UTF-16 with an odd number of bytes.
TEST(EditsThatStateWhatTheyExpect, FilesThatCannotBeWrittenBackWholeAreRefused) {
  TempDir dir;
  const std::string odd = dir.write("u.txt", std::string("\xFF\xFE"
                                                         "a\0\n\0b",
                                                         7));
  line_edit edit = {1, 1, "Z", nullptr};
  EXPECT_FALSE(apply_file_edits(odd.c_str(), &edit, 1));
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "UTF-16 file '" + odd + "' ends in half a character");
  EXPECT_EQ(read_bytes(odd), std::string("\xFF\xFE"
                                         "a\0\n\0b",
                                         7));
}

// Editors on several threads of one process each take the file in turn:
// every insertion of both survives.
TEST(EditsThatStateWhatTheyExpect, ThreadsEditingOneFileLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir.write("shared.txt", "first\n");
  auto insert_300 = [&path](const char *who) {
    for (int i = 0; i < 300; ++i) {
      const std::string line = std::string(who) + std::to_string(i);
      EXPECT_EQ(grep_core_replace_lines(path.c_str(), 2, 1, line.c_str()), 0)
          << qm_grep_get_last_error();
    }
  };
  std::thread a(insert_300, "a"), b(insert_300, "b");
  a.join();
  b.join();
  const std::string text = read_bytes(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 601);
}

}  // namespace
