#include "edit_core/line_spans.h"
#include "support/edit_reference.h"
#include "support/line_array.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

using qg_test::ref_edit;

std::vector<std::string> to_strings(const line_spans &lines) {
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.count; ++i)
    out.emplace_back(lines.items[i].text, lines.items[i].len);
  return out;
}

// Random texts of CR, LF and two letters: cutting them into spans gives the
// lines and the ending counts of the line array's split and the reader's
// majority rule.
TEST(SpansSplit, AgreesWithTheLineArrayAndTheEndingRule) {
  std::mt19937 rng(7);
  const char alphabet[] = {'\r', '\n', 'a', 'b'};
  for (int round = 0; round < 20000; ++round) {
    std::string text(rng() % 12, ' ');
    for (char &c : text) c = alphabet[rng() % 4];
    line_spans spans = {nullptr, 0, 0};
    ending_counts counts = {0, 0};
    ASSERT_TRUE(spans_split(text.data(), text.size(), &spans, &counts));
    line_array lines;
    ASSERT_TRUE(split_into_lines(text.c_str(), &lines));
    std::vector<std::string> expected(lines.items, lines.items + lines.count);
    la_free(&lines);
    EXPECT_EQ(to_strings(spans), expected) << testing::PrintToString(text);
    EXPECT_EQ(counts.crlf > counts.lf ? LE_CRLF : LE_LF, detect_line_ending(text.c_str()));
    spans_free(&spans);
  }
}

// Random files and edit sets that pass the overlap check: the one-pass
// application gives exactly what the one-by-one definition gives, including
// insertions inside a lower replacement's range, equal starts, clamping past
// either end, and deletions.
TEST(ApplySortedEdits, OnePassEqualsOneByOne) {
  std::mt19937 rng(11);
  const std::vector<std::string> shapes = {"", "x", "x\ny", "\n", "x\r\ny\rz", "x\n\n"};
  int applied = 0, inside_replacement = 0;
  for (int round = 0; round < 200000; ++round) {
    const int n = static_cast<int>(rng() % 10);
    std::string file;
    for (int i = 1; i <= n; ++i) file += "L" + std::to_string(i) + "\n";
    std::vector<ref_edit> edits(1 + rng() % 6);
    for (size_t k = 0; k < edits.size(); ++k) {
      ref_edit &e = edits[k];
      e.start = static_cast<int32_t>(rng() % (n + 6)) - 2;
      e.end = e.start + static_cast<int32_t>(rng() % 7) - 3;
      std::string shape = shapes[rng() % shapes.size()];
      for (char c : shape)
        e.text += c == 'x' || c == 'y' || c == 'z' ? c + std::to_string(k) : std::string(1, c);
    }
    std::vector<line_edit> sorted;
    for (const ref_edit &e : edits) sorted.push_back({e.start, e.end, e.text.c_str(), nullptr});
    qsort(sorted.data(), sorted.size(), sizeof(line_edit), cmp_edits_desc);
    std::vector<ref_edit> ref_sorted;
    for (const line_edit &e : sorted) ref_sorted.push_back({e.start_line, e.end_line, e.new_text});
    if (!qg_test::ref_no_overlap(ref_sorted)) continue;
    for (size_t a = 0; a < ref_sorted.size(); ++a) {
      for (size_t b = a + 1; b < ref_sorted.size(); ++b) {
        const ref_edit &ins = ref_sorted[a], &rep = ref_sorted[b];
        if (ins.start > ins.end && rep.start <= rep.end && ins.start > rep.start &&
            ins.start <= rep.end) {
          ++inside_replacement;
        }
      }
    }

    line_spans spans = {nullptr, 0, 0};
    ASSERT_TRUE(spans_split(file.data(), file.size(), &spans, nullptr));
    ASSERT_TRUE(apply_sorted_edits(&spans, sorted.data(), static_cast<int>(sorted.size())));
    ++applied;
    EXPECT_EQ(to_strings(spans), qg_test::ref_apply(qg_test::ref_split(file), ref_sorted))
        << "file of " << n << " lines, round " << round;
    spans_free(&spans);
    if (HasFailure()) return;
  }
  // The generator reaches the cases that matter, not only easy ones.
  EXPECT_GT(applied, 50000);
  EXPECT_GT(inside_replacement, 1000);
}

}  // namespace
