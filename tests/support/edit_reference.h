// The one-pass application's definition, for comparison: each placed edit
// applied on its own, in the order given, to an array of lines (its removed
// lines erased at its position, its new lines put there). Deliberately plain
// and slow. What the edits of a batch must give is edit_model.py's.
#ifndef QG_TEST_EDIT_REFERENCE_H
#define QG_TEST_EDIT_REFERENCE_H

#include <stddef.h>

#include <string>
#include <vector>

namespace qg_test {

struct ref_place {
  size_t position;
  size_t removed;
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

// Applies the placed edits one at a time.
inline std::vector<std::string> ref_apply(std::vector<std::string> lines,
                                          const std::vector<ref_place> &places) {
  for (const ref_place &p : places) {
    const std::vector<std::string> added = ref_split(p.text);
    const auto at = lines.begin() + static_cast<std::ptrdiff_t>(p.position);
    lines.erase(at, at + static_cast<std::ptrdiff_t>(p.removed));
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(p.position), added.begin(),
                 added.end());
  }
  return lines;
}

}  // namespace qg_test

#endif  // QG_TEST_EDIT_REFERENCE_H
