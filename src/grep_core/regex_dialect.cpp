// Compiling a pattern of the dialect into a program (regex_program.h).
//
// The definition matches a pattern remainder: a stretch [p, e) of the pattern
// that runs to the pattern's end or to the bar that ended a left alternative.
// So a state of the automaton is a pair (p, e). What the definition does with
// a remainder depends only on that pair: an escape at p is an atom; otherwise
// the bar walk from p finds the first bar at bracket count 0, and when it lies
// before e the remainder divides into (p, bar) and (bar + 1, e); otherwise the
// atom at p, read within e, and its quantifier lead to (next, e). Each
// reachable pair becomes instructions once, through a work list, so nothing
// recurses with the pattern.
#include "grep_core/ascii_class.h"
#include "grep_core/grow_array.h"
#include "grep_core/last_error.h"
#include "grep_core/regex_builder.h"
#include "grep_core/regex_dialect_parts.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint32_t kNone = QG_KEY_MAP_NONE;

// ---- What the bar walk finds ----
//
// The walk from p visits p, then the position after it (two bytes on past a
// '\', which skips the byte it escapes), and so on: every walk follows the
// same successor links, so the walks form a tree rooted at the pattern's end.
// With phi(q) the sum of +1 per '[' and -1 per ']' over the nodes from q to
// the root, the bracket count a walk from p holds on reaching q is
// phi(p) - phi(q). So the walk from p stops at the nearest bar q on its way
// to the root with phi(q) == phi(p). One depth-first pass over the tree, with
// a stack of bars per value of phi, finds that bar for every p in O(m).

// First depth-0 bar of the walk from each position over the whole pattern,
// or m when there is none. A walk over [p, e) finds bar[p] when it lies
// before e, and nothing otherwise: cutting the walk at e changes nothing
// before e. Null when out of memory.
uint32_t *first_bars(const char *P, uint32_t m) {
  const size_t n = size_t{m} + 1;
  auto *succ = static_cast<uint32_t *>(malloc(n * sizeof(uint32_t)));
  auto *phi = static_cast<int32_t *>(malloc(n * sizeof(int32_t)));
  auto *bar = static_cast<uint32_t *>(malloc(n * sizeof(uint32_t)));
  auto *below = static_cast<uint32_t *>(malloc(n * sizeof(uint32_t)));  // next bar down the stack
  auto *top = static_cast<uint32_t *>(malloc((2 * n + 1) * sizeof(uint32_t)));  // per phi value
  auto *todo = static_cast<uint32_t *>(malloc(2 * n * sizeof(uint32_t)));
  bool ok = succ && phi && bar && below && top && todo;
  if (ok) {
    phi[m] = 0;
    for (uint32_t q = m; q-- > 0;) {
      succ[q] = (P[q] == '\\' && q + 1 < m) ? q + 2 : q + 1;
      const int32_t delta = P[q] == '[' ? 1 : (P[q] == ']' ? -1 : 0);
      phi[q] = delta + phi[succ[q] > m ? m : succ[q]];
    }
    for (size_t v = 0; v < 2 * n + 1; ++v) top[v] = kNone;
    // Depth-first from the root m: a node is entered (its answer read, its
    // bar pushed), then its children (q - 1 and q - 2 when they lead to q),
    // then it is left (its bar popped). `todo` holds nodes, a left marker
    // being the node's value with the top bit set.
    size_t sp = 0;
    todo[sp++] = m;
    bar[m] = m;
    while (sp > 0) {
      const uint32_t item = todo[--sp];
      if (item & 0x80000000u) {
        const uint32_t q = item & 0x7FFFFFFFu;
        top[static_cast<size_t>(phi[q] + static_cast<int32_t>(n))] = below[q];
        continue;
      }
      const uint32_t q = item;
      if (q < m) {
        const size_t v = static_cast<size_t>(phi[q] + static_cast<int32_t>(n));
        if (P[q] == '|') {
          bar[q] = q;
          below[q] = top[v];
          top[v] = q;
          todo[sp++] = q | 0x80000000u;
        } else {
          bar[q] = top[v] == kNone ? m : top[v];
        }
      }
      if (q >= 1 && succ[q - 1] == q) todo[sp++] = q - 1;
      if (q >= 2 && succ[q - 2] == q && P[q - 2] == '\\') todo[sp++] = q - 2;
    }
  }
  free(succ);
  free(phi);
  free(below);
  free(top);
  free(todo);
  if (!ok) {
    free(bar);
    return nullptr;
  }
  return bar;
}

