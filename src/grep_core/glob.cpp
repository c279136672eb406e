#include "grep_core/glob.h"

#include <string.h>

#include "grep_core/ascii_class.h"

// Matches the glob element at `g` (not '*', not the end) against the name
// byte `c`. Returns the glob position past the element, or null when the
// byte does not match. Literal bytes fold ASCII case; classes compare exactly.
static const char *glob_element_match(const char *g, unsigned char c) {
  if (*g == '?') return g + 1;
  if (*g != '[') return qg_lower((unsigned char)*g) == qg_lower(c) ? g + 1 : nullptr;
  const char *m = g + 1;
  const bool negated = *m == '!' || *m == '^';
  if (negated) ++m;
  const char *close = strchr(m, ']');
  const char *m_end = close != nullptr ? close : m + strlen(m);
  if (qg_class_members_match(m, m_end, c, false) == negated) return nullptr;
  return close != nullptr ? close + 1 : m_end;
}

// Every element but '*' takes exactly one name byte, so only the latest star
// ever needs to take more: on a mismatch it takes one byte further and the
// glob resumes after it. Each retry advances the name, which bounds the work
// by the glob's length times the name's length whatever the stars.
bool glob_match(const char *glob, const char *name) {
  const char *g = glob;
  const char *n = name;
  const char *star_g = nullptr;  // glob position after the latest run of stars
  const char *star_n = nullptr;  // name position that run currently starts from
  for (;;) {
    if (*n == '\0') {
      while (*g == '*') ++g;
      return *g == '\0';
    }
    if (*g == '*') {
      while (*g == '*') ++g;
      if (*g == '\0') return true;
      star_g = g;
      star_n = n;
      continue;
    }
    const char *next = *g != '\0' ? glob_element_match(g, (unsigned char)*n) : nullptr;
    if (next != nullptr) {
      g = next;
      ++n;
      continue;
    }
    if (star_g == nullptr) return false;
    g = star_g;
    n = ++star_n;
  }
}

const char *basename_portable(const char *path) {
  const char *base = path;
  for (const char *p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}
