// The context of a search as events, for sinks that show each line once: a
// match's window becomes the context lines before it that were not shown
// yet, the match, and the lines after it, which wait until the next match of
// the file (a line that a later match claims is shown as that match, not as
// context) or the file's end. A break comes between two groups of a file
// whose lines do not touch. Every line of a file is delivered at most once,
// in order, whatever windows overlap.
//
// Runs in the search's accounting on the calling thread, for the direct scan
// and the parallel replay alike. The state belongs to one search; the lines
// that wait are copies, since a match's window is valid during its call only.
#ifndef QG_CONTEXT_EVENTS_H
#define QG_CONTEXT_EVENTS_H

#include "grep_core/grow_array.h"
#include "grep_core/json_out.h"
#include "search_core/search.h"

#include <stddef.h>
#include <stdint.h>

// A line that waits to be delivered: `len` bytes at `offset` of the text.
struct waiting_line {
  int32_t line_no;
  size_t offset;
  size_t len;
};

struct context_state {
  int32_t shown_through = 0;  // the last line of the file delivered; 0: none yet
  json_out text = {};         // the waiting lines' bytes
  grow_array<waiting_line> waiting;

  ~context_state() { json_out_free(&text); }
};

// Delivers the match `m` to `sink` with its context as events (the sink's
// `context` and `context_break`), for a search that shows `before` and
// `after` lines around a match. SINK_FAIL, with the message set, when the
// lines that must wait cannot be kept.
sink_verdict context_events_match(context_state *state, const search_sink *sink,
                                  const scan_match *m, int32_t before, int32_t after);

// Delivers what still waits at the end of a file, unless `deliver` is false,
// and starts afresh for the next file.
sink_verdict context_events_end_file(context_state *state, const search_sink *sink, bool deliver);

#endif  // QG_CONTEXT_EVENTS_H
