// The bounds DFAs: states built from the program as lines reach them, in a
// bounded cache, and the reversed program they read back with.
//
// A state is a list of instructions (the threads that stand there before the
// next byte, in priority order, each once) and flags for what lies behind
// the position in the direction of reading. The step on a byte follows each
// thread through SPLITs and the tests the position passes (now that the byte
// ahead is known), in priority order, appending a new attempt last while
// attempts may begin; then moves every SET that holds the byte. A row of the
// transition table holds, for each byte class and for the end of the line,
// the next row and two marks: a thread reached MATCH at this position, and no
// thread is left after the step.
#include "grep_core/regex_dfa_bounds.h"

#include "grep_core/ascii_class.h"
#include "grep_core/regex_builder.h"
#include "grep_core/regex_dfa.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {

// Entries of the transition table: the offset of the next row's first entry
// (below kMarked) with the marks above it, or one of kUnknown, kUndecided. So
// the inner loops take an entry below kMarked as it stands, by one test.
constexpr uint32_t kMatchedHere = 1u << 31;  // a thread reached MATCH at this position
constexpr uint32_t kDead = 1u << 30;         // no thread is left after the step
constexpr uint32_t kMarked = kDead;
constexpr uint32_t kOffsetMask = kDead - 1;
constexpr uint32_t kUnknown = UINT32_MAX;        // not built yet
constexpr uint32_t kUndecided = UINT32_MAX - 1;  // a byte the DFA does not read

// What a state knows of the text behind its position.
constexpr uint8_t kBehindNone = 1;  // no byte of the line lies behind
constexpr uint8_t kBehindWord = 2;  // the byte behind is a word byte
constexpr uint8_t kStarts = 4;      // an attempt may still begin at each position

struct bounds_state {
  uint32_t pcs_at;  // first of its instructions in the pool
  uint32_t pc_count;
  uint32_t hash;
  uint8_t flags;
};

// One DFA: the forward one (leftmost-first: a match drops the threads below
// it) or the reverse one (every thread kept).
struct one_dfa {
  const re_program *prog;
  bool keep_all;        // the reverse DFA
  bool high_undecided;  // bytes of 0x80-0xFF are not read (units of the standard syntax)
  bool word_flags;
  uint8_t classes[256];
  uint8_t reps[256];
  uint32_t class_count;  // the end-of-line column comes after these
  uint32_t stride;

  uint32_t *trans;
  bounds_state *states;
  uint32_t rows;
  uint32_t row_cap;
  uint32_t *pool;
  uint32_t pool_used;
  uint32_t pool_cap;
  uint32_t *table;  // hash slots holding row + 1; 0 is a free slot
  uint32_t table_mask;
  // The row a read begins at, by its flags (the flags say its threads: the
  // forward DFA's attempt at the first position, or one at each; the reverse
  // DFA's start), or kUnknown.
  uint32_t start_rows[8];

  // Working memory of one step.
  uint32_t *dense;  // a set of instructions, S entries each
  uint32_t *sparse;
  uint32_t seen;
  uint32_t *stack;  // 2S + 1 entries
  uint32_t *sets;   // the closure's SET threads, in priority order
  uint32_t *out;    // the next state's threads
};

// What the position of a step passes, in the text's own direction.
struct position_view {
  bool line_start;
  bool line_end;
  bool before_word;
  bool after_word;
};

bool holds(uint32_t kind, const position_view &v) {
  switch (kind) {
    case RE_ASSERT_LINE_START:
      return v.line_start;
    case RE_ASSERT_LINE_END:
      return v.line_end;
    case RE_ASSERT_WORD_BOUNDARY:
    case RE_ASSERT_NOT_WORD_BOUNDARY:
      // As the exact matcher: neither holds anywhere in an empty line.
      if (v.line_start && v.line_end) return false;
      return (v.before_word != v.after_word) == (kind == RE_ASSERT_WORD_BOUNDARY);
    default:
      // RE_ASSERT_INVALID_UNIT needs a byte of 0x80-0xFF, which is never read.
      return false;
  }
}

bool seen_has(const one_dfa *d, uint32_t pc) {
  return d->sparse[pc] < d->seen && d->dense[d->sparse[pc]] == pc;
}

