// Line arrays: the capacity rules and the split and join conversions.
#include "grep_core/line_array.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const line_array &a) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < a.count; ++i) out.emplace_back(a.items[i]);
  return out;
}

std::vector<std::string> split(const std::string &text) {
  line_array a;
  EXPECT_TRUE(split_into_lines(text.c_str(), &a));
  std::vector<std::string> out = lines_of(a);
  la_free(&a);
  return out;
}

std::string join(line_array *a, int line_ending) {
  char *text = join_lines(a, line_ending);
  EXPECT_NE(text, nullptr);
  std::string out = text != nullptr ? text : "";
  free(text);
  return out;
}

struct SplitCase {
  const char *text;
  std::vector<std::string> lines;
};

TEST(SplitIntoLines, TableOfEndings) {
  const SplitCase cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\n\n", {"a", ""}},
      {"\n", {""}},
      {"\r\n", {""}},
      {"\r", {""}},
      {"\n\n", {"", ""}},
      {"\r\r\n", {"", ""}},
      {"\n\r", {"", ""}},
      {"a\r\r", {"a", ""}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"one\r\ntwo\nthree\rfour", {"one", "two", "three", "four"}},
      {"caf\xC3\xA9\n\xFF\x80 x\n", {"caf\xC3\xA9", "\xFF\x80 x"}},
  };
  for (const SplitCase &c : cases) {
    EXPECT_EQ(split(c.text), c.lines) << "text: " << testing::PrintToString(std::string(c.text));
  }
}

// Cutting in place finds exactly the lines that copying finds.
std::vector<std::string> split_views(const std::string &text) {
  std::string writable = text;
  line_array a;
  EXPECT_TRUE(split_into_line_views(writable.data(), &a));
  std::vector<std::string> out = lines_of(a);
  for (int32_t i = 0; i < a.count; ++i) {
    EXPECT_GE(a.items[i], writable.data()) << "line " << i << " points into the text";
    EXPECT_LE(a.items[i], writable.data() + writable.size());
  }
  la_free_views(&a);
  return out;
}

TEST(SplitIntoLineViews, AgreesWithSplitIntoLines) {
  std::vector<std::string> texts = {"",          "a",        "a\n",     "a\n\n",   "\n",
                                    "\r\n",      "\r",       "\n\n",     "\r\r\n",   "\n\r",
                                    "a\r\r",     "a\r\nb\rc\nd", "x\r\n\r\ny", "\r\r\r",
                                    std::string("a\0b\nc", 5)};
  // Every text of up to six bytes over the alphabet {a, CR, LF}.
  const char alphabet[] = {'a', '\r', '\n'};
  for (int len = 1; len <= 6; ++len) {
    int combos = 1;
    for (int i = 0; i < len; ++i) combos *= 3;
    for (int k = 0; k < combos; ++k) {
      std::string t;
      for (int i = 0, v = k; i < len; ++i, v /= 3) t += alphabet[v % 3];
      texts.push_back(t);
    }
  }
  for (const std::string &t : texts) {
    EXPECT_EQ(split_views(t), split(t)) << testing::PrintToString(t);
  }
}

TEST(SplitIntoLineViews, GrowsTheBlockForManyLines) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "l" + std::to_string(i) + "\n";
  std::vector<std::string> lines = split_views(text);
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines[999], "l999");
}

TEST(SplitIntoLines, NullTextGivesNoLinesAndAFreshBlock) {
  line_array a;
  ASSERT_TRUE(split_into_lines(nullptr, &a));
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(a.capacity, 256);
  ASSERT_NE(a.items, nullptr);
  la_free(&a);
}

TEST(SplitIntoLines, StopsAtTheFirstNul) {
  const std::string text("a\0b\nc", 5);
  EXPECT_EQ(split(text), std::vector<std::string>{"a"});
}

TEST(SplitIntoLines, GrowsTheBlockByDoubling) {
  struct Row {
    int lines;
    int32_t capacity;
  };
  for (Row row : {Row{255, 256}, Row{256, 256}, Row{257, 512}, Row{300, 512}, Row{1025, 2048}}) {
    std::string text;
    for (int i = 0; i < row.lines; ++i) text += "l" + std::to_string(i) + "\n";
    line_array a;
    ASSERT_TRUE(split_into_lines(text.c_str(), &a));
    EXPECT_EQ(a.count, row.lines);
    EXPECT_EQ(a.capacity, row.capacity) << row.lines << " lines";
    EXPECT_STREQ(a.items[row.lines - 1], ("l" + std::to_string(row.lines - 1)).c_str());
    la_free(&a);
  }
}

