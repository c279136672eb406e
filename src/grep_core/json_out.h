// JSON text written straight into a growing buffer, byte for byte as yyjson's
// writer writes the same values without flags: compact; in strings the
// quotation mark, the reverse solidus and bytes below 0x20 escaped (\b \t \n
// \f \r in their short forms, the others as \u00XX with upper-case hex), the
// solidus and all other bytes as they are. Strings are first made valid
// UTF-8: each byte that begins no valid sequence becomes U+FFFD, as the match
// objects have always repaired them. The one JSON string writer of the
// library: the search reports (whose documents would otherwise take several
// times their size as yyjson values), the batch report, the fallback search
// document.
//
// A buffer belongs to one thread. Appends never fail in the caller's hands:
// when memory runs out the buffer marks itself failed and drops later
// appends; the writer of the report checks `failed` once at the end.
#ifndef QG_GREP_CORE_JSON_OUT_H
#define QG_GREP_CORE_JSON_OUT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct json_out {
  char *data;  // NUL-terminated while not failed; freed with free()
  size_t len;
  size_t cap;
  bool large;   // the block sits on huge pages and grows in place
  bool failed;  // memory ran out: the text is incomplete and must not be used
} json_out;

// A zeroed record is an empty buffer; released with json_out_free, or by
// taking `data` (then free() it).
void json_out_free(json_out *out);

// Makes room for `n` more bytes and the terminator; false (and failed) when
// memory runs out.
bool json_out_reserve(json_out *out, size_t n);

void json_out_bytes(json_out *out, const char *bytes, size_t n);

// Appends a string literal's bytes.
#define JSON_OUT_LITERAL(out, literal) json_out_bytes((out), (literal), sizeof(literal) - 1)
void json_out_char(json_out *out, char c);
void json_out_int(json_out *out, int64_t value);

// Appends the `n` bytes at `s` as a JSON string, quotes included.
void json_out_string(json_out *out, const char *s, size_t n);

// Appends the `n` bytes at `s` as the content of a JSON string, without
// quotes: for a string composed of several pieces.
void json_out_string_content(json_out *out, const char *s, size_t n);

// Appends the `n` bytes at `s`, whatever they are, as a JSON string of their
// base64 form (RFC 4648: the standard alphabet, padded with '='), for bytes
// that must reach the reader unchanged where a JSON string cannot carry them.
void json_out_base64(json_out *out, const char *s, size_t n);

// The bytes json_out_string appends for `n` bytes at `s`, written into a
// fresh buffer `escaped` (reused by the caller, e.g. a path written once per
// file and then copied per match).
void json_out_string_into(json_out *escaped, const char *s, size_t n);

#ifdef __cplusplus
}
#endif

#endif  // QG_GREP_CORE_JSON_OUT_H
