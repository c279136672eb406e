// The change an edit makes to a file, as `diff -u` writes it: "--- PATH" and
// "+++ PATH", then hunks of changed lines with three lines of context around,
// hunks whose contexts would touch written as one, and "\ No newline at end
// of file" after a last line that has no ending. As diff and patch do, lines
// are cut at LF alone and compared with their endings, so a line whose ending
// the edit rewrites (a lone CR, the minority ending, a missing last ending) is
// part of the change, and lines ended by a lone CR are part of the LF-ended
// line they stand in, on both sides. Each line carries its own bytes and
// ending (CR LF lines keep their CR; bytes that are not UTF-8 stay as they
// are), the headers end with LF, and `patch` or `git apply` applied to the
// diff gives exactly the edited file. No state; any thread.
#ifndef QG_UNIFIED_DIFF_H
#define QG_UNIFIED_DIFF_H

#include "edit_core/line_spans.h"
#include "grep_core/json_out.h"

#ifdef __cplusplus
extern "C" {
#endif

// Appends to `out` the diff from the file's `text_len` bytes at `text` to
// `after`, the edited lines, each to be written with the ending `ends` gives
// it; an unchanged line of `after` is a span into `text` where it stood.
// `mark` (NUL-terminated; "" for none) stands before the first line of both
// sides, as a UTF-8 file's byte-order mark stands on the disk. Appends
// nothing when the two are the same. A failure to grow shows in
// out->failed.
void unified_diff_write(json_out *out, const char *path, const char *mark, const char *text,
                        size_t text_len, const line_spans *after, const line_ends *ends);

#ifdef __cplusplus
}
#endif

#endif  // QG_UNIFIED_DIFF_H
