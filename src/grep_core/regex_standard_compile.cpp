// Compiling a pattern of the standard syntax (a tree, regex_standard_parse.h) into a
// program whose priority order is leftmost-first, as Python's re finds
// matches: alternatives left to right, greedy repetitions longest first,
// lazy ones shortest first.
//
// The one rule that is not plain backtracking is Python's guard against
// empty iterations: once a repetition has done its required count, a
// further iteration is only tried if the iteration before it consumed
// something, and an iteration that consumed nothing goes on to what follows
// the repetition. A thread's future thus depends on whether the iteration
// it is in has consumed yet, which the program carries in its instruction:
// a node is compiled in two forms, N(node, k) (normal: continue at k) and,
// for a node that can match the empty text, A(node, kA, kB) (nothing
// consumed yet: on reaching the node's end without consuming continue at kA,
// after consuming finish in the normal form and continue at kB). Each form
// of each (node, continuations) is made once. The compiler recurses with the
// tree's depth, which the syntax bounds (RE_MAX_NESTING).
#include "grep_core/last_error.h"
#include "grep_core/regex_builder.h"
#include "grep_core/regex_standard_parse.h"
#include "grep_core/utf8.h"

#include <stdlib.h>
#include <string.h>

#include <initializer_list>

namespace {

constexpr uint32_t kNone = QG_KEY_MAP_NONE;

// A run of byte ranges that one UTF-8 sequence of a code point range takes,
// one range per byte.
struct byte_run {
  unsigned char lo[4], hi[4];
  int len;
};

int utf8_length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Splits the valid code points [lo, hi] (no surrogates) into runs of byte
// ranges, each run covering a range whose bytes vary independently, and
// hands each to `emit`. At most a few dozen runs per range; the splitting
// recurses a fixed number of levels.
template <typename Emit>
bool utf8_runs(uint32_t lo, uint32_t hi, Emit &emit) {
  if (lo > hi) return true;
  for (uint32_t max : {0x7Fu, 0x7FFu, 0xFFFFu}) {
    if (lo <= max && max < hi) return utf8_runs(lo, max, emit) && utf8_runs(max + 1, hi, emit);
  }
  const int n = utf8_length(lo);
  for (int i = 1; i < n; ++i) {
    const uint32_t mask = (1u << (6 * i)) - 1;
    if ((lo & ~mask) != (hi & ~mask)) {
      if ((lo & mask) != 0)
        return utf8_runs(lo, lo | mask, emit) && utf8_runs((lo | mask) + 1, hi, emit);
      if ((hi & mask) != mask)
        return utf8_runs(lo, (hi & ~mask) - 1, emit) && utf8_runs(hi & ~mask, hi, emit);
    }
  }
  byte_run run;
  run.len = n;
  qg_utf8_encode(lo, run.lo);
  qg_utf8_encode(hi, run.hi);
  return emit(run);
}

struct std_compiler {
  const re_tree &t;
  re_stop_check stop;
  void *stop_ctx;
  compile_end end = compile_end::no_memory;
  program_builder b;
  key_map normal;                     // (node, k) -> entry
  key_map unconsumed;                 // (node, kA, kB) -> entry
  grow_array<uint32_t> scratch_kids;  // children of a node, while it is compiled
  grow_array<byte_run> runs;          // the UTF-8 runs of the unit being compiled
  key_map tails;                      // (byte set, next) -> its SET, shared by units
  uint32_t next_stop_check = 4096;
  bool captures = false;  // groups record where they begin and end (SAVE), for re_find_groups

  std_compiler(const re_tree &tree, re_stop_check s, void *ctx) : t(tree), stop(s), stop_ctx(ctx) {}

  bool add(re_op op, uint32_t next, uint32_t arg, uint32_t *id) {
    if (b.add(op, next, arg, id)) {
      if (b.insts.count >= next_stop_check) {
        next_stop_check += 4096;
        if (stop != nullptr && stop(stop_ctx)) {
          end = compile_end::stopped;
          return false;
        }
      }
      return true;
    }
    end = b.too_large ? compile_end::too_large : compile_end::no_memory;
    return false;
  }

  bool fail_memory() {
    end = compile_end::no_memory;
    return false;
  }

  // ---- Units ----