TEST(LineArray, InitGivesAZeroFilledBlockOf256Slots) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  EXPECT_EQ(a.count, 0);
  ASSERT_EQ(a.capacity, 256);
  for (int i = 0; i < a.capacity; ++i) ASSERT_EQ(a.items[i], nullptr) << "slot " << i;
  la_free(&a);
}

TEST(LineArray, AppendNullOnAFullBlockDoublesItAndAddsAnEmptyLine) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  for (int i = 0; i < 256; ++i) ASSERT_TRUE(la_append(&a, "x"));
  EXPECT_EQ(a.capacity, 256);
  ASSERT_TRUE(la_append(&a, nullptr));
  EXPECT_EQ(a.capacity, 512);
  EXPECT_EQ(a.count, 257);
  EXPECT_STREQ(a.items[256], "");
  EXPECT_STREQ(a.items[255], "x");
  la_free(&a);
}

TEST(LineArray, AppendCopiesTheText) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  char text[] = "abc";
  ASSERT_TRUE(la_append(&a, text));
  text[0] = 'z';
  EXPECT_STREQ(a.items[0], "abc");
  la_free(&a);
}

TEST(LineArray, GrowKeepsTheSlotsAndDoubles) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  ASSERT_TRUE(la_append(&a, "kept"));
  ASSERT_TRUE(la_grow(&a));
  EXPECT_EQ(a.capacity, 512);
  ASSERT_TRUE(la_grow(&a));
  EXPECT_EQ(a.capacity, 1024);
  EXPECT_EQ(a.count, 1);
  EXPECT_STREQ(a.items[0], "kept");
  la_free(&a);
}

TEST(LineArray, ReleasedArrayTakesNoLinesAndFreesTwice) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  ASSERT_TRUE(la_append(&a, "x"));
  la_free(&a);
  EXPECT_EQ(a.items, nullptr);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(a.capacity, 0);
  EXPECT_FALSE(la_append(&a, "y"));
  EXPECT_FALSE(la_grow(&a));
  la_free(&a);
  EXPECT_EQ(a.items, nullptr);
}

TEST(LineArray, FreeWithNullItemsOnlyClearsTheCounts) {
  line_array a{nullptr, 3, 7};
  la_free(&a);
  EXPECT_EQ(a.items, nullptr);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(a.capacity, 0);
}

TEST(JoinLines, EveryLineGetsTheChosenEnding) {
  line_array a;
  ASSERT_TRUE(split_into_lines("a\nb\r\nc", &a));
  EXPECT_EQ(join(&a, 1), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(join(&a, 0), "a\nb\nc\n");
  EXPECT_EQ(join(&a, 7), "a\nb\nc\n");
  EXPECT_EQ(join(&a, -1), "a\nb\nc\n");
  EXPECT_EQ(lines_of(a), (std::vector<std::string>{"a", "b", "c"}));
  la_free(&a);
}

TEST(JoinLines, EmptyArraysAndEmptyLines) {
  line_array a;
  ASSERT_TRUE(la_init(&a));
  EXPECT_EQ(join(&a, 1), "");
  ASSERT_TRUE(la_append(&a, ""));
  EXPECT_EQ(join(&a, 0), "\n");
  la_free(&a);
  EXPECT_EQ(join(&a, 0), "");  // a released array joins to the empty text
}

TEST(JoinLines, SplitThenJoinRoundTripsTextsInOneStyle) {
  const char *texts[] = {"", "a\n", "a\nb\n", "\n\n\n", "x\xC3\xA9y\n\xFF\n"};
  for (const char *text : texts) {
    line_array a;
    ASSERT_TRUE(split_into_lines(text, &a));
    EXPECT_EQ(join(&a, 0), text);
    la_free(&a);
  }
  line_array a;
  ASSERT_TRUE(split_into_lines("a\r\nb\r\n", &a));
  EXPECT_EQ(join(&a, 1), "a\r\nb\r\n");
  la_free(&a);
}

}  // namespace
