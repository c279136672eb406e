// Times the library's edits of one large file, for bench/edit_bench.sh.
//
//   edit_bench one FILE LINE TEXT      replaces line LINE with TEXT
//   edit_bench batch FILE STEP COUNT   replaces lines STEP, 2*STEP, ... COUNT*STEP
//                                      with "edited N", in one batch document
//   edit_bench every FILE STEP LINES insert|replace TEXT
//                                      one batch that inserts TEXT before, or
//                                      replaces with TEXT, every STEP-th line of
//                                      the LINES lines (sed's STEP~STEP address)
//
// Prints the milliseconds the library call took; exits non-zero on failure.
#include "edit_core/batch.h"
#include "edit_core/edit.h"
#include "grep_core/last_error.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

namespace {

double now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The batch document for COUNT single-line replacements STEP lines apart.
std::string batch_document(const char *file, long step, long count) {
  std::string json = "[";
  for (long k = 1; k <= count; ++k) {
    long line = k * step;
    if (k > 1) json += ',';
    json += "{\"file\":\"";
    json += file;
    json += "\",\"start_line\":" + std::to_string(line) + ",\"end_line\":" + std::to_string(line) +
            ",\"new_text\":\"edited " + std::to_string(line) + "\"}";
  }
  return json + "]";
}

// The batch document for one edit of every STEP-th line of a file of `lines`
// lines: an insertion before it, or a replacement of it, by `text`.
std::string every_document(const char *file, long step, long lines, bool insert, const char *text) {
  std::string json = "[";
  json.reserve(static_cast<size_t>(lines / step + 1) * (strlen(file) + strlen(text) + 64));
  for (long line = step; line <= lines; line += step) {
    if (line > step) json += ',';
    json += "{\"file\":\"";
    json += file;
    json += "\",\"start_line\":" + std::to_string(line) +
            ",\"end_line\":" + std::to_string(insert ? line - 1 : line) + ",\"new_text\":\"" +
            text + "\"}";
  }
  return json + "]";
}

int run_one(const char *file, int line, const char *text) {
  double start = now_ms();
  int rc = grep_core_replace_lines(file, line, line, text);
  double elapsed = now_ms() - start;
  if (rc != 0) {
    fprintf(stderr, "edit failed: %s\n", qm_grep_get_last_error());
    return 1;
  }
  printf("%.1f\n", elapsed);
  return 0;
}

int run_document(const std::string &json) {
  double start = now_ms();
  char *report = grep_core_batch_replace_json(json.c_str());
  double elapsed = now_ms() - start;
  bool ok = report != nullptr && strncmp(report, "{\"success\":true", 15) == 0;
  if (!ok) fprintf(stderr, "batch failed: %s\n", report != nullptr ? report : "out of memory");
  free(report);
  if (!ok) return 1;
  printf("%.1f\n", elapsed);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "one") == 0) return run_one(argv[2], atoi(argv[3]), argv[4]);
  if (argc == 5 && strcmp(argv[1], "batch") == 0) {
    return run_document(batch_document(argv[2], atol(argv[3]), atol(argv[4])));
  }
  if (argc == 7 && strcmp(argv[1], "every") == 0) {
    const bool insert = strcmp(argv[5], "insert") == 0;
    return run_document(every_document(argv[2], atol(argv[3]), atol(argv[4]), insert, argv[6]));
  }
  fprintf(stderr,
          "usage: %s one FILE LINE TEXT | batch FILE STEP COUNT |"
          " every FILE STEP LINES insert|replace TEXT\n",
          argv[0]);
  return 2;
}
