#include "base64.h"

#include <cstdint>

namespace qg_cli {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of one base64 digit; -1 for anything else.
int digit_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string to_base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t byte = k < n ? static_cast<unsigned char>(bytes[i + k]) : 0;
      group = (group << 8) | byte;
    }
    for (size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

std::string from_base64(const char *text, size_t len) {
  std::string out;
  uint32_t bits = 0;
  int have = 0;
  for (size_t i = 0; i < len; ++i) {
    const int v = digit_value(text[i]);
    if (v < 0) break;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    have += 6;
    if (have >= 8) {
      have -= 8;
      out += static_cast<char>((bits >> have) & 0xFF);
    }
  }
  return out;
}

}  // namespace qg_cli
