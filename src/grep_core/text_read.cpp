#include "grep_core/text_read.h"

#include "grep_core/last_error.h"
#include "grep_core/text_lines.h"
#include "grep_core/utf8.h"
#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

text_encoding detect_encoding(const unsigned char *data, size_t len, size_t *bom_len) {
  *bom_len = 0;
  if (len < 2) return ENC_PLAIN;
  if (len >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    *bom_len = 3;
    return ENC_UTF8_BOM;
  }
  if (data[0] == 0xFF && data[1] == 0xFE) {
    *bom_len = 2;
    return ENC_UTF16LE;
  }
  if (data[0] == 0xFE && data[1] == 0xFF) {
    *bom_len = 2;
    return ENC_UTF16BE;
  }
  return ENC_PLAIN;
}

line_ending detect_line_ending(const char *text) {
  if (text == nullptr) return LE_LF;
  return qg_dominant_ending(qg_count_endings(text, strlen(text)));
}

const char *le_str(line_ending le) { return le == LE_CRLF ? "\r\n" : "\n"; }

size_t utf16_to_utf8_into(const unsigned char *data, size_t nbytes, bool big_endian,
                          char *out_chars) {
  auto *out = reinterpret_cast<unsigned char *>(out_chars);
  const size_t units = nbytes / 2;
  auto unit_at = [&](size_t i) -> unsigned {
    unsigned a = data[2 * i], b = data[2 * i + 1];
    return big_endian ? (a << 8 | b) : (b << 8 | a);
  };
  size_t o = 0;
  for (size_t i = 0; i < units; ++i) {
    uint32_t cp = unit_at(i);
    // A high surrogate followed by a low one is one code point; any other
    // unit, an unpaired surrogate included, stands for itself.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && unit_at(i + 1) >= 0xDC00 &&
        unit_at(i + 1) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800u) << 10) + (unit_at(i + 1) - 0xDC00u);
      ++i;
    }
    o += qg_utf8_encode(cp, out + o);
  }
  out[o] = '\0';
  return o;
}

char *utf16_to_utf8_portable(const unsigned char *data, size_t nbytes, bool big_endian,
                             size_t *out_len) {
  size_t units = nbytes / 2;
  if (units > (SIZE_MAX - 1) / 4) return nullptr;
  auto *out = static_cast<char *>(plat_alloc_large(units * 4 + 1));
  if (out == nullptr) return nullptr;
  const size_t o = utf16_to_utf8_into(data, nbytes, big_endian, out);
  if (out_len != nullptr) *out_len = o;
  return out;
}

bool is_binary_buffer(const char *data, size_t len) {
  size_t window = len < QG_BINARY_WINDOW ? len : QG_BINARY_WINDOW;
  return window > 0 && memchr(data, '\0', window) != nullptr;
}

void text_buffers_free(text_buffers *b) {
  free(b->raw);
  free(b->decoded);
  *b = text_buffers{};
}

namespace {

// Bytes read per call between two looks at the stop check.
constexpr size_t kReadChunk = size_t{4} << 20;

// Makes `*block` hold at least `need` bytes, growing it to a fresh block
// (nothing in it is kept). False when memory runs out.
bool ensure_block(char **block, size_t *cap, size_t need) {
  if (need <= *cap) return true;
  free(*block);
  *block = static_cast<char *>(plat_alloc_large(need));
  *cap = *block != nullptr ? need : 0;
  return *block != nullptr;
}

// Room in the raw buffer for `n` bytes, their terminator, and the byte after
// the terminator that vector loops may look at.
bool reserve_raw(text_buffers *b, size_t n) { return ensure_block(&b->raw, &b->raw_cap, n + 2); }

// Decodes the `n` bytes in b->raw (which has room for two more) by their
// byte-order mark. False, with the message set, when the UTF-16 form cannot
// be held.
bool decode_raw(const char *name, text_buffers *b, size_t n, const char **out_text, size_t *out_len,
                text_encoding *out_encoding) {
  b->raw_len = n;
  b->raw[n] = '\0';
  b->raw[n + 1] = '\0';
  size_t bom_len = 0;
  const text_encoding enc = detect_encoding(reinterpret_cast<unsigned char *>(b->raw), n, &bom_len);
  if (out_encoding != nullptr) *out_encoding = enc;
  if (enc == ENC_UTF16LE || enc == ENC_UTF16BE) {
    const size_t units = (n - bom_len) / 2;
    if (!ensure_block(&b->decoded, &b->decoded_cap, units * 3 + 2)) {
      qg_fail(GREP_E_NO_MEMORY, "Failed to decode UTF-16 content in '%s'", name);
      return false;
    }
    *out_len = utf16_to_utf8_into(reinterpret_cast<unsigned char *>(b->raw) + bom_len, n - bom_len,
                                  enc == ENC_UTF16BE, b->decoded);
    b->decoded[*out_len + 1] = '\0';
    *out_text = b->decoded;
    return true;
  }
  *out_text = b->raw + bom_len;
  *out_len = n - bom_len;
  return true;
}

void fail_too_large(const char *name) {
  qg_fail(GREP_E_IO, "File '%s' exceeds maximum size limit (256MB)", name);
}

}  // namespace

