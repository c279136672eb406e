#include "grep_core/strbuf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Builder {
  qm_strbuf sb;
  Builder() { qm_strbuf_init(&sb); }
  ~Builder() { qm_strbuf_free(&sb); }
  std::string text() const { return std::string(sb.buf, sb.len); }
};

TEST(Strbuf, FreshBuilderHoldsTheEmptyTextInA1024ByteBlock) {
  Builder b;
  ASSERT_NE(b.sb.buf, nullptr);
  EXPECT_EQ(b.sb.len, 0u);
  EXPECT_EQ(b.sb.cap, 1024u);
  EXPECT_STREQ(b.sb.buf, "");
}

TEST(Strbuf, GrowsByDoublingOnlyWhenTheTerminatorNoLongerFits) {
  Builder b;
  std::string bytes(1023, 'x');
  ASSERT_TRUE(qm_strbuf_append_len(&b.sb, bytes.data(), bytes.size()));
  EXPECT_EQ(b.sb.cap, 1024u);
  ASSERT_TRUE(qm_strbuf_append_c(&b.sb, 'y'));
  EXPECT_EQ(b.sb.cap, 2048u);
  EXPECT_EQ(b.sb.len, 1024u);
  EXPECT_EQ(b.sb.buf[b.sb.len], '\0');
}

TEST(Strbuf, LargeAppendDoublesUntilItFits) {
  Builder b;
  std::string bytes(5000, 'z');
  ASSERT_TRUE(qm_strbuf_append(&b.sb, bytes.c_str()));
  EXPECT_EQ(b.sb.cap, 8192u);
  EXPECT_EQ(b.text(), bytes);
}

TEST(Strbuf, EmbeddedNulBytesAreKeptAndCounted) {
  Builder b;
  ASSERT_TRUE(qm_strbuf_append_len(&b.sb, "a\0b", 3));
  ASSERT_TRUE(qm_strbuf_append_c(&b.sb, '\0'));
  EXPECT_EQ(b.text(), std::string("a\0b\0", 4));
}

TEST(Strbuf, NoOpAppendsSucceedWithoutChange) {
  qm_strbuf sb = {nullptr, 0, 0};
  EXPECT_TRUE(qm_strbuf_append(&sb, ""));
  EXPECT_TRUE(qm_strbuf_append(&sb, nullptr));
  EXPECT_TRUE(qm_strbuf_append_len(&sb, "abc", 0));
  EXPECT_EQ(sb.buf, nullptr) << "an empty append allocates nothing";
  EXPECT_EQ(sb.cap, 0u);
}

TEST(Strbuf, PrintfMeasuresThenFormatsInPlace) {
  Builder b;
  ASSERT_TRUE(qm_strbuf_append(&b.sb, "n="));
  ASSERT_TRUE(qm_strbuf_printf(&b.sb, "%d:%s", 42, "x"));
  EXPECT_EQ(b.text(), "n=42:x");
  ASSERT_TRUE(qm_strbuf_printf(&b.sb, "%s", ""));
  EXPECT_EQ(b.sb.len, 6u);
  std::string wide(3000, 'w');
  ASSERT_TRUE(qm_strbuf_printf(&b.sb, "%s", wide.c_str()));
  EXPECT_EQ(b.text(), "n=42:x" + wide);
}

TEST(Strbuf, BuilderWithoutBlockAllocatesOnFirstAppend) {
  qm_strbuf sb = {nullptr, 0, 0};
  ASSERT_TRUE(qm_strbuf_append_c(&sb, 'q'));
  EXPECT_EQ(sb.cap, 1024u);
  EXPECT_STREQ(sb.buf, "q");
  qm_strbuf_free(&sb);
  qm_strbuf_free(&sb);  // a second free does nothing
  EXPECT_EQ(sb.buf, nullptr);
  EXPECT_EQ(sb.cap, 0u);
}

TEST(Strbuf, ResetKeepsTheBlock) {
  Builder b;
  ASSERT_TRUE(qm_strbuf_append(&b.sb, std::string(2000, 'r').c_str()));
  char *block = b.sb.buf;
  qm_strbuf_reset(&b.sb);
  EXPECT_EQ(b.sb.buf, block);
  EXPECT_EQ(b.sb.len, 0u);
  EXPECT_EQ(b.sb.cap, 2048u);
  EXPECT_STREQ(b.sb.buf, "");
}

TEST(Strbuf, EnsureRefusesASizeThatWouldOverflow) {
  Builder b;
  ASSERT_TRUE(qm_strbuf_append(&b.sb, "abc"));
  EXPECT_FALSE(qm_strbuf_ensure(&b.sb, SIZE_MAX - 2));
  EXPECT_EQ(b.text(), "abc");
  EXPECT_EQ(b.sb.cap, 1024u);
}

}  // namespace
