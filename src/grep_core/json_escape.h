// JSON string content for texts composed by hand (the fallback search document,
// the batch report).
#ifndef QG_JSON_ESCAPE_H
#define QG_JSON_ESCAPE_H

#include "grep_core/strbuf.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Appends `s` (NUL-terminated; null appends nothing) as the content of a JSON
// string: quotation mark, reverse solidus and U+0000..U+001F are escaped, and
// each byte that is not part of a valid UTF-8 sequence is written as \ufffd, so
// the result is always valid JSON. Valid UTF-8 is otherwise copied unchanged.
// Returns 0 when memory runs out (what was appended so far stays).
bool qg_json_escape_append(qm_strbuf *sb, const char *s);

// The same for the `len` bytes at `s`, NUL bytes included (each written as
// \u0000).
bool qg_json_escape_append_len(qm_strbuf *sb, const char *s, size_t len);

#ifdef __cplusplus
}
#endif

#endif  // QG_JSON_ESCAPE_H