// ---- Byte sets of atoms ----

// Adds `c`, and with `fold` every byte that lowercases as it does.
void set_add_folded(re_byteset *s, unsigned char c, bool fold) {
  re_set_add(s, c);
  if (!fold) return;
  const unsigned char lower = qg_lower(c);
  re_set_add(s, lower);
  if (lower >= 'a' && lower <= 'z') re_set_add(s, static_cast<unsigned char>(lower - ('a' - 'A')));
}

void set_fill(re_byteset *s, bool (*member)(unsigned char), bool invert) {
  for (unsigned c = 0; c < 256; ++c) {
    if (member(static_cast<unsigned char>(c)) != invert)
      re_set_add(s, static_cast<unsigned char>(c));
  }
}

// The bytes a class with members [m, m_end) matches; each byte is tested by
// the members' own rule (ranges signed, folding both ends and the byte).
re_byteset class_set(const char *m, const char *m_end, bool negated, bool fold) {
  re_byteset s = {};
  for (unsigned c = 0; c < 256; ++c) {
    if (qg_class_members_match(m, m_end, static_cast<unsigned char>(c), fold) != negated) {
      re_set_add(&s, static_cast<unsigned char>(c));
    }
  }
  return s;
}

// The set of the atom that begins at `p` and ends at `atom_end`, inside a
// remainder ending at `e`.
re_byteset atom_set(const char *p, const char *atom_end, const char *e, bool fold) {
  re_byteset s = {};
  const unsigned char x = static_cast<unsigned char>(*p);
  if (x == '.') {
    memset(s.bits, 0xFF, sizeof s.bits);
  } else if (x == '\\' && atom_end - p == 2) {
    switch (p[1]) {
      case 'd':
        set_fill(&s, qg_is_digit, false);
        break;
      case 'D':
        set_fill(&s, qg_is_digit, true);
        break;
      case 'w':
        set_fill(&s, qg_is_word, false);
        break;
      case 'W':
        set_fill(&s, qg_is_word, true);
        break;
      case 's':
        set_fill(&s, qg_is_space, false);
        break;
      case 'S':
        set_fill(&s, qg_is_space, true);
        break;
      default:
        re_set_add(&s, static_cast<unsigned char>(p[1]));
        break;  // never folded
    }
  } else if (x == '[') {
    const char *members, *members_end;
    bool negated;
    re_class_extent(p, e, &members, &members_end, &negated);
    s = class_set(members, members_end, negated, fold);
  } else {
    set_add_folded(&s, x, fold);  // a plain byte, or a lone trailing '\'
  }
  return s;
}

// ---- The compiler ----

struct pending {
  uint32_t p, e, inst;
};

struct compiler {
  const char *P;
  uint32_t m;
  bool fold;
  re_stop_check stop = nullptr;
  void *stop_ctx = nullptr;
  compile_end end = compile_end::no_memory;  // what a false result means
  uint32_t *bar = nullptr;
  program_builder b;
  grow_array<pending> work;
  key_map states;  // (p << 32 | e) -> first instruction

  ~compiler() { free(bar); }

  bool add(re_op op, uint32_t next, uint32_t arg, uint32_t *id) {
    if (b.add(op, next, arg, id)) return true;
    if (b.too_large) end = compile_end::too_large;
    return false;
  }

  bool set_id(const re_byteset &s, uint32_t *id) { return b.set_id(s, id); }

  // The first instruction of state (p, e), made as a placeholder and queued
  // when new. The empty remainder is the shared MATCH.
  bool state(uint32_t p, uint32_t e, uint32_t *id) {
    if (p == e) {
      *id = kMatchInst;
      return true;
    }
    const uint64_t key = (uint64_t{p} << 32) | e;
    const uint32_t known = states.find(key);
    if (known != kNone) {
      *id = known;
      return true;
    }
    return add(RE_OP_MATCH, 0, 0, id) && states.insert(key, *id) && work.push(pending{p, e, *id});
  }

