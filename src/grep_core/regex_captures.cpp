// Where the groups of a match took part: re_find_groups.
//
// The bounds of the match are known (re_find gave them), so one anchored
// run of the program's captures twin (regex_program.h) from the match's
// start finds them: a breadth-first search whose threads carry their slots
// (where each group began and ended on their path), kept in priority order,
// each instruction once per position. The first thread to reach MATCH at
// the match's end is the path the syntax's leftmost-first order takes: every
// path ranked before it fails or ends elsewhere, and what follows a thread
// depends on its instruction and position alone, so the thread that keeps an
// instruction at a position is the best-ranked one there. No path is
// followed past the match's end (the chosen path ends there), and asserts
// still see the whole line.
//
// Working memory, kept in the scratch between calls (re_capture_work): two
// thread lists of S instructions, each with 2G slots per thread, and a
// stack of at most 2S + 1 entries; S * 2G is bounded by RE_MAX_CAPTURE_CELLS
// when the program is compiled. Time O(S * (m + 1) * G) for a match of m
// bytes. One thread uses a scratch at a time.
#include "grep_core/regex_program.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint32_t kUnset = UINT32_MAX;

// Threads in priority order: the instructions in dense[0..count), sparse[pc]
// pointing back into dense, and each kept thread's slots at caps + i * slots.
struct capture_list {
  uint32_t *dense;
  uint32_t *sparse;
  uint32_t *caps;
  uint32_t count;

  bool has(uint32_t pc) const { return sparse[pc] < count && dense[sparse[pc]] == pc; }
};

// One entry of the closure's work stack: an instruction to follow, or (with
// `restore`) a slot to set back to `value` once the paths below it are done.
struct closure_entry {
  uint32_t pc;
  uint32_t slot;
  uint32_t value;
  bool restore;
};

}  // namespace

struct re_capture_work {
  uint32_t insts;  // instructions the lists have room for
  uint32_t slots;  // slots per thread
  capture_list lists[2];
  closure_entry *stack;
  uint32_t *cur;  // the slots of the path being followed
};

namespace {

void free_lists(re_capture_work *w) {
  for (capture_list &l : w->lists) {
    free(l.dense);
    free(l.sparse);
    free(l.caps);
    l = capture_list{};
  }
  free(w->stack);
  free(w->cur);
  w->stack = nullptr;
  w->cur = nullptr;
  w->insts = w->slots = 0;
}

// Gives `w` room for `prog`; false when out of memory.
bool fit(re_capture_work *w, const re_program *prog, uint32_t slots) {
  if (w->insts >= prog->count && w->slots >= slots) return true;
  free_lists(w);
  const size_t S = prog->count;
  bool ok = true;
  for (capture_list &l : w->lists) {
    l.dense = static_cast<uint32_t *>(malloc(S * sizeof(uint32_t)));
    l.sparse = static_cast<uint32_t *>(calloc(S, sizeof(uint32_t)));
    // A row of slots per thread, and one more: the result's.
    l.caps = static_cast<uint32_t *>(malloc((S + 1) * slots * sizeof(uint32_t)));
    ok = ok && l.dense && l.sparse && l.caps;
  }
  w->stack = static_cast<closure_entry *>(malloc((2 * S + 2) * sizeof(closure_entry)));
  w->cur = static_cast<uint32_t *>(malloc(slots * sizeof(uint32_t)));
  if (!ok || w->stack == nullptr || w->cur == nullptr) {
    free_lists(w);
    return false;
  }
  w->insts = prog->count;
  w->slots = slots;
  return true;
}

// The search of one match's groups.
struct capture_search {
  const re_program *prog;
  re_capture_work *w;
  re_scratch *scratch;
  const char *text;
  size_t n;        // the line's length
  uint32_t end;    // the match's end
  uint32_t slots;  // 2 per group

