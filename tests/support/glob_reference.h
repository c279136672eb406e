// A direct, recursive transcription of the name-glob definition, kept apart
// from the library's linear matcher so that tests and the glob fuzzer can
// check the fast one against it. Exponential in the number of stars: use on
// short globs only.
#ifndef QG_TEST_GLOB_REFERENCE_H
#define QG_TEST_GLOB_REFERENCE_H

namespace qg_test {

inline unsigned char glob_reference_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Whether the class at glob[i] (a '[') holds byte c; sets `after` to the glob
// position past the class (past its ']', or the glob's end when unterminated).
inline bool glob_reference_class(const char *glob, int i, unsigned char c, int *after) {
  int k = i + 1;
  bool negated = false;
  if (glob[k] == '!' || glob[k] == '^') {
    negated = true;
    ++k;
  }
  int first = k;
  int close = -1;
  for (int x = first; glob[x] != '\0'; ++x) {
    if (glob[x] == ']') {
      close = x;
      break;
    }
  }
  int end = close >= 0 ? close : first;
  if (close < 0) {
    while (glob[end] != '\0') ++end;
  }
  bool hit = false;
  int m = first;
  while (m < end) {
    if (glob[m + 1] == '-' && m + 1 != end - 1 && m + 1 < end) {
      auto x = static_cast<signed char>(glob[m]);
      auto y = static_cast<signed char>(glob[m + 2]);
      auto sc = static_cast<signed char>(c);
      if (x <= sc && sc <= y) hit = true;
      m += 3;
    } else {
      if (static_cast<unsigned char>(glob[m]) == c) hit = true;
      m += 1;
    }
  }
  *after = close >= 0 ? close + 1 : end;
  return hit != negated;
}

inline bool glob_reference_at(const char *glob, int i, const char *name, int j) {
  for (;;) {
    if (name[j] == '\0') {  // step 2
      while (glob[i] == '*') ++i;
      return glob[i] == '\0';
    }
    char g = glob[i];
    if (g == '*') {  // step 3, star
      if (glob[i + 1] == '\0') return true;
      for (int start = j; name[start] != '\0'; ++start) {
        if (glob_reference_at(glob, i + 1, name, start)) return true;
      }
      return false;
    }
    if (g == '?') {
      ++i;
      ++j;
    } else if (g == '[') {
      int after = 0;
      if (!glob_reference_class(glob, i, static_cast<unsigned char>(name[j]), &after)) {
        return false;
      }
      i = after;
      ++j;
    } else {
      if (glob_reference_lower(static_cast<unsigned char>(g)) !=
          glob_reference_lower(static_cast<unsigned char>(name[j]))) {
        return false;
      }
      ++i;
      ++j;
    }
    if (glob[i] == '\0') return name[j] == '\0';  // step 4
  }
}

// The definition's result for `glob` against the whole `name`.
inline bool glob_match_reference(const char *glob, const char *name) {
  if (glob[0] == '\0') return name[0] == '\0';  // step 1
  return glob_reference_at(glob, 0, name, 0);
}

}  // namespace qg_test

#endif  // QG_TEST_GLOB_REFERENCE_H
