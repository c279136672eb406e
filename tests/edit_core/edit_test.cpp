#include "edit_core/edit.h"
#include "grep_core/last_error.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace {

using qg_test::read_bytes;
using qg_test::TempDir;

const std::string kFiveLines = "L1\nL2\nL3\nL4\nL5\n";

struct Edit {
  int32_t start;
  int32_t end;
  const char *text;
};

// Applies `edits` to a file holding `bytes` and returns what the file holds
// afterwards; `ok` tells whether the engine reported success.
std::string edit_file(const TempDir &dir, const std::string &bytes, const std::vector<Edit> &edits,
                      bool *ok) {
  std::string path = dir.write("f.txt", bytes);
  std::vector<line_edit> list;
  for (const Edit &e : edits) list.push_back({e.start, e.end, e.text, nullptr});
  *ok = apply_file_edits(path.c_str(), list.data(), static_cast<int>(list.size()));
  return read_bytes(path);
}

// Every line-number case on the five lines L1..L5 with LF endings.
TEST(ApplyFileEdits, LineNumberCases) {
  struct Case {
    const char *name;
    std::vector<Edit> edits;
    std::string result;
  };
  // clang-format off
  const Case cases[] = {
      {"replace two lines", {{2, 3, "X"}}, "L1\nX\nL4\nL5\n"},
      {"delete with empty text", {{2, 3, ""}}, "L1\nL4\nL5\n"},
      {"delete with null text", {{2, 3, nullptr}}, "L1\nL4\nL5\n"},
      {"insert before line 3", {{3, 2, "X"}}, "L1\nL2\nX\nL3\nL4\nL5\n"},
      {"insert at top", {{1, 0, "X"}}, "X\nL1\nL2\nL3\nL4\nL5\n"},
      {"append", {{6, 5, "X"}}, "L1\nL2\nL3\nL4\nL5\nX\n"},
      {"replace past the end appends", {{6, 6, "X"}}, "L1\nL2\nL3\nL4\nL5\nX\n"},
      {"far past the end appends", {{100, 100, "X"}}, "L1\nL2\nL3\nL4\nL5\nX\n"},
      {"end clamped to last line", {{4, 100, "X"}}, "L1\nL2\nL3\nX\n"},
      {"line 0", {{0, 0, "X"}}, "X\nL1\nL2\nL3\nL4\nL5\n"},
      {"negative start clamped", {{-3, 2, "X"}}, "X\nL3\nL4\nL5\n"},
      {"wholly negative range inserts at top", {{-5, -3, "X"}}, "X\nL1\nL2\nL3\nL4\nL5\n"},
      {"empty insertion rewrites unchanged", {{3, 2, ""}}, kFiveLines},
      {"delete everything", {{1, 5, ""}}, ""},
      {"new text of any endings", {{2, 2, "a\r\nb\rc\n"}}, "L1\na\nb\nc\nL3\nL4\nL5\n"},
      {"new text of one empty line", {{2, 2, "\n"}}, "L1\n\nL3\nL4\nL5\n"},
      {"touching replacements", {{2, 3, "A"}, {4, 5, "B"}}, "L1\nA\nB\n"},
      {"replacement then insertion at its line", {{3, 3, "X"}, {3, 2, "Y"}},
       "L1\nL2\nY\nX\nL4\nL5\n"},
      {"insertions at one line in list order", {{3, 2, "Y"}, {3, 1, "Z"}, {3, 2, "W"}},
       "L1\nL2\nY\nZ\nW\nL3\nL4\nL5\n"},
      {"insertion just after a range", {{2, 4, "X"}, {5, 4, "Y"}}, "L1\nX\nY\nL5\n"},
      {"insertions at both ends of a range", {{5, 4, "after"}, {2, 4, "X"}, {2, 1, "before"}},
       "L1\nbefore\nX\nafter\nL5\n"},
      {"insertion between touching ranges", {{2, 3, "A"}, {4, 3, "I"}, {4, 5, "B"}},
       "L1\nA\nI\nB\n"},
      {"numbers count the file as read", {{4, 4, "D"}, {1, 2, "a\nb\nc"}, {3, 2, "I"}},
       "a\nb\nc\nI\nL3\nD\nL5\n"},
      {"past the end clamped, then kept", {{7, 7, "E0"}, {0, 6, "E1_0\nE1_1"}}, "E1_0\nE1_1\nE0\n"},
      {"past the end in list order", {{7, 7, "Y"}, {6, 6, "X"}, {9, 8, "Z"}}, kFiveLines + "Y\nX\nZ\n"},
      {"whole int32 range", {{INT32_MIN, INT32_MAX, "X"}}, "X\n"},
      {"insertion at INT32_MAX appends", {{INT32_MAX, INT32_MIN, "X"}}, kFiveLines + "X\n"},
      {"replacement at INT32_MAX appends", {{INT32_MAX, INT32_MAX, "X"}}, kFiveLines + "X\n"},
      {"more lines than removed", {{5, 5, "a\nb\nc"}}, "L1\nL2\nL3\nL4\na\nb\nc\n"},
      {"fewer lines than removed", {{1, 4, "a"}}, "a\nL5\n"},
  };
  // clang-format on
  TempDir dir;
  for (const Case &c : cases) {
    bool ok = false;
    EXPECT_EQ(edit_file(dir, kFiveLines, c.edits, &ok), c.result) << c.name;
    EXPECT_TRUE(ok) << c.name << ": " << qm_grep_get_last_error();
  }
}

