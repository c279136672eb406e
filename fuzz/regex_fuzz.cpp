// Pattern matcher fuzz target. Input: one flags byte (bit 0: case-sensitive),
// then the pattern, a NUL, and the line (each ends at its first NUL).
// Properties: no crash; a reported match lies within the line and is what
// re_match_here finds at that column; the budgets hold; and on inputs small
// enough for it, the result is that of a direct transcription of the dialect.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "../tests/support/regex_reference.h"
#include "grep_core/regex.h"

namespace {

// Largest inputs compared with the exponential reference transcription.
constexpr size_t kReferencePatternMax = 10;
constexpr size_t kReferenceTextMax = 12;
// Steps below which a search is cheap enough to repeat through the public entry.
constexpr uint64_t kRepeatStepsMax = 1000000;

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

  re_state st;
  int32_t col = -1, len = -1;
  bool found = re_search_line(pattern.c_str(), text.c_str(), !case_sensitive, &st, &col, &len);
  if (found) {
    check(col >= 1 && len >= 0, "column or length out of range", pattern, text);
    check(static_cast<size_t>(col - 1) + static_cast<size_t>(len) <= text.size(),
          "match runs past the end of the line", pattern, text);
  } else {
    check(col == -1 && len == -1, "outputs written on false", pattern, text);
  }
  check(st.depth == 0, "nesting not unwound", pattern, text);
  check(st.depth_peak <= RE_MAX_DEPTH, "depth budget exceeded", pattern, text);
  const uint64_t budget =
      RE_STEP_BUDGET_BASE + uint64_t{RE_STEP_BUDGET_PER_BYTE} * (text.size() + 1);
  check(st.steps_left <= budget, "step budget overrun", pattern, text);
  check(!found || !st.line_exhausted, "match reported from an exhausted line", pattern, text);

  // The public entry gives the same answer (repeated only where the first
  // search was cheap, so that budget-bound inputs do not halve the speed).
  if (budget - st.steps_left < kRepeatStepsMax) {
    int32_t col2 = -1, len2 = -1;
    bool found2 = regex_find_first(pattern.c_str(), text.c_str(), case_sensitive, &col2, &len2);
    check(found2 == found && col2 == col && len2 == len, "search is not deterministic", pattern,
          text);
  }

  if (found) {
    // The reported attempt, repeated on its own, gives the same length.
    const char *body = pattern.c_str();
    if (body[0] == '^') ++body;
    re_state one;
    re_state_init(&one, pattern.c_str(), text.size(), !case_sensitive);
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
