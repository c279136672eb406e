// The line edit engine: sorted, non-overlapping line-range edits of one file.
//
// A file is read once (any supported encoding), every edit is applied to its
// lines in memory, and only then is it written back once, in the encoding it
// was found in and with its dominant line ending after every line. A call
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
// brought into range, never refused.
typedef struct line_edit {
  int32_t start_line;
  int32_t end_line;
  const char *new_text;
} line_edit;

// Applies the `count` edits to the file at `path` (UTF-8) and writes it; true
// when the file was written. Sorts `edits` in place and neither keeps nor
// frees them or their texts. Fails with a message on overlapping replacements
// and on a file whose text holds a NUL byte (it could not be split without
// losing what follows). A null `path`, null `edits` or `count` below 1 return
// false at once with no message and nothing touched.
bool apply_file_edits(const char *path, line_edit *edits, int count);

// qsort order of two line_edit records: higher start_line first, then higher
// end_line; 0 when both fields are equal. Exact over the whole int32 range.
int cmp_edits_desc(const void *a, const void *b);

// Replaces, deletes or inserts lines start_line..end_line of one file; a null
// `new_text` is the empty text. Returns 0 on success, -1 on failure with the
// last-error text set ("Missing file_path" for a null or empty path).
int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text);

#ifdef __cplusplus
}
#endif

#endif  // QG_EDIT_H
