#include "dialect_hints.h"

#include <cctype>

namespace qg_cli {

namespace {

// Whether a repeat count "{n}", "{n,}", "{,m}" or "{n,m}" begins at p[i].
bool repeat_count_at(const std::string &p, size_t i) {
  size_t j = i + 1;
  size_t digits = 0;
  while (j < p.size() && std::isdigit(static_cast<unsigned char>(p[j]))) ++j, ++digits;
  if (j < p.size() && p[j] == ',') {
    ++j;
    while (j < p.size() && std::isdigit(static_cast<unsigned char>(p[j]))) ++j, ++digits;
  }
  return digits > 0 && j < p.size() && p[j] == '}';
}

}  // namespace

std::vector<std::string> dialect_hints(const std::string &p) {
  bool group = false, count = false, boundary = false, named_class = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char next = p[++i];
      boundary = boundary || next == 'b' || next == 'B' || next == '<' || next == '>';
    } else if (c == '(' || c == ')') {
      group = true;
    } else if (c == '{') {
      count = count || repeat_count_at(p, i);
    } else if (c == '[' && p.compare(i, 3, "[[:") == 0) {
      named_class = true;
    }
  }
  std::vector<std::string> hints;
  if (group) {
    hints.emplace_back(
        "'(' and ')' match themselves in this dialect: there are no groups, and '|' splits "
        "the whole pattern into alternatives");
  }
  if (count) {
    hints.emplace_back(
        "'{n,m}' matches itself in this dialect: repeat one byte or class with '*', '+' or '?'");
  }
  if (boundary) {
    hints.emplace_back(
        "'\\b', '\\B', '\\<' and '\\>' match the bytes 'b', 'B', '<' and '>' in this dialect: "
        "for whole words, search a literal with -w");
  }
  if (named_class) {
    hints.emplace_back(
        "'[[:name:]]' is a class of the bytes '[', ':' and the name's letters, then a literal "
        "']', in this dialect: use \\d, \\w, \\s or a range such as [0-9]");
  }
  return hints;
}

}  // namespace qg_cli