  // Writes the instructions of state (p, e), whose first one is `at`.
  bool fill(uint32_t p, uint32_t e, uint32_t at) {
    const char *P0 = P;
    // A remainder of exactly "$" is the end anchor.
    if (e - p == 1 && P[p] == '$') {
      b.insts.items[at] = {RE_OP_END, kMatchInst, 0};
      return true;
    }
    uint32_t atom_end;
    bool rest_empty = false;  // the atom is the whole remainder: no quantifier
    if (P[p] == '\\') {
      // An escape is an atom at once; no bar walk at this level.
      if (p + 1 < e) {
        atom_end = p + 2;
      } else {
        atom_end = e;
        rest_empty = true;
      }
    } else if (bar[p] < e) {
      uint32_t left, right;
      if (!state(p, bar[p], &left) || !state(bar[p] + 1, e, &right)) return false;
      b.insts.items[at] = {RE_OP_SPLIT, left, right};
      return true;
    } else if (P[p] == '[') {
      const char *members, *members_end;
      bool negated;
      const char *end = re_class_extent(P0 + p, P0 + e, &members, &members_end, &negated);
      atom_end = static_cast<uint32_t>(end - P0);
      rest_empty = members_end == P0 + e;  // unterminated: the class is the rest
    } else {
      atom_end = p + 1;
    }
    uint32_t set;
    if (!set_id(atom_set(P0 + p, P0 + atom_end, P0 + e, fold), &set)) return false;
    const char q = (!rest_empty && atom_end < e) ? P[atom_end] : '\0';
    uint32_t rest;
    if (q == '*' || q == '+') {
      if (!state(atom_end + 1, e, &rest)) return false;
      // loop: SPLIT(consume -> loop, rest); '+' consumes once before it.
      uint32_t loop, consume;
      if (q == '*') {
        loop = at;
        if (!add(RE_OP_SET, loop, set, &consume)) return false;
      } else {
        if (!add(RE_OP_SPLIT, 0, rest, &loop) || !add(RE_OP_SET, loop, set, &consume)) return false;
        b.insts.items[at] = {RE_OP_SET, loop, set};
      }
      b.insts.items[loop] = {RE_OP_SPLIT, consume, rest};
      return true;
    }
    if (q == '?') {
      uint32_t take;
      if (!state(atom_end + 1, e, &rest) || !add(RE_OP_SET, rest, set, &take)) return false;
      b.insts.items[at] = {RE_OP_SPLIT, take, rest};
      return true;
    }
    if (rest_empty) {
      rest = kMatchInst;
    } else if (!state(atom_end, e, &rest)) {
      return false;
    }
    b.insts.items[at] = {RE_OP_SET, rest, set};
    return true;
  }

  // Compiles the remainder [p, e); the program starts at the returned id.
  bool run(uint32_t p, uint32_t e, uint32_t *start) {
    bar = first_bars(P, m);
    uint32_t match;
    if (bar == nullptr || !add(RE_OP_MATCH, 0, 0, &match) || !state(p, e, start)) return false;
    for (uint32_t filled = 0; work.count > 0; ++filled) {
      if (stop != nullptr && filled % 4096 == 4095 && stop(stop_ctx)) {
        end = compile_end::stopped;
        return false;
      }
      const pending next = work.items[--work.count];
      if (!fill(next.p, next.e, next.inst)) return false;
    }
    end = compile_end::done;
    return true;
  }
};

// ---- Literals that a matching line must hold ----

// The pattern's shape as a tree of the standard syntax's nodes, for the one
// literal extractor (re_tree_literals): its top-level alternatives as
// matching divides them, each a concatenation of its atoms (a quantified one
// repeated, a '$' that ends it a line end); an alternative that holds a '|'
// anywhere, which matching divides further as it goes, says nothing (a unit
// of every byte). Bytes 0x80-0xFF stand for themselves as the tree's units
// for bytes of no UTF-8 sequence. Only the extractor reads it.
struct literal_tree {
  grow_array<re_node> nodes;
  grow_array<re_range> ranges;

  // A new node of `kind`; its index, or RE_NO_NODE when out of memory.
  uint32_t add(re_node_kind kind) {
    re_node n = {};
    n.kind = static_cast<uint8_t>(kind);
    n.first_child = n.next_sibling = RE_NO_NODE;
    return nodes.push(n) ? nodes.count - 1 : RE_NO_NODE;
  }

  bool add_range(uint32_t lo, uint32_t hi) { return ranges.push(re_range{lo, hi}); }

