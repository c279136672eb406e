// The scan of whole texts with the lazy DFA choosing the lines against the
// same scan with the exact matcher alone (the program's DFA forced off): on
// generated texts (every line ending, long lines, lines the needle picks and
// lines it does not) and generated patterns of both syntaxes, with folding,
// whole words and submatches, every match must be the same: line, column,
// length, line text and submatches.
#include "grep_core/options.h"
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"
#include "search_core/scan.h"
#include "support/standard_regex_gen.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// One reported match as text: line, column, length, the line, submatches.
using found = std::string;

bool collect(void *ctx, const scan_match *m) {
  found f = std::to_string(m->line_no) + ":" + std::to_string(m->col) + ":" +
            std::to_string(m->length) + ":" + std::string(m->line.p, m->line.n);
  for (size_t i = 0; i < m->submatch_count; ++i) {
    f += " " + std::to_string(m->submatches[i].col) + "+" + std::to_string(m->submatches[i].length);
  }
  static_cast<std::vector<found> *>(ctx)->push_back(f);
  return true;
}

// Every match the scanner reports in `text`, with the DFA or without; false
// in *ok when the scan did not end as it should.
std::vector<found> scan(const std::string &pattern, const grep_opts &opts, bool dfa,
                        const std::string &text, bool *ok) {
  const re_options options = {
      opts.case_sensitive,
      nullptr,
      nullptr,
      opts.syntax == GREP_SYNTAX_STANDARD ? RE_SYNTAX_STANDARD : RE_SYNTAX_DIALECT,
      opts.syntax == GREP_SYNTAX_STANDARD && opts.whole_word,
      false,
      opts.syntax == GREP_SYNTAX_STANDARD && opts.unicode};
  std::vector<found> out;
  re_program *program = re_compile_with(pattern.c_str(), &options, nullptr);
  if (program == nullptr) return out;
  program->no_dfa = !dfa;
  scanner *s = scanner_new(pattern.c_str(), &opts, program, nullptr, nullptr);
  *ok = s != nullptr && scanner_scan(s, text.c_str(), text.size(), collect, &out) == SCAN_DONE;
  scanner_free(s);
  re_program_free(program);
  return out;
}

std::string join(const std::vector<std::string> &lines, std::mt19937 &rng) {
  static const char *endings[] = {"\n", "\r\n", "\r"};
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || rng() % 2) text += endings[rng() % 3];
  }
  return text.substr(0, text.find('\0'));
}

grep_opts options_for(bool standard, std::mt19937 &rng) {
  grep_opts opts{};
  opts.regex = true;
  opts.syntax = standard ? GREP_SYNTAX_STANDARD : GREP_SYNTAX_DIALECT;
  opts.case_sensitive = rng() % 3 != 0;
  opts.whole_word = standard && rng() % 5 == 0;
  opts.submatches = rng() % 2 == 0;
  return opts;
}

// A pattern and a text: for the standard syntax, a generated pattern with
// generated lines (and now and then a long one); for the dialect, random
// bytes, with a long line that the needle picks now and then.
struct generated {
  std::string pattern, text;
};

generated generate(bool standard, const std::function<uint32_t(uint32_t)> &choose,
                   std::mt19937 &rng) {
  if (standard) {
    const qg_test::standard_case c = qg_test::generate_standard_case(choose);
    std::vector<std::string> lines = {c.line};
    for (size_t k = rng() % 6; k > 0; --k) lines.push_back(qg_test::generate_standard_case(choose).line);
    if (rng() % 8 == 0) lines.push_back(std::string(300 + rng() % 200, 'a') + c.line);
    return {c.pattern, join(lines, rng)};
  }
  auto bytes = [&](const std::string &from, size_t max_len) {
    std::string s(rng() % (max_len + 1), ' ');
    for (char &ch : s) ch = from[rng() % from.size()];
    return s;
  };
  generated g = {bytes("ab.*+?|[]^$\\-dwsA=_", 8), bytes("aAb-=_ [|\\d1\x80\n\n\r", 60)};
  if (rng() % 16 == 0) g.text += std::string(400, 'b') + "=a";
  return g;
}

TEST(ScanWithDfa, MatchesAsTheExactMatcherAlone) {
  auto choose = qg_test::seeded_choices(2812);
  std::mt19937 rng(12);
  for (const bool standard : {true, false}) {
    size_t with_matches = 0;
    const int cases = standard ? 3000 : 20000;
    for (int i = 0; i < cases; ++i) {
      const generated g = generate(standard, choose, rng);
      const grep_opts opts = options_for(standard, rng);
      bool ok_on = false, ok_off = false;
      const std::vector<found> on = scan(g.pattern, opts, true, g.text, &ok_on);
      const std::vector<found> off = scan(g.pattern, opts, false, g.text, &ok_off);
      ASSERT_EQ(ok_on, ok_off) << g.pattern;
      ASSERT_EQ(on, off) << testing::PrintToString(g.pattern) << " on "
                         << testing::PrintToString(g.text);
      with_matches += !on.empty();
    }
    EXPECT_GT(with_matches, static_cast<size_t>(cases / 5)) << (standard ? "standard" : "dialect");
  }
}

// A pattern whose DFA gives up part way through a text: the lines before and
// after are reported as the exact matcher reports them.
TEST(ScanWithDfa, GivingUpPartWayLosesNoLine) {
  std::mt19937 rng(5);
  std::string text = "ab\nba a\n";
  for (int line = 0; line < 40; ++line) {
    for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + rng() % 2);
    text += line % 7 == 0 ? "c\r\n" : "\n";
  }
  grep_opts opts{};
  opts.regex = opts.case_sensitive = opts.submatches = true;
  opts.syntax = GREP_SYNTAX_STANDARD;
  // Read whole by the DFA; and line by line, as the needle {a, b} picks them.
  for (const char *pattern : {"(a|b)*a(a|b){20}[c-k]|^ba", "[ab]*a[ab]{20}c$|^ba"}) {
    bool ok_on = false, ok_off = false;
    const std::vector<found> on = scan(pattern, opts, true, text, &ok_on);
    const std::vector<found> off = scan(pattern, opts, false, text, &ok_off);
    EXPECT_TRUE(ok_on && ok_off);
    EXPECT_GE(on.size(), 7u) << pattern;  // the lines ending in c, "ba a", those that begin with ba
    EXPECT_EQ(on, off) << pattern;
  }
}

}  // namespace
