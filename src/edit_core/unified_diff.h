// The change an edit makes to a file, as `diff -u` writes it: "--- PATH" and
// "+++ PATH", then hunks of changed lines with three lines of context around,
// hunks whose contexts would touch written as one, and "\ No newline at end
// of file" after a last line that has no ending. As diff and patch do, lines
// are cut at LF alone and compared with their endings, so a line whose ending
// the edit rewrites (a lone CR, the minority ending, a missing last ending) is
// part of the change; each line carries its own ending (CR LF lines keep
// their CR), the headers end with LF, and `patch` applied to the diff gives
// exactly the edited file. No state; any thread.
#ifndef QG_UNIFIED_DIFF_H
#define QG_UNIFIED_DIFF_H

#include "edit_core/line_spans.h"
#include "grep_core/json_out.h"

#ifdef __cplusplus
extern "C" {
#endif

// Appends to `out` the diff from the file's `text_len` bytes at `text` to
// `after`, the edited lines, each to be written with `ending`; an unchanged
// line of `after` is a span into `text` where it stood. Appends nothing when
// the two are the same. A failure to grow shows in out->failed.
void unified_diff_write(json_out *out, const char *path, const char *text, size_t text_len,
                        const line_spans *after, line_ending ending);

#ifdef __cplusplus
}
#endif

#endif  // QG_UNIFIED_DIFF_H
