// The vector searches and counts against plain loops, on generated texts
// rich in the bytes they pick, in both cases, across block edges.
#include "grep_core/find_bytes.h"
#include "grep_core/ascii_class.h"
#include "grep_core/find_set.h"
#include "grep_core/simd/simd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// The first occurrence by direct comparison at every position.
const char *naive_find(const std::string &needle, const std::string &text, bool fold) {
  if (needle.empty() || needle.size() > text.size()) return nullptr;
  for (size_t s = 0; s + needle.size() <= text.size(); ++s) {
    bool ok = true;
    for (size_t i = 0; ok && i < needle.size(); ++i) {
      unsigned char a = text[s + i], b = needle[i];
      ok = fold ? qg_lower(a) == qg_lower(b) : a == b;
    }
    if (ok) return text.data() + s;
  }
  return nullptr;
}

size_t naive_breaks(const std::string &text, size_t from, size_t to) {
  size_t n = 0;
  for (size_t i = from; i < to; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++n;
  }
  return n;
}

TEST(FindBytes, EveryImplementationAgreesWithPlainLoops) {
  std::vector<qg_simd_ops> impls(4);
  impls.resize(qg_simd_all(impls.data(), impls.size()));
  impls.push_back({nullptr, nullptr, nullptr, "portable"});
  std::mt19937 rng(17);
  const char alphabet[] = "abAB_\r\n\0\xC3x";
  for (int round = 0; round < 30000; ++round) {
    std::string text(rng() % 200, ' ');
    for (char &c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
    std::string needle(1 + rng() % 6, ' ');
    for (char &c : needle) c = alphabet[rng() % (sizeof alphabet - 1)];
    if (rng() % 3 == 0 && text.size() > needle.size()) {
      text.replace(rng() % (text.size() - needle.size()), needle.size(), needle);
    }
    const bool fold = rng() % 2;
    qg_finder f;
    qg_finder_init(&f, needle.data(), needle.size(), !fold);
    const char *want = naive_find(needle, text, fold);
    EXPECT_EQ(qg_finder_find(&f, text.data(), text.size()), want) << round;
    for (const qg_simd_ops &ops : impls) {
      const char *got = needle.size() > text.size() ? nullptr
                        : ops.find != nullptr       ? ops.find(&f, text.data(), text.size())
                                              : qg_find_portable(&f, text.data(), text.size(), 0);
      ASSERT_EQ(got, want) << ops.name << " round " << round;
      const size_t from = text.empty() ? 0 : rng() % text.size();
      const size_t to = from + (text.size() == from ? 0 : rng() % (text.size() - from + 1));
      const size_t breaks = ops.count_breaks != nullptr
                                ? ops.count_breaks(text.data() + from, text.data() + to)
                                : qg_count_breaks_portable(text.data() + from, text.data() + to);
      ASSERT_EQ(breaks, naive_breaks(text, from, to)) << ops.name << " round " << round;
    }
  }
}

// The set finder: the leftmost start of any of up to 16 strings, the same
// from every implementation as from a plain search, across block edges.
TEST(FindBytes, EverySetFinderAgreesWithPlainLoops) {
  std::vector<qg_simd_ops> impls(4);
  impls.resize(qg_simd_all(impls.data(), impls.size()));
  std::mt19937 rng(29);
  const char alphabet[] = "abcAB_\r\n\0\xC3x";
  for (int round = 0; round < 20000; ++round) {
    std::string text(rng() % 300, ' ');
    for (char &c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
    std::vector<std::string> needles(1 + rng() % QG_SET_FINDER_MAX);
    std::vector<const char *> pointers;
    std::vector<size_t> lens;
    for (std::string &needle : needles) {
      needle.assign(1 + rng() % 5, ' ');
      for (char &c : needle) c = alphabet[rng() % (sizeof alphabet - 1)];
      if (rng() % 4 == 0 && text.size() > needle.size()) {
        text.replace(rng() % (text.size() - needle.size()), needle.size(), needle);
      }
    }
    for (const std::string &needle : needles) {
      pointers.push_back(needle.data());
      lens.push_back(needle.size());
    }
    const bool fold = rng() % 2;
    qg_set_finder f;
    qg_set_finder_init(&f, pointers.data(), lens.data(), static_cast<int>(needles.size()), !fold);
    const char *want = nullptr;
    for (const std::string &needle : needles) {
      const char *hit = naive_find(needle, text, fold);
      if (hit != nullptr && (want == nullptr || hit < want)) want = hit;
    }
    int which = -1;
    const char *got = qg_set_finder_find(&f, text.data(), text.size(), &which);
    ASSERT_EQ(got, want) << "round " << round;
    if (got != nullptr) {
      // The string it names is the one there.
      const std::string there(got,
                              std::min(needles[which].size(), text.size() - (got - text.data())));
      ASSERT_NE(naive_find(needles[which], there, fold), nullptr) << "round " << round;
    }
    ASSERT_EQ(qg_set_find_portable(&f, text.data(), text.size(), 0, nullptr), want) << round;
    for (const qg_simd_ops &ops : impls) {
      if (ops.find_set == nullptr) continue;
      ASSERT_EQ(ops.find_set(&f, text.data(), text.size(), nullptr), want) << ops.name << round;
    }
  }
}

}  // namespace
