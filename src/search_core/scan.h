// The scan of one text, without cutting it into lines: the needle (a literal
// pattern, or a run every match of a pattern covers) is looked for in the
// whole text, line breaks are counted only up to each hit, and only the lines
// that are reported (and their context lines) are located. Whole-word
// rejections go on from the hit itself. A pattern without a needle is read by
// its lazy DFA (regex_dfa.h) in one pass over the whole text, and each line
// that a needle or the DFA picks goes to the exact matcher only when the DFA
// says it may hold a match. Lines are those of the line rule
// (text_lines.h); the text ends at its first NUL (the caller passes its
// length up to there).
//
// A scanner is made once per search and thread; it owns the buffers it
// reuses from text to text (the context window, the submatches and their
// groups, the pattern's scratch and DFA).
#ifndef QG_SCAN_H
#define QG_SCAN_H

#include "grep_core/find_bytes.h"
#include "grep_core/find_set.h"
#include "grep_core/options.h"
#include "grep_core/regex.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct text_span {
  const char *p;
  size_t n;
} text_span;

// One match in a line: 1-based byte column and length in bytes.
typedef struct match_span {
  int32_t col;
  int32_t length;
} match_span;

// One reported match. `context` holds the window of the options'
// context_lines around the matched line (which is in it), or nothing; with
// the options' "submatches", `submatches` holds every match of the line, the
// first being (col, length). With the options' "captures", `groups` holds
// where each of the pattern's `group_count` groups took part (col 0: it took
// none), for the first match and then, with "submatches", for each further
// submatch in turn: `group_span_count` spans in all; `group_names` are the
// compiled pattern's (re_group_name), kept while the search lasts.
typedef struct scan_match {
  int32_t line_no;
  int32_t col;
  int32_t length;  // bytes the match covers, as the finders report it
  text_span line;
  const text_span *context;
  size_t context_count;
  const match_span *submatches;
  size_t submatch_count;
  const match_span *groups;
  size_t group_span_count;
  uint32_t group_count;
  const char *const *group_names;
} scan_match;

// Receives the matches of a scan in order; returns false when the scan must
// stop (the search ends, or the file has given all it may): it then ends at
// once.
typedef bool (*scan_emit)(void *ctx, const scan_match *m);

// Asked between stretches of work on a large text (at least every
// QG_SCAN_STOP_WINDOW bytes); true stops the scan.
typedef bool (*scan_should_stop)(void *ctx);
#define QG_SCAN_STOP_WINDOW ((size_t)1 << 20)

typedef struct scanner scanner;

// A scanner for `pattern` under `opts` (both kept by the caller while the
// scanner lives). `program` (regex searches only) is the compiled pattern,
// shared, read only; the scanner makes its own scratch for it. Null when out
// of memory.
scanner *scanner_new(const char *pattern, const grep_opts *opts, const re_program *program,
                     scan_should_stop stop, void *stop_ctx);
void scanner_free(scanner *s);

// Outcomes of scanner_scan.
typedef enum scan_result { SCAN_DONE = 0, SCAN_STOPPED = 1, SCAN_NO_MEMORY = 2 } scan_result;

// Scans the `len` bytes at `text` (text[len] must be readable and is not part
// of it) and emits each line's first match. SCAN_STOPPED when `emit` or the
// stop check ended it; SCAN_NO_MEMORY when the pattern's working memory, a
// context window or the submatches could not be held (the matches before it
// were emitted).
scan_result scanner_scan(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx);

#ifdef __cplusplus
}
#endif

#endif  // QG_SCAN_H
