// The lazy DFA: states built from the program as the text reaches them, in a
// bounded cache.
//
// A state is the set of instructions that threads stand at after the last
// byte (each followed through SPLITs, so only SET, MATCH, END and ASSERT
// instructions are kept, sorted), plus flags for what lies behind the
// position. The step on a byte first follows the state's threads, and a new
// attempt where one may begin, through the tests that the position passes
// (now that the byte ahead is known), then moves every SET that holds the
// byte. A thread reaching MATCH on the way means the line holds a match.
//
// A long window is read as two streams in step, its second half from a line
// start (where the DFA's state is known without reading what comes before),
// so that the two chains of table loads overlap. States with no thread alive
// skip to the next byte that may change them, where such bytes are rare.
//
// The transition table has one row per state and one column per byte class,
// plus one for the end of the text; an entry is the address of the next
// state's row, or one of three marks that no address equals: kUnknown (not
// built yet), kMatch, kSkip. So the inner loop goes from row to row by one
// load per byte, and tells the marks apart by one comparison.
#include "grep_core/regex_dfa.h"

#include "grep_core/ascii_class.h"
#include "grep_core/regex_program.h"
#include "grep_core/text_lines.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <math.h>

#include <algorithm>

namespace {

// A state, as the address of its row; the marks below are no address.
using row_ref = uintptr_t;
constexpr row_ref kUnknown = 0;
constexpr row_ref kMatch = 1;
constexpr row_ref kSkip = 2;  // a quiet state stays quiet: skip to the next stop byte

// A quiet state skips ahead only where stop bytes are at most this share of
// source text, as the byte ranks estimate it: with more, the skips are too
// short to pay for leaving the table loop.
constexpr double kSkipMaxShare = 0.2;
constexpr size_t kSkipsJudged = 4096;
constexpr size_t kSkipMinAverage = 12;

// The states that most bytes leave as they are, and that the scan skips
// over: with no thread alive, waiting for an attempt to begin (idle), or
// for the line to end (dead, where attempts begin only at a line start).
enum class quiet_kind : uint8_t { none, idle, dead };

// What a state knows of the text behind its position.
constexpr uint8_t kLineStart = 1;  // a line begins here
constexpr uint8_t kAfterCr = 2;    // ... after a CR, which an LF here completes
constexpr uint8_t kAfterWord = 4;  // the byte behind is a word byte
// The byte behind is 0x80-0xFF, part of a character that may or may not be
// a word character (kept only for Unicode word boundaries, which then hold
// either way: a line is let through, never lost).
constexpr uint8_t kAfterHigh = 8;

struct dfa_state {
  uint32_t pcs_at;  // first of its instructions in the pool
  uint32_t pc_count;
  uint8_t flags;
};

// A set of instructions with constant-time membership and clearing.
struct sparse_set {
  uint32_t *dense;
  uint32_t *sparse;
  uint32_t count;

  bool has(uint32_t pc) const { return sparse[pc] < count && dense[sparse[pc]] == pc; }
  void insert(uint32_t pc) {
    sparse[pc] = count;
    dense[count++] = pc;
  }
};

// What the position between two bytes passes, for ASSERT and END.
struct look {
  bool line_start;  // no byte of the line lies behind
  bool after_word;
  bool after_high;  // the byte behind is 0x80-0xFF (only with Unicode word boundaries)
  bool at_break;    // the line ends here
  bool next_word;
  bool next_high;  // the byte ahead is 0x80-0xFF
};

// Where one pass over the text stands: its state, its position, and the
// end of the bytes it reads.
struct stream {
  row_ref s;
  size_t p;
  size_t end;
};

// The second half of a window, read in step with the first: its bytes'
// transitions do not depend on the first half's (it starts at a line
// start), so the two chains of loads overlap. Kept across calls until the
// first half reaches `begin`.
struct lookahead {
  bool live;
  bool matched;  // it stopped at a line that may hold a match, at st.p
  size_t begin;  // a line start
  stream st;
};

// How building one transition ended: `no_room` only where the cache may not
// be cleared (the second stream's, which would leave the first one's state
// behind).
enum class built { ok, gave_up, stopped, no_room };

}  // namespace

