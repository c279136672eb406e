// One search that must end early, timed in a process of its own, for
// bench/limits_bench.sh: the wall time of the call, the process's peak
// memory, and what the call said.
//
//   limits_bench doc|stream|stop ROOT PATTERN OPTIONS_JSON
//
// A PATTERN of the form @FILE is the contents of FILE (a pattern too long for
// a command line).
// "doc" runs the document search, "stream" the streaming search with a
// callback that only counts, "stop" the streaming search with a callback
// that stops at the first match. Prints
// "ms MS peak_kb KB status STATUS matches N". Public interface only.
#include "quenmar_grep.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

long long g_matches = 0;

int count_match(const char *, void *) {
  ++g_matches;
  return 0;
}

int stop_at_first(const char *, void *) {
  ++g_matches;
  return 1;
}

// The document's total_matches, read from its end where the totals stand.
long long total_matches(const char *doc) {
  const char *at = std::strstr(doc, "],\"total_matches\":");
  return at != nullptr ? std::atoll(at + std::strlen("],\"total_matches\":")) : -1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: limits_bench doc|stream|stop ROOT PATTERN OPTIONS_JSON\n");
    return 2;
  }
  const char *mode = argv[1];
  std::string pattern = argv[3];
  if (pattern.size() > 1 && pattern[0] == '@') {
    std::ifstream in(pattern.substr(1), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    pattern = all.str();
  }
  argv[3] = pattern.data();
  const auto start = std::chrono::steady_clock::now();
  const char *doc = nullptr;
  if (std::strcmp(mode, "doc") == 0) {
    doc = grep_search_json(argv[2], argv[3], argv[4]);
  } else {
    const bool stop = std::strcmp(mode, "stop") == 0;
    grep_search_stream_ctx(argv[2], argv[3], argv[4], stop ? stop_at_first : count_match, nullptr);
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  // Read after the call is timed: finding the totals in a large document
  // takes a while of its own.
  if (doc != nullptr) g_matches = total_matches(doc);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("ms %.1f peak_kb %ld status %d matches %lld\n", ms, usage.ru_maxrss,
              grep_last_status(), g_matches);
  return 0;
}
