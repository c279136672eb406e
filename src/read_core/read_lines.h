// The numbered line reader.
#ifndef QG_READ_LINES_H
#define QG_READ_LINES_H

#ifdef __cplusplus
extern "C" {
#endif

// Returns the selected lines of the file at `file_path`, each formatted as
// "%d: %s\n" with its trailing CRs dropped; "" when nothing is selected. The
// range is bounded when both numbers are at least 1 (lines start..end), and
// open otherwise (lines from max(start, 1) to the end). The text ends at its
// first NUL. The caller frees the result. On failure returns null and sets the
// calling thread's last-error text.
char *grep_core_read_lines(const char *file_path, int start_line, int end_line);

#ifdef __cplusplus
}
#endif

#endif  // QG_READ_LINES_H
