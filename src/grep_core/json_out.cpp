#include "grep_core/json_out.h"

#include "grep_core/utf8.h"
#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>

namespace {

// From this size on the buffer moves to a block on huge pages and then grows
// in place (realloc of such a block remaps its pages instead of copying).
constexpr size_t kLargeFrom = size_t{4} << 20;
constexpr size_t kFirstCapacity = 4096;

constexpr char kHex[] = "0123456789ABCDEF";

// Eight bytes at once: true when none of them needs more than a copy (all
// ASCII, none below 0x20, no quotation mark, no reverse solidus).
inline bool plain_word(uint64_t w) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  constexpr uint64_t highs = 0x8080808080808080ull;
  const uint64_t below_space = (w - ones * 0x20) & ~w;  // high bit where a byte < 0x20
  const uint64_t q = w ^ (ones * '"');
  const uint64_t quote = (q - ones) & ~q;
  const uint64_t b = w ^ (ones * '\\');
  const uint64_t backslash = (b - ones) & ~b;
  return ((below_space | quote | backslash | w) & highs) == 0;
}

inline void put(json_out *out, char c) { out->data[out->len++] = c; }

}  // namespace

void json_out_free(json_out *out) {
  free(out->data);
  *out = json_out{};
}

bool json_out_reserve(json_out *out, size_t n) {
  if (out->failed) return false;
  if (n <= out->cap - out->len && out->cap - out->len - n >= 1) return true;
  if (n > SIZE_MAX / 2 - out->len) {
    out->failed = true;
    return false;
  }
  size_t cap = out->cap == 0 ? kFirstCapacity : out->cap;
  while (cap < out->len + n + 1) cap *= 2;
  char *grown = nullptr;
  if (!out->large && cap >= kLargeFrom) {
    grown = static_cast<char *>(plat_alloc_large(cap));
    if (grown != nullptr && out->len > 0) memcpy(grown, out->data, out->len);
    if (grown != nullptr) {
      free(out->data);
      out->large = true;
    }
  } else {
    grown = static_cast<char *>(realloc(out->data, cap));
  }
  if (grown == nullptr) {
    out->failed = true;
    return false;
  }
  out->data = grown;
  out->cap = cap;
  return true;
}

void json_out_bytes(json_out *out, const char *bytes, size_t n) {
  if (!json_out_reserve(out, n)) return;
  if (n > 0) memcpy(out->data + out->len, bytes, n);
  out->len += n;
  out->data[out->len] = '\0';
}

void json_out_char(json_out *out, char c) {
  if (!json_out_reserve(out, 1)) return;
  put(out, c);
  out->data[out->len] = '\0';
}

void json_out_int(json_out *out, int64_t value) {
  char digits[24];
  size_t n = 0;
  uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (!json_out_reserve(out, n + 1)) return;
  if (value < 0) put(out, '-');
  while (n > 0) put(out, digits[--n]);
  out->data[out->len] = '\0';
}

namespace {

// Escapes and repairs the `n` bytes at `p` into `out`, which has room for six
// output bytes per input byte and three input bytes more; a UTF-8 sequence is
// judged on the `avail` bytes the text still has. Returns the input bytes
// taken: `n`, or up to three more where a sequence crosses the chunk's end.
size_t escape_chunk(json_out *out, const unsigned char *p, size_t n, size_t avail) {
  size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      uint64_t w;
      memcpy(&w, p + i, 8);
      if (plain_word(w)) {
        memcpy(out->data + out->len, p + i, 8);
        out->len += 8;
        i += 8;
        continue;
      }
    }
    const unsigned char c = p[i];
    if (c >= 0x80) {
      // A sequence is judged on all the bytes there are, not only the chunk's.
      const size_t seq = qg_utf8_sequence_length(p + i, avail - i);
      if (seq == 0) {
        memcpy(out->data + out->len, "\xEF\xBF\xBD", 3);  // U+FFFD for the stray byte
        out->len += 3;
        ++i;
      } else {
        memcpy(out->data + out->len, p + i, seq);
        out->len += seq;
        i += seq;
      }
      continue;
    }
    ++i;
    if (c >= 0x20 && c != '"' && c != '\\') {
      put(out, static_cast<char>(c));
      continue;
    }
    put(out, '\\');
    switch (c) {
      case '"':
        put(out, '"');
        break;
      case '\\':
        put(out, '\\');
        break;
      case '\b':
        put(out, 'b');
        break;
      case '\t':
        put(out, 't');
        break;
      case '\n':
        put(out, 'n');
        break;
      case '\f':
        put(out, 'f');
        break;
      case '\r':
        put(out, 'r');
        break;
      default:
        put(out, 'u');
        put(out, '0');
        put(out, '0');
        put(out, kHex[c >> 4]);
        put(out, kHex[c & 15]);
        break;
    }
  }
  return i;
}

// Input bytes escaped per reservation: a long line needs no reservation of
// six times its length at once.
constexpr size_t kChunk = 4096;

}  // namespace

void json_out_string_content(json_out *out, const char *s, size_t n) {
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t i = 0;
  while (i < n) {
    // A sequence may run up to three bytes past the chunk: room for them too.
    const size_t chunk = n - i < kChunk ? n - i : kChunk;
    if (!json_out_reserve(out, (chunk + 3) * 6)) return;
    i += escape_chunk(out, p + i, chunk, n - i);
  }
  if (out->data != nullptr && !out->failed) out->data[out->len] = '\0';
}

void json_out_string(json_out *out, const char *s, size_t n) {
  json_out_char(out, '"');
  json_out_string_content(out, s, n);
  json_out_char(out, '"');
}

void json_out_base64(json_out *out, const char *s, size_t n) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (!json_out_reserve(out, (n + 2) / 3 * 4 + 2)) return;
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  char *w = out->data + out->len;
  *w++ = '"';
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = kAlphabet[(v >> 6) & 63];
    *w++ = kAlphabet[v & 63];
  }
  if (i < n) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (i + 1 < n ? uint32_t{p[i + 1]} << 8 : 0);
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    *w++ = '=';
  }
  *w++ = '"';
  out->len = static_cast<size_t>(w - out->data);
  out->data[out->len] = '\0';
}

void json_out_string_into(json_out *escaped, const char *s, size_t n) {
  escaped->len = 0;
  escaped->failed = false;
  json_out_string(escaped, s, n);
}