void seen_add(one_dfa *d, uint32_t pc) {
  d->sparse[pc] = d->seen;
  d->dense[d->seen++] = pc;
}

void clear_cache(one_dfa *d) {
  d->rows = 0;
  d->pool_used = 0;
  for (uint32_t &r : d->start_rows) r = kUnknown;
  memset(d->table, 0, (size_t{d->table_mask} + 1) * sizeof(uint32_t));
}

uint32_t hash_of(uint8_t flags, const uint32_t *pcs, uint32_t n) {
  uint32_t h = 2166136261u ^ flags;
  for (uint32_t i = 0; i < n; ++i) h = (h ^ pcs[i]) * 16777619u;
  return h;
}

// The row of the state (flags, pcs[0..n)), added when new; false when the
// cache has no room for it.
bool find_or_add(one_dfa *d, uint8_t flags, const uint32_t *pcs, uint32_t n, uint32_t *row) {
  const uint32_t h = hash_of(flags, pcs, n);
  uint32_t slot = h & d->table_mask;
  for (; d->table[slot] != 0; slot = (slot + 1) & d->table_mask) {
    const uint32_t r = d->table[slot] - 1;
    const bounds_state &s = d->states[r];
    if (s.hash == h && s.flags == flags && s.pc_count == n &&
        memcmp(d->pool + s.pcs_at, pcs, n * sizeof(uint32_t)) == 0) {
      *row = r;
      return true;
    }
  }
  if (d->rows == d->row_cap || n > d->pool_cap - d->pool_used) return false;
  const uint32_t r = d->rows++;
  memcpy(d->pool + d->pool_used, pcs, n * sizeof(uint32_t));
  d->states[r] = {d->pool_used, n, h, flags};
  d->pool_used += n;
  uint32_t *entries = d->trans + size_t{r} * d->stride;
  for (uint32_t c = 0; c < d->stride; ++c) {
    entries[c] =
        d->high_undecided && c < d->class_count && d->reps[c] >= 0x80 ? kUndecided : kUnknown;
  }
  d->table[slot] = r + 1;
  *row = r;
  return true;
}

}  // namespace

struct re_bounds {
  one_dfa fwd;
  one_dfa rev;
  uint32_t fills;
  bool off;
  re_stop_check stop;
  void *stop_ctx;
  uint32_t steps;  // counts down to the next stop check
};

