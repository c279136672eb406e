// The line edit engine: line-range edits of one file, every line number
// counting the lines of the file as read (see edit_places.h).
//
// A file is read once (any supported encoding), every edit is applied to its
// lines in memory, and only then is it written back once, in the encoding it
// was found in and with its dominant line ending after every line (or, for
// the exact form, with every line end kept; see file_edit_prepare). A call
// that fails before the write leaves the file untouched. Runs on the caller's
// thread with no state of its own; failures set the last-error text.
#ifndef QG_EDIT_H
#define QG_EDIT_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One edit. start_line <= end_line replaces that range (inclusive, 1-based)
// with the lines of new_text; start_line > end_line inserts them before
// start_line. new_text may be null (no lines). Out-of-range numbers are
// brought into range, never refused. With expected_text (may be null), the
// lines start_line..end_line (those the file has) must hold exactly that text
// now, joined with LF and with no ending after the last ("" for an
// insertion), or the file's edits fail as a conflict.
typedef struct line_edit {
  int32_t start_line;
  int32_t end_line;
  const char *new_text;
  const char *expected_text;
} line_edit;

// An edit by matching text: `old_text` (not empty) is replaced by `new_text`
// (null: the empty text) where it occurs in the file's text as the reader
// gives it (UTF-8, every line ending as LF). It must occur exactly once, or,
// with `replace_all`, at least once (every occurrence that does not overlap
// the one before, left to right, is replaced).
typedef struct text_edit {
  const char *old_text;
  const char *new_text;
  bool replace_all;
} text_edit;

// Applies the `count` edits to the file at `path` (UTF-8) and writes it; true
// when the file was written. Neither changes, keeps nor frees the edits or
// their texts. Fails with a message (and its kind) on edits that collide
// (see edit_places.h), on an expected text that differs, on a file
// whose text holds a NUL byte (it could not be split without losing what
// follows) or that is UTF-16 with an odd number of bytes, and on a file
// changed by another program between the read and the write. Other editors
// using this library wait for the file while it is edited. A null `path`,
// null `edits` or `count` below 1 return false at once with no message and
// nothing touched.
bool apply_file_edits(const char *path, line_edit *edits, int count);

// Replaces, deletes or inserts lines start_line..end_line of one file; a null
// `new_text` is the empty text. Returns 0 on success, -1 on failure with the
// last-error text and the status set ("Missing file_path" for a null or
// empty path).
int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text);

// grep_core_replace_lines with every line end kept: the lines the edit does
// not name keep their bytes and endings (and a last line without one keeps
// none), the new lines take the endings of the lines they replace, and a
// start past the line after the last fails ("File has only N lines,
// requested start at line M").
int grep_core_replace_lines_exact(const char *file_path, int start_line, int end_line,
                                  const char *new_text);

#ifdef __cplusplus
}
#endif

#endif  // QG_EDIT_H
