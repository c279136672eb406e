#include "read_core/read_lines.h"
#include "grep_core/last_error.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

using qg_test::TempDir;

// The result text, or "<null: message>" when the reader failed.
std::string read_lines(const std::string &path, int start, int end) {
  char *text = grep_core_read_lines(path.c_str(), start, end);
  if (text == nullptr) return std::string("<null: ") + qm_grep_get_last_error() + ">";
  std::string out = text;
  free(text);
  return out;
}

// Every kind of ending: a CR LF, b LF, empty LF, c CR (a lone CR ends a
// line), empty CR LF, d without a break. Six lines, as search and edits count.
const char kEndingMix[] = "a\r\nb\n\nc\r\r\nd";

TEST(ReadLines, SelectionTable) {
  TempDir dir;
  std::string path = dir.write("mix.txt", kEndingMix);
  const std::string all = "1: a\n2: b\n3: \n4: c\n5: \n6: d\n";
  struct Case {
    int start, end;
    std::string expected;
  };
  const Case cases[] = {
      {1, 2, "1: a\n2: b\n"},
      {2, 3, "2: b\n3: \n"},
      {1, 1, "1: a\n"},
      {6, 9, "6: d\n"},
      {4, 5, "4: c\n5: \n"},
      {3, 0, "3: \n4: c\n5: \n6: d\n"},
      {3, -1, "3: \n4: c\n5: \n6: d\n"},
      {0, 0, all},
      {0, 2, all},
      {-5, -1, all},
      {INT32_MIN, INT32_MAX, all},
      {7, 9, "<null: File has only 6 lines, requested start at line 7>"},
      {4, 2, "<null: start_line (4) must be <= end_line (2)>"},
      {INT32_MAX, INT32_MAX, "<null: File has only 6 lines, requested start at line 2147483647>"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(read_lines(path, c.start, c.end), c.expected) << c.start << ".." << c.end;
  }
}

TEST(ReadLines, LineCountCorners) {
  TempDir dir;
  struct Case {
    std::string bytes;
    int start, end;
    std::string expected;
  };
  const Case cases[] = {
      {"", 0, 0, ""},
      {"", 1, 1, "<null: File has only 0 lines, requested start at line 1>"},
      {"one\n", 2, 0, "<null: File has only 1 lines, requested start at line 2>"},
      {"\n", 0, 0, "1: \n"},
      {"a\rb\n", 0, 0, "1: a\n2: b\n"},  // a lone CR ends a line
      {"x\ry\r", 0, 0, "1: x\n2: y\n"},  // CR-only endings
      {"\r\r", 2, 2, "2: \n"},
      {std::string("x\ny\0z\nw\n", 8), 0, 0, "1: x\n2: y\n"},  // the text ends at NUL
      {"\xEF\xBB\xBFhi\r\n", 1, 1, "1: hi\n"},
      {std::string("\xFF\xFEh\0i\0\r\0\n\0j\0", 12), 0, 0, "1: hi\n2: j\n"},
      {std::string("\xFE\xFF\0h\0\n", 6), 1, 1, "1: h\n"},
  };
  for (const Case &c : cases) {
    std::string path = dir.write("corner", c.bytes);
    EXPECT_EQ(read_lines(path, c.start, c.end), c.expected);
  }
}

TEST(ReadLines, FailuresNameTheirCause) {
  EXPECT_EQ(read_lines("", 0, 0), "<null: Missing file_path>");
  EXPECT_EQ(grep_core_read_lines(nullptr, 1, 2), nullptr);
  EXPECT_STREQ(qm_grep_get_last_error(), "Missing file_path");
  TempDir dir;
  std::string missing = dir.at("none.txt");
  EXPECT_EQ(read_lines(missing, 0, 0),
            "<null: Cannot open file '" + missing + "': No such file or directory>");
}

TEST(ReadLines, BoundsAreComparedBeforeTheFileIsOpened) {
  EXPECT_EQ(read_lines("/nonexistent/file", 3, 1),
            "<null: start_line (3) must be <= end_line (1)>");
}

}  // namespace