  // A SET of the bytes lo..hi that continues at `next`, made once for each
  // (bytes, next) of the program: the tails that the UTF-8 sequences of a
  // large class share ([80-BF] then k, and so on) are one instruction each.
  bool shared_set(unsigned char lo, unsigned char hi, uint32_t next, uint32_t *id) {
    re_byteset s = {};
    for (unsigned c = lo; c <= hi; ++c) re_set_add(&s, static_cast<unsigned char>(c));
    uint32_t set;
    if (!b.set_id(s, &set)) return fail_memory();
    const uint64_t key = (uint64_t{set} << 32) | next;
    const uint32_t known = tails.find(key);
    if (known != kNone) {
      *id = known;
      return true;
    }
    return add(RE_OP_SET, next, set, id) && (tails.insert(key, *id) || fail_memory());
  }

  // The instructions that read one of the `n` runs at `runs` (sorted, as
  // utf8_runs gives them) from byte `depth` on, then continue at k: a trie
  // over their byte ranges, whose runs with one range at `depth` share it.
  // Such ranges are equal or disjoint, and runs that share one lie side by
  // side. Recurses at most four levels.
  bool run_trie(const byte_run *runs, uint32_t n, int depth, uint32_t k, uint32_t *entry) {
    uint32_t chain = kNone;
    for (uint32_t i = 0; i < n;) {
      const byte_run &r = runs[i];
      uint32_t j = i + 1;
      while (j < n && runs[j].lo[depth] == r.lo[depth] && runs[j].hi[depth] == r.hi[depth]) ++j;
      uint32_t next = k;
      if (depth + 1 < r.len && !run_trie(runs + i, j - i, depth + 1, k, &next)) return false;
      uint32_t e;
      if (!shared_set(r.lo[depth], r.hi[depth], next, &e) || !alternative(e, &chain)) return false;
      i = j;
    }
    *entry = chain;
    return true;
  }

  // One alternative more in a unit's SPLIT chain (whose alternatives never
  // both match: each unit is one way of reading the bytes at a position).
  bool alternative(uint32_t entry, uint32_t *chain) {
    if (*chain == kNone) {
      *chain = entry;
      return true;
    }
    return add(RE_OP_SPLIT, entry, *chain, chain);
  }

  // The instructions of a unit whose code points are `node`'s ranges.
  bool unit(const re_node &node, uint32_t k, uint32_t *entry) {
    const re_range *r = t.ranges + node.range_begin;
    re_byteset ascii = {}, invalid = {};
    bool has_ascii = false, has_invalid = false;
    uint32_t chain = kNone;
    bool ok = true;
    runs.count = 0;
    auto emit = [&](const byte_run &run) { return runs.push(run) || fail_memory(); };
    for (uint32_t i = 0; i < node.range_count && ok; ++i) {
      uint32_t lo = r[i].lo, hi = r[i].hi;
      for (uint32_t c = lo; c <= hi && c < 0x80; ++c) {
        re_set_add(&ascii, static_cast<unsigned char>(c));
        has_ascii = true;
      }
      if (lo < 0x80) lo = 0x80;
      // Bytes that are not part of valid UTF-8.
      for (uint32_t c = lo > RE_INVALID_FIRST ? lo : RE_INVALID_FIRST;
           c <= hi && c <= RE_INVALID_LAST; ++c) {
        re_set_add(&invalid, static_cast<unsigned char>(c - 0xDC00u));
        has_invalid = true;
      }
      // Valid code points, surrogates left out.
      if (lo <= hi && lo < 0xD800) ok = utf8_runs(lo, hi < 0xD7FF ? hi : 0xD7FF, emit);
      if (ok && hi >= 0xE000 && lo <= hi) ok = utf8_runs(lo > 0xE000 ? lo : 0xE000, hi, emit);
    }
    if (!ok) return false;
    if (runs.count > 0 && !run_trie(runs.items, runs.count, 0, k, &chain)) return false;
    if (has_invalid) {
      uint32_t set, consume, test;
      if (!b.set_id(invalid, &set)) return fail_memory();
      if (!add(RE_OP_SET, k, set, &consume) ||
          !add(RE_OP_ASSERT, consume, RE_ASSERT_INVALID_UNIT, &test) ||
          !alternative(test, &chain)) {
        return false;
      }
    }
    if (has_ascii) {
      uint32_t set, consume;
      if (!b.set_id(ascii, &set)) return fail_memory();
      if (!add(RE_OP_SET, k, set, &consume) || !alternative(consume, &chain)) return false;
    }
    if (chain == kNone) {
      // A class that holds nothing: a SET of no byte never matches.
      uint32_t set;
      if (!b.set_id(re_byteset{}, &set)) return fail_memory();
      return add(RE_OP_SET, k, set, entry);
    }
    *entry = chain;
    return true;
  }

  // ---- Children ----

