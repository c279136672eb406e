// Times the library's searches of a tree, in process, for bench/compare.sh.
//
//   search_bench [--stream] [--warmup W] [--runs N] [--pairs FILE] ROOT PATTERN [OPTIONS_JSON]
//
// Runs the document search (or, with --stream, the streaming search with a
// callback that only counts) W times untimed, then N times timed, and prints
// one line per timed run, then "min_ms MEDIAN_ms max_ms" as
// "summary MIN MEDIAN MAX", then "matches N". With --pairs, writes the
// "file:line" of every match of the last document to FILE, one per line.
// Uses the public interface only, so it builds against any version.
#include "quenmar_grep.h"

#include <yyjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long long g_streamed = 0;

void count_match(const char *) { ++g_streamed; }

// The document's total_matches, or -1 when it has none. Read from the text's
// end, where the totals stand, so that the benchmark holds no parse of a
// document of a million matches (its memory would be counted as the search's).
long long total_matches(const char *doc_text) {
  static const char kKey[] = "],\"total_matches\":";
  const size_t len = strlen(doc_text);
  const size_t tail = len < 256 ? len : 256;
  const std::string end(doc_text + len - tail, tail);
  const size_t at = end.rfind(kKey);
  if (at == std::string::npos) return -1;
  return std::atoll(end.c_str() + at + sizeof kKey - 1);
}

bool write_pairs(const char *doc_text, const char *path) {
  yyjson_doc *doc = yyjson_read(doc_text, strlen(doc_text), 0);
  FILE *out = std::fopen(path, "w");
  if (doc == nullptr || out == nullptr) return false;
  size_t idx, max;
  yyjson_val *match;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, match) {
    std::fprintf(out, "%s:%lld\n", yyjson_get_str(yyjson_obj_get(match, "file")),
                 static_cast<long long>(yyjson_get_sint(yyjson_obj_get(match, "line"))));
  }
  yyjson_doc_free(doc);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  bool stream = false;
  int warmup = 1, runs = 5;
  const char *pairs = nullptr;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    if (std::strcmp(argv[i], "--stream") == 0) {
      stream = true;
    } else if (std::strcmp(argv[i], "--warmup") == 0 && i + 1 < argc) {
      warmup = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) {
      pairs = argv[++i];
    } else {
      break;
    }
  }
  if (argc - i < 2 || runs < 1) {
    std::fprintf(stderr,
                 "usage: %s [--stream] [--warmup W] [--runs N] [--pairs FILE] ROOT PATTERN "
                 "[OPTIONS_JSON]\n",
                 argv[0]);
    return 2;
  }
  const char *root = argv[i];
  const char *pattern = argv[i + 1];
  const char *options = argc - i > 2 ? argv[i + 2] : nullptr;

  std::vector<double> times;
  long long matches = -1;
  for (int run = 0; run < warmup + runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    const char *doc = nullptr;
    if (stream) {
      g_streamed = 0;
      matches = grep_search_stream(root, pattern, options, count_match);
    } else {
      doc = grep_search_json(root, pattern, options);
    }
    auto end = std::chrono::steady_clock::now();
    if (doc != nullptr) matches = total_matches(doc);
    if (matches < 0) {
      std::fprintf(stderr, "search failed: %s\n", doc != nullptr ? doc : grep_last_error());
      return 1;
    }
    if (run < warmup) continue;
    const double ms = std::chrono::duration<double, std::milli>(end - start).count();
    times.push_back(ms);
    std::printf("run %d: %.1f ms\n", run - warmup + 1, ms);
    if (pairs != nullptr && doc != nullptr && run == warmup + runs - 1 &&
        !write_pairs(doc, pairs)) {
      std::fprintf(stderr, "cannot write %s\n", pairs);
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("summary %.1f %.1f %.1f\n", times.front(), times[times.size() / 2], times.back());
  std::printf("matches %lld\n", matches);
  return 0;
}