namespace {

enum class built { ok, full, stopped };

// Spends `n` steps (of building, or bytes read); false once the stop check
// has said to stop.
bool spend(re_bounds *b, uint32_t n) {
  if (b->steps > n) {
    b->steps -= n;
    return true;
  }
  b->steps = RE_STOP_CHECK_STEPS;
  return b->stop == nullptr || !b->stop(b->stop_ctx);
}

bool step(re_bounds *b) { return spend(b, 1); }

// Follows the thread `pc` through everything it reaches without consuming,
// in priority order, adding its SET threads to the closure; true when it
// reached MATCH (the forward DFA then follows nothing further).
bool follow(re_bounds *b, one_dfa *d, uint32_t pc, const position_view &v, uint32_t *set_count,
            bool *matched, bool *stopped) {
  const re_program *prog = d->prog;
  uint32_t sp = 0;
  d->stack[sp++] = pc;
  while (sp > 0) {
    pc = d->stack[--sp];
    if (seen_has(d, pc)) continue;
    seen_add(d, pc);
    if (!step(b)) {
      *stopped = true;
      return true;
    }
    const re_inst &in = prog->insts[pc];
    switch (in.op) {
      case RE_OP_SPLIT:
        d->stack[sp++] = in.arg;
        d->stack[sp++] = in.next;
        break;
      case RE_OP_ASSERT:
        if (holds(in.arg, v)) d->stack[sp++] = in.next;
        break;
      case RE_OP_END:
        if (v.line_end) d->stack[sp++] = in.next;
        break;
      case RE_OP_SET:
        d->sets[(*set_count)++] = pc;
        break;
      default:  // MATCH: every thread below this one is dropped, unless all are kept
        *matched = true;
        if (!d->keep_all) return true;
        break;
    }
  }
  return false;
}

// Builds the entry of the row at offset `at` for column `col`.
built build(re_bounds *b, one_dfa *d, uint32_t at, uint32_t col, uint32_t *entry) {
  const bounds_state st = d->states[at / d->stride];
  const bool end = col == d->class_count;
  const unsigned char byte = end ? 0 : d->reps[col];
  const bool behind_none = (st.flags & kBehindNone) != 0;
  const bool behind_word = (st.flags & kBehindWord) != 0;
  const bool ahead_word = !end && qg_is_word(byte);
  const position_view v = d->keep_all ? position_view{end, behind_none, ahead_word, behind_word}
                                      : position_view{behind_none, end, behind_word, ahead_word};
  d->seen = 0;
  uint32_t set_count = 0;
  bool matched = false, stopped = false, cut = false;
  for (uint32_t i = 0; i < st.pc_count && !cut; ++i) {
    cut = follow(b, d, d->pool[st.pcs_at + i], v, &set_count, &matched, &stopped);
  }
  const bool starts = (st.flags & kStarts) != 0;
  if (!cut && starts) cut = follow(b, d, d->prog->start, v, &set_count, &matched, &stopped);
  if (stopped) return built::stopped;
  if (end) {
    *entry = kDead | (matched ? kMatchedHere : 0);
    d->trans[at + col] = *entry;
    return built::ok;
  }
  d->seen = 0;
  uint32_t n = 0;
  for (uint32_t i = 0; i < set_count; ++i) {
    const re_inst &in = d->prog->insts[d->sets[i]];
    if (!re_set_has(&d->prog->sets[in.arg], byte) || seen_has(d, in.next)) continue;
    seen_add(d, in.next);
    d->out[n++] = in.next;
  }
  uint8_t flags = d->word_flags && qg_is_word(byte) ? kBehindWord : 0;
  if (starts && !matched) flags |= kStarts;
  uint32_t next = 0;
  if (!find_or_add(d, flags, d->out, n, &next)) return built::full;
  *entry = next * d->stride | (n == 0 && (flags & kStarts) == 0 ? kDead : 0) |
           (matched ? kMatchedHere : 0);
  d->trans[at + col] = *entry;
  return built::ok;
}

// The offset of the row a read begins at: the state of `flags` with the one
// thread `first`, or none when `with_first` is false; false when the cache
// is full.
bool start_row(one_dfa *d, uint8_t flags, bool with_first, uint32_t first, uint32_t *at) {
  uint32_t &known = d->start_rows[flags];
  if (known == kUnknown) {
    uint32_t row = 0;
    if (!find_or_add(d, flags, &first, with_first ? 1 : 0, &row)) return false;
    known = row * d->stride;
  }
  *at = known;
  return true;
}

// How one DFA's read of a line ended.
enum class read_end { done, undecided, full, stopped };

read_end read_end_of(built r) { return r == built::full ? read_end::full : read_end::stopped; }

// The entry of the row at offset `at` for column `col`, built when new.
read_end entry_of(re_bounds *b, one_dfa *d, uint32_t at, uint32_t col, uint32_t *entry) {
  *entry = d->trans[at + col];
  if (*entry == kUndecided) return read_end::undecided;
  if (*entry != kUnknown) return read_end::done;
  const built r = build(b, d, at, col, entry);
  return r == built::ok ? read_end::done : read_end_of(r);
}

// Reads forward from `from` (attempts there only, when `one_start`) to where
// no thread is left; *end is where the leftmost-first match ends, or SIZE_MAX.
read_end read_forward(re_bounds *b, const unsigned char *t, size_t n, size_t from, bool one_start,
                      size_t *end) {
  one_dfa *d = &b->fwd;
  *end = SIZE_MAX;
  uint8_t flags = one_start ? 0 : kStarts;
  if (from == 0) flags |= kBehindNone;
  if (d->word_flags && from > 0 && qg_is_word(t[from - 1])) flags |= kBehindWord;
  uint32_t at = 0;
  if (!start_row(d, flags, one_start, d->prog->start, &at)) return read_end::full;
  const uint8_t *classes = d->classes;
  const uint32_t *trans = d->trans;
  for (size_t p = from; p < n;) {
    // The stop check is asked between pieces of the line.
    const size_t piece = std::min<size_t>(n - p, RE_STOP_CHECK_STEPS);
    const size_t piece_end = p + piece;
    for (; p < piece_end; ++p) {
      uint32_t e = trans[at + classes[t[p]]];
      if (e < kMarked) {
        at = e;
        continue;
      }
      if (e >= kUndecided) {
        const read_end r = entry_of(b, d, at, classes[t[p]], &e);
        if (r != read_end::done) return r;
      }
      if (e & kMatchedHere) *end = p;
      if (e & kDead) return read_end::done;
      at = e & kOffsetMask;
    }
    if (!spend(b, static_cast<uint32_t>(piece))) return read_end::stopped;
  }
  uint32_t e = 0;
  const read_end r = entry_of(b, d, at, d->class_count, &e);
  if (r != read_end::done) return r;
  if (e & kMatchedHere) *end = n;
  return read_end::done;
}

// Reads back from `end` to `from` with the reversed program; *start is the
// leftmost position at or after `from` that a match ending at `end` can
// begin at, or SIZE_MAX.
read_end read_back(re_bounds *b, const unsigned char *t, size_t n, size_t from, size_t end,
                   size_t *start) {
  one_dfa *d = &b->rev;
  *start = SIZE_MAX;
  if (d->high_undecided && end < n && t[end] >= 0x80) return read_end::undecided;
  uint8_t flags = 0;
  if (end == n) flags |= kBehindNone;
  if (d->word_flags && end < n && qg_is_word(t[end])) flags |= kBehindWord;
  uint32_t at = 0;
  if (!start_row(d, flags, true, d->prog->start, &at)) return read_end::full;
  for (size_t p = end;; --p) {
    // The step at p reads the byte before it, or the line's start.
    const uint32_t col = p > 0 ? d->classes[t[p - 1]] : d->class_count;
    uint32_t e = d->trans[at + col];
    if (e >= kUndecided) {
      const read_end r = entry_of(b, d, at, col, &e);
      if (r != read_end::done) return r;
    }
    if (e & kMatchedHere) *start = p;
    if ((e & kDead) || p == from) return read_end::done;
    if ((end - p) % RE_STOP_CHECK_STEPS == RE_STOP_CHECK_STEPS - 1 &&
        !spend(b, RE_STOP_CHECK_STEPS)) {
      return read_end::stopped;
    }
    at = e & kOffsetMask;
  }
}

// Makes one DFA for `prog` within `budget` bytes; false when out of memory
// or the budget is too small.
bool dfa_init(one_dfa *d, const re_program *prog, bool keep_all, size_t budget) {
  d->prog = prog;
  d->keep_all = keep_all;
  d->high_undecided = prog->utf8_units;
  d->word_flags = re_tests_words(prog);
  d->class_count = re_byte_classes(prog, true, d->classes);
  for (int c = 255; c >= 0; --c) d->reps[d->classes[c]] = static_cast<uint8_t>(c);
  d->stride = d->class_count + 1;
  const size_t S = prog->count;
  const size_t work = (S * 5 + 1) * sizeof(uint32_t) + S * sizeof(uint32_t);
  if (work > budget / 2) return false;
  const size_t rest = budget - work;
  d->pool_cap = static_cast<uint32_t>(rest / 4 / sizeof(uint32_t));
  const size_t per_row = d->stride * sizeof(uint32_t) + sizeof(bounds_state) + 2 * sizeof(uint32_t);
  d->row_cap = static_cast<uint32_t>((rest - rest / 4) / per_row);  // offsets stay below kMarked
  uint32_t slots = 1;
  while (slots < 2 * d->row_cap) slots *= 2;
  d->table_mask = slots - 1;
  d->trans = static_cast<uint32_t *>(malloc(size_t{d->row_cap} * d->stride * sizeof(uint32_t)));
  d->states = static_cast<bounds_state *>(malloc(d->row_cap * sizeof(bounds_state)));
  d->pool = static_cast<uint32_t *>(malloc(d->pool_cap * sizeof(uint32_t) + 4));
  d->table = static_cast<uint32_t *>(malloc(size_t{slots} * sizeof(uint32_t)));
  d->dense = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t)));
  d->sparse = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t)));
  d->stack = static_cast<uint32_t *>(malloc((2 * S + 1) * sizeof(uint32_t)));
  d->sets = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t)));
  d->out = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t)));
  if (d->trans == nullptr || d->states == nullptr || d->pool == nullptr || d->table == nullptr ||
      d->dense == nullptr || d->sparse == nullptr || d->stack == nullptr || d->sets == nullptr ||
      d->out == nullptr || d->row_cap < 8) {
    return false;
  }
  clear_cache(d);
  return true;
}

