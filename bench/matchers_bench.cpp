// Per-line cost of the matchers on source-like text: the literal finder (exact,
// case-folded, whole word), typical patterns, and globs on file names.
#include <benchmark/benchmark.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "grep_core/ascii_class.h"
#include "grep_core/find_bytes.h"
#include "grep_core/glob.h"
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"

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

// The first occurrence in `line` that the whole-word rule (when asked) lets
// stand, by the search's prepared finder; null when there is none.
const char *find_literal(const qg_finder &f, const std::string &line, bool whole_word) {
  const char *text = line.c_str();
  const size_t len = line.size();
  for (size_t from = 0; from < len;) {
    const char *hit = qg_finder_find(&f, text + from, len - from);
    if (hit == nullptr || !whole_word) return hit;
    const bool before = hit > text && qg_is_word(static_cast<unsigned char>(hit[-1]));
    if (!before && !qg_is_word(static_cast<unsigned char>(hit[f.n]))) return hit;
    from = static_cast<size_t>(hit - text) + 1;
  }
  return nullptr;
}

void BM_Literal(benchmark::State &state, const char *pattern, bool case_sensitive,
                bool whole_word) {
  const auto &lines = source_lines();
  qg_finder f;
  qg_finder_init(&f, pattern, strlen(pattern), case_sensitive);
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto &l : lines) {
      const char *hit = find_literal(f, l, whole_word);
      hits += hit != nullptr;
      benchmark::DoNotOptimize(hit);
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

// A compiled pattern and its scratch, as a search holds them for all its lines.
struct compiled {
  re_program *program;
  re_scratch *scratch;
  compiled(const char *pattern, bool case_sensitive)
      : program(re_compile(pattern, case_sensitive)), scratch(re_scratch_new(program)) {}
  ~compiled() {
    re_scratch_free(scratch);
    re_program_free(program);
  }
  bool find(const std::string &line, int32_t *col, int32_t *len) const {
    return re_find(program, scratch, line.data(), line.size(), col, len) == RE_MATCH;
  }
};

// Per-line cost as the search pays it: the pattern compiled once.
void BM_Regex(benchmark::State &state, const char *pattern, bool case_sensitive) {
  const auto &lines = source_lines();
  const compiled re(pattern, case_sensitive);
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto &l : lines) {
      int32_t col = 0, len = 0;
      hits += re.find(l, &col, &len);
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
// Kernel-tree patterns of the search benchmarks.
BENCHMARK_CAPTURE(BM_Regex, kernel_suspend, "\\w+_SUSPEND", true);
BENCHMARK_CAPTURE(BM_Regex, kernel_lock, "spin_(un)?lock", true);
BENCHMARK_CAPTURE(BM_Regex, kernel_hex, "0x[0-9a-f]+", true);

// One long line (a generated or minified file). word_suspend and dot_star_absent
// are settled by the literal prefilter; dot_star's literal runs all occur, so
// each 'foo' scans the rest of the line: quadratic in the line's length.
void BM_RegexLongLine(benchmark::State &state, const char *pattern) {
  std::string line;
  while (line.size() < static_cast<size_t>(state.range(0))) {
    line += "foo_bar(baz, 10.25) + qux_SUSPENDED; ";
  }
  const compiled re(pattern, true);
  for (auto _ : state) {
    int32_t col = 0, len = 0;
    benchmark::DoNotOptimize(re.find(line, &col, &len));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK_CAPTURE(BM_RegexLongLine, word_suspend, "\\w+_SUSPEND;x")->Arg(300 << 10);
BENCHMARK_CAPTURE(BM_RegexLongLine, dot_star_absent, "foo.*never")->Arg(300 << 10);
BENCHMARK_CAPTURE(BM_RegexLongLine, dot_star, "foo.*\\(q")->Arg(32 << 10)->Arg(300 << 10);

// Hostile patterns, each matched exactly: the time is linear in the line
// (a*...a*c finds its 'c' at column 10002; the definition's result).
void BM_RegexHostile(benchmark::State &state, const std::string &pattern, const std::string &line) {
  const compiled re(pattern.c_str(), true);
  bool found = false;
  for (auto _ : state) {
    int32_t col = 0, len = 0;
    found = re.find(line, &col, &len);
    benchmark::DoNotOptimize(col);
  }
  state.counters["found"] = found;
  state.counters["instructions"] = static_cast<double>(re.program->count);
}

std::string repeated(const std::string &piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

BENCHMARK_CAPTURE(BM_RegexHostile, nine_stars_digit, repeated("a*", 9) + "\\d",
                  std::string(40, 'a'))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RegexHostile, nine_stars_digit_1mb, repeated("a*", 9) + "\\d",
                  std::string(1 << 20, 'a'))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RegexHostile, ten_stars_c, repeated("a*", 10) + "c",
                  std::string(10000, 'a') + "xc")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RegexHostile, brackets_200k, std::string(200000, '['), "int x = f(y);")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RegexHostile, starred_classes_50k, repeated("[ab]*", 50000), "abba c")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RegexHostile, optionals_then_required,
                  repeated("a?", 1000) + std::string(1000, 'a'), std::string(1000, 'a'))
    ->Unit(benchmark::kMillisecond);

// Compiling, which a search does once: the hostile patterns above.
void BM_RegexCompile(benchmark::State &state, const std::string &pattern) {
  for (auto _ : state) {
    re_program *program = re_compile(pattern.c_str(), true);
    benchmark::DoNotOptimize(program);
    re_program_free(program);
  }
}
BENCHMARK_CAPTURE(BM_RegexCompile, brackets_200k, std::string(200000, '['))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RegexCompile, starred_classes_50k, repeated("[ab]*", 50000))
    ->Unit(benchmark::kMillisecond);

// A generated pattern of 10,000 atoms (words, classes, escapes, quantifiers
// and bars) over 1 MB of source-like lines: the whole file's matching time.
void BM_RegexLongPatternOverFile(benchmark::State &state) {
  std::mt19937 rng(5);
  const char *atoms[] = {"a", "e", "_", "\\w", "\\d", "[a-z]", "[^ ]", ".", "x", "(", ";"};
  const char *quantifiers[] = {"", "", "", "*", "+", "?"};
  std::string pattern;
  for (int i = 0; i < 10000; ++i) {
    pattern += atoms[rng() % (sizeof atoms / sizeof *atoms)];
    pattern += quantifiers[rng() % (sizeof quantifiers / sizeof *quantifiers)];
    if (rng() % 50 == 0) pattern += "|";
  }
  const auto &lines = source_lines();
  std::vector<std::string> file;
  size_t bytes = 0;
  while (bytes < (1u << 20)) {
    for (const auto &l : lines) {
      file.push_back(l);
      bytes += l.size() + 1;
    }
  }
  const compiled re(pattern.c_str(), true);
  int hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto &l : file) {
      int32_t col = 0, len = 0;
      hits += re.find(l, &col, &len);
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  state.counters["hits"] = hits;
  state.counters["instructions"] = static_cast<double>(re.program->count);
}
BENCHMARK(BM_RegexLongPatternOverFile)->Unit(benchmark::kMillisecond);

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
