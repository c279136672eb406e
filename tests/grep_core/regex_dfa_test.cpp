// The lazy DFA against the exact matcher: over whole texts of many lines, in
// windows of any size, the lines it accepts must be the lines that hold a
// match (the exact matcher's answer line by line), for both syntaxes, with
// anchors, word boundaries, case folding, every line ending, and caches that
// fill and clear.
#include "grep_core/regex.h"
#include "grep_core/regex_dfa.h"
#include "grep_core/regex_program.h"
#include "support/dfa_lines.h"
#include "support/standard_regex_gen.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct compiled {
  re_program *program = nullptr;
  re_scratch *scratch = nullptr;
  re_dfa *dfa = nullptr;

  compiled(const std::string &pattern, re_syntax syntax, bool case_sensitive, bool whole_word) {
    const re_options options = {case_sensitive, nullptr, nullptr, syntax, whole_word, false, false};
    program = re_compile_with(pattern.c_str(), &options, nullptr);
    if (program == nullptr) return;
    scratch = re_scratch_new(program);
    dfa = re_dfa_new(program);
  }
  compiled(const compiled &) = delete;
  compiled &operator=(const compiled &) = delete;
  ~compiled() {
    re_dfa_free(dfa);
    re_scratch_free(scratch);
    re_program_free(program);
  }
};

std::vector<int> exact_lines(const compiled &c, const std::string &text) {
  return qg_test::exact_lines(c.program, c.scratch, text);
}

std::vector<int> dfa_lines(const compiled &c, const std::string &text, size_t window) {
  return qg_test::dfa_lines(c.dfa, text, window);
}

struct text_case {
  const char *pattern;
  re_syntax syntax;
  bool case_sensitive;
  bool whole_word;
  std::string text;
  std::vector<int> lines;  // those that hold a match
};

constexpr re_syntax kStd = RE_SYNTAX_STANDARD;
constexpr re_syntax kDialect = RE_SYNTAX_DIALECT;

TEST(LazyDfa, AcceptsTheLinesThatHoldAMatch) {
  // clang-format off
  const text_case cases[] = {
      {"^$", kStd, true, false, std::string("a\n\nb\r\n\r\nc\r\rd\n", 13), {2, 4, 6}},
      {"^$", kDialect, true, false, "a\n\n", {2}},
      {"^$", kStd, true, false, "a\n", {}},  // no empty line after the last break
      {"b$", kStd, true, false, "ab\r\nb a\rab", {1, 3}},
      {"b$", kDialect, true, false, "ab\r\nb a\rab", {1, 3}},
      {"^b", kDialect, true, false, "ab\nba\r\nb", {2, 3}},
      {"^b", kStd, true, false, "ab\nba\r\nb", {2, 3}},
      {"^b|x^", kStd, true, false, "ab\nba\nx", {2}},
      {"\\bab\\b", kStd, true, false, "ab\nxab\nab_\n-ab-\nAB", {1, 4}},
      {"\\bab\\b", kStd, false, false, "ab\nxab\nab_\n-ab-\nAB", {1, 4, 5}},
      {"ab", kStd, true, true, "ab\nxab\nab_\n-ab-", {1, 4}},
      {"\\B", kStd, true, false, "\n-\nab\na", {2, 3}},  // never in an empty line
      {"\\b", kStd, true, false, "\n-\nab", {3}},
      {"\\w{3,}\\s*=", kStd, true, false, "int abc = 1;\nx=2\nlonger_name\t= 3", {1, 3}},
      {"[A-Z]{4,}[0-9]+", kStd, false, false, "abcd12\nABC1\nxAbCdE9", {1, 3}},
      {"a.c", kDialect, false, false, "AxC\nac\na\xff" "c", {1, 3}},
      {"x*", kStd, true, false, "\n\nz", {1, 2, 3}},
      {"\\d$", kStd, true, false, "1\r\n2\r3", {1, 2, 3}},
      {"", kDialect, true, false, "a\r\n\r\n", {1, 2}},
  };
  // clang-format on
  for (const text_case &t : cases) {
    compiled c(t.pattern, t.syntax, t.case_sensitive, t.whole_word);
    ASSERT_NE(c.dfa, nullptr) << t.pattern;
    EXPECT_EQ(exact_lines(c, t.text), t.lines) << t.pattern;  // the table is right
    for (const size_t window : {size_t{1}, size_t{2}, size_t{3}, size_t{1} << 20}) {
      EXPECT_EQ(dfa_lines(c, t.text, window), t.lines)
          << t.pattern << " on " << testing::PrintToString(t.text) << ", window " << window;
    }
  }
}