void dfa_release(one_dfa *d) {
  free(d->trans);
  free(d->states);
  free(d->pool);
  free(d->table);
  free(d->dense);
  free(d->sparse);
  free(d->stack);
  free(d->sets);
  free(d->out);
}

// Empties both caches after one filled, and gives them up for good after
// too many fills.
void on_full(re_bounds *b) {
  clear_cache(&b->fwd);
  clear_cache(&b->rev);
  if (++b->fills >= RE_BOUNDS_MAX_FILLS) b->off = true;
}

}  // namespace

re_bounds *re_bounds_new(const re_program *program) {
  if (program->reverse == nullptr) return nullptr;
  auto *b = static_cast<re_bounds *>(calloc(1, sizeof(re_bounds)));
  if (b == nullptr) return nullptr;
  b->steps = RE_STOP_CHECK_STEPS;
  const size_t budget = (RE_BOUNDS_CACHE_BYTES - sizeof(re_bounds)) / 2;
  if (!dfa_init(&b->fwd, program, false, budget) ||
      !dfa_init(&b->rev, program->reverse, true, budget)) {
    re_bounds_free(b);
    return nullptr;
  }
  return b;
}

void re_bounds_free(re_bounds *bounds) {
  if (bounds == nullptr) return;
  dfa_release(&bounds->fwd);
  dfa_release(&bounds->rev);
  free(bounds);
}

