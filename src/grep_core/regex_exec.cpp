// Matching a compiled pattern against one line.
//
// Two searches, both exact and both O(S * (n + 1)) for S instructions and n
// bytes. The usual one follows the paths depth first, in the definition's
// priority order, and marks every (instruction, position) pair it has
// explored: the rest of a path from a pair depends only on the pair, so a pair
// that failed once fails again, whichever start position or path reached it.
// Its bitmap holds S * (n + 1) bits; where that is too large, a breadth-first
// search keeps every live thread in priority order instead (first thread to
// reach MATCH wins over the ones below it), in O(S) memory.
#include "grep_core/ascii_class.h"
#include "grep_core/byte_scan.h"
#include "grep_core/regex_dfa_bounds.h"
#include "grep_core/regex_program.h"
#include "grep_core/unicode_props.h"
#include "grep_core/utf8.h"

#include <stdlib.h>
#include <string.h>

namespace {

// One pending alternative of the depth-first search.
struct frame {
  uint32_t pc;
  uint32_t pos;
};

// A list of threads in priority order with constant-time membership: the
// instructions in `dense[0..count)`, their attempts' start positions in
// `from`, and `sparse[pc]` pointing back into `dense`.
struct thread_list {
  uint32_t *dense;
  uint32_t *sparse;
  uint32_t *from;
  uint32_t count;

  bool has(uint32_t pc) const { return sparse[pc] < count && dense[sparse[pc]] == pc; }
};

// The (instruction, position) pairs the depth-first search has explored. A
// bitmap, indexed by instruction * (n + 1) + position, while that index space
// fits RE_MEMO_MAX_BITS; its words are cleared after a line by a list of the
// words that were touched, so a line costs what it visits, not the bitmap's
// size. Past that, a hash set of the pairs visited, up to RE_MEMO_MAX_PAIRS
// of them (past which the breadth-first search takes over).
struct memo_set {
  uint64_t *bits = nullptr;
  uint32_t *touched = nullptr;  // indices of words that are non-zero
  size_t words = 0;             // room of `bits` and `touched`
  size_t touched_count = 0;
  uint64_t *keys = nullptr;  // the hash set; kEmptyKey marks a free slot
  size_t key_capacity = 0;   // a power of two
  size_t key_count = 0;
  bool dense = true;
};

}  // namespace

struct re_scratch {
  uint32_t capacity;  // instructions the thread lists have room for
  memo_set memo;
  frame *stack;
  size_t stack_capacity;
  thread_list lists[2];
  uint32_t *closure;  // work stack of the breadth-first closure, S entries
  re_bounds *bounds;  // made on first use, for `bounds_for`, unless `no_bounds`
  const re_program *bounds_for;
  bool no_bounds;                 // the program has no bounds DFAs, or they could not be made
  re_capture_work *capture_work;  // re_find_groups's, made on its first use
  re_stop_check stop;
  void *stop_ctx;
  uint32_t steps;  // counts down to the next stop check
  bool stopped;
};

namespace {

// Spends one step; false once the stop check has said to stop.
inline bool step(re_scratch *sc) {
  if (--sc->steps != 0) return true;
  sc->steps = RE_STOP_CHECK_STEPS;
  if (sc->stop != nullptr && sc->stop(sc->stop_ctx)) sc->stopped = true;
  return !sc->stopped;
}

// ---- Start positions ----

// The first position at or after `s` where an attempt may succeed, or n + 1.
// Attempts elsewhere begin with a byte no path can consume first.
struct start_finder {
  const re_program *prog;
  const char *text;
  size_t n;
  qg_byte_scan scan;

  start_finder(const re_program *p, const char *t, size_t len) : prog(p), text(t), n(len), scan() {
    if (prog->first_count > 0 && prog->first_count <= 2) {
      qg_byte_scan_init2(&scan, text, n, prog->first_bytes[0],
                         prog->first_bytes[prog->first_count - 1]);
    }
  }

  size_t next(size_t s) {
    s = next_byte_start(s);
    // A standard-syntax attempt begins where a unit does.
    while (prog->utf8_units && s < n && !re_unit_starts_at(text, n, s)) s = next_byte_start(s + 1);
    return s;
  }