struct re_dfa {
  const re_program *prog;
  uint8_t classes[256];  // the column of each byte
  uint8_t reps[256];     // a byte of each class
  uint32_t class_count;  // the end-of-text column comes after these
  uint32_t stride;       // entries per row
  bool word_flags;       // the program tests word boundaries
  bool high_flags;       // ... Unicode's among them
  quiet_kind quiet;
  uint8_t stops[256];  // the bytes that may take a quiet state elsewhere

  // The cache.
  row_ref *trans;
  dfa_state *states;  // by row
  uint32_t rows;      // rows in use
  uint32_t row_cap;
  uint32_t *pool;  // the states' instructions
  uint32_t pool_used;
  uint32_t pool_cap;
  uint32_t *table;  // hash slots holding rows; 0 is a free slot
  uint32_t table_mask;

  // Working memory of one step, S entries each.
  sparse_set closure;
  sparse_set reached;
  uint32_t *stack;
  uint32_t *out;

  row_ref current;      // the state the scan stands at
  row_ref start;        // a line start
  row_ref start_cr;     // a line start after a CR
  // The quiet states: after a byte that is not a word byte, after one, and
  // after a byte of 0x80-0xFF (by quiet_index).
  row_ref quiet_at[3];
  lookahead ahead;
  size_t skips;  // skips since they were last judged, and the bytes they passed
  size_t skipped;

  // How often the cache was cleared in this text, and how hard it worked.
  uint32_t clears;
  uint32_t built_since_clear;
  size_t read_at_clear;  // bytes of the text read when the cache was last cleared
  size_t read_before;    // bytes of the text read before the current call
  size_t call_from;      // where the current call began

  re_stop_check stop;
  void *stop_ctx;
  uint32_t steps;  // counts down to the next stop check
};