void re_bounds_set_stop(re_bounds *bounds, re_stop_check check, void *ctx) {
  bounds->stop = check;
  bounds->stop_ctx = ctx;
}

re_bounds_result re_bounds_search(re_bounds *bounds, const char *text, size_t len, size_t from,
                                  bool one_start, size_t *out_start, size_t *out_end) {
  if (bounds->off) return RE_BOUNDS_UNDECIDED;
  if (bounds->fwd.prog->anchored && !one_start) {
    // One attempt, at the line's start.
    if (from > 0) return RE_BOUNDS_NO_MATCH;
    one_start = true;
  }
  const auto *t = reinterpret_cast<const unsigned char *>(text);
  size_t end = 0, start = 0;
  read_end r = read_forward(bounds, t, len, from, one_start, &end);
  if (r == read_end::done && end == SIZE_MAX) return RE_BOUNDS_NO_MATCH;
  if (r == read_end::done) r = read_back(bounds, t, len, from, end, &start);
  if (r == read_end::full) on_full(bounds);
  if (r == read_end::stopped) return RE_BOUNDS_STOPPED;
  if (r != read_end::done || start == SIZE_MAX || start > end) return RE_BOUNDS_UNDECIDED;
  *out_start = start;
  *out_end = end;
  return RE_BOUNDS_MATCH;
}

// ---- The reversed program ----

namespace {

// How an edge of the program into an instruction is taken: by a byte of a
// set, by a test of the position, at the end, or freely.
struct edge {
  uint32_t from;  // the instruction the edge leaves
  uint32_t op;    // RE_OP_SET, RE_OP_ASSERT, RE_OP_END, or RE_OP_SPLIT for a free edge
  uint32_t arg;
};

}  // namespace

