// Generated patterns of the standard syntax and lines to match them on, for
// the differential test against Python's re and for the fuzz target: every
// construct the syntax accepts, small enough that Python's backtracking
// answers at once. Each case carries the pattern twice, as this library reads
// it and as Python reads the same meaning (POSIX classes spelled out, named
// groups in Python's form). A third of the cases are in Unicode mode, with
// letters of several scripts and cases, digits and marks beyond ASCII, and
// Unicode properties.
#ifndef QG_TEST_STANDARD_REGEX_GEN_H
#define QG_TEST_STANDARD_REGEX_GEN_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

namespace qg_test {

struct standard_case {
  std::string pattern;  // as this library reads it
  std::string python;   // the same meaning in Python's syntax
  std::string line;     // UTF-8 with a few code points beyond ASCII and invalid bytes
  bool unicode;         // compiled in Unicode mode (Python: without re.ASCII); \p{...} in
                        // `python` stands as written, for the oracle to spell out
};

// Makes cases from a source of choices: `choose(n)` returns a number in
// [0, n) (n > 0). The same choices give the same case.
standard_case generate_standard_case(const std::function<uint32_t(uint32_t)> &choose);

// The choices of a seeded generator, for tests.
std::function<uint32_t(uint32_t)> seeded_choices(uint64_t seed);

// The choices read from `size` bytes (a fuzzer's input): each byte decides
// one choice, and once they run out every choice is 0.
std::function<uint32_t(uint32_t)> byte_choices(const uint8_t *data, size_t size);

// The hexadecimal form of the bytes of `s`, for the oracle's input.
std::string hex_of(const std::string &s);

}  // namespace qg_test

#endif  // QG_TEST_STANDARD_REGEX_GEN_H