TEST(ApplyFileEdits, OverlapNamesTheLowerEditFirstAndLeavesFileUnchanged) {
  struct Case {
    std::vector<Edit> edits;
    const char *numbers;
  };
  // clang-format off
  const Case cases[] = {
      {{{2, 3, "A"}, {3, 4, "B"}}, "lines 2-3 and 3-4"},
      {{{3, 4, "B"}, {2, 3, "A"}}, "lines 2-3 and 3-4"},
      {{{1, 5, "A"}, {2, 2, "B"}}, "lines 1-5 and 2-2"},
      {{{2, 2, "A"}, {2, 2, "B"}}, "lines 2-2 and 2-2"},
      {{{5, 5, "C"}, {1, 1, "A"}, {4, 6, "B"}}, "lines 4-6 and 5-5"},
      // An insertion strictly inside a replaced range, before any line but
      // its first, collides with it.
      {{{2, 4, "X"}, {3, 2, "Y"}}, "lines 2-4 and 3-2"},
      {{{3, 2, "Y"}, {1, 5, "X"}}, "lines 1-5 and 3-2"},
      {{{4, 5, "A"}, {3, 2, "I"}, {1, 4, "B"}}, "lines 1-4 and 3-2"},
      {{{5, 4, "I"}, {-3, 9, "X"}}, "lines -3-9 and 5-4"},
      // Past the end only what the file has counts: 5-9 keeps line 5.
      {{{5, 9, "A"}, {3, 7, "B"}}, "lines 3-7 and 5-9"},
  };
  // clang-format on
  TempDir dir;
  const std::string original = "L1\r\nL2\nL3\nL4\nL5";  // would be rewritten if written at all
  for (const Case &c : cases) {
    bool ok = true;
    EXPECT_EQ(edit_file(dir, original, c.edits, &ok), original) << c.numbers;
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::string(qm_grep_get_last_error()),
              "Overlapping edit ranges in '" + dir.at("f.txt") + "': " + c.numbers);
  }
}

TEST(ApplyFileEdits, WritesEveryLineWithTheDominantEnding) {
  struct Case {
    const char *name;
    std::string bytes;
    Edit edit;
    std::string result;
  };
  // clang-format off
  const Case cases[] = {
      {"crlf kept for new lines", "a\r\nb\r\nc\r\n", {2, 2, "x\ny"}, "a\r\nx\r\ny\r\nc\r\n"},
      {"minority lf and lone cr become crlf", "a\r\nb\nc\r\nd\re\r\n", {1, 0, ""},
       "a\r\nb\r\nc\r\nd\r\ne\r\n"},
      {"crlf minority becomes lf", "a\r\nb\nc\n", {9, 9, ""}, "a\nb\nc\n"},
      {"tie goes to lf", "a\r\nb\n", {1, 0, ""}, "a\nb\n"},
      {"final newline added", "a\nb", {3, 2, ""}, "a\nb\n"},
      {"empty file gains a line", "", {1, 1, "X"}, "X\n"},
      {"utf8 mark kept", "\xEF\xBB\xBF" "a\nb\n", {1, 1, "\xC3\xA9"}, "\xEF\xBB\xBF\xC3\xA9\nb\n"},
      {"utf8 mark alone when emptied", "\xEF\xBB\xBF" "a\n", {1, 1, ""}, "\xEF\xBB\xBF"},
      {"utf16le stays utf16le", std::string("\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0", 14),
       {2, 2, "\xE2\x82\xAC"}, std::string("\xFF\xFE" "a\0\r\0\n\0\xAC\x20\r\0\n\0", 14)},
      {"utf16be stays utf16be", std::string("\xFE\xFF\0a\0\n", 6), {2, 1, "\xF0\x9F\x98\x80"},
       std::string("\xFE\xFF\0a\0\n\xD8\x3D\xDE\x00\0\n", 12)},
      {"utf16 mark alone when emptied", std::string("\xFF\xFE" "a\0", 4), {1, 1, nullptr},
       "\xFF\xFE"},
  };
  // clang-format on
  TempDir dir;
  for (const Case &c : cases) {
    bool ok = false;
    EXPECT_EQ(edit_file(dir, c.bytes, {c.edit}, &ok), c.result) << c.name;
    EXPECT_TRUE(ok) << c.name << ": " << qm_grep_get_last_error();
  }
}

TEST(ApplyFileEdits, InsertingManyLinesGrowsTheArray) {
  std::string text;
  std::string expected = "L1\n";
  for (int i = 0; i < 1000; ++i) {
    text += std::to_string(i) + "\n";
    expected += std::to_string(i) + "\n";
  }
  expected += "L2\nL3\nL4\nL5\n";
  TempDir dir;
  bool ok = false;
  EXPECT_EQ(edit_file(dir, kFiveLines, {{2, 1, text.c_str()}}, &ok), expected);
  EXPECT_TRUE(ok);
}

