// The bounds DFAs against the exact matcher: for generated patterns of both
// syntaxes, folded or not, whole words or not, and lines mostly of ASCII, the
// first match from every start offset must be the exact matcher's (found,
// start, end), and most lines must be decided by the DFAs themselves, so
// that the comparison is not of the exact matcher with itself.
#include "grep_core/regex_dfa_bounds.h"
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"
#include "support/standard_regex_gen.h"

#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>

namespace {

struct found {
  re_result r;
  size_t start, end;
  bool operator==(const found &o) const {
    return r == o.r && (r != RE_MATCH || (start == o.start && end == o.end));
  }
};

found search(const re_program *program, re_scratch *scratch, const std::string &line, size_t from,
             bool one_start) {
  const re_search_how how = {from, one_start || program->anchored, false};
  found f = {RE_NO_MATCH, 0, 0};
  f.r = re_search_at(program, scratch, line.data(), line.size(), &how, &f.start, &f.end);
  return f;
}

// Compares the two programs of one pattern (the bounds DFAs on, and off) on
// `line` from every offset; counts the lines the DFAs decided alone.
void compare(re_program *on, re_program *off, const std::string &pattern, const std::string &line,
             size_t *decided) {
  re_scratch *a = re_scratch_new(on);
  re_scratch *b = re_scratch_new(off);
  ASSERT_TRUE(a != nullptr && b != nullptr);
  int32_t col = 0, len = 0;
  bool by_dfa = false;
  re_find_by_dfa(on, a, line.data(), line.size(), &col, &len, &by_dfa);
  *decided += by_dfa;
  for (size_t from = 0; from <= line.size(); ++from) {
    for (const bool one_start : {false, true}) {
      const found x = search(on, a, line, from, one_start);
      const found y = search(off, b, line, from, one_start);
      ASSERT_TRUE(x == y) << testing::PrintToString(pattern) << " on "
                          << testing::PrintToString(line) << " from " << from
                          << (one_start ? " anchored" : "") << ": " << x.r << " " << x.start << "-"
                          << x.end << " vs " << y.r << " " << y.start << "-" << y.end;
    }
  }
  re_scratch_free(a);
  re_scratch_free(b);
}

std::string ascii_mostly(std::string line, std::mt19937 &rng) {
  if (rng() % 4 == 0) return line;  // with its bytes beyond ASCII: undecided, then exact
  std::string out;
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x80) out += c;
  }
  return out;
}

TEST(RegexBounds, AgreeWithTheExactMatcherFromEveryOffset) {
  auto choose = qg_test::seeded_choices(2901);
  std::mt19937 rng(29);
  for (const bool standard : {true, false}) {
    size_t decided = 0, lines = 0;
    for (int i = 0; i < 4000; ++i) {
      std::string pattern, line;
      if (standard) {
        const qg_test::standard_case c = qg_test::generate_standard_case(choose);
        pattern = c.pattern;
        line = ascii_mostly(c.line, rng);
      } else {
        auto bytes = [&](const char *from, size_t max_len) {
          std::string s(rng() % (max_len + 1), ' ');
          for (char &ch : s) ch = from[rng() % strlen(from)];
          return s;
        };
        pattern = bytes("ab.*+?|[]^$\\-dwsA=_", 8);
        line = bytes("aAb-=_ [|\\d1\x80", 40);
      }
      const re_options options = {rng() % 3 != 0,
                                  nullptr,
                                  nullptr,
                                  standard ? RE_SYNTAX_STANDARD : RE_SYNTAX_DIALECT,
                                  standard && rng() % 5 == 0,
                                  false,
                                  false};
      re_program *on = re_compile_with(pattern.c_str(), &options, nullptr);
      re_program *off = re_compile_with(pattern.c_str(), &options, nullptr);
      if (on == nullptr || off == nullptr) {
        re_program_free(on);
        re_program_free(off);
        continue;
      }
      off->no_dfa = true;
      ++lines;
      compare(on, off, pattern, line, &decided);
      re_program_free(on);
      re_program_free(off);
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(decided, lines / 2) << (standard ? "standard" : "dialect");
  }
}

// The reversed program reads a match back from its end: on lines built of
// the pattern's own matches, the start found is the exact matcher's.
TEST(RegexBounds, ReverseFindsTheStartOfLongMatches) {
  const struct {
    const char *pattern, *line;
    size_t start, end;
  } rows[] = {
      {"[a-z]+_[a-z]+\\(", "x = snake_case(1)", 4, 15},
      {"a|ab|abc", "zzabc", 2, 3},
      {"(?:ab)*?c", "ababc", 0, 5},
      {"\\bfoo\\b", "foofoo foo", 7, 10},
      {"x*$", "abxx", 2, 4},
      {"^$", "", 0, 0},
      {"[A-Z]{4,}[0-9]+", "ABCDEFG12 HIJK3", 0, 9},
  };
  for (const auto &row : rows) {
    const re_options options = {true, nullptr, nullptr, RE_SYNTAX_STANDARD, false, false, false};
    re_program *program = re_compile_with(row.pattern, &options, nullptr);
    ASSERT_NE(program, nullptr) << row.pattern;
    ASSERT_NE(program->reverse, nullptr) << row.pattern;
    re_scratch *scratch = re_scratch_new(program);
    int32_t col = 0, len = 0;
    bool decided = false;
    const std::string line = row.line;
    EXPECT_EQ(re_find_by_dfa(program, scratch, line.data(), line.size(), &col, &len, &decided),
              RE_MATCH)
        << row.pattern;
    EXPECT_TRUE(decided) << row.pattern;
    EXPECT_EQ(static_cast<size_t>(col - 1), row.start) << row.pattern;
    EXPECT_EQ(static_cast<size_t>(col - 1 + len), row.end) << row.pattern;
    re_scratch_free(scratch);
    re_program_free(program);
  }
}

}  // namespace
