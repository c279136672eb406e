// A direct transcription of the pattern dialect's definition: no budgets, no
// skipped attempts, a copy for each left alternative. The tests and the
// pattern fuzzer check the library's matcher against it on small inputs.
// Exponential on hostile patterns: use on short patterns and lines only.
#ifndef QG_TEST_REGEX_REFERENCE_H
#define QG_TEST_REGEX_REFERENCE_H

#include <stddef.h>

#include <string>

namespace qg_test {

struct RegexReferenceResult {
  bool found = false;
  int col = 0;
  int len = 0;
};

namespace regex_reference_detail {

inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
inline bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool word(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || digit(c) || c == '_';
}
inline bool space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The remainder is the std::string P; an atom is an offset into it.
struct Matcher {
  const std::string &text;
  bool ignore_case;

  // Class at P[a] == '['; returns its end offset and whether it matches c.
  size_t class_end(const std::string &P, size_t a) const {
    size_t m = a + 1;
    if (m < P.size() && P[m] == '^') ++m;
    size_t close = P.find(']', m);
    return close == std::string::npos ? P.size() : close + 1;
  }

  bool class_match(const std::string &P, size_t a, unsigned char c) const {
    size_t m = a + 1;
    bool negated = m < P.size() && P[m] == '^';
    if (negated) ++m;
    size_t close = P.find(']', m);
    size_t end = close == std::string::npos ? P.size() : close;
    bool hit = false;
    while (m < end) {
      if (m + 1 < end && P[m + 1] == '-' && m + 1 != end - 1) {
        unsigned char x = P[m], y = P[m + 2], cc = c;
        if (ignore_case) {
          x = lower(x);
          y = lower(y);
          cc = lower(cc);
        }
        auto sx = static_cast<signed char>(x), sy = static_cast<signed char>(y);
        auto sc = static_cast<signed char>(cc);
        if (sx <= sc && sc <= sy) hit = true;
        m += 3;
      } else {
        unsigned char x = P[m];
        if (ignore_case ? lower(x) == lower(c) : x == c) hit = true;
        m += 1;
      }
    }
    return hit != negated;
  }

  bool atom_match(const std::string &P, size_t a, unsigned char c) const {
    unsigned char x = P[a];
    if (x == '.') return true;
    if (x == '\\' && a + 1 < P.size()) {
      unsigned char e = P[a + 1];
      switch (e) {
        case 'd':
          return digit(c);
        case 'D':
          return !digit(c);
        case 'w':
          return word(c);
        case 'W':
          return !word(c);
        case 's':
          return space(c);
        case 'S':
          return !space(c);
        default:
          return e == c;
      }
    }
    if (x == '[') return class_match(P, a, c);
    return ignore_case ? lower(x) == lower(c) : x == c;
  }

  bool at_end(size_t t) const { return t >= text.size(); }

  bool here(const std::string &P, size_t t, size_t *len) const {
    if (P.empty()) {  // step 1
      *len = 0;
      return true;
    }
    if (P == "$") {  // step 2
      if (!at_end(t)) return false;
      *len = 0;
      return true;
    }
    size_t atom_end;
    if (P[0] == '\\') {  // step 3
      if (P.size() >= 2) {
        atom_end = 2;
        return quantified(P, atom_end, t, len);
      }
      return single(P, 0, P.size(), t, len);
    }
    int depth = 0;  // step 4
    size_t bar = std::string::npos;
    for (size_t i = 0; i < P.size(); ++i) {
      char ch = P[i];
      if (ch == '\\') {
        ++i;
      } else if (ch == '[') {
        ++depth;
      } else if (ch == ']') {
        --depth;
      } else if (ch == '|' && depth == 0) {
        bar = i;
        break;
      }
    }
    if (bar != std::string::npos) {  // step 5
      std::string left = P.substr(0, bar);
      if (here(left, t, len)) return true;
      return here(P.substr(bar + 1), t, len);
    }
    if (P[0] == '[') {  // step 6
      atom_end = class_end(P, 0);
      bool terminated = P.find(']', P.size() > 1 && P[1] == '^' ? 2 : 1) != std::string::npos;
      if (!terminated) return single(P, 0, P.size(), t, len);
    } else {
      atom_end = 1;
    }
    return quantified(P, atom_end, t, len);
  }

  bool quantified(const std::string &P, size_t atom_end, size_t t, size_t *len) const {
    char q = atom_end < P.size() ? P[atom_end] : '\0';
    if (q == '*') return star(P, 0, P.substr(atom_end + 1), t, len);
    if (q == '+') {
      if (at_end(t) || !atom_match(P, 0, text[t])) return false;
      size_t sub;
      if (!star(P, 0, P.substr(atom_end + 1), t + 1, &sub)) return false;
      *len = sub + 1;
      return true;
    }
    if (q == '?') {
      std::string rest = P.substr(atom_end + 1);
      size_t sub;
      if (!at_end(t) && atom_match(P, 0, text[t]) && here(rest, t + 1, &sub)) {
        *len = sub + 1;
        return true;
      }
      return here(rest, t, len);
    }
    return single(P, 0, atom_end, t, len);
  }

  bool single(const std::string &P, size_t a, size_t atom_end, size_t t, size_t *len) const {
    if (at_end(t) || !atom_match(P, a, text[t])) return false;
    size_t sub;
    if (!here(P.substr(atom_end), t + 1, &sub)) return false;
    *len = sub + 1;
    return true;
  }

  bool star(const std::string &A, size_t a, const std::string &R, size_t t, size_t *len) const {
    size_t k = t;
    while (!at_end(k) && atom_match(A, a, text[k])) ++k;
    for (size_t j = k;; --j) {
      size_t sub;
      if (here(R, j, &sub)) {
        *len = (j - t) + sub;
        return true;
      }
      if (j == t) return false;
    }
  }
};

}  // namespace regex_reference_detail

// The definition's result for `pattern` on `text` (both without NUL bytes).
inline RegexReferenceResult regex_find_first_reference(const std::string &pattern,
                                                       const std::string &text,
                                                       bool case_sensitive) {
  regex_reference_detail::Matcher m{text, !case_sensitive};
  RegexReferenceResult r;
  size_t len = 0;
  if (!pattern.empty() && pattern[0] == '^') {
    if (m.here(pattern.substr(1), 0, &len)) r = {true, 1, static_cast<int>(len)};
    return r;
  }
  for (size_t s = 0; s <= text.size(); ++s) {
    if (m.here(pattern, s, &len)) return {true, static_cast<int>(s + 1), static_cast<int>(len)};
  }
  return r;
}

}  // namespace qg_test

#endif  // QG_TEST_REGEX_REFERENCE_H
