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
#include "edit_core/edit_places.h"
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

// Applies the `count` placed edits, in the order place_edits gives them, to
// `lines`, the file's lines as read: each edit's lines replace the ones it
// removes, or go in at its position, ahead of those of the edits applied
// before it at the same position. Costs O(lines + edits + new lines): the
// lines sit in a gap buffer whose gap only moves down, from one edit's
// position to the next. The new lines are spans into the edits' texts, which
// must outlive `lines`. False when out of memory (then before any change) or
// when the file would pass INT32_MAX lines (then the array holds the edits
// applied so far, and is only fit to be released).
bool apply_sorted_edits(line_spans *lines, const edit_place *places, int count);

// How lines are ended when they are written. Without `exact`, every line is
// followed by `fill`. With it, each line keeps the ending that follows its
// text where the text stands (CR LF, lone CR or LF), a line with none there
// takes `fill` unless it is the last one, and the last one takes none when
// `open_last` says so.
typedef struct line_ends {
  const char *fill;
  size_t fill_len;
  bool exact;
  bool open_last;
} line_ends;

// The ending written after line `j` of `lines`: its bytes at *out, their
// number returned (0: none). Reads at most two bytes past the line's text,
// never past a NUL.
size_t line_end_of(const line_spans *lines, size_t j, const line_ends *ends, const char **out);

// The ending that stands after the `len` bytes at `text` (which must be
// followed by a readable byte, a NUL at the end of its block): 2 for CR LF,
// 1 for a lone CR or an LF, 0 for none.
size_t ending_after(const char *text, size_t len);

// The joined text of spans_join as pieces to be written one after another,
// without a copy: runs of lines that stand in their source followed by their
// ending, one after another, become one piece each; a line followed by
// anything else becomes its bytes and a piece holding the ending. With `out`
// null only counts the pieces; otherwise fills `out`, which must have room
// for that count.
size_t spans_pieces(const line_spans *lines, const line_ends *ends, plat_bytes *out);

// The lines joined into one new NUL-terminated block, each followed by the
// ending `ends` gives it; writes its length to `out_len` unless null. The
// caller frees it; null when out of memory.
char *spans_join(const line_spans *lines, const line_ends *ends, size_t *out_len);

#ifdef __cplusplus
}
#endif

#endif  // QG_LINE_SPANS_H