  // The children of `node`, in order, appended to scratch_kids from
  // `*begin` on.
  bool kids_of(const re_node &node, uint32_t *begin, uint32_t *count) {
    *begin = scratch_kids.count;
    for (uint32_t c = node.first_child; c != RE_NO_NODE; c = t.nodes[c].next_sibling) {
      if (!scratch_kids.push(c)) return fail_memory();
    }
    *count = scratch_kids.count - *begin;
    return true;
  }

  // ---- The two forms ----

  static uint64_t normal_key(uint32_t node, uint32_t k) { return (uint64_t{node} << 32) | k; }
  static uint64_t unconsumed_key(uint32_t node, uint32_t ka, uint32_t kb) {
    return (uint64_t{node} << 42) | (uint64_t{ka} << 21) | kb;
  }

  // N(node, k): the node, then k.
  bool N(uint32_t id, uint32_t k, uint32_t *entry) {
    const re_node &node = t.nodes[id];
    if (node.kind == RE_NODE_EMPTY) {
      *entry = k;
      return true;
    }
    const uint64_t key = normal_key(id, k);
    const uint32_t known = normal.find(key);
    if (known != kNone) {
      *entry = known;
      return true;
    }
    bool ok = true;
    switch (node.kind) {
      case RE_NODE_UNIT:
        ok = unit(node, k, entry);
        break;
      case RE_NODE_ASSERT:
        ok = add(RE_OP_ASSERT, k, node.assert_kind, entry);
        break;
      case RE_NODE_CONCAT:
        ok = concat(node, k, k, false, entry);
        break;
      case RE_NODE_ALT:
        ok = alt(node, k, k, false, entry);
        break;
      case RE_NODE_REPEAT:
        ok = repeat(node, k, k, false, entry);
        break;
      case RE_NODE_GROUP:
        ok = group(node, k, k, false, entry);
        break;
      default:
        break;
    }
    return ok && (normal.insert(key, *entry) || fail_memory());
  }

  // A(node, ka, kb): the node with nothing consumed yet in the innermost
  // iteration around it; its end without consuming leads to ka, with
  // something consumed to kb.
  bool A(uint32_t id, uint32_t ka, uint32_t kb, uint32_t *entry) {
    const re_node &node = t.nodes[id];
    if (!node.nullable) return N(id, kb, entry);
    if (node.kind == RE_NODE_EMPTY) {
      *entry = ka;
      return true;
    }
    const uint64_t key = unconsumed_key(id, ka, kb);
    const uint32_t known = unconsumed.find(key);
    if (known != kNone) {
      *entry = known;
      return true;
    }
    bool ok = true;
    switch (node.kind) {
      case RE_NODE_ASSERT:
        ok = add(RE_OP_ASSERT, ka, node.assert_kind, entry);
        break;
      case RE_NODE_CONCAT:
        ok = concat(node, ka, kb, true, entry);
        break;
      case RE_NODE_ALT:
        ok = alt(node, ka, kb, true, entry);
        break;
      case RE_NODE_REPEAT:
        ok = repeat(node, ka, kb, true, entry);
        break;
      case RE_NODE_GROUP:
        ok = group(node, ka, kb, true, entry);
        break;
      default:
        break;
    }
    return ok && (unconsumed.insert(key, *entry) || fail_memory());
  }

  // The children one after another, from the last: in the unconsumed form a
  // child's end without consuming leads to the next child's unconsumed
  // form, its end after consuming to the next child's normal form.
  bool concat(const re_node &node, uint32_t ka, uint32_t kb, bool unconsumed_form,
              uint32_t *entry) {
    uint32_t begin, count;
    if (!kids_of(node, &begin, &count)) return false;
    uint32_t a = ka, n = kb;
    for (uint32_t i = count; i-- > 0;) {
      const uint32_t kid = scratch_kids.items[begin + i];
      uint32_t next_a = a;
      if (unconsumed_form && !A(kid, a, n, &next_a)) return false;
      if (!N(kid, n, &n)) return false;
      a = next_a;
    }
    scratch_kids.count = begin;
    *entry = unconsumed_form ? a : n;
    return true;
  }

  bool alt(const re_node &node, uint32_t ka, uint32_t kb, bool unconsumed_form, uint32_t *entry) {
    uint32_t begin, count;
    if (!kids_of(node, &begin, &count)) return false;
    uint32_t chain = kNone;
    for (uint32_t i = count; i-- > 0;) {
      const uint32_t kid = scratch_kids.items[begin + i];
      uint32_t e;
      if (!(unconsumed_form ? A(kid, ka, kb, &e) : N(kid, kb, &e))) return false;
      if (chain == kNone) {
        chain = e;
      } else if (!add(RE_OP_SPLIT, e, chain, &chain)) {
        return false;
      }
    }
    scratch_kids.count = begin;
    *entry = chain;
    return true;
  }