namespace {

// ---- Byte classes ----

bool uses_assert(const re_program *prog, uint32_t kind) {
  for (uint32_t i = 0; i < prog->count; ++i) {
    if (prog->insts[i].op == RE_OP_ASSERT && prog->insts[i].arg == kind) return true;
  }
  return false;
}

// What a state after the byte `b` knows of it.
uint8_t behind_of(const re_dfa *dfa, unsigned char b) {
  if (dfa->word_flags && qg_is_word(b)) return kAfterWord;
  return dfa->high_flags && b >= 0x80 ? kAfterHigh : 0;
}

// The quiet state's slot for what `behind` says of the byte behind.
int quiet_index(uint8_t behind) {
  return (behind & kAfterWord) != 0 ? 1 : (behind & kAfterHigh) != 0 ? 2 : 0;
}

void make_classes(re_dfa *dfa) {
  dfa->class_count = re_byte_classes(dfa->prog, false, dfa->classes);
  dfa->word_flags = re_tests_words(dfa->prog);
  dfa->high_flags = re_tests_unicode_words(dfa->prog);
  for (int b = 255; b >= 0; --b) dfa->reps[dfa->classes[b]] = static_cast<uint8_t>(b);
  dfa->stride = dfa->class_count + 1;
}

// How often bytes of `set` are met in source text, as a share of all bytes:
// qg_byte_rank is a log scale of about eight steps per doubling.
double share_of(const uint8_t set[256]) {
  double in = 0, all = 0;
  for (int b = 0; b < 256; ++b) {
    const double weight = exp2(qg_byte_rank(static_cast<unsigned char>(b)) / 8.0);
    all += weight;
    if (set[b]) in += weight;
  }
  return in / all;
}

// Chooses the quiet states and their stop bytes: a dead state, which only a
// line break leaves, for an anchored program; for any other an idle one,
// which only a line break or a byte that may begin a match leaves, where
// such bytes are rare enough; none where an attempt may match at once.
void choose_quiet(re_dfa *dfa) {
  const re_program *prog = dfa->prog;
  dfa->quiet = quiet_kind::none;
  if (prog->empty) return;
  memset(dfa->stops, 0, sizeof dfa->stops);
  dfa->stops['\n'] = dfa->stops['\r'] = 1;
  if (prog->anchored) {
    dfa->quiet = quiet_kind::dead;
    return;
  }
  for (int b = 0; b < 256; ++b) {
    if (re_set_has(&prog->first, static_cast<unsigned char>(b))) dfa->stops[b] = 1;
  }
  if (share_of(dfa->stops) <= kSkipMaxShare) dfa->quiet = quiet_kind::idle;
}

bool is_quiet(const re_dfa *dfa, row_ref state) {
  return dfa->quiet != quiet_kind::none &&
         (state == dfa->quiet_at[0] || state == dfa->quiet_at[1] || state == dfa->quiet_at[2]);
}

row_ref row_at(const re_dfa *dfa, uint32_t row) {
  return reinterpret_cast<row_ref>(dfa->trans + size_t{row} * dfa->stride);
}

const dfa_state &state_of(const re_dfa *dfa, row_ref state) {
  const size_t row =
      (state - reinterpret_cast<row_ref>(dfa->trans)) / (size_t{dfa->stride} * sizeof(row_ref));
  return dfa->states[row];
}

// ---- The cache ----

uint64_t state_hash(uint8_t flags, const uint32_t *pcs, uint32_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ flags;
  for (uint32_t i = 0; i < n; ++i) {
    h = (h ^ pcs[i]) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  return h;
}

// The state (flags, pcs), added when new; kUnknown when the cache has no
// room for it.
row_ref find_or_add(re_dfa *dfa, uint8_t flags, const uint32_t *pcs, uint32_t n) {
  uint32_t slot = static_cast<uint32_t>(state_hash(flags, pcs, n)) & dfa->table_mask;
  for (; dfa->table[slot] != 0; slot = (slot + 1) & dfa->table_mask) {
    const dfa_state &s = dfa->states[dfa->table[slot]];
    if (s.flags == flags && s.pc_count == n &&
        memcmp(dfa->pool + s.pcs_at, pcs, n * sizeof(uint32_t)) == 0) {
      return row_at(dfa, dfa->table[slot]);
    }
  }
  if (dfa->rows == dfa->row_cap || n > dfa->pool_cap - dfa->pool_used) return kUnknown;
  const uint32_t row = dfa->rows++;
  memcpy(dfa->pool + dfa->pool_used, pcs, n * sizeof(uint32_t));
  dfa->states[row] = {dfa->pool_used, n, flags};
  dfa->pool_used += n;
  row_ref *entries = dfa->trans + size_t{row} * dfa->stride;
  for (uint32_t i = 0; i < dfa->stride; ++i) entries[i] = kUnknown;
  dfa->table[slot] = row;
  ++dfa->built_since_clear;
  return row_at(dfa, row);
}

// Empties the cache and makes the two line-start states again.
void clear_cache(re_dfa *dfa) {
  dfa->rows = 0;
  dfa->pool_used = 0;
  dfa->ahead.live = false;  // its state is gone
  memset(dfa->table, 0, (size_t{dfa->table_mask} + 1) * sizeof(uint32_t));
  dfa->start = find_or_add(dfa, kLineStart, dfa->out, 0);
  dfa->start_cr = find_or_add(dfa, kLineStart | kAfterCr, dfa->out, 0);
  dfa->quiet_at[0] = dfa->quiet_at[1] = dfa->quiet_at[2] = find_or_add(dfa, 0, dfa->out, 0);
  if (dfa->quiet == quiet_kind::idle && dfa->word_flags) {
    dfa->quiet_at[1] = find_or_add(dfa, kAfterWord, dfa->out, 0);
  }
  if (dfa->quiet == quiet_kind::idle && dfa->high_flags) {
    dfa->quiet_at[2] = find_or_add(dfa, kAfterHigh, dfa->out, 0);
  }
  dfa->built_since_clear = 0;
}

// ---- One transition ----

bool assert_holds(uint32_t kind, const look &at) {
  switch (kind) {
    case RE_ASSERT_LINE_START:
      return at.line_start;
    case RE_ASSERT_LINE_END:
      return at.at_break;
    case RE_ASSERT_WORD_BOUNDARY:
    case RE_ASSERT_NOT_WORD_BOUNDARY:
      // As the exact matcher has it, neither holds in an empty line.
      if (at.line_start && at.at_break) return false;
      return (at.after_word != at.next_word) == (kind == RE_ASSERT_WORD_BOUNDARY);
    case RE_ASSERT_UNICODE_WORD_BOUNDARY:
    case RE_ASSERT_UNICODE_NOT_WORD_BOUNDARY:
      if (at.line_start && at.at_break) return false;
      // A character of 0x80 and up on either side may be a word character
      // or not: read widely, as both.
      if (at.after_high || at.next_high) return true;
      return (at.after_word != at.next_word) == (kind == RE_ASSERT_UNICODE_WORD_BOUNDARY);
    case RE_ASSERT_INVALID_UNIT:
      return at.next_high;  // read widely: a match may only be let through, never lost
    default:
      return false;
  }
}

// Spends one step of building; false once the stop check has said to stop.
bool step(re_dfa *dfa) {
  if (--dfa->steps != 0) return true;
  dfa->steps = RE_STOP_CHECK_STEPS;
  return dfa->stop == nullptr || !dfa->stop(dfa->stop_ctx);
}

inline void push(re_dfa *dfa, uint32_t *sp, uint32_t pc) {
  if (dfa->closure.has(pc)) return;
  dfa->closure.insert(pc);
  dfa->stack[(*sp)++] = pc;
}

// Follows the state at `from` and a new attempt (where one may begin)
// through what the position `at` passes, into dfa->closure; true when a
// thread reaches MATCH. *stopped when the stop check said so.
bool close_over(re_dfa *dfa, row_ref from, const look &at, bool *stopped) {
  const re_program *prog = dfa->prog;
  const dfa_state &st = state_of(dfa, from);
  dfa->closure.count = 0;
  uint32_t sp = 0;
  for (uint32_t i = 0; i < st.pc_count; ++i) push(dfa, &sp, dfa->pool[st.pcs_at + i]);
  if (!prog->anchored || (st.flags & kLineStart) != 0) push(dfa, &sp, prog->start);
  while (sp > 0) {
    if (!step(dfa)) {
      *stopped = true;
      return false;
    }
    const re_inst &in = prog->insts[dfa->stack[--sp]];
    switch (in.op) {
      case RE_OP_MATCH:
        return true;
      case RE_OP_SPLIT:
        push(dfa, &sp, in.arg);
        push(dfa, &sp, in.next);
        break;
      case RE_OP_END:
        if (at.at_break) push(dfa, &sp, in.next);
        break;
      case RE_OP_ASSERT:
        if (assert_holds(in.arg, at)) push(dfa, &sp, in.next);
        break;
      default:
        break;
    }
  }
  return false;
}

// Moves every SET of the closure that holds `b` on, through SPLITs, into
// dfa->out (sorted); returns how many instructions it holds.
uint32_t step_over(re_dfa *dfa, unsigned char b) {
  const re_program *prog = dfa->prog;
  dfa->reached.count = 0;
  uint32_t n = 0;
  for (uint32_t i = 0; i < dfa->closure.count; ++i) {
    const re_inst &in = prog->insts[dfa->closure.dense[i]];
    if (in.op != RE_OP_SET || !re_set_has(&prog->sets[in.arg], b)) continue;
    uint32_t sp = 0;
    if (!dfa->reached.has(in.next)) {
      dfa->reached.insert(in.next);
      dfa->stack[sp++] = in.next;
    }
    while (sp > 0) {
      const uint32_t pc = dfa->stack[--sp];
      const re_inst &at = prog->insts[pc];
      if (at.op != RE_OP_SPLIT) {
        dfa->out[n++] = pc;
        continue;
      }
      for (const uint32_t to : {at.arg, at.next}) {
        if (dfa->reached.has(to)) continue;
        dfa->reached.insert(to);
        dfa->stack[sp++] = to;
      }
    }
  }
  std::sort(dfa->out, dfa->out + n);
  return n;
}

// Makes room for a state that did not fit: clears the cache, unless it was
// cleared too often for the bytes read since (`pos` is where the scan
// stands) or the state could not fit an empty one; false then.
bool make_room(re_dfa *dfa, size_t pos, uint32_t pcs) {
  ++dfa->clears;
  const size_t now = dfa->read_before + (pos - dfa->call_from);
  const size_t read = now - dfa->read_at_clear;
  if (dfa->clears >= RE_DFA_MIN_CLEARS &&
      read < size_t{RE_DFA_MIN_BYTES_PER_STATE} * dfa->built_since_clear) {
    return false;
  }
  if (pcs > dfa->pool_cap) return false;
  clear_cache(dfa);
  dfa->read_at_clear = now;
  return true;
}

// Builds the transition of the state at `from` on column `col` (read at
// text position `pos`) and stores it unless the cache had to be cleared
// (which only `may_clear` allows); writes it to *next.
built build(re_dfa *dfa, row_ref from, uint32_t col, size_t pos, bool may_clear, row_ref *next) {
  const uint8_t flags = state_of(dfa, from).flags;
  const bool text_end = col == dfa->class_count;
  const unsigned char b = text_end ? 0 : dfa->reps[col];
  const bool line_break = text_end || b == '\n' || b == '\r';
  row_ref to = kUnknown;
  if (line_break && !text_end && b == '\n' && (flags & kAfterCr) != 0) {
    to = dfa->start;  // the LF of a CR LF: the line ended at the CR
  } else if (text_end && (flags & kLineStart) != 0) {
    to = dfa->start;  // the text ends after a line break: no line is open
  } else {
    const look at = {(flags & kLineStart) != 0,    (flags & kAfterWord) != 0,
                     (flags & kAfterHigh) != 0,    line_break,
                     !line_break && qg_is_word(b), !line_break && b >= 0x80};
    bool stopped = false;
    const bool matched = close_over(dfa, from, at, &stopped);
    if (stopped) return built::stopped;
    if (matched) {
      to = kMatch;
    } else if (line_break) {
      to = b == '\r' ? dfa->start_cr : dfa->start;
    } else {
      const uint32_t n = step_over(dfa, b);
      uint8_t next_flags = behind_of(dfa, b);
      if (n == 0 && dfa->prog->anchored) next_flags = 0;  // dead until the line ends
      to = find_or_add(dfa, next_flags, dfa->out, n);
      if (to == kUnknown) {
        if (!may_clear) return built::no_room;
        if (!make_room(dfa, pos, n)) return built::gave_up;
        *next = find_or_add(dfa, next_flags, dfa->out, n);
        return built::ok;
      }
      if (is_quiet(dfa, from) && is_quiet(dfa, to) && dfa->stops[b] == 0) to = kSkip;
    }
  }
  reinterpret_cast<row_ref *>(from)[col] = to;
  *next = to;
  return built::ok;
}

// ---- The scan ----

// Windows at least this long are read as two streams.
constexpr size_t kTwoStreamsMin = 8192;

// What stopped a stream.
enum class event { done, matched, gave_up, stopped, no_room };

event event_of(built b) {
  switch (b) {
    case built::gave_up:
      return event::gave_up;
    case built::stopped:
      return event::stopped;
    case built::no_room:
      return event::no_room;
    default:
      return event::done;
  }
}

inline row_ref next_of(const uint8_t *classes, row_ref state, unsigned char byte) {
  return reinterpret_cast<const row_ref *>(state)[classes[byte]];
}

// Counts a skip of `bytes` bytes; gives skips up for good when, over
// kSkipsJudged of them, they were too short on average to pay for leaving
// the table loop (stop bytes commoner in these texts than in most).
void judge_skips(re_dfa *dfa, size_t bytes) {
  dfa->skipped += bytes;
  if (++dfa->skips < kSkipsJudged) return;
  if (dfa->skipped < dfa->skips * kSkipMinAverage) dfa->quiet = quiet_kind::none;
  dfa->skips = 0;
  dfa->skipped = 0;
}

// Takes the mark `n` that the stream's state has for the byte at its
// position: builds the transition, skips over the bytes that leave a quiet
// state quiet, or stops at a match. event::done when the stream goes on.
event on_mark(re_dfa *dfa, const unsigned char *t, stream *st, row_ref n, bool may_clear) {
  if (n == kUnknown) {
    const built b = build(dfa, st->s, dfa->classes[t[st->p]], st->p, may_clear, &n);
    if (b != built::ok) return event_of(b);
  }
  if (n == kMatch) return event::matched;
  if (n == kSkip) {
    const unsigned char byte = t[st->p];
    if (dfa->quiet == quiet_kind::none) {
      // Skips were given up: the mark becomes the step it stands for.
      n = dfa->quiet_at[quiet_index(behind_of(dfa, byte))];
      reinterpret_cast<row_ref *>(st->s)[dfa->classes[byte]] = n;
    } else {
      // Every byte up to the next stop byte leaves a quiet state quiet; only
      // the last one says which.
      size_t q = st->p + 1;
      while (q < st->end && dfa->stops[t[q]] == 0) ++q;
      st->s = dfa->quiet_at[quiet_index(behind_of(dfa, t[q - 1]))];
      judge_skips(dfa, q - st->p);
      st->p = q;
      return event::done;
    }
  }
  st->s = n;
  ++st->p;
  return event::done;
}

// Runs one stream to its end (event::done) or to a match or failure.
event run_one(re_dfa *dfa, const unsigned char *t, stream *st, bool may_clear) {
  const uint8_t *classes = dfa->classes;
  row_ref s = st->s;
  size_t p = st->p;
  const size_t end = st->end;
  for (;;) {
    // Unrolled by four: each entry depends on the one before, but the
    // loop's own work overlaps.
    while (end - p >= 4) {
      const row_ref a = next_of(classes, s, t[p]);
      if (a <= kSkip) break;
      const row_ref b = next_of(classes, a, t[p + 1]);
      if (b <= kSkip) {
        s = a;
        p += 1;
        break;
      }
      const row_ref c = next_of(classes, b, t[p + 2]);
      if (c <= kSkip) {
        s = b;
        p += 2;
        break;
      }
      const row_ref d = next_of(classes, c, t[p + 3]);
      if (d <= kSkip) {
        s = c;
        p += 3;
        break;
      }
      s = d;
      p += 4;
    }
    row_ref n = kUnknown;
    for (; p < end; ++p) {
      n = next_of(classes, s, t[p]);
      if (n <= kSkip) break;
      s = n;
    }
    st->s = s;
    st->p = p;
    if (p == end) return event::done;
    const event e = on_mark(dfa, t, st, n, may_clear);
    if (e != event::done) return e;
    s = st->s;
    p = st->p;
  }
}

// Runs two streams in step until one of them ends or stops; `*which` says
// which (0: a, 1: b) and the result what happened to it. Only a's steps may
// clear the cache; when one does, b's state is gone and b stops with
// event::no_room.
event run_two(re_dfa *dfa, const unsigned char *t, stream *a, stream *b, int *which) {
  const uint8_t *classes = dfa->classes;
  for (;;) {
    row_ref sa = a->s, sb = b->s;
    const size_t pa = a->p, pb = b->p;
    const size_t steps = std::min(a->end - pa, b->end - pb);
    row_ref na = kUnknown, nb = kUnknown;
    size_t i = 0;
    for (; i < steps; ++i) {
      na = next_of(classes, sa, t[pa + i]);
      nb = next_of(classes, sb, t[pb + i]);
      if (na <= kSkip || nb <= kSkip) break;
      sa = na;
      sb = nb;
    }
    // Neither stream has taken the byte at its position yet.
    *a = {sa, pa + i, a->end};
    *b = {sb, pb + i, b->end};
    if (i == steps) {
      *which = a->p == a->end ? 0 : 1;
      return event::done;
    }
    if (na <= kSkip) {
      const event e = on_mark(dfa, t, a, na, true);
      if (e != event::done || a->p == a->end) {
        *which = 0;
        return e;
      }
      if (!dfa->ahead.live) {
        *which = 1;
        return event::no_room;
      }
      nb = next_of(classes, b->s, t[b->p]);  // a's step may have built it
    }
    if (nb <= kSkip) {
      const event e = on_mark(dfa, t, b, nb, false);
      if (e != event::done || b->p == b->end) {
        *which = 1;
        return e;
      }
    }
  }
}

re_dfa_result result_of(event e) {
  return e == event::gave_up   ? RE_DFA_GAVE_UP
         : e == event::stopped ? RE_DFA_STOPPED
                               : RE_DFA_NO_MATCH;
}

// Where the second half of [from, to) begins: the first line start after its
// middle, or `to` when there is none.
size_t second_half(const char *text, size_t from, size_t to) {
  const char *end = text + to;
  const char *brk = qg_line_end(text + from + (to - from) / 2, end, true);
  return static_cast<size_t>(qg_line_next(brk, end) - text);
}

// Takes the column `col` (a line break or the text's end) from the current
// state: RE_DFA_MATCH when the line it ends holds a match.
re_dfa_result end_line(re_dfa *dfa, uint32_t col, size_t pos) {
  row_ref n = reinterpret_cast<const row_ref *>(dfa->current)[col];
  if (n == kUnknown) {
    const built b = build(dfa, dfa->current, col, pos, true, &n);
    if (b != built::ok) {
      dfa->current = dfa->start;
      return result_of(event_of(b));
    }
  }
  dfa->current = dfa->start;
  return n == kMatch ? RE_DFA_MATCH : RE_DFA_NO_MATCH;
}

// Reads [from, to) from the current state, with the second half in step
// where the window is long; RE_DFA_NO_MATCH when it reached `to`.
re_dfa_result scan_window(re_dfa *dfa, const char *text, size_t from, size_t to, size_t *at) {
  const auto *t = reinterpret_cast<const unsigned char *>(text);
  lookahead &ahead = dfa->ahead;
  stream a = {dfa->current, from, to};
  if (ahead.live && (ahead.st.end != to || ahead.begin < from)) ahead.live = false;
  if (!ahead.live && to - from >= kTwoStreamsMin) {
    const size_t begin = second_half(text, from, to);
    if (begin < to) ahead = {true, false, begin, {dfa->start, begin, to}};
  }
  event e = event::done;
  if (ahead.live) {
    a.end = ahead.begin;
    while (ahead.live && !ahead.matched && a.p < a.end && ahead.st.p < ahead.st.end) {
      int which = 0;
      const event two = run_two(dfa, t, &a, &ahead.st, &which);
      if (which == 0 && two != event::done) {
        e = two;
        break;
      }
      if (which == 1) {
        if (two == event::matched) ahead.matched = true;
        if (two == event::stopped) {
          e = two;
          break;
        }
        if (two == event::gave_up || two == event::no_room) ahead.live = false;
      }
    }
    if (e == event::done && a.p < a.end) e = run_one(dfa, t, &a, true);
    if (e == event::done && !ahead.live) {
      a.end = to;  // the second half was dropped: the first stream reads it
      e = run_one(dfa, t, &a, true);
    } else if (e == event::done) {
      // The first half is read: the second half's stream takes over.
      ahead.live = false;
      a = ahead.st;
      if (ahead.matched) {
        e = event::matched;
      } else if (a.p < a.end) {
        e = run_one(dfa, t, &a, true);
      }
    }
  } else {
    e = run_one(dfa, t, &a, true);
  }
  if (e == event::done) {
    dfa->current = a.s;
    return RE_DFA_NO_MATCH;
  }
  dfa->current = dfa->start;
  *at = a.p;
  return e == event::matched ? RE_DFA_MATCH : result_of(e);
}

}  // namespace

bool re_tests_unicode_words(const re_program *prog) {
  return uses_assert(prog, RE_ASSERT_UNICODE_WORD_BOUNDARY) ||
         uses_assert(prog, RE_ASSERT_UNICODE_NOT_WORD_BOUNDARY);
}

bool re_tests_words(const re_program *prog) {
  return uses_assert(prog, RE_ASSERT_WORD_BOUNDARY) ||
         uses_assert(prog, RE_ASSERT_NOT_WORD_BOUNDARY) || re_tests_unicode_words(prog);
}

uint32_t re_byte_classes(const re_program *prog, bool split_high, uint8_t classes[256]) {
  memset(classes, 0, 256);
  uint32_t count = 1;
  // Splits every class into the bytes that `in(b)` holds for and the rest.
  auto refine = [&](auto in) {
    int16_t remap[256][2];
    for (auto &pair : remap) pair[0] = pair[1] = -1;
    uint32_t next = 0;
    for (int b = 0; b < 256; ++b) {
      int16_t &slot = remap[classes[b]][in(static_cast<unsigned char>(b)) ? 1 : 0];
      if (slot < 0) slot = static_cast<int16_t>(next++);
      classes[b] = static_cast<uint8_t>(slot);
    }
    count = next;
  };
  refine([](unsigned char b) { return b == '\n'; });
  refine([](unsigned char b) { return b == '\r'; });
  if (re_tests_words(prog)) refine([](unsigned char b) { return qg_is_word(b); });
  if (split_high || uses_assert(prog, RE_ASSERT_INVALID_UNIT) || re_tests_unicode_words(prog)) {
    refine([](unsigned char b) { return b >= 0x80; });
  }
  for (uint32_t i = 0; i < prog->set_count; ++i) {
    const re_byteset *set = &prog->sets[i];
    refine([set](unsigned char b) { return re_set_has(set, b); });
  }
  return count;
}

re_dfa *re_dfa_new(const re_program *program) {
  if (program->no_dfa || program->count == 0) return nullptr;
  // Working memory: two sparse sets, a stack and an output list of S each.
  const size_t S = program->count;
  const size_t work = S * 6 * sizeof(uint32_t);
  if (work + sizeof(re_dfa) > RE_DFA_CACHE_BYTES / 2) return nullptr;
  auto *dfa = static_cast<re_dfa *>(calloc(1, sizeof(re_dfa)));
  if (dfa == nullptr) return nullptr;
  dfa->prog = program;
  dfa->steps = RE_STOP_CHECK_STEPS;
  make_classes(dfa);
  choose_quiet(dfa);
  // The rest of the bound: a quarter for the states' instructions, the rest
  // for rows, their records and hash slots (at most four per row).
  const size_t rest = RE_DFA_CACHE_BYTES - work - sizeof(re_dfa);
  dfa->pool_cap = static_cast<uint32_t>(rest / 4 / sizeof(uint32_t));
  const size_t per_row = dfa->stride * sizeof(row_ref) + sizeof(dfa_state) + 4 * sizeof(uint32_t);
  dfa->row_cap = static_cast<uint32_t>((rest - rest / 4) / per_row);
  uint32_t slots = 1;
  while (slots < 2 * dfa->row_cap) slots *= 2;
  dfa->table_mask = slots - 1;
  dfa->trans = static_cast<row_ref *>(malloc(size_t{dfa->row_cap} * dfa->stride * sizeof(row_ref)));
  dfa->states = static_cast<dfa_state *>(malloc(dfa->row_cap * sizeof(dfa_state)));
  dfa->pool = static_cast<uint32_t *>(malloc(dfa->pool_cap * sizeof(uint32_t)));
  dfa->table = static_cast<uint32_t *>(malloc(slots * sizeof(uint32_t)));
  dfa->closure = {static_cast<uint32_t *>(malloc(S * 4)), static_cast<uint32_t *>(malloc(S * 4)),
                  0};
  dfa->reached = {static_cast<uint32_t *>(malloc(S * 4)), static_cast<uint32_t *>(malloc(S * 4)),
                  0};
  dfa->stack = static_cast<uint32_t *>(malloc(S * 4));
  dfa->out = static_cast<uint32_t *>(malloc(S * 4));
  if (dfa->trans == nullptr || dfa->states == nullptr || dfa->pool == nullptr ||
      dfa->table == nullptr || dfa->closure.dense == nullptr || dfa->closure.sparse == nullptr ||
      dfa->reached.dense == nullptr || dfa->reached.sparse == nullptr || dfa->stack == nullptr ||
      dfa->out == nullptr || dfa->row_cap < 8) {
    re_dfa_free(dfa);
    return nullptr;
  }
  clear_cache(dfa);
  re_dfa_begin_text(dfa);
  return dfa;
}

void re_dfa_free(re_dfa *dfa) {
  if (dfa == nullptr) return;
  free(dfa->trans);
  free(dfa->states);
  free(dfa->pool);
  free(dfa->table);
  free(dfa->closure.dense);
  free(dfa->closure.sparse);
  free(dfa->reached.dense);
  free(dfa->reached.sparse);
  free(dfa->stack);
  free(dfa->out);
  free(dfa);
}

void re_dfa_set_stop(re_dfa *dfa, re_stop_check check, void *ctx) {
  dfa->stop = check;
  dfa->stop_ctx = ctx;
}

void re_dfa_begin_text(re_dfa *dfa) {
  dfa->current = dfa->start;
  dfa->ahead.live = false;
  dfa->clears = 0;
  dfa->read_at_clear = 0;
  dfa->read_before = 0;
  dfa->call_from = 0;
  dfa->built_since_clear = 0;
}

void re_dfa_at_line_start(re_dfa *dfa) { dfa->current = dfa->start; }

re_dfa_result re_dfa_scan(re_dfa *dfa, const char *text, size_t len, size_t from, size_t to,
                          size_t *at) {
  dfa->call_from = from;
  re_dfa_result r = scan_window(dfa, text, from, to, at);
  if (r == RE_DFA_NO_MATCH && to == len) {
    *at = len;
    r = end_line(dfa, dfa->class_count, len);
  }
  dfa->read_before += (r == RE_DFA_NO_MATCH ? to : *at) - from;
  return r;
}

re_dfa_result re_dfa_line(re_dfa *dfa, const char *line, size_t n) {
  dfa->ahead.live = false;
  dfa->call_from = 0;
  stream st = {dfa->start, 0, n};
  const event e = run_one(dfa, reinterpret_cast<const unsigned char *>(line), &st, true);
  dfa->read_before += n;
  dfa->current = dfa->start;
  if (e == event::matched) return RE_DFA_MATCH;
  if (e != event::done) return result_of(e);
  // The line's end, as a line break would end it (an empty line included).
  dfa->current = st.s;
  return end_line(dfa, dfa->classes[static_cast<unsigned char>('\n')], n);
}
