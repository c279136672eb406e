// The standard syntax against Python's re: generated patterns of every
// construct the syntax accepts, on generated lines holding characters beyond
// ASCII and bytes that are no part of valid UTF-8, must give what re.search
// gives (found, byte column, byte length), with the lazy DFA choosing the
// lines and with the exact matcher alone, and where each group took part
// (match.span) when compiled with captures. QG_STANDARD_DIFF_CASES sets how
// many cases run (default 4000; millions for a long run during development),
// QG_STANDARD_DIFF_SEED the generator's seed.
#include "grep_core/regex.h"
#include "grep_core/regex_dfa.h"
#include "grep_core/regex_program.h"
#include "support/regex_search.h"
#include "support/run_process.h"
#include "support/standard_regex_gen.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string oracle_path() {
  return std::string(QG_TEST_SOURCE_DIR) + "/support/python_re_oracle.py";
}

// Where the groups of the match (col, len) took part, as the oracle's
// --groups words follow its answer.
std::string groups_of(const re_program *program, re_scratch *scratch, const std::string &line,
                      int32_t col, int32_t len) {
  std::vector<re_group_span> spans(re_group_count(program));
  const size_t start = static_cast<size_t>(col - 1);
  if (re_find_groups(program, scratch, line.data(), line.size(), start,
                     start + static_cast<size_t>(len), spans.data()) != RE_MATCH) {
    return " groups failed";
  }
  std::string words;
  for (const re_group_span &g : spans) {
    words += g.start == RE_GROUP_UNSET
                 ? std::string(" -")
                 : " " + std::to_string(g.start + 1) + ":" + std::to_string(g.end - g.start);
  }
  return words;
}

// What this library finds, in the oracle's words: with `dfa`, the lazy DFA
// decides first whether the line holds a match, as a search does; without,
// the exact matcher alone (both of its searches, which must agree). With the
// DFA, compiled with captures and the groups' spans told as the oracle's
// --groups tells them.
std::string ours(const std::string &pattern, const std::string &line, bool dfa, bool unicode,
                 size_t *no_dfa) {
  const re_options options = {true, nullptr, nullptr, RE_SYNTAX_STANDARD, false, dfa, unicode};
  re_program *program = re_compile_with(pattern.c_str(), &options, nullptr);
  if (program == nullptr) return "E";
  program->no_dfa = !dfa;
  // A program too large for the DFA's bound gets none, and a search then
  // matches with the exact matcher alone, as here; the test counts how often.
  re_dfa *lazy = re_dfa_new(program);
  if (dfa && lazy == nullptr) ++*no_dfa;
  re_scratch *scratch = re_scratch_new(program);
  const re_dfa_result verdict =
      lazy != nullptr ? re_dfa_line(lazy, line.data(), line.size()) : RE_DFA_MATCH;
  int32_t col = 0, len = 0;
  re_result r = RE_NO_MATCH;
  if (verdict == RE_DFA_MATCH) r = re_find(program, scratch, line.data(), line.size(), &col, &len);
  int32_t bcol = 0, blen = 0;
  const re_result b =
      dfa ? r
          : qg_test::find_breadth_first(program, scratch, line.data(), line.size(), &bcol, &blen);
  std::string groups;
  if (r == RE_MATCH && dfa) groups = groups_of(program, scratch, line, col, len);
  re_scratch_free(scratch);
  re_dfa_free(lazy);
  re_program_free(program);
  if (verdict != RE_DFA_MATCH && verdict != RE_DFA_NO_MATCH) return "DFA failed";
  if (!dfa && (r != b || (r == RE_MATCH && (col != bcol || len != blen)))) {
    return "searches disagree";
  }
  if (r == RE_NO_MATCH) return "N";
  if (r != RE_MATCH) return "failed";
  return "M " + std::to_string(col) + " " + std::to_string(len) + groups;
}

uint64_t from_env(const char *name, uint64_t fallback) {
  const char *given = getenv(name);
  return given != nullptr ? strtoull(given, nullptr, 10) : fallback;
}

TEST(StandardSyntaxAgainstPython, GeneratedCasesAgree) {
  if (!qg_test::program_exists("python3")) GTEST_SKIP() << "python3 is not installed";
  const size_t total = from_env("QG_STANDARD_DIFF_CASES", 4000);
  constexpr size_t kBatch = 20000;
  auto choose = qg_test::seeded_choices(from_env("QG_STANDARD_DIFF_SEED", 20261209));
  size_t compared = 0, matched = 0, failures = 0, slow = 0, no_dfa = 0;
  for (size_t done = 0; done < total; done += kBatch) {
    std::vector<qg_test::standard_case> cases;
    std::string input;
    for (size_t i = done; i < total && i < done + kBatch; ++i) {
      cases.push_back(qg_test::generate_standard_case(choose));
      input += qg_test::hex_of(cases.back().python) + " " + qg_test::hex_of(cases.back().line) +
               (cases.back().unicode ? " u\n" : "\n");
    }
    const qg_test::run_result r =
        qg_test::run_process({"python3", oracle_path(), "--groups"}, input);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream answers(r.out);
    for (const qg_test::standard_case &c : cases) {
      std::string theirs;
      ASSERT_TRUE(std::getline(answers, theirs));
      if (theirs == "T") {
        ++slow;  // Python's backtracking gave up; nothing to compare
        continue;
      }
      // Without the DFA the answer is compared without the groups' words.
      const std::string bare = theirs.substr(0, theirs.find(' ', theirs.find(' ', 2) + 1));
      for (const bool dfa : {false, true}) {
        const std::string mine = ours(c.pattern, c.line, dfa, c.unicode, &no_dfa);
        const std::string &expected = dfa ? theirs : bare;
        compared += dfa;
        matched += dfa && mine[0] == 'M';
        if (mine != expected && ++failures <= 20) {
          ADD_FAILURE() << "pattern " << testing::PrintToString(c.pattern) << " (Python "
                        << testing::PrintToString(c.python) << ") on "
                        << testing::PrintToString(c.line) << (c.unicode ? " in Unicode mode" : "")
                        << (dfa ? " with" : " without") << " the DFA: ours " << mine << ", Python "
                        << expected;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0u) << "of " << compared;
  EXPECT_LE(slow, total / 1000) << "cases too slow for Python";
  EXPECT_LE(no_dfa, total / 100) << "programs too large for the DFA";
  // The generator must reach both outcomes often.
  EXPECT_GT(matched, compared / 5);
  EXPECT_LT(matched, compared - compared / 5);
}

}  // namespace
