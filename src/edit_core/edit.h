// The line edit engine: sorted, non-overlapping line-range edits of one file.
#ifndef QG_EDIT_H
#define QG_EDIT_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One edit. start_line <= end_line replaces that range (inclusive, 1-based)
// with the lines of new_text; start_line > end_line inserts them before
// start_line. new_text may be null (no lines).
typedef struct line_edit {
  int32_t start_line;
  int32_t end_line;
  const char *new_text;
} line_edit;

// Replaces, deletes or inserts lines start_line..end_line of one file.
// Returns 0 on success, -1 on failure with the last-error text set.
int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text);

#ifdef __cplusplus
}
#endif

#endif  // QG_EDIT_H
