// The pattern dialect, one row per rule or corner, and the budgets that keep
// hostile patterns from crashing or stalling a search.
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"
#include "grep_core/regex_dfa.h"
#include "support/regex_named_ops.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "support/regex_reference.h"
#include "support/test_os.h"

namespace {

constexpr int kNone = 0;  // expected column of a row that must not match

struct Row {
  const char *pattern;
  const char *text;
  bool case_sensitive;
  int col;  // kNone: no match
  int len;
};

void PrintTo(const Row &r, std::ostream *os) {
  *os << "/" << r.pattern << "/ on \"" << r.text << "\"" << (r.case_sensitive ? "" : " (icase)");
}

class RegexRows : public testing::TestWithParam<Row> {};

TEST_P(RegexRows, FindsFirstMatch) {
  const Row &r = GetParam();
  int32_t col = -7, len = -7;
  bool found = regex_find_first(r.pattern, r.text, r.case_sensitive, &col, &len);
  if (r.col == kNone) {
    EXPECT_FALSE(found);
    EXPECT_EQ(col, -7);  // untouched on false
    EXPECT_EQ(len, -7);
  } else {
    ASSERT_TRUE(found);
    EXPECT_EQ(col, r.col);
    EXPECT_EQ(len, r.len);
  }
}

constexpr bool CS = true;
constexpr bool IC = false;

// clang-format off
INSTANTIATE_TEST_SUITE_P(EmptyAndAnchors, RegexRows, testing::Values(
    Row{"", "", CS, 1, 0},
    Row{"", "abc", CS, 1, 0},
    Row{"^", "", CS, 1, 0},
    Row{"^", "abc", CS, 1, 0},
    Row{"$", "abc", CS, 4, 0},
    Row{"$", "", CS, 1, 0},
    Row{"abc$", "abcabc", CS, 4, 3},
    Row{"^abc", "xabc", CS, kNone, 0},
    Row{"^abc", "abcx", CS, 1, 3},
    Row{"a$|b", "ab", CS, 2, 1},
    Row{"a$|b", "ba", CS, 1, 1},
    Row{"$x", "a$x", CS, 2, 2},
    Row{"$$", "a$", CS, 2, 1},
    Row{"$$", "$a", CS, kNone, 0},
    Row{"$*", "abc", CS, 1, 0},
    Row{"a|^b", "b", CS, kNone, 0},
    Row{"a|^b", "x^b", CS, 2, 2},
    Row{"^a|b", "xb", CS, kNone, 0},
    Row{"^a|b", "b", CS, 1, 1},
    Row{"^*", "*x", CS, 1, 1},
    Row{"*a", "x*a", CS, 2, 2},
    Row{"\\d$", "a1", CS, 2, 1},
    Row{"\\d$|x", "x", CS, kNone, 0},  // the escape is not divided from "$|x"
    Row{"\\d$|x", "1x", CS, 1, 2}));

INSTANTIATE_TEST_SUITE_P(Quantifiers, RegexRows, testing::Values(
    Row{"x*", "abc", CS, 1, 0},
    Row{".", "", CS, kNone, 0},
    Row{"a?", "", CS, 1, 0},
    Row{"a.*b", "aXbYb", CS, 1, 5},
    Row{".*", "hello", CS, 1, 5},
    Row{"colou?r", "my color", CS, 4, 5},
    Row{"colou?r", "my colour", CS, 4, 6},
    Row{"\\d+\\.\\d+", "v 10.25x", CS, 3, 5},
    Row{"\\s+", "a \t b", CS, 2, 3},
    Row{"a+", "bbb", CS, kNone, 0},
    Row{"a+b", "xaaab", CS, 2, 4},
    Row{"a**", "aaa*", CS, 1, 4},
    Row{"a**", "aaa", CS, kNone, 0},
    Row{"a+?", "aa?", CS, 1, 3},
    Row{"a+?", "aa", CS, kNone, 0},
    Row{"a?a", "a", CS, 1, 1},         // '?' gives its byte back
    Row{"a*a*c", "aaac", CS, 1, 4},
    Row{"[ab]+c", "xbabc", CS, 2, 4},  // quantified class
    Row{"\\w*_SUSPEND", "X_SUSPEND", CS, 1, 9},
    Row{"+", "a+b", CS, 2, 1}));       // a leading quantifier is a literal byte

INSTANTIATE_TEST_SUITE_P(Alternation, RegexRows, testing::Values(
    Row{"a|ab", "ab", CS, 1, 1},
    Row{"ab|a", "ab", CS, 1, 2},
    Row{"ab|", "ab", CS, 1, 2},
    Row{"ab|", "zab", CS, 1, 0},
    Row{"|ab", "zab", CS, 1, 0},
    Row{"x|y", "aay", CS, 3, 1},
    Row{"\\d|x", "x", CS, kNone, 0},
    Row{"\\d|x", "a7", CS, 2, 1},
    Row{"a|\\d|c", "c", CS, kNone, 0},
    Row{"a|\\d|c", "b3", CS, 2, 1},
    Row{"a|\\d|c", "a", CS, 1, 1},
    Row{"\\dx|y", "y", CS, kNone, 0},
    Row{"\\dx|y", "5y", CS, 1, 2},
    Row{"x\\d|y", "y", CS, 1, 1},
    Row{"a]|b", "b", CS, kNone, 0},
    Row{"a]|b", "xa]", CS, 2, 2},
    Row{"[[]a|b", "b", CS, kNone, 0},
    Row{"[[]a|b", "[a", CS, 1, 2},
    Row{"][a|b]", "]a", CS, 1, 2},  // left side's class ends at the bar
    Row{"][a|b]", "b]", CS, 1, 2},
    Row{"a\\|b", "a|b", CS, 1, 3},
    Row{"a\\|b", "b", CS, kNone, 0},
    Row{"ab|cd|ef", "xxef", CS, 3, 2},
    Row{"ab|cd|ef", "xxEF", IC, 3, 2},  // six possible first bytes: the bit-set filter
    Row{"|ab", "zab", IC, 1, 0}));      // an empty first alternative: no first-byte filter

INSTANTIATE_TEST_SUITE_P(Literals, RegexRows, testing::Values(
    Row{"(a)", "(a)", CS, 1, 3},
    Row{"(a)", "a", CS, kNone, 0},
    Row{"a{2}", "a{2}", CS, 1, 4},
    Row{"a{2}", "aa", CS, kNone, 0},
    Row{"a\\", "a\\", CS, 1, 2},
    Row{"\\", "x\\", CS, 2, 1},
    Row{"\\.", "abc", CS, kNone, 0},
    Row{"\\.", "a.c", CS, 2, 1},
    Row{"\\n\\t", "x nt", CS, 3, 2},
    Row{"a.c", "abc", CS, 1, 3},
    Row{"}", "{}", CS, 2, 1}));

INSTANTIATE_TEST_SUITE_P(Classes, RegexRows, testing::Values(
    Row{"[]", "a]", CS, kNone, 0},
    Row{"[]abc]", "abc]", CS, kNone, 0},
    Row{"[^]", "z", CS, 1, 1},
    Row{"[^]", "", CS, kNone, 0},
    Row{"[^", "z", CS, 1, 1},
    Row{"[", "[x", CS, kNone, 0},
    Row{"[ab", "xb", CS, 2, 1},
    Row{"[a|b]", "|", CS, 1, 1},
    Row{"[\\d]", "d", CS, 1, 1},
    Row{"[\\d]", "\\", CS, 1, 1},
    Row{"[\\d]", "5", CS, kNone, 0},
    Row{"[\\]", "\\", CS, 1, 1},
    Row{"[a-c-e]", "-", CS, 1, 1},
    Row{"[a-c-e]", "e", CS, 1, 1},
    Row{"[a-c-e]", "d", CS, kNone, 0},
    Row{"[a--]", "a-", CS, kNone, 0},
    Row{"[a-]", "-", CS, 1, 1},
    Row{"[-a]", "a", CS, 1, 1},
    Row{"[c-a]", "abc", CS, kNone, 0},
    Row{"[^a-z]", "abC", CS, 3, 1},
    Row{"[^a-z]", "abC", IC, kNone, 0},
    Row{"[Z-a]", "_", CS, 1, 1},
    Row{"[Z-a]", "_", IC, kNone, 0}));

INSTANTIATE_TEST_SUITE_P(CaseAndEscapes, RegexRows, testing::Values(
    Row{"[A-Z]", "q", IC, 1, 1},
    Row{"[A-Z]", "q", CS, kNone, 0},
    Row{"A", "a", IC, 1, 1},
    Row{"A", "a", CS, kNone, 0},
    Row{"\\A", "a", IC, kNone, 0},
    Row{"\\A", "A", IC, 1, 1},
    Row{"[Q]", "q", IC, 1, 1},
    Row{"\\d", "ab9", CS, 3, 1},
    Row{"\\D", "99x", CS, 3, 1},
    Row{"\\w", "-_", CS, 2, 1},
    Row{"\\W", "a_1-", CS, 4, 1},
    Row{"\\s", "a\vb", CS, 2, 1},
    Row{"\\S", " \t\r\nx", CS, 5, 1}));

INSTANTIATE_TEST_SUITE_P(HighBytes, RegexRows, testing::Values(
    Row{"[a-z]", "\xC3\xA9", CS, kNone, 0},
    Row{"\\w", "\xC3\xA9", CS, kNone, 0},
    Row{"\\W", "\xC3\xA9", CS, 1, 1},
    Row{"[\x80-\xFF]", "a\xC3\xA9", CS, 2, 1},
    Row{"[\x80-\xFF]+", "a\xC3\xA9", CS, 2, 2},
    Row{"[a-\xC3]", "\xC3", CS, kNone, 0},  // ASCII up to a high byte: empty
    Row{"\xC3\xA9", "caf\xC3\xA9", IC, 4, 2},
    Row{"\xC3\xA9", "CAF\xC3\x89", IC, kNone, 0}));
// clang-format on

TEST(RegexFindFirst, NullArgumentsGiveFalse) {
  int32_t col = 5;
  EXPECT_FALSE(regex_find_first(nullptr, "abc", true, &col, nullptr));
  EXPECT_FALSE(regex_find_first("a", nullptr, true, &col, nullptr));
  EXPECT_EQ(col, 5);
}

TEST(RegexFindFirst, OutputsAreOptional) {
  EXPECT_TRUE(regex_find_first("b", "ab", true, nullptr, nullptr));
  int32_t col = 0;
  EXPECT_TRUE(regex_find_first("b", "ab", true, &col, nullptr));
  EXPECT_EQ(col, 2);
}

// The matcher leaves out attempts and give-back tries that cannot succeed,
// filters lines by literals and bounds left alternatives in place; on short
// generated inputs, where no budget is reached, its results must be those of
// the plain definition.
struct Alphabets {
  const char *pattern_bytes;
  const char *text_bytes;
  size_t max_pattern, max_text;
};

class GeneratedInputs : public testing::TestWithParam<Alphabets> {};

// Whether the lazy DFA says the line `text` holds a match of the dialect's
// `pattern`.
bool dfa_finds(const std::string &pattern, const std::string &text, bool case_sensitive) {
  re_program *program = re_compile(pattern.c_str(), case_sensitive);
  re_dfa *dfa = program != nullptr ? re_dfa_new(program) : nullptr;
  const bool found = dfa != nullptr && re_dfa_line(dfa, text.data(), text.size()) == RE_DFA_MATCH;
  re_dfa_free(dfa);
  re_program_free(program);
  return found;
}

TEST_P(GeneratedInputs, AgreeWithTheDefinition) {
  const Alphabets &a = GetParam();
  std::mt19937 rng(2026);
  auto gen = [&](const char *bytes, size_t max_len) {
    std::string s(rng() % (max_len + 1), ' ');
    for (char &c : s) c = bytes[rng() % strlen(bytes)];
    return s;
  };
  // 25,000 cases each: under the sanitizers 100,000 passed ctest's 600 s.
  for (int i = 0; i < 25000; ++i) {
    std::string pattern = gen(a.pattern_bytes, a.max_pattern);
    std::string text = gen(a.text_bytes, a.max_text);
    bool cs = rng() % 2;
    qg_test::RegexReferenceResult want = qg_test::regex_find_first_reference(pattern, text, cs);
    int32_t col = 0, len = 0;
    bool found = regex_find_first(pattern.c_str(), text.c_str(), cs, &col, &len);
    ASSERT_EQ(found, want.found) << "/" << pattern << "/ on \"" << text << "\" cs=" << cs;
    // The lazy DFA, which decides the lines of a search, says the same.
    ASSERT_EQ(dfa_finds(pattern, text, cs), want.found)
        << "DFA: /" << pattern << "/ on \"" << text << "\" cs=" << cs;
    if (found) {
      ASSERT_EQ(col, want.col) << "/" << pattern << "/ on \"" << text << "\" cs=" << cs;
      ASSERT_EQ(len, want.len) << "/" << pattern << "/ on \"" << text << "\" cs=" << cs;
    }
  }
}

// Metacharacter-rich patterns; literal-rich ones, where the literal prefilter
// and the first-byte filter decide most lines; class-rich ones.
// clang-format off
INSTANTIATE_TEST_SUITE_P(RegexFindFirst, GeneratedInputs, testing::Values(
    Alphabets{"ab.*+?|[]^$\\-dw(A", "aAb-[]|\\d1 ", 9, 10},
    Alphabets{"abcAB|\\.+*?$", "abcAB.", 10, 14},
    Alphabets{"ab[]^-\\dws*+|", "aAb-]^\\d1_ \x80", 10, 10}));
// clang-format on

// ---- Inner operations ----

TEST(ReMatchHere, MatchesOnlyAtThePositionGivenAndHonoursTheRemainderEnd) {
  re_state st{false};
  const char *pattern = "ab$|x";
  const char *text = "cab";
  size_t len = 99;
  EXPECT_FALSE(re_match_here(pattern, pattern + 5, text, &st, &len));
  EXPECT_EQ(len, 99u);
  EXPECT_TRUE(re_match_here(pattern, pattern + 5, text + 1, &st, &len));
  EXPECT_EQ(len, 2u);
  // Bounded before the bar, the '$' is the remainder's last byte: an anchor.
  EXPECT_FALSE(re_match_here(pattern, pattern + 3, "abc", &st, &len));
  // A leading '^' means itself in a remainder.
  EXPECT_TRUE(re_match_here("^a", "^a" + 2, "^a", &st, &len));
  EXPECT_EQ(len, 2u);
}

TEST(ReMatchStar, GivesBackUntilTheRestMatches) {
  re_state st{false};
  const char *pattern = "a*ab";
  size_t len = 0;
  EXPECT_TRUE(re_match_star(pattern, pattern + 2, pattern + 4, "aaab", &st, &len));
  EXPECT_EQ(len, 4u);
  EXPECT_FALSE(re_match_star(pattern, pattern + 2, pattern + 4, "aaa", &st, &len));
  // '.*a' from the end of "aa" fails; from its middle it matches one byte.
  const char *dots = "a*.*a";
  EXPECT_FALSE(re_match_star(dots + 2, dots + 4, dots + 5, "aa" + 2, &st, &len));
  EXPECT_TRUE(re_match_star(dots + 2, dots + 4, dots + 5, "aa" + 1, &st, &len));
  EXPECT_EQ(len, 1u);
}

TEST(ReAtomMatch, ReadsEachAtomKind) {
  const char *cls = "[^x-z]";
  EXPECT_TRUE(re_atom_match(cls, cls + 6, 'a', false));
  EXPECT_FALSE(re_atom_match(cls, cls + 6, 'y', false));
  EXPECT_FALSE(re_atom_match(cls, cls + 6, 'Y', true));
  const char *unterminated = "[ab]";  // bounded before its ']'
  EXPECT_TRUE(re_atom_match(unterminated, unterminated + 3, 'b', false));
  EXPECT_FALSE(re_atom_match(unterminated, unterminated + 3, ']', false));
  const char *lone = "\\";
  EXPECT_TRUE(re_atom_match(lone, lone + 1, '\\', false));
  EXPECT_TRUE(re_atom_match(".", nullptr, 0xFF, false));
}

// ---- Hostile patterns: the definition's result, without recursion ----

struct HostileCase {
  std::string name;
  std::string pattern;
  std::string text;
  bool found;
  int col, len;
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

std::string repeat(const std::string &piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

class Hostile : public testing::TestWithParam<HostileCase> {};

// On a thread of 256 KiB of stack: neither compiling nor matching recurses
// with the pattern or the line.
TEST_P(Hostile, GivesTheDefinitionsResultOnASmallStack) {
  struct run {
    const HostileCase *c;
    bool found = false;
    int32_t col = 0, len = 0;
  } r{&GetParam()};
  qg_test::run_on_stack(
      256 << 10,
      [](void *arg) {
        auto *x = static_cast<run *>(arg);
        x->found =
            regex_find_first(x->c->pattern.c_str(), x->c->text.c_str(), true, &x->col, &x->len);
      },
      &r);
  EXPECT_EQ(r.found, GetParam().found);
  if (r.found) {
    EXPECT_EQ(r.col, GetParam().col);
    EXPECT_EQ(r.len, GetParam().len);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(RegexEngine, Hostile, testing::Values(
    HostileCase{"NineStarsThenADigit", repeat("a*", 9) + "\\d", std::string(40, 'a'), false, 0, 0},
    HostileCase{"TenStarsThenC", repeat("a*", 10) + "c", std::string(10000, 'a') + "xc", true, 10002, 1},
    HostileCase{"TwoHundredThousandBrackets", std::string(200000, '['), "no bracket here", false, 0, 0},
    HostileCase{"FiftyThousandStarredClasses", repeat("[ab]*", 50000), "abba c", true, 1, 4},
    HostileCase{"OptionalsThenRequired", repeat("a?", 1000) + std::string(1000, 'a'), std::string(1000, 'a'), true, 1, 1000},
    HostileCase{"DeepAlternation", repeat("x|", 20000) + "b", repeat("a", 100) + "b", true, 101, 1},
    HostileCase{"LongPlainRun", std::string(100000, 'a') + "b", std::string(100000, 'a') + "b", true, 1, 100001}),
    [](const testing::TestParamInfo<HostileCase> &info) { return info.param.name; });
// clang-format on

// Programs stay within a few instructions per pattern byte, brackets and
// bars mixed in any way: the bound behind the engine's linear time.
TEST(RegexEngine, ProgramSizeStaysLinearInThePattern) {
  std::mt19937 rng(99);
  const char bytes[] = "[]|\\a*?^$";
  for (int round = 0; round < 2000; ++round) {
    std::string pattern(1 + rng() % 400, ' ');
    for (char &c : pattern) c = bytes[rng() % (sizeof bytes - 1)];
    re_program *program = re_compile(pattern.c_str(), true);
    ASSERT_NE(program, nullptr);
    EXPECT_LE(program->count, 4 * pattern.size() + 8) << pattern;
    re_program_free(program);
  }
}

// A stop check that answers true abandons a match inside one long line.
TEST(RegexEngine, StopCheckAbandonsALongMatch) {
  re_program *program = re_compile(".*\\d", true);  // no literal to rule the line out
  ASSERT_NE(program, nullptr);
  re_scratch *scratch = re_scratch_new(program);
  ASSERT_NE(scratch, nullptr);
  int asked = 0;
  re_scratch_set_stop(
      scratch, [](void *ctx) { return ++*static_cast<int *>(ctx) >= 2; }, &asked);
  const std::string line(4 << 20, 'a');
  int32_t col = 0, len = 0;
  EXPECT_EQ(re_find(program, scratch, line.c_str(), line.size(), &col, &len), RE_STOPPED);
  EXPECT_EQ(asked, 2);
  re_scratch_free(scratch);
  re_program_free(program);
}

}  // namespace
