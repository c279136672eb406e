// Times patterns built to make a backtracking matcher take exponential time,
// and long patterns over long lines, in both syntaxes where they apply, for
// bench/regex_bench.sh. For each case: the program's size S, the line's
// length n, the time of one compile and one search, and that time per
// S * (n + 1), the engine's bound on the steps of a line.
//
//   regex_bench
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"

#include <stdio.h>

#include <chrono>
#include <string>

namespace {

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void run(const char *label, const std::string &pattern, const std::string &line, re_syntax syntax) {
  const re_options options = {true, nullptr, nullptr, syntax, false, false, false};
  const double start = now_ms();
  re_program *program = re_compile_with(pattern.c_str(), &options, nullptr);
  if (program == nullptr) {
    printf("%-44s refused\n", label);
    return;
  }
  re_scratch *scratch = re_scratch_new(program);
  int32_t col = 0, len = 0;
  const re_result r = re_find(program, scratch, line.data(), line.size(), &col, &len);
  const double ms = now_ms() - start;
  const double bound = static_cast<double>(program->count) * (line.size() + 1);
  printf("%-44s %8zu %9zu %10.1f %12.4f  %s\n", label, static_cast<size_t>(program->count), line.size(), ms,
         ms * 1e6 / bound,
         r == RE_MATCH
             ? ("match at " + std::to_string(col) + ", " + std::to_string(len) + " bytes").c_str()
             : "no match");
  re_scratch_free(scratch);
  re_program_free(program);
}

std::string repeated(const std::string &unit, size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

}  // namespace

int main() {
  printf("%-44s %8s %9s %10s %12s  %s\n", "case", "S", "n", "ms", "ns/(S*(n+1))", "result");
  const re_syntax standard = RE_SYNTAX_STANDARD;
  run("(a|aa)*c on 50,000 a", "(a|aa)*c", std::string(50000, 'a'), standard);
  run("(x+x+)+y on 5,000 x", "(x+x+)+y", std::string(5000, 'x'), standard);
  run("(a*)*b on 20,000 a", "(a*)*b", std::string(20000, 'a'), standard);
  run("(?:a?){300}a{300} on 300 a", "(?:a?){300}a{300}", std::string(300, 'a'), standard);
  run("dialect a*a*a*a*a*a*a*a*a*a*c, 10,000 a xc", "a*a*a*a*a*a*a*a*a*a*c",
      std::string(10000, 'a') + "xc", RE_SYNTAX_DIALECT);
  for (size_t atoms : {1000, 10000}) {
    for (size_t line : {size_t{100} << 10, size_t{1} << 20}) {
      const std::string text = std::string(line - 1, 'a') + "!";
      char label[64];
      snprintf(label, sizeof label, "\\w x %zu then ! on %zu KiB", atoms, line >> 10);
      run(label, repeated("\\w", atoms) + "!", text, standard);
      if (atoms == 1000 && line == size_t{100} << 10) {
        snprintf(label, sizeof label, "dialect \\w x %zu then ! on %zu KiB", atoms, line >> 10);
        run(label, repeated("\\w", atoms) + "!", text, RE_SYNTAX_DIALECT);
      }
    }
  }
  return 0;
}
