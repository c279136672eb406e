#include "grep_core/sha256.h"

#include "grep_core/simd/simd.h"
#include "grep_core/sha256_rounds.h"

#include <stdint.h>
#include <string.h>

namespace {

constexpr uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Mixes one 64-byte block into the state.
void compress(uint32_t state[8], const unsigned char *block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = static_cast<uint32_t>(block[4 * i]) << 24 |
           static_cast<uint32_t>(block[4 * i + 1]) << 16 |
           static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
  }
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 =
        h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256Rounds[i] + w[i];
    const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void compress_blocks(uint32_t state[8], const unsigned char *data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) compress(state, data);
}

// The hash of the `len` bytes at `data`, its blocks mixed by `blocks_of`.
void sha256_hex_with(qg_sha256_blocks_fn blocks_of, const void *data, size_t len, char out[65]) {
  uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto *p = static_cast<const unsigned char *>(data);
  blocks_of(state, p, len / 64);
  p += len - len % 64;
  const size_t left = len % 64;
  // The last bytes, a 1 bit, zeros, and the length in bits: one or two blocks.
  unsigned char tail[128] = {};
  if (left > 0) memcpy(tail, p, left);
  tail[left] = 0x80;
  const size_t tail_len = left < 56 ? 64 : 128;
  const uint64_t bits = static_cast<uint64_t>(len) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_len - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  blocks_of(state, tail, tail_len / 64);
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) out[8 * i + j] = kHex[(state[i] >> (28 - 4 * j)) & 0xf];
  }
  out[64] = '\0';
}

}  // namespace

void qg_sha256_hex(const void *data, size_t len, char out[65]) {
  static const qg_sha256_blocks_fn chosen = [] {
    const qg_sha256_blocks_fn fast = qg_sha256_blocks_select();
    return fast != nullptr ? fast : compress_blocks;
  }();
  sha256_hex_with(chosen, data, len, out);
}

void qg_sha256_hex_portable(const void *data, size_t len, char out[65]) {
  sha256_hex_with(compress_blocks, data, len, out);
}
