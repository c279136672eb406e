// The line edit engine's definition, for comparison: every edit applied on
// its own, in sorted order, to an array of lines, exactly as the one-by-one
// procedure describes it (positions and removed ranges clamped against the
// lines as the earlier edits left them). Deliberately plain and slow.
#ifndef QG_TEST_EDIT_REFERENCE_H
#define QG_TEST_EDIT_REFERENCE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qg_test {

struct ref_edit {
  int32_t start;
  int32_t end;
  std::string text;
};

// Lines of `text`: CR LF, lone CR and LF end a line; an ending at the very end
// opens no empty line.
inline std::vector<std::string> ref_split(const std::string &text) {
  std::vector<std::string> lines;
  std::string current;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c != '\r' && c != '\n') {
      current += c;
      ++i;
      continue;
    }
    lines.push_back(current);
    current.clear();
    i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// True when the sorted edits pass the neighbour overlap check.
inline bool ref_no_overlap(const std::vector<ref_edit> &sorted) {
  for (size_t k = 0; k + 1 < sorted.size(); ++k) {
    const ref_edit &a = sorted[k];
    if (a.start <= a.end && sorted[k + 1].end >= a.start) return false;
  }
  return true;
}

// Applies the sorted edits one at a time.
inline std::vector<std::string> ref_apply(std::vector<std::string> lines,
                                          const std::vector<ref_edit> &sorted) {
  for (const ref_edit &e : sorted) {
    const std::vector<std::string> added = ref_split(e.text);
    const int64_t n = static_cast<int64_t>(lines.size());
    const int64_t start = e.start;
    const int64_t p = start < 1 ? 0 : (start > n + 1 ? n : start - 1);
    int64_t d = 0;
    if (e.start <= e.end) {
      const int64_t s = start < 1 ? 1 : start;
      const int64_t last = e.end > n ? n : e.end;
      if (s <= last) d = last - s + 1;
    }
    if (d == 0 && added.empty()) continue;
    lines.erase(lines.begin() + p, lines.begin() + p + d);
    lines.insert(lines.begin() + p, added.begin(), added.end());
  }
  return lines;
}

}  // namespace qg_test

#endif  // QG_TEST_EDIT_REFERENCE_H
