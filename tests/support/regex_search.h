// The exact matcher's searches that tests hold against each other and
// against references: the breadth-first search alone, and one anchored
// attempt at the line's start.
#ifndef QG_TEST_REGEX_SEARCH_H
#define QG_TEST_REGEX_SEARCH_H

#include "grep_core/regex.h"
#include "grep_core/regex_program.h"

#include <stddef.h>
#include <stdint.h>

namespace qg_test {

// re_find with the breadth-first search alone, whatever the line's length.
inline re_result find_breadth_first(const re_program *program, re_scratch *scratch,
                                    const char *text, size_t len, int32_t *out_col,
                                    int32_t *out_len) {
  const re_search_how how = {0, program->anchored, true};
  size_t start = 0, end = 0;
  const re_result r = re_search_at(program, scratch, text, len, &how, &start, &end);
  if (r == RE_MATCH) {
    *out_col = static_cast<int32_t>(start + 1);
    *out_len = static_cast<int32_t>(end - start);
  }
  return r;
}

// One attempt at position 0 (a remainder's match), writing its length.
inline re_result match_at_start(const re_program *program, re_scratch *scratch, const char *text,
                                size_t len, size_t *out_len) {
  const re_search_how how = {0, true, false};
  size_t start = 0;
  return re_search_at(program, scratch, text, len, &how, &start, out_len);
}

}  // namespace qg_test

#endif  // QG_TEST_REGEX_SEARCH_H
