// The bounds of a line's match from two lazy DFAs, without the exact
// matcher: a forward DFA over the program finds where the leftmost-first
// match ends, and a reverse DFA over the reversed program (re_program's
// `reverse`), anchored at that end, finds where it begins.
//
// The forward DFA's states are lists of threads in priority order (not sets,
// as in regex_dfa.h): a thread that reaches MATCH drops every thread below
// it, and no attempt begins after a match, so the last position where a
// thread reached MATCH before no thread is left is the end of the match the
// exact matcher reports. The reverse DFA reads back from that end and keeps
// every thread; the leftmost position it can reach the program's start from
// is where the leftmost-first match begins (a match of any end starting
// further left would be the leftmost one).
//
// They answer only where they can be sure: a line of the standard syntax
// with a byte of 0x80-0xFF where they read (where units and unit starts need
// more than one byte to tell), a full cache, or a cache filled too often are
// "undecided", and the caller asks the exact matcher. Both read one line
// (one call's `len` bytes) as the exact matcher does, with the same look at
// the bytes around each position.
//
// The two DFAs of one search hold at most RE_BOUNDS_CACHE_BYTES together,
// working memory included. They belong to one thread (one scratch); the
// program they read is shared and read only.
#ifndef QG_REGEX_DFA_BOUNDS_H
#define QG_REGEX_DFA_BOUNDS_H

#include "grep_core/regex_program.h"

#include <stdbool.h>
#include <stddef.h>

// Most bytes the bounds DFAs of one scratch hold.
#define RE_BOUNDS_CACHE_BYTES ((size_t)1 << 20)

// Fills after which a scratch's bounds DFAs are given up for good (the
// states a pattern needs do not fit the cache): each fill costs at most the
// cache's worth of states, so a search never pays more than this many fills.
#define RE_BOUNDS_MAX_FILLS 16

typedef struct re_bounds re_bounds;

// The bounds DFAs of `program` (and its reverse), or null when it has no
// reverse or memory runs out. Released with re_bounds_free.
re_bounds *re_bounds_new(const re_program *program);
void re_bounds_free(re_bounds *bounds);

void re_bounds_set_stop(re_bounds *bounds, re_stop_check check, void *ctx);

typedef enum re_bounds_result {
  RE_BOUNDS_NO_MATCH = 0,
  RE_BOUNDS_MATCH = 1,
  RE_BOUNDS_UNDECIDED = 2,  // ask the exact matcher
  RE_BOUNDS_STOPPED = 3,    // the stop check said so
} re_bounds_result;

// The leftmost-first match of the program in the `len` bytes at `text` whose
// attempts begin at `from` (only there when `one_start`): its start and end
// offsets on RE_BOUNDS_MATCH, exactly as re_search_at gives them.
re_bounds_result re_bounds_search(re_bounds *bounds, const char *text, size_t len, size_t from,
                                  bool one_start, size_t *out_start, size_t *out_end);

// The program that matches the reverse of what `program` matches, read from
// the end of a match back to its start, with the same tests of positions:
// null when memory runs out or the program has more than one MATCH.
re_program *re_program_reverse(const re_program *program);

#endif  // QG_REGEX_DFA_BOUNDS_H
