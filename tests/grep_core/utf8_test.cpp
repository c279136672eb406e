#include "grep_core/utf8.h"
#include "grep_core/json_out.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

TEST(Utf8, ValidityFollowsStrictJsonRules) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"caf\xC3\xA9", true},
      {"\xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xC0\xAF", false},          // overlong
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // a surrogate in three-byte form
      {"\xED\x9F\xBF", true},       // U+D7FF, just below the surrogates
      {"\xC3", false},              // cut short
      {"\x80", false},              // stray continuation
      {"\xE9t\xE9", false},         // Latin-1
      {std::string("a\0b", 3), true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(qg_utf8_valid(c.bytes.data(), c.bytes.size()), c.valid) << c.bytes;
  }
}

// The one table of lead bytes, read by the validator, the converter to
// UTF-16 (which takes the announced length whatever follows) and the cut of
// long messages.
TEST(Utf8, LeadTableAndCutBoundaries) {
  struct Lead {
    unsigned char byte;
    int announced;
    bool valid;
  };
  const Lead leads[] = {{0x00, 1, true}, {0x7F, 1, true}, {0x80, 2, false}, {0xC1, 2, false},
                        {0xC2, 2, true}, {0xDF, 2, true}, {0xE0, 3, true},  {0xEF, 3, true},
                        {0xF0, 4, true}, {0xF4, 4, true}, {0xF5, 4, false}, {0xFF, 4, false}};
  for (const Lead &l : leads) {
    EXPECT_EQ(qg_utf8_lead_of(l.byte).announced, l.announced) << int(l.byte);
    EXPECT_EQ(qg_utf8_lead_of(l.byte).valid, l.valid) << int(l.byte);
  }
  struct Cut {
    std::string text;
    size_t kept;
  };
  const Cut cuts[] = {
      {"ab", 2},        {"a\xC3", 1},         {"a\xC3\xA9", 3},
      {"a\xE2\x82", 1}, {"a\xE2\x82\xAC", 4}, {"a\xF0\x9F\x98", 1},
      {"\x80\x80", 2},  {"a\xFF", 2},
  };
  for (const Cut &c : cuts) {
    EXPECT_EQ(qg_utf8_cut_boundary(c.text.data(), c.text.size()), c.kept)
        << testing::PrintToString(c.text);
  }
}

std::string escaped(const std::string &s) {
  json_out out = {};
  json_out_string(&out, s.data(), s.size());
  EXPECT_FALSE(out.failed);
  std::string text(out.data, out.len);
  json_out_free(&out);
  return text;
}

// The one JSON string writer: what JSON requires escaped, in the forms
// yyjson's writer uses, and every byte outside valid UTF-8 made U+FFFD.
TEST(JsonString, EscapesWhatJsonRequiresAndRepairsBadBytes) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\t\n\r\b\f", "\"\\t\\n\\r\\b\\f\""},
      {"\x01\x1F", "\"\\u0001\\u001F\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"/ stays \x7F", "\"/ stays \x7F\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"caf\xE9!", "\"caf\xEF\xBF\xBD!\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {std::string(4095, 'x') + "\xC3\xA9", "\"" + std::string(4095, 'x') + "\xC3\xA9\""},
  };
  for (const Case &c : cases) EXPECT_EQ(escaped(c.in), c.out) << testing::PrintToString(c.in);
}

}  // namespace