// The lines of a text end at its first NUL, so such a file would come back
// cut short: it is refused and left as it is.
TEST(ApplyFileEdits, RefusesFileWithNulBytes) {
  // clang-format off
  const std::string cases[] = {
      std::string("a\nb\0c\nd\n", 8),
      std::string("\xEF\xBB\xBF" "a\n\0", 6),
      std::string("\xFF\xFE" "a\0\n\0\0\0b\0", 10),
  };
  // clang-format on
  TempDir dir;
  for (const std::string &bytes : cases) {
    bool ok = true;
    EXPECT_EQ(edit_file(dir, bytes, {{1, 1, "X"}}, &ok), bytes);
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::string(qm_grep_get_last_error()),
              "File '" + dir.at("f.txt") + "' contains NUL bytes and cannot be edited by line");
  }
}

// A UTF-16 file takes only text it can hold unchanged: bytes that are not
// UTF-8 are refused (the E9 here would swallow the LF and 'n' after it) and
// the file stays byte for byte. The three-byte form of an unpaired surrogate,
// which reading such a file gives, goes back as that surrogate. A UTF-8 file
// takes any bytes.
TEST(ApplyFileEdits, Utf16FileRefusesTextThatIsNotUtf8) {
  TempDir dir;
  const std::string utf16(
      std::string("\xFF\xFE"
                  "a\0\n\0b\0\n\0",
                  10));
  bool ok = true;
  EXPECT_EQ(edit_file(dir, utf16, {{1, 1, "caf\xE9\nnext\nthird"}}, &ok), utf16);
  EXPECT_FALSE(ok);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Text for '" + dir.at("f.txt") +
                "' is not valid UTF-8 and cannot be written to a UTF-16 file");

  EXPECT_EQ(edit_file(dir, utf16,
                      {{1, 1,
                        "\xED\xA0\x80"
                        "\xC3\xA9"}},
                      &ok),
            std::string("\xFF\xFE\x00\xD8\xE9\0\n\0b\0\n\0", 12));
  EXPECT_TRUE(ok);
  EXPECT_EQ(edit_file(dir, "a\nb\n", {{1, 1, "caf\xE9"}}, &ok), "caf\xE9\nb\n");
  EXPECT_TRUE(ok);
}

TEST(ApplyFileEdits, MissingFileFailsWithTheReadersMessage) {
  TempDir dir;
  std::string path = dir.at("missing.txt");
  line_edit edit = {1, 1, "X", nullptr};
  EXPECT_FALSE(apply_file_edits(path.c_str(), &edit, 1));
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot open file '" + path + "': No such file or directory");
}

TEST(ApplyFileEdits, NamedPipeIsRefusedWithoutBlocking) {
  TempDir dir;
  const std::string pipe = dir.at("pipe");
  if (!qg_test::make_fifo(pipe)) GTEST_SKIP() << "no named pipes in folders here";
  line_edit edit = {1, 1, "X", nullptr};
  EXPECT_FALSE(apply_file_edits(pipe.c_str(), &edit, 1));
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot open file '" + pipe + "': Not a regular file");
}

TEST(ApplyFileEdits, NothingToDoFailsSilently) {
  TempDir dir;
  std::string path = dir.write("f.txt", "a");
  line_edit edit = {1, 1, "X", nullptr};
  qm_grep_set_last_error("earlier");
  EXPECT_FALSE(apply_file_edits(nullptr, &edit, 1));
  EXPECT_FALSE(apply_file_edits(path.c_str(), &edit, 0));
  EXPECT_FALSE(apply_file_edits(path.c_str(), &edit, -1));
  EXPECT_FALSE(apply_file_edits(path.c_str(), nullptr, 1));
  EXPECT_STREQ(qm_grep_get_last_error(), "earlier");
  EXPECT_EQ(read_bytes(path), "a");
}

TEST(GrepCoreReplaceLines, ReturnsZeroOrMinusOne) {
  TempDir dir;
  std::string path = dir.write("f.txt", kFiveLines);
  EXPECT_EQ(grep_core_replace_lines(path.c_str(), 2, 4, nullptr), 0);
  EXPECT_EQ(read_bytes(path), "L1\nL5\n");
  EXPECT_EQ(grep_core_replace_lines(path.c_str(), 2, 1, "M"), 0);
  EXPECT_EQ(read_bytes(path), "L1\nM\nL5\n");

  for (const char *missing : {static_cast<const char *>(nullptr), ""}) {
    qm_grep_clear_last_error();
    EXPECT_EQ(grep_core_replace_lines(missing, 1, 1, "x"), -1);
    EXPECT_STREQ(qm_grep_get_last_error(), "Missing file_path");
  }
  EXPECT_EQ(grep_core_replace_lines(dir.at("nope").c_str(), 1, 1, "x"), -1);
}

}  // namespace