  size_t next_byte_start(size_t s) {
    if (prog->anchored) return s == 0 ? 0 : n + 1;
    if (prog->empty) return s <= n ? s : n + 1;
    if (prog->first_count > 0 && prog->first_count <= 2) {
      s = qg_byte_scan_next(&scan, s);
    } else if (prog->first_count > 2) {
      while (s < n && !re_set_has(&prog->first, static_cast<unsigned char>(text[s]))) ++s;
    } else {
      s = n;
    }
    if (s < n) return s;
    return prog->at_end ? n : n + 1;
  }
};

// ---- Depth first, with memory of failed pairs ----

constexpr uint64_t kEmptyKey = UINT64_MAX;

// Makes the memo empty and ready for an index space of `bits` pairs; false
// when out of memory.
bool memo_reset(memo_set *m, size_t bits) {
  for (size_t i = 0; i < m->touched_count; ++i) m->bits[m->touched[i]] = 0;
  m->touched_count = 0;
  if (m->key_count > 0) {
    for (size_t i = 0; i < m->key_capacity; ++i) m->keys[i] = kEmptyKey;
    m->key_count = 0;
  }
  m->dense = bits <= RE_MEMO_MAX_BITS;
  if (!m->dense) return true;
  const size_t words = (bits + 63) / 64;
  if (words <= m->words) return true;
  free(m->bits);
  free(m->touched);
  m->bits = static_cast<uint64_t *>(calloc(words, sizeof(uint64_t)));
  m->touched = static_cast<uint32_t *>(malloc(words * sizeof(uint32_t)));
  if (m->bits == nullptr || m->touched == nullptr) {
    free(m->bits);
    free(m->touched);
    *m = memo_set{};
    return false;
  }
  m->words = words;
  return true;
}

bool memo_grow_keys(memo_set *m) {
  const size_t grown = m->key_capacity == 0 ? 4096 : m->key_capacity * 2;
  auto *keys = static_cast<uint64_t *>(malloc(grown * sizeof(uint64_t)));
  if (keys == nullptr) return false;
  for (size_t i = 0; i < grown; ++i) keys[i] = kEmptyKey;
  for (size_t i = 0; i < m->key_capacity; ++i) {
    const uint64_t k = m->keys[i];
    if (k == kEmptyKey) continue;
    size_t j = (k * 0x9E3779B97F4A7C15ull >> 20) & (grown - 1);
    while (keys[j] != kEmptyKey) j = (j + 1) & (grown - 1);
    keys[j] = k;
  }
  free(m->keys);
  m->keys = keys;
  m->key_capacity = grown;
  return true;
}

enum class visit { fresh, seen, full };

// Marks the pair `index`; whether it was new. `full` when the hash set has
// reached its bound or cannot grow.
inline visit memo_visit(memo_set *m, uint64_t index) {
  if (m->dense) {
    uint64_t &word = m->bits[index >> 6];
    const uint64_t bit = uint64_t{1} << (index & 63);
    if (word & bit) return visit::seen;
    if (word == 0) m->touched[m->touched_count++] = static_cast<uint32_t>(index >> 6);
    word |= bit;
    return visit::fresh;
  }
  if ((m->key_count + 1) * 2 > m->key_capacity) {
    if (m->key_count >= RE_MEMO_MAX_PAIRS || !memo_grow_keys(m)) return visit::full;
  }
  size_t j = (index * 0x9E3779B97F4A7C15ull >> 20) & (m->key_capacity - 1);
  for (; m->keys[j] != kEmptyKey; j = (j + 1) & (m->key_capacity - 1)) {
    if (m->keys[j] == index) return visit::seen;
  }
  m->keys[j] = index;
  ++m->key_count;
  return visit::fresh;
}

bool grow_stack(re_scratch *sc) {
  const size_t grown = sc->stack_capacity == 0 ? 256 : sc->stack_capacity * 2;
  auto *block = static_cast<frame *>(realloc(sc->stack, grown * sizeof(frame)));
  if (block == nullptr) return false;
  sc->stack = block;
  sc->stack_capacity = grown;
  return true;
}

enum class attempt { failed, matched, stopped, no_memory };

// Follows every path from (pc, s) in priority order until one reaches MATCH
// (its end written to `end`) or all have failed.
attempt depth_first(const re_program *prog, re_scratch *sc, const char *text, size_t n, uint32_t pc,
                    size_t s, size_t *end) {
  const uint64_t width = n + 1;
  memo_set *memo = &sc->memo;
  size_t sp = 0;
  sc->stack[sp++] = {pc, static_cast<uint32_t>(s)};
  while (sp > 0) {
    frame f = sc->stack[--sp];
    size_t pos = f.pos;
    pc = f.pc;
    for (;;) {
      const visit v = memo_visit(memo, pc * width + pos);
      if (v == visit::seen) break;
      if (v == visit::full) return attempt::no_memory;
      if (!step(sc)) return attempt::stopped;
      const re_inst in = prog->insts[pc];
      if (in.op == RE_OP_SET) {
        if (pos >= n || !re_set_has(&prog->sets[in.arg], static_cast<unsigned char>(text[pos]))) {
          break;
        }
        pc = in.next;
        ++pos;
      } else if (in.op == RE_OP_SPLIT) {
        if (sp == sc->stack_capacity && !grow_stack(sc)) return attempt::no_memory;
        sc->stack[sp++] = {in.arg, static_cast<uint32_t>(pos)};
        pc = in.next;
      } else if (in.op == RE_OP_END) {
        if (pos != n) break;
        pc = in.next;
      } else if (in.op == RE_OP_ASSERT) {
        if (!re_assert_holds(in.arg, text, n, pos)) break;
        pc = in.next;
      } else {
        *end = pos;
        return attempt::matched;
      }
    }
  }
  return attempt::failed;
}

// The memoising search over every start position; no_memory when its
// bitmap or stack cannot be had (the caller falls back).
attempt memo_search(const re_program *prog, re_scratch *sc, const char *text, size_t n, size_t from,
                    bool one_start, size_t *out_start, size_t *out_end) {
  const uint64_t pairs = uint64_t{prog->count} * (n + 1);
  if (!memo_reset(&sc->memo, pairs > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(pairs))) {
    return attempt::no_memory;
  }
  if (sc->stack_capacity == 0 && !grow_stack(sc)) return attempt::no_memory;
  start_finder starts(prog, text, n);
  for (size_t s = one_start ? from : starts.next(from); s <= n; s = starts.next(s + 1)) {
    size_t end = 0;
    const attempt a = depth_first(prog, sc, text, n, prog->start, s, &end);
    if (a == attempt::matched) {
      *out_start = s;
      *out_end = end;
    }
    if (a != attempt::failed || one_start) return a;
  }
  return attempt::failed;
}

// ---- Breadth first, in O(S) memory ----

// Adds the thread (pc, pos) and everything it reaches without consuming to
// `list`, in priority order, each instruction once; only SET and MATCH
// threads are kept, since the others have been followed.
void add_thread(const re_program *prog, re_scratch *sc, thread_list *list, uint32_t pc,
                const char *text, size_t pos, size_t n, uint32_t from) {
  uint32_t *stack = sc->closure;
  size_t sp = 0;
  stack[sp++] = pc;
  while (sp > 0) {
    pc = stack[--sp];
    if (list->has(pc)) continue;
    list->sparse[pc] = list->count;
    list->dense[list->count] = pc;
    list->from[list->count] = from;
    ++list->count;
    const re_inst &in = prog->insts[pc];
    if (in.op == RE_OP_SPLIT) {
      stack[sp++] = in.arg;
      stack[sp++] = in.next;
    } else if ((in.op == RE_OP_END && pos == n) ||
               (in.op == RE_OP_ASSERT && re_assert_holds(in.arg, text, n, pos))) {
      stack[sp++] = in.next;
    }
  }
}

// Makes the thread lists of the breadth-first search, on its first use by
// this scratch: most searches never need them. False when out of memory.
bool ensure_thread_lists(re_scratch *sc) {
  if (sc->closure != nullptr) return true;
  const size_t S = sc->capacity;
  bool ok = true;
  for (thread_list &l : sc->lists) {
    l.dense = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t) + 4));
    l.sparse = static_cast<uint32_t *>(calloc(S + 1, sizeof(uint32_t)));
    l.from = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t) + 4));
    l.count = 0;
    ok = ok && l.dense && l.sparse && l.from;
  }
  sc->closure = ok ? static_cast<uint32_t *>(malloc(S * 2 * sizeof(uint32_t) + 4)) : nullptr;
  if (sc->closure != nullptr) return true;
  for (thread_list &l : sc->lists) {
    free(l.dense);
    free(l.sparse);
    free(l.from);
    l = thread_list{};
  }
  return false;
}

