// Where each edit of a file lands in the file as read, and the check that no
// two of them claim the same lines.
//
// Every line number counts the lines of the file as it was read, whatever
// the other edits of the call do. Numbers below 1 and past the last line are
// brought into range first, and the edits are checked after that: a
// replacement removes lines of the file and puts its new lines where they
// stood; an insertion (or a replacement whose range holds none of the file's
// lines) puts its lines before a line, or after the last one. Two
// replacements that share a line collide, and so does an insertion strictly
// inside a replaced range (before any of its lines but the first). An
// insertion before a replaced range's first line lands before its new lines,
// one just after its last line after them, and insertions at one place keep
// the order in which the caller listed them. Pure functions on the caller's
// records; failures set the last-error text and its kind.
#ifndef QG_EDIT_PLACES_H
#define QG_EDIT_PLACES_H

#include "edit_core/edit.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One edit, placed: it removes `removed` lines of the file as read from the
// 0-based `position` on, and its new lines stand at `position` (the number
// of lines for after the last one).
typedef struct edit_place {
  size_t position;
  size_t removed;         // 0 for an insertion
  int32_t order;          // where the edit stood in the caller's list
  const char *new_text;   // the text whose lines go in; may be null
  const line_edit *edit;  // the edit as given, for messages
} edit_place;

// Places the `count` edits against a file of `lines` lines in a new array
// (the caller frees it), in the order apply_sorted_edits takes them: by
// position, highest first; at one position a replacement first, then the
// insertions, last listed first. Fails with "Overlapping edit ranges in
// '%s': lines %d-%d and %d-%d" (the edit that starts lower first, both as
// given) when two edits collide. With `exact`, an edit that starts past the
// line after the last fails as the line reader refuses such a range ("File
// has only N lines, requested start at line M"). Null on failure, with the
// message and its kind set.
edit_place *place_edits(const char *path, const line_edit *edits, int32_t count, size_t lines,
                        bool exact);

#ifdef __cplusplus
}
#endif

#endif  // QG_EDIT_PLACES_H