  // Adds the thread (pc, pos) with the slots `from` and everything it
  // reaches without consuming to `list`, in priority order; only SET and
  // MATCH threads keep their slots, since the others have been followed.
  void add(capture_list *list, uint32_t pc, uint32_t pos, const uint32_t *from) {
    memcpy(w->cur, from, slots * sizeof(uint32_t));
    closure_entry *stack = w->stack;
    size_t sp = 0;
    stack[sp++] = {pc, 0, 0, false};
    while (sp > 0) {
      const closure_entry e = stack[--sp];
      if (e.restore) {
        w->cur[e.slot] = e.value;
        continue;
      }
      if (list->has(e.pc)) continue;
      list->sparse[e.pc] = list->count;
      list->dense[list->count++] = e.pc;
      const re_inst &in = prog->insts[e.pc];
      switch (in.op) {
        case RE_OP_SET:
        case RE_OP_MATCH:
          memcpy(list->caps + size_t{list->count - 1} * slots, w->cur, slots * sizeof(uint32_t));
          break;
        case RE_OP_SPLIT:
          stack[sp++] = {in.arg, 0, 0, false};
          stack[sp++] = {in.next, 0, 0, false};
          break;
        case RE_OP_SAVE:
          stack[sp++] = {0, in.arg, w->cur[in.arg], true};
          w->cur[in.arg] = pos;
          stack[sp++] = {in.next, 0, 0, false};
          break;
        case RE_OP_END:
          if (pos == n) stack[sp++] = {in.next, 0, 0, false};
          break;
        case RE_OP_ASSERT:
          if (re_assert_holds(in.arg, text, n, pos)) stack[sp++] = {in.next, 0, 0, false};
          break;
        default:
          break;
      }
    }
  }

  // Runs from `start`; the chosen path's slots written to `out`.
  re_result run(uint32_t start, uint32_t *out) {
    capture_list *now = &w->lists[0], *later = &w->lists[1];
    now->count = 0;
    for (uint32_t i = 0; i < slots; ++i) out[i] = kUnset;
    add(now, prog->start, start, out);
    for (uint32_t pos = start; now->count > 0; ++pos) {
      later->count = 0;
      for (uint32_t i = 0; i < now->count; ++i) {
        if (!re_scratch_step(scratch)) return RE_STOPPED;
        const re_inst &in = prog->insts[now->dense[i]];
        const uint32_t *caps = now->caps + size_t{i} * slots;
        if (in.op == RE_OP_MATCH && pos == end) {
          memcpy(out, caps, slots * sizeof(uint32_t));
          return RE_MATCH;
        }
        if (in.op == RE_OP_SET && pos < end &&
            re_set_has(&prog->sets[in.arg], static_cast<unsigned char>(text[pos]))) {
          add(later, in.next, pos + 1, caps);
        }
      }
      capture_list *t = now;
      now = later;
      later = t;
    }
    return RE_NO_MATCH;
  }
};

}  // namespace

void re_capture_work_free(re_capture_work *work) {
  if (work == nullptr) return;
  free_lists(work);
  free(work);
}

uint32_t re_group_count(const re_program *program) {
  return program->captures != nullptr ? program->group_count : 0;
}

const char *re_group_name(const re_program *program, uint32_t group) {
  if (program->group_names == nullptr || group == 0 || group > program->group_count) return nullptr;
  return program->group_names[group - 1];
}

re_result re_find_groups(const re_program *program, re_scratch *scratch, const char *text,
                         size_t len, size_t start, size_t end, re_group_span *groups) {
  const re_program *caps = program->captures;
  if (caps == nullptr || program->group_count == 0) return RE_MATCH;
  if (start > end || end > len || len >= UINT32_MAX) return RE_NO_MATCH;
  re_capture_work **slot = re_scratch_begin_captures(scratch);
  if (*slot == nullptr) *slot = static_cast<re_capture_work *>(calloc(1, sizeof(re_capture_work)));
  const uint32_t slots = 2 * program->group_count;
  if (*slot == nullptr || !fit(*slot, caps, slots)) return RE_NO_MEMORY;
  re_capture_work *w = *slot;
  capture_search search = {caps, w, scratch, text, len, static_cast<uint32_t>(end), slots};
  uint32_t *found = w->lists[0].caps + size_t{w->insts} * slots;  // the spare row
  const re_result r = search.run(static_cast<uint32_t>(start), found);
  if (r != RE_MATCH) return r;
  for (uint32_t g = 0; g < program->group_count; ++g) {
    const uint32_t b = found[2 * g], e = found[2 * g + 1];
    const bool took_part = b != kUnset && e != kUnset;
    groups[g] = {took_part ? b : RE_GROUP_UNSET, took_part ? e : RE_GROUP_UNSET};
  }
  return RE_MATCH;
}
