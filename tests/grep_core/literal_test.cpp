// The literal finder: exact and case-folded search, the whole-word rule and
// its restart one byte after a rejected candidate.
#include "support/literal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

constexpr int kNone = 0;

struct Row {
  const char *pattern;
  const char *text;
  bool case_sensitive;
  bool whole_word;
  int col;  // kNone: no match
  int len;
};

void PrintTo(const Row &r, std::ostream *os) {
  *os << "\"" << r.pattern << "\" on \"" << r.text << "\"" << (r.case_sensitive ? "" : " icase")
      << (r.whole_word ? " word" : "");
}

class LiteralRows : public testing::TestWithParam<Row> {};

TEST_P(LiteralRows, FindsFirstAcceptableOccurrence) {
  const Row &r = GetParam();
  int32_t col = -7, len = -7;
  bool found = fixed_find_first(r.pattern, r.text, r.case_sensitive, r.whole_word, &col, &len);
  if (r.col == kNone) {
    EXPECT_FALSE(found);
    EXPECT_EQ(col, -7);
    EXPECT_EQ(len, -7);
  } else {
    ASSERT_TRUE(found);
    EXPECT_EQ(col, r.col);
    EXPECT_EQ(len, r.len);
  }
}

constexpr bool CS = true, IC = false, WORD = true, ANY = false;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Plain, LiteralRows, testing::Values(
    Row{"", "abc", CS, ANY, kNone, 0},
    Row{"", "abc", IC, ANY, kNone, 0},
    Row{"a", "", CS, ANY, kNone, 0},
    Row{"a", "", IC, ANY, kNone, 0},
    Row{"abcd", "abc", CS, ANY, kNone, 0},
    Row{"abcd", "ABC", IC, ANY, kNone, 0},
    Row{"a.c", "abc a.c", CS, ANY, 5, 3},
    Row{"a.c", "abc a.c", IC, ANY, 5, 3},
    Row{"bc", "abc", CS, ANY, 2, 2},
    Row{"abc", "abc", CS, ANY, 1, 3},
    Row{"aab", "aaab", CS, ANY, 2, 3},
    Row{"aab", "aaab", IC, ANY, 2, 3},
    Row{"abc", "ab", IC, ANY, kNone, 0}));  // the text ends mid-comparison

INSTANTIATE_TEST_SUITE_P(Case, LiteralRows, testing::Values(
    Row{"AB", "xaby", IC, ANY, 2, 2},
    Row{"AB", "xaby", CS, ANY, kNone, 0},
    Row{"ab", "xAbY", IC, ANY, 2, 2},
    Row{"x1_", "AX1_", IC, ANY, 2, 3},
    Row{"[", "{[", IC, ANY, 2, 1},  // 0x5B and 0x7B are no case pair
    Row{"@", "`@", IC, ANY, 2, 1},
    Row{"\xC3\xA9", "\xC3\x89", IC, ANY, kNone, 0},
    Row{"\xC3\xA9", "caf\xC3\xA9", IC, ANY, 4, 2},
    Row{"Ab", "aAaB", IC, ANY, 3, 2}));  // first byte matches often in either case

INSTANTIATE_TEST_SUITE_P(WholeWord, LiteralRows, testing::Values(
    Row{"foo", "foo", CS, WORD, 1, 3},
    Row{"foo", "foobar foo", CS, WORD, 8, 3},
    Row{"foo", "foobar FOO", IC, WORD, 8, 3},
    Row{"ab", "abab ab", CS, WORD, 6, 2},
    Row{"ab", "ABAB aB", IC, WORD, 6, 2},
    Row{"aa", "aaa", CS, WORD, kNone, 0},
    Row{"aa", "aaa", IC, WORD, kNone, 0},
    Row{"o", "foo", CS, WORD, kNone, 0},
    Row{"_x", "a _x", CS, WORD, 3, 2},
    Row{"-x", "a-x", CS, WORD, kNone, 0},
    Row{"-x", " -x", CS, WORD, 2, 2},
    Row{"x-", "x-y", CS, WORD, kNone, 0},
    Row{"x-", "x- y", CS, WORD, 1, 2},
    Row{"caf", "caf\xC3\xA9", CS, WORD, 1, 3},
    Row{"\xC3\xA9", "caf\xC3\xA9", CS, WORD, kNone, 0},
    Row{"a a", "a a a", CS, WORD, 1, 3},
    Row{"aba", "ababa aba", CS, WORD, 7, 3}));  // overlapping candidates
// clang-format on

TEST(FixedFindFirst, NullArgumentsGiveFalse) {
  int32_t col = 3;
  EXPECT_FALSE(fixed_find_first(nullptr, "a", true, false, &col, nullptr));
  EXPECT_FALSE(fixed_find_first("a", nullptr, false, false, &col, nullptr));
  EXPECT_EQ(col, 3);
  EXPECT_TRUE(fixed_find_first("a", "b A", false, true, nullptr, nullptr));
}

// The definition, position by position, to check the memchr-driven scans on
// generated inputs (small alphabet so that candidates and rejections abound).
bool find_by_definition(const std::string &pattern, const std::string &text, bool cs, bool ww,
                        int32_t *col) {
  if (pattern.empty() || text.empty()) return false;
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  auto word = [](unsigned char c) { return isalnum(c) || c == '_'; };
  for (size_t p = 0; p + pattern.size() <= text.size(); ++p) {
    bool same = true;
    for (size_t j = 0; j < pattern.size() && same; ++j) {
      auto a = static_cast<unsigned char>(text[p + j]);
      auto b = static_cast<unsigned char>(pattern[j]);
      same = cs ? a == b : lower(a) == lower(b);
    }
    if (!same) continue;
    if (ww && p > 0 && word(static_cast<unsigned char>(text[p - 1]))) continue;
    if (ww && p + pattern.size() < text.size() &&
        word(static_cast<unsigned char>(text[p + pattern.size()]))) {
      continue;
    }
    *col = static_cast<int32_t>(p + 1);
    return true;
  }
  return false;
}

TEST(FixedFindFirst, AgreesWithThePositionByPositionDefinition) {
  std::mt19937 rng(12345);
  const char alphabet[] = "aAbB _-\xC3";
  auto gen = [&](size_t max_len) {
    std::string s(rng() % (max_len + 1), ' ');
    for (char &c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string pattern = gen(3), text = gen(12);
    bool cs = rng() % 2, ww = rng() % 2;
    int32_t want_col = 0, got_col = 0, got_len = 0;
    bool want = find_by_definition(pattern, text, cs, ww, &want_col);
    bool got = fixed_find_first(pattern.c_str(), text.c_str(), cs, ww, &got_col, &got_len);
    ASSERT_EQ(got, want) << pattern << " | " << text << " cs=" << cs << " ww=" << ww;
    if (want) {
      ASSERT_EQ(got_col, want_col) << pattern << " | " << text;
      ASSERT_EQ(got_len, static_cast<int32_t>(pattern.size()));
    }
  }
}

}  // namespace
