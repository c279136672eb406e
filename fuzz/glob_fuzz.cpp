// Name glob fuzz target. Input: the glob, a NUL, the name (each ends at its
// first NUL). Properties: glob_match equals a direct recursive transcription
// of the glob definition (on inputs small enough for its exponential cost),
// and basename_portable returns the suffix after the last separator.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "../tests/support/glob_reference.h"
#include "grep_core/glob.h"

namespace {

// The reference recurses once per star and retries each name position, so
// its cost is about the name's length raised to the number of stars.
constexpr size_t kReferenceNameMax = 24;
constexpr long kReferenceStarsMax = 5;

void fail(const char *what, const std::string &glob, const std::string &name) {
  fprintf(stderr, "glob_fuzz: %s\n  glob: \"%s\"\n  name: \"%s\"\n", what, glob.c_str(),
          name.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t split = input.find('\0');
  std::string glob = input.substr(0, split);
  std::string name = split == std::string::npos ? std::string() : input.substr(split + 1);
  name = name.substr(0, name.find('\0'));

  bool fast = glob_match(glob.c_str(), name.c_str());
  long stars = std::count(glob.begin(), glob.end(), '*');
  if (name.size() <= kReferenceNameMax && stars <= kReferenceStarsMax) {
    if (fast != qg_test::glob_match_reference(glob.c_str(), name.c_str())) {
      fail("glob_match differs from the definition", glob, name);
    }
  }

  const char *path = name.c_str();
  const char *base = basename_portable(path);
  if (base < path || base > path + name.size()) fail("basename outside the path", glob, name);
  if (strpbrk(base, "/\\") != nullptr) fail("basename holds a separator", glob, name);
  if (base > path && base[-1] != '/' && base[-1] != '\\') {
    fail("basename does not follow a separator", glob, name);
  }
  return 0;
}
