// Writing UTF-8 text out as a file in one of the supported encodings.
//
// The text arrives with its line breaks already in the file's own style and
// is written exactly so: nothing is added, removed or converted but the
// byte-order mark and, for UTF-16, the conversion of the text. No state; any
// thread. Failures set the calling thread's last-error text.
#ifndef QG_TEXT_WRITE_H
#define QG_TEXT_WRITE_H

#include "grep_core/text_read.h"
#include "platform/platform.h"

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Makes the file at `path` (UTF-8) hold `text` (NUL-terminated; null counts as
// empty) in `encoding`: the mark of the encoding, then the text's bytes, or
// for ENC_UTF16LE/ENC_UTF16BE its UTF-16 form. An unknown encoding writes the
// bytes alone. The file is replaced whole or not at all (see
// plat_replace_file_contents; a hard-linked file is written in place, safe
// against a full disk or a size limit but not against a crash part-way). On
// false the last-error text names `path` in single quotes and ends with ": "
// and the system's reason.
bool write_file_from_utf8(const char *path, const char *text, text_encoding encoding);

// write_file_from_utf8 for a text given as the pieces 1..count-1 of `pieces`,
// written one after another where they stand, without being joined first.
// Piece 0 is the caller's spare slot: it is overwritten with the encoding's
// mark (or nothing). For the encodings that take the text's bytes as they are
// (ENC_PLAIN, ENC_UTF8_BOM, and unknown codes, which mean plain); a UTF-16
// encoding, which needs a conversion, fails. False with the message set on
// failure.
bool write_file_pieces(const char *path, plat_bytes *pieces, size_t count, text_encoding encoding);

// write_file_from_utf8 in steps, for an edit that must be sure the file is
// still the one it read (`expected`, may be null: no check) and for a batch
// that flushes many files at once: stages the replacement (see
// plat_replacement_stage) and hands it over in *out. False, with the message
// set and *out null, on failure.
bool stage_file_from_utf8(const char *path, const char *text, text_encoding encoding,
                          const plat_file_meta *expected, plat_replacement **out);

// The same for write_file_pieces.
bool stage_file_pieces(const char *path, plat_bytes *pieces, size_t count, text_encoding encoding,
                       const plat_file_meta *expected, plat_replacement **out);

// Flushes, commits and settles one staged replacement, and frees it. False
// with the message set on failure (the file as it was).
bool finish_file_replacement(const char *path, plat_replacement *staged);

// Sets the message (and its kind) of a failed step of replacing the file at
// `path`: "Cannot ... '%s': reason", or "File '%s' changed since it was
// read".
void report_write_failure(const char *path, plat_replace_result r);

// Converts `len` bytes of UTF-8 into a new block of UTF-16 units in the given
// byte order, without a terminator, and writes its size in bytes to `out_len`
// unless null. Nothing is validated: every byte sequence gives some units
// (cut sequences, stray continuation bytes and values above U+10FFFF
// included), so a text decoded from UTF-16 converts back to the same units.
// The caller frees the block; null when it cannot be allocated.
unsigned char *utf8_to_utf16_portable(const unsigned char *data, size_t len, bool big_endian,
                                      size_t *out_len);

#ifdef __cplusplus
}
#endif

#endif  // QG_TEXT_WRITE_H