// A text of generated lines, each ended by LF, CR LF or CR (or, the last,
// by nothing).
std::string join_lines(const std::vector<std::string> &lines, std::mt19937 &rng) {
  static const char *endings[] = {"\n", "\r\n", "\r"};
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || rng() % 2) text += endings[rng() % 3];
  }
  return text.substr(0, text.find('\0'));  // a text ends at its first NUL
}

// Every construct of the standard syntax, with and without folding and
// whole words, over texts of a few lines and texts long enough to be read as
// two streams, in windows of any size: the DFA never loses a line that holds
// a match, and on ASCII texts (where it reads nothing widely) it accepts
// exactly those.
TEST(LazyDfa, GeneratedTextsAgreeWithTheExactMatcher) {
  auto choose = qg_test::seeded_choices(20261210);
  std::mt19937 rng(28);
  size_t compared = 0, accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    const qg_test::standard_case first = qg_test::generate_standard_case(choose);
    compiled c(first.pattern, kStd, rng() % 3 != 0, rng() % 5 == 0);
    if (c.program == nullptr || c.dfa == nullptr) continue;
    const bool long_text = i % 20 == 0;
    std::vector<std::string> lines = {first.line};
    for (size_t k = long_text ? 300 + rng() % 1200 : rng() % 6; k > 0; --k) {
      lines.push_back(!long_text || rng() % 50 == 0
                          ? qg_test::generate_standard_case(choose).line
                          : std::string(rng() % 40, "ab _;x"[rng() % 6]));
    }
    const std::string text = join_lines(lines, rng);
    const size_t window = rng() % 2 ? 1 + rng() % 64 : (size_t{9000} << (rng() % 8));
    ++compared;
    accepted += !dfa_lines(c, text, window).empty();
    ASSERT_TRUE(qg_test::dfa_agrees(c.dfa, c.program, c.scratch, text, window,
                                    qg_test::is_ascii(text)))
        << testing::PrintToString(first.pattern) << " on " << testing::PrintToString(text)
        << ", window " << window;
  }
  EXPECT_GT(compared, 2000u);
  EXPECT_GT(accepted, compared / 5);
}

// A pattern whose DFA has millions of states fills the cache again and again
// on random text: the DFA gives up rather than build a state for every few
// bytes, and what it accepted before is still right.
TEST(LazyDfa, GivesUpWhenTheCacheClearsTooOften) {
  compiled c("(a|b)*a(a|b){20}c", kStd, true, false);
  ASSERT_NE(c.dfa, nullptr);
  std::mt19937 rng(7);
  std::string text;
  for (int line = 0; line < 64; ++line) {
    for (int i = 0; i < 4096; ++i) text += static_cast<char>('a' + rng() % 2);
    text += '\n';
  }
  std::vector<int> got = dfa_lines(c, text, size_t{1} << 20);
  ASSERT_FALSE(got.empty());
  EXPECT_LT(got.back(), 0) << "the DFA should give up";
  got.pop_back();
  const std::vector<int> want = exact_lines(c, text);
  ASSERT_LE(got.size(), want.size());
  EXPECT_EQ(got, std::vector<int>(want.begin(), want.begin() + static_cast<long>(got.size())));

  // The same pattern on text that needs few states never gives up.
  const std::string tame(1 << 20, 'b');
  EXPECT_EQ(dfa_lines(c, tame, size_t{1} << 20), std::vector<int>{});
}

TEST(LazyDfa, LargeProgramsAndOptedOutOnesHaveNone) {
  std::string huge;
  for (int i = 0; i < 50000; ++i) huge += "\\w";
  compiled big(huge, kStd, true, false);
  ASSERT_NE(big.program, nullptr);
  EXPECT_EQ(big.dfa, nullptr);  // its working memory alone would pass the bound

  const re_options options = {true, nullptr, nullptr, kStd, false, false, false};
  re_program *program = re_compile_with("a+b", &options, nullptr);
  ASSERT_NE(program, nullptr);
  program->no_dfa = true;
  EXPECT_EQ(re_dfa_new(program), nullptr);
  re_program_free(program);
}

bool stop_now(void *) { return true; }

TEST(LazyDfa, StopsWhenTheStopCheckSaysSo) {
  std::string many = "w0z";
  for (int i = 1; i < 3000; ++i) many += "|w" + std::to_string(i) + "z";
  compiled c(many, kStd, true, false);
  ASSERT_NE(c.dfa, nullptr);
  re_dfa_set_stop(c.dfa, stop_now, nullptr);
  // Building the states of a long text takes more than one stop interval.
  std::string text;
  for (int i = 0; i < 400; ++i) text += "w" + std::to_string(i * 7919) + " ";
  re_dfa_result r = RE_DFA_NO_MATCH;
  for (int i = 0; i < 50 && r == RE_DFA_NO_MATCH; ++i) r = re_dfa_line(c.dfa, text.data(), text.size());
  EXPECT_EQ(r, RE_DFA_STOPPED);
}

}  // namespace