attempt breadth_first(const re_program *prog, re_scratch *sc, const char *text, size_t n,
                      size_t from, bool one_start, size_t *out_start, size_t *out_end) {
  if (!ensure_thread_lists(sc)) return attempt::no_memory;
  thread_list *now = &sc->lists[0];
  thread_list *later = &sc->lists[1];
  now->count = later->count = 0;
  start_finder starts(prog, text, n);
  size_t next_start = one_start ? from : starts.next(from);
  bool matched = false;
  for (size_t pos = next_start; pos <= n; ++pos) {
    if (now->count == 0) {
      if (matched || next_start > n) break;
      pos = next_start;  // nothing alive: jump to the next possible start
    }
    if (!matched && pos == next_start) {
      add_thread(prog, sc, now, prog->start, text, pos, n, static_cast<uint32_t>(pos));
      next_start = one_start ? n + 1 : starts.next(pos + 1);
    }
    later->count = 0;
    for (uint32_t i = 0; i < now->count; ++i) {
      if (!step(sc)) return attempt::stopped;
      const uint32_t pc = now->dense[i];
      const re_inst &in = prog->insts[pc];
      if (in.op == RE_OP_MATCH) {
        // This thread outranks every one after it: they are dropped.
        matched = true;
        *out_start = now->from[i];
        *out_end = pos;
        break;
      }
      if (in.op == RE_OP_SET && pos < n &&
          re_set_has(&prog->sets[in.arg], static_cast<unsigned char>(text[pos]))) {
        add_thread(prog, sc, later, in.next, text, pos + 1, n, now->from[i]);
      }
    }
    thread_list *t = now;
    now = later;
    later = t;
  }
  return matched ? attempt::matched : attempt::failed;
}

