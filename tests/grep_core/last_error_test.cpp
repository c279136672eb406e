#include "grep_core/last_error.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(LastError, FormatsAndReplacesThePreviousText) {
  qm_grep_set_last_error("Cannot open file '%s': %s", "a.txt", "No such file");
  EXPECT_STREQ(qm_grep_get_last_error(), "Cannot open file 'a.txt': No such file");
  qm_grep_set_last_error("second");
  EXPECT_STREQ(qm_grep_get_last_error(), "second");
  qm_grep_clear_last_error();
  EXPECT_STREQ(qm_grep_get_last_error(), "");
}

TEST(LastError, LongTextIsCutAt1023Bytes) {
  std::string long_text(1500, 'x');
  qm_grep_set_last_error("%s", long_text.c_str());
  EXPECT_EQ(std::string(qm_grep_get_last_error()), long_text.substr(0, 1023));
}

// A cut inside a multi-byte character drops the partial character, so the
// message stays valid UTF-8; a character that ends exactly at the cut stays.
TEST(LastError, CutNeverSplitsAUtf8Sequence) {
  struct Case {
    size_t ascii_prefix;
    const char *tail;
    size_t expected_len;
  };
  const Case cases[] = {
      {1022, "\xC3\xA9", 1022},          // 2-byte, cut after its lead byte
      {1021, "\xC3\xA9", 1023},          // 2-byte, ends exactly at the cut
      {1021, "\xE2\x82\xAC", 1021},      // 3-byte, two of three bytes fit
      {1022, "\xE2\x82\xAC", 1022},      // 3-byte, one of three fits
      {1020, "\xF0\x9F\x98\x80", 1020},  // 4-byte, three of four fit
      {1019, "\xF0\x9F\x98\x80", 1023},  // 4-byte, fits exactly
  };
  for (const Case &c : cases) {
    std::string message = std::string(c.ascii_prefix, 'a') + c.tail + "zzzz";
    qm_grep_set_last_error("%s", message.c_str());
    EXPECT_EQ(strlen(qm_grep_get_last_error()), c.expected_len) << "prefix " << c.ascii_prefix;
    EXPECT_EQ(std::string(qm_grep_get_last_error()), message.substr(0, c.expected_len));
  }
}

TEST(LastError, MessageThatFitsKeepsEvenInvalidBytes) {
  qm_grep_set_last_error("bad \xFF\xC3 byte");
  EXPECT_STREQ(qm_grep_get_last_error(), "bad \xFF\xC3 byte");
}

TEST(LastError, EachThreadHasItsOwnText) {
  qm_grep_set_last_error("main thread");
  std::string seen_fresh, seen_after;
  std::thread other([&] {
    seen_fresh = qm_grep_get_last_error();
    qm_grep_set_last_error("other thread");
    seen_after = qm_grep_get_last_error();
  });
  other.join();
  EXPECT_EQ(seen_fresh, "");
  EXPECT_EQ(seen_after, "other thread");
  EXPECT_STREQ(qm_grep_get_last_error(), "main thread");
}

}  // namespace