  // A group: its contents alone, or with `captures` between a SAVE of where
  // it begins (slot 2 * (number - 1)) and one of where it ends (the next
  // slot) on each way out.
  bool group(const re_node &node, uint32_t ka, uint32_t kb, bool unconsumed_form, uint32_t *entry) {
    const uint32_t x = node.first_child;
    if (!captures) return unconsumed_form ? A(x, ka, kb, entry) : N(x, kb, entry);
    const uint32_t open_slot = 2 * (node.min - 1);
    uint32_t close_a = kNone, close_b, inner;
    if (!add(RE_OP_SAVE, kb, open_slot + 1, &close_b)) return false;
    if (unconsumed_form) {
      if (!add(RE_OP_SAVE, ka, open_slot + 1, &close_a) || !A(x, close_a, close_b, &inner)) {
        return false;
      }
    } else if (!N(x, close_b, &inner)) {
      return false;
    }
    return add(RE_OP_SAVE, inner, open_slot, entry);
  }

  // One optional iteration's choice: greedy tries the iteration first, lazy
  // what follows first.
  bool choice(bool greedy, uint32_t iteration, uint32_t tail, uint32_t *entry) {
    return greedy ? add(RE_OP_SPLIT, iteration, tail, entry)
                  : add(RE_OP_SPLIT, tail, iteration, entry);
  }

  // The optional iterations of `node` (at most `left` of them, or without
  // bound) followed by `tail`, all in the normal form: an iteration that
  // consumed nothing ends the repetition; one that consumed something may
  // be followed by another.
  bool optional_normal(const re_node &node, uint32_t left, uint32_t tail, uint32_t *entry) {
    const uint32_t x = node.first_child;
    if (node.max == RE_REPEAT_MANY) {
      uint32_t loop, body;
      if (!add(RE_OP_SPLIT, 0, 0, &loop) || !A(x, tail, loop, &body)) return false;
      b.insts.items[loop] =
          node.greedy ? re_inst{RE_OP_SPLIT, body, tail} : re_inst{RE_OP_SPLIT, tail, body};
      *entry = loop;
      return true;
    }
    uint32_t cur = tail;
    for (uint32_t j = 0; j < left; ++j) {
      uint32_t body;
      if (!A(x, tail, cur, &body) || !choice(node.greedy, body, tail, &cur)) return false;
    }
    *entry = cur;
    return true;
  }

  // The repetition: its required iterations, then the optional ones. In the
  // unconsumed form, the iterations run unconsumed until one consumes; an
  // optional iteration that begins unconsumed and consumes nothing ends the
  // repetition at ka.
  bool repeat(const re_node &node, uint32_t ka, uint32_t kb, bool unconsumed_form,
              uint32_t *entry) {
    const uint32_t x = node.first_child;
    const uint32_t left = node.max == RE_REPEAT_MANY ? 0 : node.max - node.min;
    uint32_t n;  // the optional part, normal form
    if (!optional_normal(node, left, kb, &n)) return false;
    uint32_t a = n;  // the optional part, unconsumed form
    if (unconsumed_form && (node.max == RE_REPEAT_MANY || left > 0)) {
      // The first optional iteration: its end without consuming is ka; the
      // ones after it begin in the normal form.
      uint32_t after = kb;  // what follows the first iteration after consuming
      if (node.max == RE_REPEAT_MANY) {
        after = n;
      } else if (left > 1 && !optional_normal(node, left - 1, kb, &after)) {
        return false;
      }
      uint32_t body;
      if (!A(x, ka, after, &body) || !choice(node.greedy, body, ka, &a)) return false;
    } else if (unconsumed_form) {
      a = ka;
    }
    for (uint32_t i = 0; i < node.min; ++i) {
      uint32_t next_a = a;
      if (unconsumed_form && !A(x, a, n, &next_a)) return false;
      if (!N(x, n, &n)) return false;
      a = next_a;
    }
    *entry = unconsumed_form ? a : n;
    return true;
  }