// The match of `prog`, made for `sc`; a scratch made for a smaller program is
// never used beyond its room (no_memory).
attempt search(const re_program *prog, re_scratch *sc, const char *text, size_t n, size_t from,
               bool one_start, size_t *start, size_t *end) {
  if (prog->count > sc->capacity || n >= UINT32_MAX) return attempt::no_memory;
  sc->stopped = false;
  const attempt a = memo_search(prog, sc, text, n, from, one_start, start, end);
  if (a != attempt::no_memory) return a;
  return breadth_first(prog, sc, text, n, from, one_start, start, end);
}

// True when the line holds one of the program's required literals, or the
// program has none.
bool line_may_match(const re_program *prog, const char *text, size_t n) {
  if (prog->literal_count == 0) return true;
  if (prog->literal_count == 1)
    return qg_finder_find(&prog->literal_finders[0], text, n) != nullptr;
  return qg_set_finder_find(&prog->literal_set, text, n, nullptr) != nullptr;
}

// The match's bounds from the DFAs (regex_dfa_bounds.h), made for the
// scratch on first use; RE_BOUNDS_UNDECIDED when it has none.
re_bounds_result bounds_search(const re_program *prog, re_scratch *sc, const char *text, size_t n,
                               size_t from, bool one_start, size_t *start, size_t *end) {
  if (sc->bounds == nullptr && !sc->no_bounds) {
    sc->bounds = re_bounds_new(prog);
    sc->bounds_for = prog;
    sc->no_bounds = sc->bounds == nullptr;
    if (sc->bounds != nullptr) re_bounds_set_stop(sc->bounds, sc->stop, sc->stop_ctx);
  }
  if (sc->bounds == nullptr || sc->bounds_for != prog) return RE_BOUNDS_UNDECIDED;
  return re_bounds_search(sc->bounds, text, n, from, one_start, start, end);
}

}  // namespace

re_scratch *re_scratch_new(const re_program *program) {
  auto *sc = static_cast<re_scratch *>(calloc(1, sizeof(re_scratch)));
  if (sc == nullptr) return nullptr;
  sc->capacity = program->count;
  sc->steps = RE_STOP_CHECK_STEPS;
  return sc;
}

void re_scratch_free(re_scratch *scratch) {
  if (scratch == nullptr) return;
  free(scratch->memo.bits);
  free(scratch->memo.touched);
  free(scratch->memo.keys);
  free(scratch->stack);
  free(scratch->closure);
  re_bounds_free(scratch->bounds);
  re_capture_work_free(scratch->capture_work);
  for (thread_list &l : scratch->lists) {
    free(l.dense);
    free(l.sparse);
    free(l.from);
  }
  free(scratch);
}

re_capture_work **re_scratch_begin_captures(re_scratch *scratch) {
  scratch->stopped = false;
  return &scratch->capture_work;
}

bool re_scratch_step(re_scratch *scratch) { return step(scratch); }

void re_scratch_set_stop(re_scratch *scratch, re_stop_check check, void *ctx) {
  scratch->stop = check;
  scratch->stop_ctx = ctx;
  if (scratch->bounds != nullptr) re_bounds_set_stop(scratch->bounds, check, ctx);
}

re_result re_find(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                  int32_t *out_col, int32_t *out_len) {
  return re_find_from(program, scratch, text, len, 0, out_col, out_len);
}

re_result re_find_from(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                       size_t from, int32_t *out_col, int32_t *out_len) {
  if (from > len || (program->anchored && from > 0)) return RE_NO_MATCH;
  // A match that starts at or after `from` holds one of the literals there.
  if (!line_may_match(program, text + from, len - from)) return RE_NO_MATCH;
  const re_search_how how = {from, program->anchored, false};
  size_t start = 0, end = 0;
  const re_result r = re_search_at(program, scratch, text, len, &how, &start, &end);
  if (r != RE_MATCH) return r;
  if (out_col != nullptr) *out_col = static_cast<int32_t>(start + 1);
  if (out_len != nullptr) *out_len = static_cast<int32_t>(end - start);
  return RE_MATCH;
}

