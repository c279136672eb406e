// The line array of the library's definition: a growable array of owned
// lines, and the conversions between it and text, written plainly. The
// library itself cuts lines in place by one rule (src/grep_core/text_lines.h);
// tests keep this as the reference that rule is held against.
//
// The array owns its slot block and every line in slots 0..count-1 (heap
// strings freed with free()); slots at count and above are never read. A line
// holds no CR, LF or NUL. The block starts at 256 slots and only ever doubles.
// An array belongs to one thread. No operation here sets the last-error text:
// failures are allocation failures, reported by false or null, and callers
// write their own message.
#ifndef QG_LINE_ARRAY_H
#define QG_LINE_ARRAY_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct line_array {
  char **items;
  int32_t count;
  int32_t capacity;
} line_array;

#define QG_LINE_ARRAY_FIRST_CAPACITY 256

// Makes `a` a fresh empty array with a zero-filled block of 256 slots, without
// releasing what it held. False when the block cannot be had; `a` is then a
// released array (null items) that takes no lines.
bool la_init(line_array *a);

// Releases every line and the block; leaves items null, count and capacity 0.
// Safe to call twice.
void la_free(line_array *a);

// Doubles the block; the new slots are uninitialised. On failure (or when the
// capacity cannot double within 32 bits) the array is unchanged.
bool la_grow(line_array *a);

// Appends a heap copy of `text` (null appends the empty line). On failure
// count is unchanged and the array stays usable.
bool la_append(line_array *a, const char *text);

// Makes `a` a fresh array (as la_init, releasing nothing) holding the lines of
// `text` up to its first NUL: lines end at CR LF, lone CR or LF, and an ending
// at the very end opens no empty last line. Null or empty text gives no lines.
// On false the lines split so far stay in `a`; release it with la_free.
bool split_into_lines(const char *text, line_array *a);

// A new heap text of every line followed by the ending (LE_CRLF, 1, gives
// "\r\n"; any other value "\n"), the last line included; "" for no lines. Null
// on allocation failure. The array is left unchanged.
char *join_lines(line_array *a, int line_ending);

#ifdef __cplusplus
}
#endif

#endif  // QG_LINE_ARRAY_H
