#include "grep_core/utf8.h"
#include "grep_core/json_escape.h"

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

TEST(Utf8, ReplacementSwapsEachBadByteForU_FFFD) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"caf\xE9", "caf\xEF\xBF\xBD"},
      {"\xED\xA0\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},
      {"\xC3", "\xEF\xBF\xBD"},
      {"", ""},
  };
  for (const Case &c : cases) {
    char *out = qg_utf8_replace_invalid(c.in.data(), c.in.size());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out), c.out);
    free(out);
  }
}

std::string escaped(const char *s) {
  qm_strbuf sb;
  qm_strbuf_init(&sb);
  EXPECT_TRUE(qg_json_escape_append(&sb, s));
  std::string out(sb.buf, sb.len);
  qm_strbuf_free(&sb);
  return out;
}

TEST(JsonEscape, EscapesWhatJsonRequiresAndRepairsBadBytes) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"C:\\src\\a.c", "C:\\\\src\\\\a.c"},
      {"\t\n\r\b\f", "\\t\\n\\r\\b\\f"},
      {"\x01\x1F", "\\u0001\\u001F"},
      {"/ stays", "/ stays"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"caf\xE9!", "caf\\ufffd!"},
      {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},
      {"\x7F", "\x7F"},
  };
  for (const Case &c : cases) EXPECT_EQ(escaped(c.in), c.out) << c.in;
  EXPECT_EQ(escaped(nullptr), "");
}

}  // namespace
