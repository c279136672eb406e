// Pattern matcher fuzz target. Input: one flags byte (bit 0: case-sensitive),
// then the pattern, a NUL, and the line (each ends at its first NUL).
// Properties: no crash; a reported match lies within the line and is what
// re_match_here finds at that column; the depth-first and breadth-first
// searches agree; the lazy DFA accepts the lines that hold a match and no
// other; and on inputs small enough for it, the result is that of a
// direct transcription of the dialect's definition.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "../tests/support/regex_reference.h"
#include "grep_core/regex.h"
#include "grep_core/regex_dfa.h"
#include "../tests/support/regex_search.h"
#include "grep_core/regex_program.h"
#include "support/dfa_lines.h"
#include "support/regex_named_ops.h"

namespace {

// Largest inputs compared with the exponential reference transcription.
constexpr size_t kReferencePatternMax = 12;
constexpr size_t kReferenceTextMax = 16;

void fail(const char *what, const std::string &pattern, const std::string &text) {
  fprintf(stderr, "regex_fuzz: %s\n  pattern: \"%s\"\n  text: \"%s\"\n", what, pattern.c_str(),
          text.c_str());
  abort();
}

void check(bool ok, const char *what, const std::string &pattern, const std::string &text) {
  if (!ok) fail(what, pattern, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const bool case_sensitive = data[0] & 1;
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  size_t split = rest.find('\0');
  std::string pattern = rest.substr(0, split);
  std::string text = split == std::string::npos ? std::string() : rest.substr(split + 1);
  text = text.substr(0, text.find('\0'));

  re_program *program = re_compile(pattern.c_str(), case_sensitive);
  check(program != nullptr, "compile failed", pattern, text);
  check(program->count <= 4 * pattern.size() + 8, "program larger than its bound",
        pattern, text);
  re_scratch *scratch = re_scratch_new(program);
  check(scratch != nullptr, "scratch failed", pattern, text);

  int32_t col = -1, len = -1;
  const bool found = re_find(program, scratch, text.data(), text.size(), &col, &len) == RE_MATCH;
  if (found) {
    check(col >= 1 && len >= 0, "column or length out of range", pattern, text);
    check(static_cast<size_t>(col - 1) + static_cast<size_t>(len) <= text.size(),
          "match runs past the end of the line", pattern, text);
  } else {
    check(col == -1 && len == -1, "outputs written on false", pattern, text);
  }

  // The lazy DFA says what the exact matcher says, of the line and of the
  // text read as lines (its bytes may hold line breaks); a program too large
  // for one has none.
  re_dfa *dfa = re_dfa_new(program);
  if (dfa != nullptr) {
    if (text.find_first_of("\r\n") == std::string::npos) {
      check(re_dfa_line(dfa, text.data(), text.size()) == (found ? RE_DFA_MATCH : RE_DFA_NO_MATCH),
            "the DFA disagrees on the line", pattern, text);
    }
    check(qg_test::dfa_agrees(dfa, program, scratch, text, 1 + text.size() % 7, true),
          "the DFA disagrees on the text's lines", pattern, text);
    re_dfa_free(dfa);
  }

  int32_t col2 = -1, len2 = -1;
  const bool found2 =
      qg_test::find_breadth_first(program, scratch, text.data(), text.size(), &col2, &len2) == RE_MATCH;
  check(found2 == found && col2 == col && len2 == len, "breadth-first search disagrees", pattern,
        text);
  re_scratch_free(scratch);
  re_program_free(program);

  if (found) {
    // The reported attempt, repeated on its own, gives the same length.
    const char *body = pattern.c_str();
    if (body[0] == '^') ++body;
    re_state one{!case_sensitive};
    size_t here_len = 0;
    bool here = re_match_here(body, pattern.c_str() + pattern.size(), text.c_str() + col - 1, &one,
                              &here_len);
    check(here && here_len == static_cast<size_t>(len), "re_match_here disagrees", pattern, text);
  }

  if (pattern.size() <= kReferencePatternMax && text.size() <= kReferenceTextMax) {
    qg_test::RegexReferenceResult want =
        qg_test::regex_find_first_reference(pattern, text, case_sensitive);
    check(found == want.found, "found differs from the definition", pattern, text);
    if (found) {
      check(col == want.col && len == want.len, "column or length differs from the definition",
            pattern, text);
    }
  }
  return 0;
}
