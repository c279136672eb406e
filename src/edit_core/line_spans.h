// The lines of a file while it is edited, as spans of borrowed text, and the
// one-pass application of a file's sorted edits to them.
//
// Ownership: a span array owns its slot block and none of the lines. Every
// span points into a block that its user keeps alive for as long as the array
// is used: the file's own text, cut in place without a copy, or the caller's
// new texts, read where they stand. So an edit copies no line until the file
// is joined for writing. An array belongs to one thread; nothing here sets
// the last-error text (failures are allocation failures or line counts beyond
// 32 bits, reported by false or null).
#ifndef QG_LINE_SPANS_H
#define QG_LINE_SPANS_H

#include "edit_core/edit.h"
#include "grep_core/text_lines.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// One line: `len` bytes at `text`, without its ending; holds no CR or LF.
typedef struct line_span {
  const char *text;
  size_t len;
} line_span;

// A growable array of spans. A zeroed record is an empty array.
typedef struct line_spans {
  line_span *items;
  size_t count;
  size_t capacity;
} line_spans;

// Releases the slot block (never a line); leaves a zeroed record.
void spans_free(line_spans *lines);

// At least the number of lines that the `len` bytes at `text` split into: its
// CR and LF bytes plus one (0 for no bytes). Counted with one search per
// byte found, which is far cheaper than growing an array line by line.
size_t spans_line_bound(const char *text, size_t len);

// Makes room for `total` spans in all, in one block; false (array unchanged)
// when out of memory.
bool spans_reserve(line_spans *lines, size_t total);

// Appends to `lines` the lines of the `len` bytes at `text`, cut by the line
// rule (text_lines.h). The text must hold no NUL. Adds its endings to
// `counts` unless null. False when out of memory;
// the lines cut so far stay appended.
bool spans_split(const char *text, size_t len, line_spans *lines, ending_counts *counts);

// Applies `count` edits, sorted by cmp_edits_desc and free of overlaps, to
// `lines`, with exactly the result of applying them one at a time in that
// order to an array of lines (each edit's position and removed range clamped
// against the lines as the edits before it left them). Costs
// O(lines + edits + new lines): the lines sit in a gap buffer whose gap moves
// to each edit's position, and an edit's position is at or below the one
// before it except after edits past the end of the file, where the gap moves
// up at most over the lines that edit added. The new lines are spans into the
// edits' texts, which must outlive `lines`. False when out of memory (then
// before any change) or when the file would pass INT32_MAX lines (then the
// array holds the edits applied so far, and is only fit to be released).
bool apply_sorted_edits(line_spans *lines, const line_edit *edits, int count);

// The joined text of spans_join as pieces to be written one after another,
// without a copy: runs of spans that stand in their source followed by the
// ending, one after another, become one piece each; a span followed by
// anything else becomes its bytes and a piece holding the ending. With `out`
// null only counts the pieces; otherwise fills `out`, which must have room
// for that count. Reads at most two bytes past each span, never past a NUL.
size_t spans_pieces(const line_spans *lines, line_ending ending, plat_bytes *out);

// The lines joined into one new NUL-terminated block, each followed by "\r\n"
// for LE_CRLF and "\n" otherwise, the last one included; writes its length to
// `out_len` unless null. The caller frees it; null when out of memory.
char *spans_join(const line_spans *lines, line_ending ending, size_t *out_len);

#ifdef __cplusplus
}
#endif

#endif  // QG_LINE_SPANS_H