re_result re_find_by_dfa(const re_program *program, re_scratch *scratch, const char *text,
                         size_t len, int32_t *out_col, int32_t *out_len, bool *decided) {
  *decided = false;
  if (program->no_dfa || program->count > scratch->capacity || len >= UINT32_MAX) {
    return RE_NO_MATCH;
  }
  size_t start = 0, end = 0;
  const re_bounds_result b = bounds_search(program, scratch, text, len, 0, false, &start, &end);
  if (b == RE_BOUNDS_UNDECIDED) return RE_NO_MATCH;
  *decided = true;
  if (b == RE_BOUNDS_STOPPED) return RE_STOPPED;
  if (b == RE_BOUNDS_NO_MATCH) return RE_NO_MATCH;
  *out_col = static_cast<int32_t>(start + 1);
  *out_len = static_cast<int32_t>(end - start);
  return RE_MATCH;
}

re_result re_search_at(const re_program *program, re_scratch *scratch, const char *text, size_t len,
                       const re_search_how *how, size_t *out_start, size_t *out_end) {
  if (program->count > scratch->capacity || len >= UINT32_MAX || how->from > len) {
    return how->from > len ? RE_NO_MATCH : RE_NO_MEMORY;
  }
  scratch->stopped = false;
  if (!how->breadth_first && !program->no_dfa) {
    const re_bounds_result b =
        bounds_search(program, scratch, text, len, how->from, how->anchored, out_start, out_end);
    if (b == RE_BOUNDS_MATCH) return RE_MATCH;
    if (b == RE_BOUNDS_NO_MATCH) return RE_NO_MATCH;
    if (b == RE_BOUNDS_STOPPED) return RE_STOPPED;
  }
  const attempt a =
      how->breadth_first
          ? breadth_first(program, scratch, text, len, how->from, how->anchored, out_start, out_end)
          : search(program, scratch, text, len, how->from, how->anchored, out_start, out_end);
  if (a == attempt::stopped) return RE_STOPPED;
  if (a == attempt::no_memory) return RE_NO_MEMORY;
  return a == attempt::matched ? RE_MATCH : RE_NO_MATCH;
}

bool re_unit_starts_at(const char *text, size_t n, size_t pos) {
  const auto *t = reinterpret_cast<const unsigned char *>(text);
  if (pos >= n || (t[pos] & 0xC0) != 0x80) return true;
  // A continuation byte: inside a sequence only when a valid one that
  // covers it begins at one of the three bytes before.
  for (size_t back = 1; back <= 3 && back <= pos; ++back) {
    const unsigned char lead = t[pos - back];
    if ((lead & 0xC0) == 0x80) continue;
    const size_t len = qg_utf8_sequence_length(t + pos - back, n - (pos - back));
    return len <= back;
  }
  return true;
}

bool re_assert_holds(uint32_t kind, const char *text, size_t n, size_t pos) {
  const auto *t = reinterpret_cast<const unsigned char *>(text);
  switch (kind) {
    case RE_ASSERT_LINE_START:
      return pos == 0;
    case RE_ASSERT_LINE_END:
      return pos == n;
    case RE_ASSERT_WORD_BOUNDARY:
    case RE_ASSERT_NOT_WORD_BOUNDARY: {
      // As in Python's re, \B holds nowhere in an empty line.
      if (n == 0) return false;
      const bool before = pos > 0 && qg_is_word(t[pos - 1]);
      const bool after = pos < n && qg_is_word(t[pos]);
      return (before != after) == (kind == RE_ASSERT_WORD_BOUNDARY);
    }
    case RE_ASSERT_UNICODE_WORD_BOUNDARY:
    case RE_ASSERT_UNICODE_NOT_WORD_BOUNDARY: {
      if (n == 0) return false;
      const bool before = pos > 0 && uc_is_word(qg_utf8_unit_before(t, pos));
      const bool after = pos < n && uc_is_word(qg_utf8_unit_at(t, n, pos));
      return (before != after) == (kind == RE_ASSERT_UNICODE_WORD_BOUNDARY);
    }
    case RE_ASSERT_INVALID_UNIT:
      return pos < n && t[pos] >= 0x80 && qg_utf8_sequence_length(t + pos, n - pos) == 0;
    default:
      return false;
  }
}
