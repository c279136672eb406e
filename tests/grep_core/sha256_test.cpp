// SHA-256: the standard's test vectors, and the processor's instructions
// (where they are chosen) held against the portable rounds at every length
// around the block and padding boundaries.
#include "grep_core/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string hex_of(const std::string &data, bool portable) {
  char out[65];
  if (portable) {
    qg_sha256_hex_portable(data.data(), data.size(), out);
  } else {
    qg_sha256_hex(data.data(), data.size(), out);
  }
  return out;
}

TEST(Sha256, StandardVectors) {
  const struct {
    std::string data;
    const char *hex;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(hex_of(row.data, false), row.hex) << row.data.size();
    EXPECT_EQ(hex_of(row.data, true), row.hex) << row.data.size();
  }
}

TEST(Sha256, ChosenRoundsAgreeWithThePortableOnes) {
  std::mt19937 rng(5);
  std::string data;
  for (size_t len = 0; len < 1200; ++len) {
    data.push_back(static_cast<char>(rng()));
    ASSERT_EQ(hex_of(data, false), hex_of(data, true)) << len + 1;
  }
}

}  // namespace
