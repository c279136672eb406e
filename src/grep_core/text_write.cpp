#include "grep_core/text_write.h"

#include "grep_core/last_error.h"
#include "grep_core/utf8.h"
#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The bits of a first byte that count toward the value, for the length the
// byte announces (the walk steps over that many bytes whether or not they
// look like a sequence).
unsigned lead_bits(unsigned char lead, size_t announced) {
  return announced == 1 ? lead : lead & (0x7Fu >> announced);
}

void store_unit(unsigned char *out, size_t &o, unsigned unit, bool big_endian) {
  unsigned char hi = static_cast<unsigned char>(unit >> 8);
  unsigned char lo = static_cast<unsigned char>(unit & 0xFF);
  out[o++] = big_endian ? hi : lo;
  out[o++] = big_endian ? lo : hi;
}

}  // namespace

void report_write_failure(const char *path, plat_replace_result r) {
  if (r.error == PLAT_ECHANGED) {
    qg_fail(GREP_E_IO, "File '%s' changed since it was read", path);
    return;
  }
  const char *reason = plat_error_text(r.error);
  const int kind = qg_status_of_error(r.error);
  switch (r.step) {
    case PLAT_REPLACE_CREATE_TEMP:
      qg_fail(kind, "Cannot create temporary file beside '%s': %s", path, reason);
      return;
    case PLAT_REPLACE_WRITE:
      qg_fail(kind, "Cannot write file '%s': %s", path, reason);
      return;
    case PLAT_REPLACE_SYNC:
      qg_fail(kind, "Cannot flush file '%s' to disk: %s", path, reason);
      return;
    case PLAT_REPLACE_CLOSE:
      qg_fail(kind, "Cannot close file '%s': %s", path, reason);
      return;
    case PLAT_REPLACE_RENAME:
      qg_fail(kind, "Cannot replace file '%s': %s", path, reason);
      return;
    case PLAT_REPLACE_OPEN:
    case PLAT_REPLACE_DONE:
      break;
  }
  qg_fail(kind, "Cannot open file for writing '%s': %s", path, reason);
}

unsigned char *utf8_to_utf16_portable(const unsigned char *data, size_t len, bool big_endian,
                                      size_t *out_len) {
  if (len > (SIZE_MAX - 4) / 4) return nullptr;
  // Two output bytes per input byte at most; the block is sized beyond that.
  auto *out = static_cast<unsigned char *>(plat_alloc_large(len * 4 + 4));
  if (out == nullptr) return nullptr;
  size_t o = 0;
  size_t i = 0;
  while (i < len) {
    const size_t seq = qg_utf8_lead_of(data[i]).announced;
    uint32_t v = lead_bits(data[i], seq);
    size_t have = len - i < seq ? len - i : seq;
    for (size_t k = 1; k < have; ++k) v = (v << 6) | (data[i + k] & 0x3Fu);
    if (v > 0xFFFF) {
      // Only a complete four-byte sequence gets here; values above U+10FFFF
      // are not refused and give a first unit above DBFF.
      store_unit(out, o, 0xD800 + ((v - 0x10000) >> 10), big_endian);
      store_unit(out, o, 0xDC00 + (v & 0x3FF), big_endian);
    } else {
      store_unit(out, o, v, big_endian);
    }
    i += seq;  // a cut sequence ends the walk
  }
  if (out_len != nullptr) *out_len = o;
  return out;
}

namespace {

constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kUtf16LeMark[] = {0xFF, 0xFE};
constexpr unsigned char kUtf16BeMark[] = {0xFE, 0xFF};

}  // namespace

bool stage_file_pieces(const char *path, plat_bytes *pieces, size_t count, text_encoding encoding,
                       const plat_file_meta *expected, plat_replacement **out) {
  *out = nullptr;
  if (encoding == ENC_UTF16LE || encoding == ENC_UTF16BE) {
    qg_fail(GREP_E_ARGUMENT, "Cannot write pieces of UTF-16 text to '%s'", path ? path : "");
    return false;
  }
  if (count == 0) {  // no spare slot for the mark
    qg_fail(GREP_E_ARGUMENT, "Nothing to write to '%s'", path ? path : "");
    return false;
  }
  pieces[0] =
      encoding == ENC_UTF8_BOM ? plat_bytes{kUtf8Mark, sizeof kUtf8Mark} : plat_bytes{nullptr, 0};
  const plat_replace_result r = plat_replacement_stage(path, pieces, count, expected, out);
  if (r.step != PLAT_REPLACE_DONE) {
    report_write_failure(path != nullptr ? path : "", r);
    return false;
  }
  return true;
}

bool stage_file_from_utf8(const char *path, const char *text, text_encoding encoding,
                          const plat_file_meta *expected, plat_replacement **out) {
  *out = nullptr;
  const size_t n = text != nullptr ? strlen(text) : 0;
  plat_bytes pieces[2] = {{nullptr, 0}, {text, n}};
  unsigned char *utf16 = nullptr;
  if (encoding == ENC_UTF8_BOM) {
    pieces[0] = {kUtf8Mark, sizeof kUtf8Mark};
  } else if (encoding == ENC_UTF16LE || encoding == ENC_UTF16BE) {
    const bool big_endian = encoding == ENC_UTF16BE;
    pieces[0] = big_endian ? plat_bytes{kUtf16BeMark, 2} : plat_bytes{kUtf16LeMark, 2};
    // The UTF-16 form is made before the file is touched, so running out of
    // memory here leaves the file as it was.
    size_t units_len = 0;
    if (n > 0) {
      utf16 = utf8_to_utf16_portable(reinterpret_cast<const unsigned char *>(text), n, big_endian,
                                     &units_len);
      if (utf16 == nullptr) {
        qg_fail(GREP_E_NO_MEMORY, "Out of memory converting text for '%s'", path ? path : "");
        return false;
      }
    }
    pieces[1] = {utf16, units_len};
  }
  const plat_replace_result r = plat_replacement_stage(path, pieces, 2, expected, out);
  free(utf16);
  if (r.step != PLAT_REPLACE_DONE) {
    report_write_failure(path != nullptr ? path : "", r);
    return false;
  }
  return true;
}

bool finish_file_replacement(const char *path, plat_replacement *staged) {
  plat_replace_result r = {PLAT_REPLACE_DONE, 0};
  plat_replacements_flush(&staged, 1, &r);
  if (r.step == PLAT_REPLACE_DONE) r = plat_replacement_commit(staged);
  if (r.step == PLAT_REPLACE_DONE) plat_replacements_settle(&staged, 1);
  plat_replacement_free(staged);
  if (r.step != PLAT_REPLACE_DONE) {
    report_write_failure(path != nullptr ? path : "", r);
    return false;
  }
  return true;
}

bool write_file_pieces(const char *path, plat_bytes *pieces, size_t count, text_encoding encoding) {
  plat_replacement *staged = nullptr;
  return stage_file_pieces(path, pieces, count, encoding, nullptr, &staged) &&
         finish_file_replacement(path, staged);
}

bool write_file_from_utf8(const char *path, const char *text, text_encoding encoding) {
  plat_replacement *staged = nullptr;
  return stage_file_from_utf8(path, text, encoding, nullptr, &staged) &&
         finish_file_replacement(path, staged);
}
