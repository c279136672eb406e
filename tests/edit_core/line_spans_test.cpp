#include "edit_core/line_spans.h"
#include "support/edit_reference.h"
#include "support/line_array.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

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

// Random files and edit sets that place_edits takes: the one-pass
// application gives exactly what applying the placed edits one at a time
// gives, including insertions at a replaced range's ends, several at one
// place, clamping past either end, and deletions.
TEST(ApplySortedEdits, OnePassEqualsOneByOne) {
  std::mt19937 rng(11);
  const std::vector<std::string> shapes = {"", "x", "x\ny", "\n", "x\r\ny\rz", "x\n\n"};
  int applied = 0, shared_place = 0;
  for (int round = 0; round < 100000; ++round) {
    const int n = static_cast<int>(rng() % 10);
    std::string file;
    for (int i = 1; i <= n; ++i) file += "L" + std::to_string(i) + "\n";
    std::vector<std::string> texts(1 + rng() % 6);
    std::vector<line_edit> edits;
    for (size_t k = 0; k < texts.size(); ++k) {
      const int32_t start = static_cast<int32_t>(rng() % (n + 6)) - 2;
      const int32_t end = start + static_cast<int32_t>(rng() % 7) - 3;
      for (char c : shapes[rng() % shapes.size()])
        texts[k] += c == 'x' || c == 'y' || c == 'z' ? c + std::to_string(k) : std::string(1, c);
      edits.push_back({start, end, nullptr, nullptr});
    }
    for (size_t k = 0; k < texts.size(); ++k) edits[k].new_text = texts[k].c_str();
    edit_place *places = place_edits("f", edits.data(), static_cast<int32_t>(edits.size()),
                                     static_cast<size_t>(n), false);
    if (places == nullptr) continue;
    std::vector<qg_test::ref_place> ref;
    for (size_t k = 0; k < edits.size(); ++k) {
      ref.push_back({places[k].position, places[k].removed, places[k].new_text});
      shared_place += k > 0 && places[k].position == places[k - 1].position;
    }
    line_spans spans = {nullptr, 0, 0};
    ASSERT_TRUE(spans_split(file.data(), file.size(), &spans, nullptr));
    ASSERT_TRUE(apply_sorted_edits(&spans, places, static_cast<int>(edits.size())));
    ++applied;
    EXPECT_EQ(to_strings(spans), qg_test::ref_apply(qg_test::ref_split(file), ref))
        << "file of " << n << " lines, round " << round;
    spans_free(&spans);
    free(places);
    if (HasFailure()) return;
  }
  // The generator reaches the cases that matter, not only easy ones.
  EXPECT_GT(applied, 30000);
  EXPECT_GT(shared_place, 10000);
}

}  // namespace