namespace {

// Reads up to `size` bytes of the open `file` into the raw buffer and
// decodes them; see read_file_reusing.
bool read_into(const char *path, plat_file file, uint64_t size, text_buffers *buffers,
               const char **out_text, size_t *out_len, text_encoding *out_encoding,
               read_should_stop stop, void *stop_ctx, bool *out_stopped) {
  if (size > QG_MAX_FILE_BYTES) {
    fail_too_large(path);
    return false;
  }
  if (!reserve_raw(buffers, static_cast<size_t>(size))) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory reading file '%s'", path);
    return false;
  }
  size_t n = 0;
  while (n < size) {
    size_t want = static_cast<size_t>(size) - n;
    if (want > kReadChunk) want = kReadChunk;
    size_t got = 0;
    const int error = plat_read(file, buffers->raw + n, want, &got);
    if (error != 0) {
      // The part before an input/output error is never taken for the file.
      qg_fail(GREP_E_IO, "Cannot read file '%s': %s", path, plat_error_text(error));
      return false;
    }
    if (got == 0) break;
    n += got;
    if (n < size && stop != nullptr && stop(stop_ctx)) {
      *out_stopped = true;
      return false;
    }
  }
  return decode_raw(path, buffers, n, out_text, out_len, out_encoding);
}

}  // namespace

bool read_file_reusing(const char *path, text_buffers *buffers, const char **out_text,
                       size_t *out_len, text_encoding *out_encoding, read_should_stop stop,
                       void *stop_ctx, bool *out_stopped) {
  *out_stopped = false;
  plat_file file;
  uint64_t size = 0;
  const int error = plat_open_read(path, &file, &size);
  if (error != 0) {
    qg_fail(qg_status_of_error(error), "Cannot open file '%s': %s", path ? path : "",
            plat_error_text(error));
    return false;
  }
  const bool ok = read_into(path, file, size, buffers, out_text, out_len, out_encoding, stop,
                            stop_ctx, out_stopped);
  plat_close(file);
  return ok;
}

bool read_open_file(const char *name, plat_file file, uint64_t size, text_buffers *buffers,
                    const char **out_text, size_t *out_len, text_encoding *out_encoding) {
  bool stopped = false;
  return read_into(name, file, size, buffers, out_text, out_len, out_encoding, nullptr, nullptr,
                   &stopped);
}

bool decode_text_reusing(const char *name, const char *data, size_t len, text_buffers *buffers,
                         const char **out_text, size_t *out_len, text_encoding *out_encoding) {
  if (len > QG_MAX_FILE_BYTES) {
    fail_too_large(name);
    return false;
  }
  if (!reserve_raw(buffers, len)) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory reading file '%s'", name);
    return false;
  }
  if (len > 0) memcpy(buffers->raw, data, len);
  return decode_raw(name, buffers, len, out_text, out_len, out_encoding);
}

char *read_file_to_utf8(const char *path, size_t *out_len, text_encoding *out_encoding,
                        line_ending *out_line_ending) {
  text_buffers buffers = {};
  const char *text = nullptr;
  size_t len = 0;
  bool stopped = false;
  if (!read_file_reusing(path, &buffers, &text, &len, out_encoding, nullptr, nullptr, &stopped)) {
    text_buffers_free(&buffers);
    return nullptr;
  }
  // The caller takes the block that holds the text; a UTF-8 mark is moved
  // out of the way in place.
  char *block;
  if (text == buffers.decoded) {
    block = buffers.decoded;
    free(buffers.raw);
  } else {
    block = buffers.raw;
    if (text != block) memmove(block, text, len + 1);
    free(buffers.decoded);
  }
  if (out_len != nullptr) *out_len = len;
  if (out_line_ending != nullptr) *out_line_ending = detect_line_ending(block);
  return block;
}