  // A unit of the bytes of `set`.
  uint32_t unit(const re_byteset &set) {
    const uint32_t id = add(RE_NODE_UNIT);
    if (id == RE_NO_NODE) return id;
    nodes.items[id].range_begin = ranges.count;
    for (unsigned b = 0; b < 256;) {
      if (!re_set_has(&set, static_cast<unsigned char>(b))) {
        ++b;
        continue;
      }
      unsigned last = b;
      // A run stops at 0x7F: the bytes above it are units of their own kind.
      while (last + 1 < 256 && last + 1 != 0x80 && re_set_has(&set, static_cast<unsigned char>(last + 1))) {
        ++last;
      }
      const auto cp = [](unsigned byte) { return byte < 0x80 ? byte : RE_INVALID_UNIT(byte); };
      if (!add_range(cp(b), cp(last))) return RE_NO_NODE;
      b = last + 1;
    }
    nodes.items[id].range_count = ranges.count - nodes.items[id].range_begin;
    return id;
  }

  // Makes `child` the last child of `parent`, whose last child is *last.
  void append(uint32_t parent, uint32_t child, uint32_t *last) {
    if (*last == RE_NO_NODE) {
      nodes.items[parent].first_child = child;
    } else {
      nodes.items[*last].next_sibling = child;
    }
    *last = child;
  }

  // The concatenation of the atoms of [p, e), which holds no '|'.
  uint32_t sequence(const char *P, uint32_t p, uint32_t e, bool fold) {
    const uint32_t id = add(RE_NODE_CONCAT);
    uint32_t last = RE_NO_NODE;
    while (id != RE_NO_NODE && p < e) {
      uint32_t item;
      if (P[p] == '$' && p + 1 == e) {
        item = add(RE_NODE_ASSERT);
        if (item != RE_NO_NODE) nodes.items[item].assert_kind = RE_ASSERT_LINE_END;
        p = e;
      } else {
        const uint32_t atom_end = static_cast<uint32_t>(re_atom_end(P + p, P + e) - P);
        item = unit(atom_set(P + p, P + atom_end, P + e, fold));
        const char q = atom_end < e ? P[atom_end] : '\0';
        p = atom_end;
        if (item != RE_NO_NODE && (q == '*' || q == '+' || q == '?')) {
          const uint32_t repeat = add(RE_NODE_REPEAT);
          if (repeat != RE_NO_NODE) {
            nodes.items[repeat].min = q == '+' ? 1 : 0;
            nodes.items[repeat].max = q == '?' ? 1 : RE_REPEAT_MANY;
            nodes.items[repeat].greedy = true;
            nodes.items[repeat].first_child = item;
          }
          item = repeat;
          ++p;
        }
      }
      if (item == RE_NO_NODE) return RE_NO_NODE;
      append(id, item, &last);
    }
    return id;
  }

  // A node for the alternative [p, e): its atoms, or a unit of every byte
  // when it holds a '|'.
  uint32_t alternative(const char *P, uint32_t p, uint32_t e, bool fold) {
    if (memchr(P + p, '|', e - p) == nullptr) return sequence(P, p, e, fold);
    re_byteset every;
    memset(every.bits, 0xFF, sizeof every.bits);
    return unit(every);
  }

  // The root over the top-level alternatives from `begin`, divided at the
  // bars matching divides them at (`bar`, as first_bars gives them).
  uint32_t root(const char *P, uint32_t begin, uint32_t m, const uint32_t *bar, bool fold) {
    const uint32_t alt = add(RE_NODE_ALT);
    uint32_t last = RE_NO_NODE;
    for (uint32_t p = begin; alt != RE_NO_NODE;) {
      const uint32_t end = (p < m && P[p] != '\\' && bar[p] < m) ? bar[p] : m;
      const uint32_t branch = alternative(P, p, end, fold);
      if (branch == RE_NO_NODE) return RE_NO_NODE;
      append(alt, branch, &last);
      if (end == m) break;
      p = end + 1;
    }
    return alt;
  }
};

// Fills the program's line prefilter from the pattern's literal tree; none
// when memory runs out (every line is then tried).
void analyse_literals(re_program *prog, const char *P, uint32_t begin, uint32_t m,
                      const uint32_t *bar, bool fold) {
  prog->literal_count = 0;
  literal_tree t;
  const uint32_t root = t.root(P, begin, m, bar, fold);
  if (root == RE_NO_NODE) return;
  re_tree tree = {};
  tree.nodes = t.nodes.items;
  tree.node_count = t.nodes.count;
  tree.ranges = t.ranges.items;
  tree.range_count = t.ranges.count;
  tree.root = root;
  re_tree_literals(&tree, prog);
  re_prepare_literals(prog);
}

