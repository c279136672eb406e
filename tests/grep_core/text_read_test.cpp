#include "grep_core/text_read.h"
#include "grep_core/last_error.h"
#include "platform/platform.h"
#include "support/temp_files.h"
#include "support/test_os.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>

#include <string>

namespace {

using qg_test::TempDir;

struct ReadResult {
  bool ok = false;
  std::string text;
  size_t len = 0;
  text_encoding enc = -1;
  line_ending le = -1;
};

ReadResult read_file(const std::string &path) {
  ReadResult r;
  char *text = read_file_to_utf8(path.c_str(), &r.len, &r.enc, &r.le);
  if (text != nullptr) {
    r.ok = true;
    r.text.assign(text, r.len);
    EXPECT_EQ(text[r.len], '\0') << "text is NUL-terminated";
    free(text);
  }
  return r;
}

// One small file per encoding corner: the exact bytes on disk and what the
// reader must hand back.
TEST(ReadFileToUtf8, DecodesEveryEncodingFromExactBytes) {
  struct Case {
    const char *name;
    std::string bytes;
    std::string text;
    text_encoding enc;
    line_ending le;
  };
  const Case cases[] = {
      {"empty", "", "", ENC_PLAIN, LE_LF},
      {"plain", "a\nb\n", "a\nb\n", ENC_PLAIN, LE_LF},
      {"latin1 passes through", "caf\xE9\r\n", "caf\xE9\r\n", ENC_PLAIN, LE_CRLF},
      {"nul passes through", std::string("a\0b", 3), std::string("a\0b", 3), ENC_PLAIN, LE_LF},
      {"utf8 mark only", "\xEF\xBB\xBF", "", ENC_UTF8_BOM, LE_LF},
      {"utf8 mark", "\xEF\xBB\xBFx\r\ny\r\n", "x\r\ny\r\n", ENC_UTF8_BOM, LE_CRLF},
      {"second mark stays", "\xEF\xBB\xBF\xEF\xBB\xBF", "\xEF\xBB\xBF", ENC_UTF8_BOM, LE_LF},
      {"two bytes EF BB", "\xEF\xBB", "\xEF\xBB", ENC_PLAIN, LE_LF},
      {"utf16le mark only", "\xFF\xFE", "", ENC_UTF16LE, LE_LF},
      {"utf16le",
       std::string("\xFF\xFE"
                   "A\0\n\0",
                   6),
       "A\n", ENC_UTF16LE, LE_LF},
      {"utf16le odd byte",
       std::string("\xFF\xFE"
                   "A\0\n\0Z",
                   7),
       "A\n", ENC_UTF16LE, LE_LF},
      {"utf16be", std::string("\xFE\xFF\0A", 4), "A", ENC_UTF16BE, LE_LF},
      {"utf16le crlf", std::string("\xFF\xFEx\0\r\0\n\0", 8), "x\r\n", ENC_UTF16LE, LE_CRLF},
      {"utf16 pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80", ENC_UTF16LE,
       LE_LF},
      {"utf16 lone low", std::string("\xFF\xFE\x00\xDC", 4), "\xED\xB0\x80", ENC_UTF16LE, LE_LF},
      {"utf16 high then A", std::string("\xFE\xFF\xD8\x00\x00\x41", 6),
       "\xED\xA0\x80"
       "A",
       ENC_UTF16BE, LE_LF},
      {"utf16 high last", std::string("\xFE\xFF\xD8\x00", 4), "\xED\xA0\x80", ENC_UTF16BE, LE_LF},
      {"utf16 U+0000",
       std::string("\xFF\xFE"
                   "a\0\0\0b\0",
                   8),
       std::string("a\0b", 3), ENC_UTF16LE, LE_LF},
      {"utf16 two-byte form", std::string("\xFF\xFE\xE9\x00", 4), "\xC3\xA9", ENC_UTF16LE, LE_LF},
      {"utf32le mark reads as utf16le", std::string("\xFF\xFE\0\0", 4), std::string("\0", 1),
       ENC_UTF16LE, LE_LF},
  };
  TempDir dir;
  for (const Case &c : cases) {
    ReadResult r = read_file(dir.write(c.name, c.bytes));
    ASSERT_TRUE(r.ok) << c.name;
    EXPECT_EQ(r.text, c.text) << c.name;
    EXPECT_EQ(r.len, c.text.size()) << c.name;
    EXPECT_EQ(r.enc, c.enc) << c.name;
    EXPECT_EQ(r.le, c.le) << c.name;
  }
}

TEST(ReadFileToUtf8, OutParametersMayBeNull) {
  TempDir dir;
  char *text = read_file_to_utf8(dir.write("f", "hi\n").c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "hi\n");
  free(text);
}

TEST(ReadFileToUtf8, MissingFileNamesPathAndSystemReason) {
  TempDir dir;
  std::string path = dir.at("missing.txt");
  EXPECT_EQ(read_file_to_utf8(path.c_str(), nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot open file '" + path + "': No such file or directory");
}

TEST(ReadFileToUtf8, DirectoryCannotBeOpenedAsAFile) {
  TempDir dir;
  EXPECT_EQ(read_file_to_utf8(dir.path().c_str(), nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot open file '" + dir.path() + "': Is a directory");
}

TEST(ReadFileToUtf8, PathTooLongForThePlatformOpensNothing) {
  std::string path = "/tmp/" + std::string(5000, 'p');
  EXPECT_EQ(read_file_to_utf8(path.c_str(), nullptr, nullptr, nullptr), nullptr);
  std::string message = qm_grep_get_last_error();
  EXPECT_EQ(message.rfind("Cannot open file '/tmp/ppp", 0), 0u) << message;
  EXPECT_EQ(message.size(), 1023u) << "a message longer than the slot is cut";
  plat_file file;
  uint64_t size = 0;
  EXPECT_EQ(plat_open_read(path.c_str(), &file, &size), ENAMETOOLONG);
}

// A named pipe is refused at once: opening one for reading would wait for a
// writer, and reading it for ever.
TEST(ReadFileToUtf8, NamedPipeIsRefusedWithoutBlocking) {
  TempDir dir;
  const std::string pipe = dir.at("pipe");
  if (!qg_test::make_fifo(pipe)) GTEST_SKIP() << "no named pipes in folders here";
  EXPECT_EQ(read_file_to_utf8(pipe.c_str(), nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "Cannot open file '" + pipe + "': Not a regular file");
}

// A sparse file costs no disk: exactly 256 MiB is read, one byte more is not.
TEST(ReadFileToUtf8, SizeLimitIs256MiBInclusive) {
  TempDir dir;
  std::string at_limit = dir.write("limit", "");
  ASSERT_TRUE(qg_test::set_file_size(at_limit, 268435456));
  size_t len = 0;
  char *text = read_file_to_utf8(at_limit.c_str(), &len, nullptr, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(len, 268435456u);
  free(text);

  std::string over = dir.write("over", "");
  ASSERT_TRUE(qg_test::set_file_size(over, 268435457));
  EXPECT_EQ(read_file_to_utf8(over.c_str(), nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(qm_grep_get_last_error()),
            "File '" + over + "' exceeds maximum size limit (256MB)");
}

TEST(DetectEncoding, RecognisesOnlyTheThreeMarks) {
  struct Case {
    std::string bytes;
    text_encoding enc;
    size_t bom;
  };
  const Case cases[] = {
      {"", ENC_PLAIN, 0},
      {"\xFF", ENC_PLAIN, 0},
      {"\xFF\xFE", ENC_UTF16LE, 2},
      {"\xFE\xFF", ENC_UTF16BE, 2},
      {"\xEF\xBB", ENC_PLAIN, 0},
      {"\xEF\xBB\xBF", ENC_UTF8_BOM, 3},
      {"\xEF\xBB\xBE", ENC_PLAIN, 0},
      {"\xFF\xFE\x41", ENC_UTF16LE, 2},
      {"ab", ENC_PLAIN, 0},
  };
  for (const Case &c : cases) {
    size_t bom = 99;
    EXPECT_EQ(detect_encoding(reinterpret_cast<const unsigned char *>(c.bytes.data()),
                              c.bytes.size(), &bom),
              c.enc);
    EXPECT_EQ(bom, c.bom);
  }
}

TEST(DetectLineEnding, CrlfOnlyWhenStrictlyInTheMajority) {
  struct Case {
    std::string text;
    line_ending le;
  };
  const Case cases[] = {
      {"", LE_LF},          {"a\r\nb\r\nc\n", LE_CRLF},
      {"a\r\nb\n", LE_LF},  // a tie
      {"a\rb\r", LE_LF},    // CRs without LF count for nothing
      {"a\r\r\n", LE_CRLF}, {std::string("a\n\0b\r\nc\r\n", 9), LE_LF},  // stops at the first NUL
  };
  for (const Case &c : cases) EXPECT_EQ(detect_line_ending(c.text.c_str()), c.le) << c.text;
  EXPECT_EQ(detect_line_ending(nullptr), LE_LF);
}

TEST(LeStr, OnlyCrlfCodeGivesCrlf) {
  EXPECT_STREQ(le_str(LE_CRLF), "\r\n");
  EXPECT_STREQ(le_str(LE_LF), "\n");
  EXPECT_STREQ(le_str(7), "\n");
  EXPECT_STREQ(le_str(-1), "\n");
}

TEST(IsBinaryBuffer, LooksOnlyAtTheFirst8192Bytes) {
  std::string data(10000, 'a');
  EXPECT_FALSE(is_binary_buffer(data.data(), data.size()));
  EXPECT_FALSE(is_binary_buffer(data.data(), 0));
  data[8191] = '\0';
  EXPECT_TRUE(is_binary_buffer(data.data(), data.size()));
  data[8191] = 'a';
  data[8192] = '\0';
  EXPECT_FALSE(is_binary_buffer(data.data(), data.size()));
  EXPECT_FALSE(is_binary_buffer("a\0b", 1)) << "bytes past len are not looked at";
}

TEST(Utf16ToUtf8, WritesLengthAndTerminator) {
  const unsigned char be[] = {0x00, 0x41, 0x00, 0xE9, 0x20, 0xAC};
  size_t len = 0;
  char *out = utf16_to_utf8_portable(be, sizeof be, true, &len);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::string(out, len), "A\xC3\xA9\xE2\x82\xAC");
  free(out);
  out = utf16_to_utf8_portable(be, 0, false, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "");
  free(out);
}

}  // namespace