re_program *re_program_reverse(const re_program *f) {
  const uint32_t S = f->count;
  uint32_t matches = 0;
  for (uint32_t i = 0; i < S; ++i) matches += f->insts[i].op == RE_OP_MATCH ? 1 : 0;
  if (matches != 1 || f->insts[kMatchInst].op != RE_OP_MATCH) return nullptr;
  // Edges into each instruction, grouped by the instruction: the start gets
  // one more, to the reverse program's MATCH (kFromStart).
  constexpr uint32_t kFromStart = UINT32_MAX;
  auto *deg = static_cast<uint32_t *>(calloc(size_t{S} + 1, sizeof(uint32_t)));
  auto *first = static_cast<uint32_t *>(calloc(size_t{S} + 1, sizeof(uint32_t)));
  auto *edges = static_cast<edge *>(malloc((size_t{S} * 2 + 1) * sizeof(edge)));
  auto *base = static_cast<uint32_t *>(malloc((size_t{S} + 1) * sizeof(uint32_t)));
  auto *prog = static_cast<re_program *>(calloc(1, sizeof(re_program)));
  re_inst *insts = nullptr;
  re_byteset *sets =
      static_cast<re_byteset *>(malloc((size_t{f->set_count} + 1) * sizeof(re_byteset)));
  bool ok = deg != nullptr && first != nullptr && edges != nullptr && base != nullptr &&
            prog != nullptr && sets != nullptr;
  uint32_t edge_count = 0;
  // Visits every edge of the program, as (target, edge).
  auto each_edge = [&](auto visit) {
    visit(f->start, edge{kFromStart, RE_OP_SPLIT, 0});
    for (uint32_t u = 0; u < S; ++u) {
      const re_inst &in = f->insts[u];
      switch (in.op) {
        case RE_OP_SET:
          visit(in.next, edge{u, RE_OP_SET, in.arg});
          break;
        case RE_OP_SPLIT:
          visit(in.next, edge{u, RE_OP_SPLIT, 0});
          if (in.arg != in.next) visit(in.arg, edge{u, RE_OP_SPLIT, 0});
          break;
        case RE_OP_END:
        case RE_OP_ASSERT:
          visit(in.next, edge{u, in.op, in.arg});
          break;
        default:
          break;
      }
    }
  };
  uint64_t total = 1;  // the reverse program's MATCH
  if (ok) {
    each_edge([&](uint32_t to, edge) { ++deg[to]; });
    for (uint32_t k = 0; k < S; ++k) {
      first[k + 1] = first[k] + deg[k];
      base[k] = static_cast<uint32_t>(total);
      total += deg[k] == 0 ? 1 : 2 * uint64_t{deg[k]} - 1;
    }
    ok = total <= RE_MAX_INSTRUCTIONS * 2;
  }
  if (ok) {
    memset(deg, 0, size_t{S} * sizeof(uint32_t));
    each_edge([&](uint32_t to, edge e) { edges[first[to] + deg[to]++] = e; });
    edge_count = first[S];
    insts = static_cast<re_inst *>(malloc(total * sizeof(re_inst)));
    ok = insts != nullptr && edge_count <= 2 * size_t{S} + 1;
  }
  if (ok) {
    const uint32_t empty_set = f->set_count;
    if (f->set_count > 0) memcpy(sets, f->sets, size_t{f->set_count} * sizeof(re_byteset));
    memset(&sets[empty_set], 0, sizeof(re_byteset));
    insts[kMatchInst] = {RE_OP_MATCH, 0, 0};
    for (uint32_t k = 0; k < S; ++k) {
      const uint32_t d = first[k + 1] - first[k];
      const uint32_t at = base[k];
      if (d == 0) {
        insts[at] = {RE_OP_SET, kMatchInst, empty_set};  // no path leads here
        continue;
      }
      // d - 1 SPLITs in a chain, then one instruction per edge.
      for (uint32_t i = 0; i + 1 < d; ++i) {
        const uint32_t rest = i + 2 < d ? at + i + 1 : at + 2 * d - 2;
        insts[at + i] = {RE_OP_SPLIT, at + d - 1 + i, rest};
      }
      for (uint32_t i = 0; i < d; ++i) {
        const edge &e = edges[first[k] + i];
        const uint32_t to = e.from == kFromStart ? kMatchInst : base[e.from];
        const uint32_t arg = e.op == RE_OP_SPLIT ? to : e.arg;
        insts[at + (d == 1 ? 0 : d - 1 + i)] = {e.op, to, arg};
      }
    }
    prog->insts = insts;
    prog->count = static_cast<uint32_t>(total);
    prog->sets = sets;
    prog->set_count = f->set_count + 1;
    prog->start = base[kMatchInst];
    prog->utf8_units = f->utf8_units;
  }
  free(deg);
  free(first);
  free(edges);
  free(base);
  if (!ok) {
    free(insts);
    free(sets);
    free(prog);
    return nullptr;
  }
  return prog;
}
