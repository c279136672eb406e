#include "grep_core/text_read.h"

#include "grep_core/last_error.h"
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
  size_t lf = 0;
  size_t crlf = 0;
  for (const char *p = strchr(text, '\n'); p != nullptr; p = strchr(p + 1, '\n')) {
    if (p > text && p[-1] == '\r') {
      ++crlf;
    } else {
      ++lf;
    }
  }
  return crlf > lf ? LE_CRLF : LE_LF;
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
    unsigned u = unit_at(i);
    if (u < 0x80) {
      out[o++] = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
      out[o++] = static_cast<unsigned char>(0xC0 | (u >> 6));
      out[o++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit_at(i + 1) >= 0xDC00 &&
               unit_at(i + 1) <= 0xDFFF) {
      unsigned long c = 0x10000 + ((u - 0xD800ul) << 10) + (unit_at(i + 1) - 0xDC00ul);
      out[o++] = static_cast<unsigned char>(0xF0 | (c >> 18));
      out[o++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      ++i;
    } else {
      out[o++] = static_cast<unsigned char>(0xE0 | (u >> 12));
      out[o++] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    }
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

// Reads up to `size` bytes of `file` into a fresh block of size + 1, NUL after
// what arrived. A file that ends early (it shrank since its size was taken)
// gives what it holds; a read that fails gives no text at all, so a caller
// never mistakes the part before an input/output error for the whole file.
// Null with the last-error text set on failure.
static char *read_all(const char *path, plat_file file, uint64_t size, size_t *out_n) {
  auto *block = static_cast<char *>(plat_alloc_large(static_cast<size_t>(size) + 1));
  if (block == nullptr) {
    qm_grep_set_last_error("Out of memory reading file '%s'", path);
    return nullptr;
  }
  size_t n = 0;
  while (n < size) {
    size_t got = 0;
    int error = plat_read(file, block + n, static_cast<size_t>(size) - n, &got);
    if (error != 0) {
      free(block);
      qm_grep_set_last_error("Cannot read file '%s': %s", path, plat_error_text(error));
      return nullptr;
    }
    if (got == 0) break;
    n += got;
  }
  block[n] = '\0';
  *out_n = n;
  return block;
}

char *read_file_to_utf8(const char *path, size_t *out_len, text_encoding *out_encoding,
                        line_ending *out_line_ending) {
  plat_file file;
  uint64_t size = 0;
  int error = plat_open_read(path, &file, &size);
  if (error != 0) {
    qm_grep_set_last_error("Cannot open file '%s': %s", path ? path : "", plat_error_text(error));
    return nullptr;
  }
  if (size > QG_MAX_FILE_BYTES) {
    plat_close(file);
    qm_grep_set_last_error("File '%s' exceeds maximum size limit (256MB)", path);
    return nullptr;
  }
  size_t n = 0;
  char *raw = read_all(path, file, size, &n);
  plat_close(file);
  if (raw == nullptr) return nullptr;

  size_t bom_len = 0;
  text_encoding enc = detect_encoding(reinterpret_cast<unsigned char *>(raw), n, &bom_len);
  if (out_encoding != nullptr) *out_encoding = enc;

  char *text = raw;
  size_t len = n;
  if (enc == ENC_UTF16LE || enc == ENC_UTF16BE) {
    text = utf16_to_utf8_portable(reinterpret_cast<unsigned char *>(raw) + bom_len, n - bom_len,
                                  enc == ENC_UTF16BE, &len);
    free(raw);
    if (text == nullptr) {
      qm_grep_set_last_error("Failed to decode UTF-16 content in '%s'", path);
      return nullptr;
    }
  } else if (enc == ENC_UTF8_BOM) {
    len = n - bom_len;
    memmove(raw, raw + bom_len, len);
    raw[len] = '\0';
  }
  if (out_len != nullptr) *out_len = len;
  if (out_line_ending != nullptr) *out_line_ending = detect_line_ending(text);
  return text;
}

void text_buffers_free(text_buffers *b) {
  free(b->raw);
  free(b->decoded);
  *b = text_buffers{};
}

namespace {

// Bytes read per call between two looks at the stop check.
constexpr size_t kReadChunk = size_t{16} << 20;

// Makes `*block` hold at least `need` bytes, growing it to a fresh block
// (nothing in it is kept). False when memory runs out.
bool ensure_block(char **block, size_t *cap, size_t need) {
  if (need <= *cap) return true;
  free(*block);
  *block = static_cast<char *>(plat_alloc_large(need));
  *cap = *block != nullptr ? need : 0;
  return *block != nullptr;
}

}  // namespace

bool read_file_reusing(const char *path, text_buffers *buffers, const char **out_text,
                       size_t *out_len, read_should_stop stop, void *stop_ctx, bool *out_stopped) {
  *out_stopped = false;
  plat_file file;
  uint64_t size = 0;
  int error = plat_open_read(path, &file, &size);
  if (error != 0) {
    qm_grep_set_last_error("Cannot open file '%s': %s", path ? path : "", plat_error_text(error));
    return false;
  }
  if (size > QG_MAX_FILE_BYTES) {
    plat_close(file);
    qm_grep_set_last_error("File '%s' exceeds maximum size limit (256MB)", path);
    return false;
  }
  // Room for the text, its terminator, and the byte after the terminator
  // that vector loops may look at.
  if (!ensure_block(&buffers->raw, &buffers->raw_cap, static_cast<size_t>(size) + 2)) {
    plat_close(file);
    qm_grep_set_last_error("Out of memory reading file '%s'", path);
    return false;
  }
  size_t n = 0;
  while (n < size) {
    size_t want = static_cast<size_t>(size) - n;
    if (want > kReadChunk) want = kReadChunk;
    size_t got = 0;
    error = plat_read(file, buffers->raw + n, want, &got);
    if (error != 0) {
      plat_close(file);
      qm_grep_set_last_error("Cannot read file '%s': %s", path, plat_error_text(error));
      return false;
    }
    if (got == 0) break;
    n += got;
    if (n < size && stop != nullptr && stop(stop_ctx)) {
      plat_close(file);
      *out_stopped = true;
      return false;
    }
  }
  plat_close(file);
  buffers->raw[n] = '\0';
  buffers->raw[n + 1] = '\0';

  size_t bom_len = 0;
  const text_encoding enc =
      detect_encoding(reinterpret_cast<unsigned char *>(buffers->raw), n, &bom_len);
  if (enc == ENC_UTF16LE || enc == ENC_UTF16BE) {
    const size_t units = (n - bom_len) / 2;
    if (!ensure_block(&buffers->decoded, &buffers->decoded_cap, units * 3 + 2)) {
      qm_grep_set_last_error("Failed to decode UTF-16 content in '%s'", path);
      return false;
    }
    *out_len = utf16_to_utf8_into(reinterpret_cast<unsigned char *>(buffers->raw) + bom_len,
                                  n - bom_len, enc == ENC_UTF16BE, buffers->decoded);
    buffers->decoded[*out_len + 1] = '\0';
    *out_text = buffers->decoded;
    return true;
  }
  *out_text = buffers->raw + bom_len;
  *out_len = n - bom_len;
  return true;
}
