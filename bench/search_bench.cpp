// Times the document search over a tree: `search_bench ROOT PATTERN [OPTIONS_JSON [RUNS]]`.
// Prints one line per run with the wall time and the document's totals, then
// the best wall time, so a script can compare it with other tools.
#include "quenmar_grep.h"

#include <yyjson.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The integer member `key` of the document's root; -1 when absent.
long long member(const char *doc_text, const char *key) {
  yyjson_doc *doc = yyjson_read(doc_text, strlen(doc_text), 0);
  long long value = -1;
  if (doc != nullptr) {
    yyjson_val *v = yyjson_obj_get(yyjson_doc_get_root(doc), key);
    if (yyjson_is_int(v)) value = yyjson_get_sint(v);
    yyjson_doc_free(doc);
  }
  return value;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ROOT PATTERN [OPTIONS_JSON [RUNS]]\n", argv[0]);
    return 2;
  }
  const char *options = argc > 3 ? argv[3] : nullptr;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  double best_ms = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    const char *doc = grep_search_json(argv[1], argv[2], options);
    auto end = std::chrono::steady_clock::now();
    double ms = std::chrono::duration<double, std::milli>(end - start).count();
    if (run == 0 || ms < best_ms) best_ms = ms;
    std::printf(
        "run %d: %.1f ms wall, %zu bytes, total_matches %lld, files_searched %lld, "
        "duration_ms %lld\n",
        run + 1, ms, strlen(doc), member(doc, "total_matches"), member(doc, "files_searched"),
        member(doc, "duration_ms"));
    if (member(doc, "total_matches") < 0) std::printf("  document: %.200s\n", doc);
  }
  std::printf("best_ms %.1f\n", best_ms);
  return 0;
}
