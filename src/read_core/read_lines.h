// The numbered line reader.
#ifndef QG_READ_LINES_H
#define QG_READ_LINES_H

#ifdef __cplusplus
extern "C" {
#endif

// Returns the selected lines of the file at `file_path`, each formatted as
// "%d: %s\n"; "" when nothing is selected. Lines are numbered as the search
// reports them and the edits count them: CR LF, a lone CR and a lone LF each
// end a line, an ending at the very end opens no empty line, and the text ends
// at its first NUL. The range is bounded when both numbers are at least 1
// (lines start..end), and open otherwise (lines from max(start, 1) to the
// end). The caller frees the result. On every failure (out of memory
// included: no selected line is ever left out) returns null and sets the
// calling thread's last-error text and status; a success leaves the status
// alone.
char *grep_core_read_lines(const char *file_path, int start_line, int end_line);

#ifdef __cplusplus
}
#endif

#endif  // QG_READ_LINES_H
