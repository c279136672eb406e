// The lines of a whole text that the lazy DFA accepts, and those the exact
// matcher finds a match in, for the tests and fuzz targets that hold the two
// to each other. Lines are those of the line rule (text_lines.h).
#ifndef QG_TEST_DFA_LINES_H
#define QG_TEST_DFA_LINES_H

#include "grep_core/regex.h"
#include "grep_core/regex_dfa.h"

#include <stddef.h>

#include <string>
#include <vector>

namespace qg_test {

// The 1-based numbers of the lines of `text` that hold a match, each line
// matched on its own with re_find.
std::vector<int> exact_lines(const re_program *program, re_scratch *scratch,
                             const std::string &text);

// The lines the DFA accepts, reading `text` whole in windows of `window`
// bytes and going on after each accepted line at the next line start; when
// it gave up or was stopped, the line where that happened, negated, last.
std::vector<int> dfa_lines(re_dfa *dfa, const std::string &text, size_t window);

// Whether the DFA accepts every line of `text` that holds a match (up to the
// line where it gave up, if it did), and, with `exactly`, no other.
bool dfa_agrees(re_dfa *dfa, const re_program *program, re_scratch *scratch,
                const std::string &text, size_t window, bool exactly);

// True when `s` holds no byte of 0x80-0xFF, where the DFA reads nothing
// widely.
bool is_ascii(const std::string &s);

}  // namespace qg_test

#endif  // QG_TEST_DFA_LINES_H
