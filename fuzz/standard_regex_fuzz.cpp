// Fuzz target of the standard syntax. The first byte chooses the form of the
// rest: even, the bytes steer the generator of valid patterns and lines
// (tests/support/standard_regex_gen.h); odd, the rest is a raw pattern, a
// NUL and a line, to hold the parser to any input. Properties: no crash; a
// pattern is either compiled or refused as invalid or too large; the
// depth-first and breadth-first searches agree; a match lies within the line
// and begins and ends where units do; the lazy DFA accepts every line that
// holds a match (of the line, and of the text read as lines), and on ASCII
// text no other. The generated cases are compared with
// Python's re by tests/grep_core/regex_python_test.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "../tests/support/regex_search.h"
#include "grep_core/last_error.h"
#include "grep_core/regex.h"
#include "grep_core/regex_dfa.h"
#include "grep_core/regex_program.h"
#include "support/dfa_lines.h"
#include "support/standard_regex_gen.h"

namespace {

void check(bool ok, const char *what, const std::string &pattern, const std::string &line) {
  if (ok) return;
  fprintf(stderr, "standard_regex_fuzz: %s\n  pattern: \"%s\"\n  line: \"%s\"\n", what,
          pattern.c_str(), line.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::string pattern, line;
  bool generated = (data[0] & 1) == 0;
  if (generated) {
    const qg_test::standard_case c =
        qg_test::generate_standard_case(qg_test::byte_choices(data + 1, size - 1));
    pattern = c.pattern;
    line = c.line;
  } else {
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    pattern = rest.substr(0, split);
    line = split == std::string::npos ? std::string() : rest.substr(split + 1);
    line = line.substr(0, line.find('\0'));
  }
  const bool case_sensitive = (data[0] & 2) == 0;
  const re_options options = {case_sensitive,
                              nullptr,
                              nullptr,
                              RE_SYNTAX_STANDARD,
                              (data[0] & 4) != 0,
                              (data[0] & 8) != 0,
                              (data[0] & 16) != 0};
  re_program *program = re_compile_with(pattern.c_str(), &options, nullptr);
  if (program == nullptr) {
    check(!generated || qg_failure_kind() == GREP_E_ARGUMENT, "a generated pattern was refused",
          pattern, line);
    check(qg_failure_kind() == GREP_E_ARGUMENT || qg_failure_kind() == GREP_E_NO_MEMORY,
          "refused without a reason", pattern, line);
    return 0;
  }
  re_scratch *scratch = re_scratch_new(program);
  check(scratch != nullptr, "scratch failed", pattern, line);
  int32_t col = -1, len = -1, bcol = -1, blen = -1;
  const re_result r = re_find(program, scratch, line.data(), line.size(), &col, &len);
  const re_result b =
      qg_test::find_breadth_first(program, scratch, line.data(), line.size(), &bcol, &blen);
  check(r == b && col == bcol && len == blen, "the two searches disagree", pattern, line);
  // The lazy DFA accepts every line that holds a match, and on ASCII text
  // (where it reads nothing widely) no other.
  re_dfa *dfa = re_dfa_new(program);
  if (dfa != nullptr) {
    const bool ascii = qg_test::is_ascii(line);
    if (line.find_first_of("\r\n") == std::string::npos) {
      const re_dfa_result d = re_dfa_line(dfa, line.data(), line.size());
      check(d == RE_DFA_MATCH || d == RE_DFA_NO_MATCH || d == RE_DFA_GAVE_UP, "the DFA failed",
            pattern, line);
      check(d != RE_DFA_NO_MATCH || r != RE_MATCH, "the DFA lost a match", pattern, line);
      check(!ascii || d != RE_DFA_MATCH || r == RE_MATCH, "the DFA accepts a line without a match",
            pattern, line);
    }
    check(qg_test::dfa_agrees(dfa, program, scratch, line, 1 + line.size() % 5, ascii),
          "the DFA disagrees on the text's lines", pattern, line);
    re_dfa_free(dfa);
  }
  if (r == RE_MATCH) {
    const size_t start = static_cast<size_t>(col - 1), end = start + static_cast<size_t>(len);
    check(col >= 1 && len >= 0 && end <= line.size(), "match out of the line", pattern, line);
    check(re_unit_starts_at(line.data(), line.size(), start) &&
              re_unit_starts_at(line.data(), line.size(), end),
          "match cuts a character", pattern, line);
    // Every group that took part lies inside the match, on character bounds.
    std::vector<re_group_span> groups(re_group_count(program));
    const re_result g =
        re_find_groups(program, scratch, line.data(), line.size(), start, end, groups.data());
    check(g == RE_MATCH || g == RE_NO_MEMORY, "the groups of a match were not found", pattern,
          line);
    for (const re_group_span &span : groups) {
      if (g != RE_MATCH || span.start == RE_GROUP_UNSET) continue;
      check(start <= span.start && span.start <= span.end && span.end <= end &&
                re_unit_starts_at(line.data(), line.size(), span.start) &&
                re_unit_starts_at(line.data(), line.size(), span.end),
            "a group lies outside its match", pattern, line);
    }
  }
  re_scratch_free(scratch);
  re_program_free(program);
  return 0;
}
