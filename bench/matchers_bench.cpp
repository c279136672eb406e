// Per-line cost of the matchers on source-like text: the literal finder (exact,
// case-folded, whole word), typical patterns, and globs on file names.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "grep_core/glob.h"
#include "grep_core/literal.h"
#include "grep_core/regex.h"

namespace {

// About 1000 lines of roughly 100 bytes built from C-like fragments, fixed by
// the seed; a few hold the words the benchmarks look for, most do not.
const std::vector<std::string> &source_lines() {
  static const std::vector<std::string> lines = [] {
    const char *fragments[] = {"    if (ctx->state == STATE_READY && count > 0) {",
                               " return err;",
                               "  struct buffer *buf = alloc_buffer(len + 1);",
                               " /* keep the lock held */",
                               "  for (size_t i = 0; i < n; ++i)",
                               " total += values[i] * 3.25;",
                               "  spin_unlock(&dev->lock);",
                               " ret = copy_from_user(dst, src, size);",
                               "  #define MAX_ENTRIES 4096",
                               " pr_debug(\"reset %d\\n\", id);",
                               "  task->flags |= TASK_RUNNING;",
                               " } else {",
                               "  /* Colour of the widget */"};
    std::mt19937 rng(7);
    std::vector<std::string> out;
    for (int i = 0; i < 1000; ++i) {
      std::string line;
      if (i % 97 == 0) line += " TASK_SUSPEND";
      if (i % 89 == 0) line += " color";
      if (i % 83 == 0) line += " v1.25";
      while (line.size() < 100) line += fragments[rng() % (sizeof fragments / sizeof *fragments)];
      out.push_back(line.substr(0, 100));
    }
    return out;
  }();
  return lines;
}

int64_t total_bytes(const std::vector<std::string> &lines) {
  int64_t n = 0;
  for (const auto &l : lines) n += static_cast<int64_t>(l.size());
  return n;
}

void report(benchmark::State &state, const std::vector<std::string> &lines, int hits) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
  state.SetBytesProcessed(state.iterations() * total_bytes(lines));
  state.counters["hits"] = hits;
}

void BM_Literal(benchmark::State &state, const char *pattern, bool case_sensitive,
                bool whole_word) {
  const auto &lines = source_lines();
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto &l : lines) {
      int32_t col = 0, len = 0;
      hits += fixed_find_first(pattern, l.c_str(), case_sensitive, whole_word, &col, &len);
      benchmark::DoNotOptimize(col);
    }
  }
  report(state, lines, hits);
}
BENCHMARK_CAPTURE(BM_Literal, exact, "copy_from_user", true, false);
BENCHMARK_CAPTURE(BM_Literal, exact_rare, "mutex_lock", true, false);
BENCHMARK_CAPTURE(BM_Literal, ignore_case, "Copy_From_User", false, false);
BENCHMARK_CAPTURE(BM_Literal, ignore_case_common_first_byte, "ERR", false, false);
BENCHMARK_CAPTURE(BM_Literal, whole_word, "lock", true, true);
BENCHMARK_CAPTURE(BM_Literal, whole_word_ignore_case, "LOCK", false, true);

void BM_Regex(benchmark::State &state, const char *pattern, bool case_sensitive) {
  const auto &lines = source_lines();
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto &l : lines) {
      int32_t col = 0, len = 0;
      hits += regex_find_first(pattern, l.c_str(), case_sensitive, &col, &len);
      benchmark::DoNotOptimize(col);
    }
  }
  report(state, lines, hits);
}
BENCHMARK_CAPTURE(BM_Regex, word_suspend, "\\w+_SUSPEND", true);
BENCHMARK_CAPTURE(BM_Regex, colou_r, "colou?r", true);
BENCHMARK_CAPTURE(BM_Regex, colou_r_ignore_case, "colou?r", false);
BENCHMARK_CAPTURE(BM_Regex, decimal, "\\d+\\.\\d+", true);
BENCHMARK_CAPTURE(BM_Regex, alternatives, "spin_lock|mutex_lock|rwlock", true);
BENCHMARK_CAPTURE(BM_Regex, anchored, "^\\s*#define", true);

// One long line (a generated or minified file). word_suspend and dot_star_absent
// are settled by the literal prefilter; dot_star's literal runs all occur, so
// each 'foo' scans the rest of the line: quadratic in the line's length.
void BM_RegexLongLine(benchmark::State &state, const char *pattern) {
  std::string line;
  while (line.size() < static_cast<size_t>(state.range(0))) {
    line += "foo_bar(baz, 10.25) + qux_SUSPENDED; ";
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(regex_find_first(pattern, line.c_str(), true, nullptr, nullptr));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK_CAPTURE(BM_RegexLongLine, word_suspend, "\\w+_SUSPEND;x")->Arg(300 << 10);
BENCHMARK_CAPTURE(BM_RegexLongLine, dot_star_absent, "foo.*never")->Arg(300 << 10);
BENCHMARK_CAPTURE(BM_RegexLongLine, dot_star, "foo.*\\(q")->Arg(32 << 10)->Arg(300 << 10);

// The backtracking blow-up ends at the line's step budget (the 'c' after the
// run lets the line past the literal prefilter).
void BM_RegexBlowUp(benchmark::State &state) {
  std::string line = std::string(static_cast<size_t>(state.range(0)), 'a') + "xc";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        regex_find_first("a*a*a*a*a*a*a*a*a*a*c", line.c_str(), true, nullptr, nullptr));
  }
}
BENCHMARK(BM_RegexBlowUp)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Glob(benchmark::State &state, const char *glob) {
  const char *names[] = {"main.c",     "util.h",       "README.md",  "CMakeLists.txt",
                         "notes.TXT",  "index.min.js", "Cargo.lock", "test_regex.cpp",
                         ".gitignore", "node_modules", "build.rs",   "a_very_long_file_name.txt"};
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const char *name : names) hits += glob_match(glob, name);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sizeof names / sizeof *names));
  state.counters["hits"] = hits;
}
BENCHMARK_CAPTURE(BM_Glob, suffix, "*.txt");
BENCHMARK_CAPTURE(BM_Glob, class_suffix, "*.[ch]");
BENCHMARK_CAPTURE(BM_Glob, two_stars, "*test*.c*");
BENCHMARK_CAPTURE(BM_Glob, prefix, "node_*");

}  // namespace

BENCHMARK_MAIN();