// Compiles the remainder [p, e) of the m bytes at P. With `star_atom`
// (which lies before p), the program first repeats that atom greedily, as the
// star of the definition does before its rest.
re_program *compile_range(const char *P, uint32_t m, uint32_t p, uint32_t e,
                          const re_options &options, bool anchored, bool literals,
                          const char *star_atom, compile_end *why) {
  *why = compile_end::no_memory;
  auto *prog = static_cast<re_program *>(calloc(1, sizeof(re_program)));
  if (prog == nullptr) return nullptr;
  const bool case_sensitive = options.case_sensitive;
  compiler c;
  c.P = P;
  c.m = m;
  c.fold = !case_sensitive;
  c.stop = options.stop;
  c.stop_ctx = options.stop_ctx;
  bool ok = c.run(p, e, &prog->start);
  *why = c.end;
  if (ok && star_atom != nullptr) {
    const char *atom_end = re_atom_end(star_atom, P + e);
    uint32_t set, loop, consume;
    ok = c.set_id(atom_set(star_atom, atom_end, P + e, c.fold), &set) &&
         c.add(RE_OP_SPLIT, 0, prog->start, &loop) && c.add(RE_OP_SET, loop, set, &consume);
    if (ok) {
      c.b.insts.items[loop].next = consume;
      prog->start = loop;
    }
  }
  if (!ok) {
    if (c.end == compile_end::done) *why = compile_end::no_memory;
    free(prog);
    return nullptr;
  }
  prog->anchored = anchored;
  if (!program_finish(&c.b, prog)) {
    *why = compile_end::no_memory;
    re_program_free(prog);
    return nullptr;
  }
  if (literals) analyse_literals(prog, P, p, m, c.bar, !case_sensitive);
  return prog;
}

}  // namespace

re_program *re_compile_with(const char *pattern, const re_options *options, bool *out_stopped) {
  if (out_stopped != nullptr) *out_stopped = false;
  if (pattern == nullptr) return nullptr;
  const size_t m = strlen(pattern);
  if (m > RE_MAX_PATTERN_BYTES) {
    qg_fail(GREP_E_ARGUMENT, "Pattern too large: %llu bytes (at most %llu)",
            static_cast<unsigned long long>(m),
            static_cast<unsigned long long>(RE_MAX_PATTERN_BYTES));
    return nullptr;
  }
  if (options->syntax == RE_SYNTAX_STANDARD)
    return re_compile_standard(pattern, m, options, out_stopped);
  const bool anchored = pattern[0] == '^';
  const uint32_t begin = anchored ? 1 : 0;
  compile_end why;
  re_program *prog =
      compile_range(pattern, static_cast<uint32_t>(m), begin, static_cast<uint32_t>(m), *options,
                    anchored, true, nullptr, &why);
  if (prog == nullptr) report_compile_end(why, m, out_stopped);
  return prog;
}

re_program *re_compile(const char *pattern, bool case_sensitive) {
  const re_options options = {case_sensitive, nullptr, nullptr, RE_SYNTAX_DIALECT,
                              false,          false,   false};
  return re_compile_with(pattern, &options, nullptr);
}

re_program *re_compile_part(const char *atom, const char *rest, const char *rest_end,
                            bool case_sensitive, bool repeat_atom) {
  const char *begin = repeat_atom ? atom : rest;
  if (atom == nullptr || rest < begin || rest_end < rest ||
      static_cast<size_t>(rest_end - begin) > RE_MAX_PATTERN_BYTES) {
    return nullptr;
  }
  const uint32_t m = static_cast<uint32_t>(rest_end - begin);
  const re_options options = {case_sensitive, nullptr, nullptr, RE_SYNTAX_DIALECT,
                              false,          false,   false};
  compile_end why;
  return compile_range(begin, m, static_cast<uint32_t>(rest - begin), m, options, true, false,
                       repeat_atom ? atom : nullptr, &why);
}

void re_program_free(re_program *program) {
  if (program == nullptr) return;
  re_program_free(program->reverse);
  re_program_free(program->captures);
  if (program->group_names != nullptr) {
    for (uint32_t i = 0; i < program->group_count; ++i) free(program->group_names[i]);
    free(program->group_names);
  }
  free(program->insts);
  free(program->sets);
  free(program);
}


