// Reading text files of any supported encoding as UTF-8.
//
// Supported forms: UTF-8 without a byte-order mark (bytes taken as they are),
// UTF-8 with one, UTF-16 LE and BE with one. No state; any thread. Failures
// set the calling thread's last-error text.
#ifndef QG_TEXT_READ_H
#define QG_TEXT_READ_H

#include "platform/platform.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Encoding of a file; other values are possible in callers' hands and mean
// "plain" wherever an encoding is acted on.
typedef int32_t text_encoding;
enum { ENC_PLAIN = 0, ENC_UTF8_BOM = 1, ENC_UTF16LE = 2, ENC_UTF16BE = 3 };

// Dominant line ending of a text.
typedef int32_t line_ending;
enum { LE_LF = 0, LE_CRLF = 1 };

#define QG_MAX_FILE_BYTES ((uint64_t)268435456)  // largest file read (256 MiB)
#define QG_BINARY_WINDOW ((size_t)8192)          // bytes the binary test looks at

// Reads the whole file at `path` (UTF-8) and returns it as UTF-8 text,
// NUL-terminated, without its byte-order mark and with its own line breaks.
// Plain and UTF-8-with-mark bytes pass through untouched (NULs and invalid
// UTF-8 included); `out_len` counts them all. The caller frees the text. Any
// out-parameter may be null. On failure returns null with the message and
// its kind set, as read_file_reusing fails; the text is taken from the
// buffers of that same reader.
char *read_file_to_utf8(const char *path, size_t *out_len, text_encoding *out_encoding,
                        line_ending *out_line_ending);

// Recognises the byte-order mark at the start of `len` bytes. Always writes
// `bom_len` (0, 2 or 3), which must not be null.
text_encoding detect_encoding(const unsigned char *data, size_t len, size_t *bom_len);

// LE_CRLF when more LFs are preceded by CR than not, else LE_LF; scans up to
// the first NUL of `text` (null counts as empty).
line_ending detect_line_ending(const char *text);

// "\r\n" for LE_CRLF, "\n" for every other value. Static texts.
const char *le_str(line_ending le);

// Decodes `nbytes` of UTF-16 (an odd last byte is ignored) into a new
// NUL-terminated UTF-8 block; unpaired surrogates become their three-byte
// form. Writes the byte count to `out_len` unless null. Null when out of
// memory; the caller frees the block.
char *utf16_to_utf8_portable(const unsigned char *data, size_t nbytes, bool big_endian,
                             size_t *out_len);

// True when a NUL byte lies among the first min(len, 8192) bytes.
bool is_binary_buffer(const char *data, size_t len);

// Decodes `nbytes` of UTF-16 as utf16_to_utf8_portable does, into `out`,
// which has room for 3 * (nbytes / 2) + 1 bytes; returns the byte count
// (without the NUL written after it).
size_t utf16_to_utf8_into(const unsigned char *data, size_t nbytes, bool big_endian, char *out);

// Buffers that a reader reuses from file to file (a search holds one pair
// per thread): they only grow, to the largest file read. A zeroed record is
// empty; released with text_buffers_free.
typedef struct text_buffers {
  char *raw;
  size_t raw_cap;
  size_t raw_len;  // bytes of the last file read, its byte-order mark included
  char *decoded;
  size_t decoded_cap;
} text_buffers;

void text_buffers_free(text_buffers *b);

// Asked between chunks of a large read; true abandons it (no message).
typedef bool (*read_should_stop)(void *ctx);

// The one file reader. Reads the file at `path` into `buffers` and decodes
// it: on success points *out_text at the UTF-8 text (NUL-terminated, with a
// readable byte after the NUL, valid until the next use of the buffers) and
// writes its length and encoding (`out_encoding` may be null). Fails, with
// the message and its kind set (qg_fail), when the file cannot be opened
// ("Cannot open file '%s': %s"), exceeds QG_MAX_FILE_BYTES, cannot be held
// or decoded for lack of memory, or a read fails ("Cannot read file '%s':
// %s"); a short read (the file shrank) is no failure. `stop` (may be null)
// is asked between chunks of a large file: when it says so the read is
// abandoned, false is returned and *out_stopped set, with no message.
bool read_file_reusing(const char *path, text_buffers *buffers, const char **out_text,
                       size_t *out_len, text_encoding *out_encoding, read_should_stop stop,
                       void *stop_ctx, bool *out_stopped);

// read_file_reusing for a file opened already (plat_open_for_edit) whose
// size is `size`: read from its position and decoded, under `name` in
// messages. The file stays open.
bool read_open_file(const char *name, plat_file file, uint64_t size, text_buffers *buffers,
                    const char **out_text, size_t *out_len, text_encoding *out_encoding);

// Decodes `len` bytes that are not in a file (a host's buffer) as the reader
// decodes a file's: copied into `buffers`, then as read_file_reusing gives
// them. `name` is used in messages. False, with the message set, only when
// memory runs out or the text exceeds QG_MAX_FILE_BYTES.
bool decode_text_reusing(const char *name, const char *data, size_t len, text_buffers *buffers,
                         const char **out_text, size_t *out_len, text_encoding *out_encoding);

#ifdef __cplusplus
}
#endif

#endif  // QG_TEXT_READ_H
