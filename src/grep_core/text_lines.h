// The one line rule of the library, for the search, the reader and the
// edits alike: a line ends at CR LF, at a lone CR or at a lone LF; the ending
// is not part of the line; an ending at the very end of a text opens no empty
// last line; a text ends at its first NUL (callers pass its length up to
// there). Also the rule that picks a file's dominant line ending. Pure
// functions on the caller's bytes; any thread.
#ifndef QG_TEXT_LINES_H
#define QG_TEXT_LINES_H

#include "grep_core/text_read.h"

#include <stdbool.h>
#include <stddef.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

// Where the line that starts at `p` ends: its first CR or LF before `end`, or
// `end`. `may_hold_cr` false (the caller knows the text holds no CR) spares
// the search for one.
static inline const char *qg_line_end(const char *p, const char *end, bool may_hold_cr) {
  const char *lf = (const char *)memchr(p, '\n', (size_t)(end - p));
  const char *stop = lf != NULL ? lf : end;
  if (!may_hold_cr) return stop;
  const char *cr = (const char *)memchr(p, '\r', (size_t)(stop - p));
  return cr != NULL ? cr : stop;
}

// Where the line after the one ending at `line_end` begins: past its CR LF,
// CR or LF; `end` when the text ends there.
static inline const char *qg_line_next(const char *line_end, const char *end) {
  if (line_end >= end) return end;
  return line_end + ((line_end[0] == '\r' && line_end + 1 < end && line_end[1] == '\n') ? 2 : 1);
}

// The start of the line holding `p`, looking back no further than `floor` (a
// known line start).
static inline const char *qg_line_start(const char *p, const char *floor) {
  while (p > floor && p[-1] != '\n' && p[-1] != '\r') --p;
  return p;
}

// True when the byte at `p` ends a line and is counted as one break: an LF,
// or a CR that no LF follows (`p[1]` must be readable). So CR LF counts once.
static inline bool qg_is_line_break(const char *p) {
  return p[0] == '\n' || (p[0] == '\r' && p[1] != '\n');
}

// How a text's lines are ended: LF bytes that no CR precedes, and CR LF pairs.
typedef struct ending_counts {
  size_t lf;
  size_t crlf;
} ending_counts;

// Counts the endings of the `len` bytes at `text`.
ending_counts qg_count_endings(const char *text, size_t len);

// The dominant ending: LE_CRLF when CR LF pairs outnumber lone LFs, else
// LE_LF (a tie, and a text without any LF, give LE_LF).
static inline line_ending qg_dominant_ending(ending_counts counts) {
  return counts.crlf > counts.lf ? LE_CRLF : LE_LF;
}

// The line holding offset `at`, given where each of `lines` lines starts
// (`starts` ascending, starts[0] <= at): a binary search.
static inline size_t qg_line_holding(const size_t *starts, size_t lines, size_t at) {
  size_t lo = 0, hi = lines;
  while (hi - lo > 1) {
    const size_t mid = lo + (hi - lo) / 2;
    if (starts[mid] <= at) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return lo;
}

#ifdef __cplusplus
}
#endif

#endif  // QG_TEXT_LINES_H