  // The whole program: the pattern (between word boundaries, Unicode's
  // with `unicode`, for `whole_word`), then MATCH.
  bool run(const re_options *options, uint32_t *start) {
    uint32_t match;
    if (!add(RE_OP_MATCH, 0, 0, &match)) return false;
    uint32_t k = kMatchInst;
    const bool whole_word = options->whole_word;
    const uint32_t boundary =
        options->unicode ? RE_ASSERT_UNICODE_WORD_BOUNDARY : RE_ASSERT_WORD_BOUNDARY;
    if (whole_word && !add(RE_OP_ASSERT, k, boundary, &k)) return false;
    if (!N(t.root, k, &k)) return false;
    if (whole_word && !add(RE_OP_ASSERT, k, boundary, &k)) return false;
    *start = k;
    end = compile_end::done;
    return true;
  }
};

// The names of the tree's groups, copied out of the pattern: one string
// (malloc) per named group, null for the others. False when out of memory.
bool copy_group_names(const re_tree &tree, const char *pattern, re_program *prog) {
  prog->group_count = tree.group_count;
  if (tree.group_count == 0) return true;
  prog->group_names = static_cast<char **>(calloc(tree.group_count, sizeof(char *)));
  if (prog->group_names == nullptr) return false;
  for (uint32_t i = 0; i < tree.group_count; ++i) {
    const re_range name = tree.group_names[i];
    if (name.hi == 0) continue;
    char *copy = static_cast<char *>(malloc(name.hi + 1));
    if (copy == nullptr) return false;
    memcpy(copy, pattern + name.lo, name.hi);
    copy[name.hi] = '\0';
    prog->group_names[i] = copy;
  }
  return true;
}

// Gives `prog` (from a pattern of `m` bytes) what re_find_groups needs: the
// group names and a second program with the groups' SAVEs, which only
// re_find_groups runs (the other matchers never see a SAVE). False, with
// the failure reported as re_compile_standard reports it, when it cannot be
// made or its working memory would pass RE_MAX_CAPTURE_CELLS.
bool add_captures(const re_tree &tree, const char *pattern, size_t m, const re_options *options,
                  re_program *prog, bool *out_stopped) {
  auto *caps = static_cast<re_program *>(calloc(1, sizeof(re_program)));
  if (caps == nullptr || !copy_group_names(tree, pattern, prog)) {
    free(caps);
    report_compile_end(compile_end::no_memory, m, out_stopped);
    return false;
  }
  std_compiler c(tree, options->stop, options->stop_ctx);
  c.captures = true;
  if (!c.run(options, &caps->start)) {
    free(caps);
    report_compile_end(c.end, m, out_stopped);
    return false;
  }
  caps->count = c.b.insts.count;
  caps->insts = c.b.insts.release();
  caps->set_count = c.b.sets.count;
  caps->sets = c.b.sets.release();
  caps->utf8_units = true;
  caps->group_count = tree.group_count;
  if (uint64_t{caps->count} * 2 * tree.group_count > RE_MAX_CAPTURE_CELLS) {
    re_program_free(caps);
    qg_fail(GREP_E_ARGUMENT,
            "Pattern too large for captures: its groups times its instructions pass %llu",
            static_cast<unsigned long long>(RE_MAX_CAPTURE_CELLS / 2));
    return false;
  }
  prog->captures = caps;
  return true;
}

}  // namespace

re_program *re_compile_standard(const char *pattern, size_t m, const re_options *options,
                                bool *out_stopped) {
  re_tree tree;
  re_syntax_error error;
  const re_parse_result parsed =
      re_syntax_parse(pattern, m, !options->case_sensitive, options->unicode, &tree, &error);
  if (parsed == RE_PARSE_INVALID) {
    qg_fail(GREP_E_ARGUMENT, "Invalid pattern: %s at byte %llu", error.what,
            static_cast<unsigned long long>(error.at));
    return nullptr;
  }
  if (parsed == RE_PARSE_NO_MEMORY) {
    report_compile_end(compile_end::no_memory, m, nullptr);
    return nullptr;
  }
  auto *prog = static_cast<re_program *>(calloc(1, sizeof(re_program)));
  std_compiler c(tree, options->stop, options->stop_ctx);
  bool ok = prog != nullptr && c.run(options, &prog->start);
  if (ok) {
    prog->anchored = tree.anchored;
    prog->utf8_units = true;
    ok = program_finish(&c.b, prog);
    if (!ok) c.end = compile_end::no_memory;
    if (ok) {
      re_tree_literals(&tree, prog);
      re_prepare_literals(prog);
    }
  }
  if (!ok) report_compile_end(prog == nullptr ? compile_end::no_memory : c.end, m, out_stopped);
  if (ok && options->captures) ok = add_captures(tree, pattern, m, options, prog, out_stopped);
  re_tree_free(&tree);
  if (!ok) {
    re_program_free(prog);
    return nullptr;
  }
  return prog;
}
