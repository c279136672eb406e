#include "support/dfa_lines.h"

#include "grep_core/find_bytes.h"
#include "grep_core/text_lines.h"

namespace qg_test {

std::vector<int> exact_lines(const re_program *program, re_scratch *scratch,
                             const std::string &text) {
  std::vector<int> lines;
  const char *p = text.data(), *end = p + text.size();
  for (int no = 1; p < end; ++no) {
    const char *stop = qg_line_end(p, end, true);
    if (re_find(program, scratch, p, static_cast<size_t>(stop - p), nullptr, nullptr) ==
        RE_MATCH) {
      lines.push_back(no);
    }
    p = qg_line_next(stop, end);
  }
  return lines;
}

std::vector<int> dfa_lines(re_dfa *dfa, const std::string &text, size_t window) {
  std::vector<int> lines;
  const char *begin = text.data();
  const size_t len = text.size();
  const char *counted = begin;  // a line start, line `no`
  int no = 1;
  size_t pos = 0;
  re_dfa_begin_text(dfa);
  for (;;) {
    // Windows of fixed bounds, as a scan reads them: a call that stops at
    // a match leaves the rest of its window to the next.
    const size_t to = len - pos / window * window > window ? (pos / window + 1) * window : len;
    size_t at = 0;
    const re_dfa_result r = re_dfa_scan(dfa, begin, len, pos, to, &at);
    if (r == RE_DFA_NO_MATCH) {
      if (to == len) return lines;
      pos = to;
      continue;
    }
    const char *line = qg_line_start(begin + at, counted);
    no += static_cast<int>(qg_count_line_breaks(counted, line));
    counted = line;
    if (r != RE_DFA_MATCH) {
      lines.push_back(-no);
      return lines;
    }
    lines.push_back(no);
    const char *next = qg_line_next(qg_line_end(line, begin + len, true), begin + len);
    if (next >= begin + len) return lines;
    pos = static_cast<size_t>(next - begin);
    re_dfa_at_line_start(dfa);
  }
}

bool dfa_agrees(re_dfa *dfa, const re_program *program, re_scratch *scratch,
                const std::string &text, size_t window, bool exactly) {
  std::vector<int> got = dfa_lines(dfa, text, window);
  std::vector<int> want = exact_lines(program, scratch, text);
  if (!got.empty() && got.back() < 0) {
    const int gave_up_at = -got.back();
    got.pop_back();
    while (!want.empty() && want.back() >= gave_up_at) want.pop_back();
  }
  if (exactly) return got == want;
  size_t j = 0;
  for (const int line : want) {
    while (j < got.size() && got[j] < line) ++j;
    if (j == got.size() || got[j] != line) return false;
  }
  return true;
}

bool is_ascii(const std::string &s) {
  for (const char ch : s) {
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  }
  return true;
}

}  // namespace qg_test
