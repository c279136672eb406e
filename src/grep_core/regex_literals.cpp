// The literals that a line must hold for a pattern of the standard syntax to
// match in it, read from the pattern's tree: for each node, the exact texts
// it matches when they are few, and a set of texts one of which every match
// of it holds. A concatenation joins the exact texts of neighbouring items
// (so "pthread_(mutex|cond)_lock" requires one of its two whole names), an
// alternation unites its branches' sets. The walk stops at a fixed depth
// (deeper nodes say nothing), so it costs little and recurses a bounded
// number of levels; its sets live on the heap, one per level and kind.
#include "grep_core/ascii_class.h"
#include "grep_core/find_bytes.h"
#include "grep_core/regex_program.h"
#include "grep_core/regex_standard_parse.h"
#include "grep_core/utf8.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kMaxDepth = 8;
constexpr int kMaxStrings = RE_MAX_PREFILTER_LITERALS;
constexpr size_t kMaxLength = RE_PREFILTER_MAX;

// A set of byte strings, or `unknown` (nothing finite describes the node).
// `truncated` strings were cut at kMaxLength: they stand only as required
// texts (a part of a required text is required too), never as exact ones.
struct lit_set {
  bool unknown;
  bool fold;       // compared ignoring ASCII case
  bool truncated;  // some string was cut
  int count;
  unsigned char len[kMaxStrings];
  char s[kMaxStrings][kMaxLength];

  void clear_unknown() {
    unknown = true;
    fold = truncated = false;
    count = 0;
  }

  void set_empty_text() {
    unknown = fold = truncated = false;
    count = 1;
    len[0] = 0;
  }

  bool has(const char *text, size_t n) const {
    for (int i = 0; i < count; ++i) {
      if (len[i] == n && memcmp(s[i], text, n) == 0) return true;
    }
    return false;
  }

  // Adds a string (cut at kMaxLength); false when the set is full.
  bool add(const char *text, size_t n) {
    if (n > kMaxLength) {
      n = kMaxLength;
      truncated = true;
    }
    if (has(text, n)) return true;
    if (count == kMaxStrings) return false;
    memcpy(s[count], text, n);
    len[count++] = static_cast<unsigned char>(n);
    return true;
  }

  // The length of the shortest string; 0 when one is empty or the set says
  // nothing.
  size_t shortest() const {
    if (unknown || count == 0) return 0;
    size_t m = kMaxLength;
    for (int i = 0; i < count; ++i) m = len[i] < m ? len[i] : m;
    return m;
  }
};

// How common the rarest byte of string `i` of `set` is (both cases of a
// letter counted when the set folds), as qg_byte_rank ranks bytes.
unsigned rarest_rank(const lit_set &set, int i) {
  unsigned rarest = 255;
  for (size_t k = 0; k < set.len[i]; ++k) {
    const unsigned char c = static_cast<unsigned char>(set.s[i][k]);
    unsigned rank = qg_byte_rank(c);
    const unsigned char lower = qg_lower(c);
    if (set.fold && lower >= 'a' && lower <= 'z') {
      const unsigned a = qg_byte_rank(lower),
                     b = qg_byte_rank(static_cast<unsigned char>(lower - ('a' - 'A')));
      rank = a > b ? a : b;
    }
    rarest = rank < rarest ? rank : rarest;
  }
  return rarest;
}

// How much a required set narrows the lines down, and how cheaply: longer
// shortest strings (up to 16 bytes, past which length hardly helps), each
// string beyond the first costing as much as a byte and a half (one string
// is looked for faster than several), and between sets alike in those, rarer
// bytes (so `a{1,1000}z` is looked for by its `z`). Not above 0 when it does
// not help.
long score(const lit_set &set) {
  const size_t m = set.shortest();
  if (m == 0) return 0;
  unsigned common = 0;  // the most common of the strings' rarest bytes
  for (int i = 0; i < set.count; ++i) {
    const unsigned rank = rarest_rank(set, i);
    common = rank > common ? rank : common;
  }
  return static_cast<long>(m < 16 ? m : 16) * 100 - (set.count - 1) * 150 +
         static_cast<long>(255 - common) / 6;
}

// `a` followed by `b`, into `out`: every string of one joined to every
// string of the other; unknown when either is, or there would be too many.
void product(const lit_set &a, const lit_set &b, lit_set *out) {
  out->clear_unknown();
  if (a.unknown || b.unknown || a.truncated || a.count * b.count > kMaxStrings) return;
  out->unknown = false;
  out->fold = a.fold || b.fold;
  out->truncated = b.truncated;
  char joined[2 * kMaxLength];
  for (int i = 0; i < a.count; ++i) {
    for (int j = 0; j < b.count; ++j) {
      memcpy(joined, a.s[i], a.len[i]);
      memcpy(joined + a.len[i], b.s[j], b.len[j]);
      if (!out->add(joined, a.len[i] + size_t{b.len[j]})) {
        out->clear_unknown();
        return;
      }
    }
  }
}

// Adds every string of `b` to `a`; unknown when either is or it overflows.
void unite(lit_set *a, const lit_set &b) {
  if (a->unknown || b.unknown) {
    a->clear_unknown();
    return;
  }
  a->fold = a->fold || b.fold;
  a->truncated = a->truncated || b.truncated;
  for (int i = 0; i < b.count; ++i) {
    if (!a->add(b.s[i], b.len[i])) {
      a->clear_unknown();
      return;
    }
  }
}

void keep_better(lit_set *best, const lit_set &candidate) {
  if (score(candidate) > score(*best)) *best = candidate;
}

// The bytes a code point of the tree stands for: a byte that is no part of
// valid UTF-8 as itself, any other code point as UTF-8.
size_t literal_bytes(uint32_t cp, unsigned char *out) {
  if (cp >= RE_INVALID_FIRST && cp <= RE_INVALID_LAST) {
    out[0] = static_cast<unsigned char>(cp - 0xDC00u);
    return 1;
  }
  return qg_utf8_encode(cp, out);
}

struct analyser {
  const re_tree &t;
  lit_set *sets;  // four per depth: the exact and required sets of a node there, and two to work in

  lit_set &at(int depth, int which) { return sets[depth * 4 + which]; }

  // The exact texts of a unit of few code points: each as UTF-8 (a byte
  // that is no part of valid UTF-8 as itself); ASCII letters whose both
  // cases are in the unit as one lowercase text compared ignoring case.
  void unit(const re_node &n, lit_set *exact) {
    exact->clear_unknown();
    uint32_t cps[8];
    int count = 0;
    const re_range *r = t.ranges + n.range_begin;
    for (uint32_t i = 0; i < n.range_count; ++i) {
      for (uint32_t c = r[i].lo; c <= r[i].hi; ++c) {
        if (count == 8) return;
        cps[count++] = c;
      }
    }
    auto holds = [&](uint32_t c) {
      for (int i = 0; i < count; ++i) {
        if (cps[i] == c) return true;
      }
      return false;
    };
    bool paired = true, letters = false;
    for (int i = 0; i < count; ++i) {
      const uint32_t c = cps[i];
      const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
      if (!upper && !lower) continue;
      letters = true;
      paired = paired && holds(upper ? c + 32 : c - 32);
    }
    const bool fold = letters && paired;
    if (!fold && count > 4) return;
    exact->unknown = false;
    exact->fold = fold;
    for (int i = 0; i < count; ++i) {
      uint32_t c = cps[i];
      if (fold && c >= 'A' && c <= 'Z') c += 32;
      unsigned char bytes[4];
      exact->add(reinterpret_cast<const char *>(bytes), literal_bytes(c, bytes));
    }
  }

  // Fills exact and required for `id` at `depth`.
  void node(uint32_t id, int depth, lit_set *exact, lit_set *required) {
    exact->clear_unknown();
    required->clear_unknown();
    if (depth >= kMaxDepth) return;
    const re_node &n = t.nodes[id];
    switch (n.kind) {
      case RE_NODE_EMPTY:
      case RE_NODE_ASSERT:
        exact->set_empty_text();
        return;
      case RE_NODE_UNIT:
        unit(n, exact);
        *required = *exact;
        return;
      case RE_NODE_CONCAT:
        concat(n, depth, exact, required);
        return;
      case RE_NODE_ALT:
        alternation(n, depth, exact, required);
        return;
      case RE_NODE_REPEAT:
        repeat(n, depth, exact, required);
        return;
      case RE_NODE_GROUP:
        node(n.first_child, depth, exact, required);
        return;
      default:
        return;
    }
  }

  // Exact: the product of all items. Required: the best of the items' own
  // sets and of the products of runs of items with exact texts.
  void concat(const re_node &n, int depth, lit_set *exact, lit_set *required) {
    lit_set &kid_exact = at(depth + 1, 0), &kid_required = at(depth + 1, 1);
    lit_set &run = at(depth, 2), &joined = at(depth, 3);
    exact->set_empty_text();
    run.set_empty_text();
    for (uint32_t c = n.first_child; c != RE_NO_NODE; c = t.nodes[c].next_sibling) {
      node(c, depth + 1, &kid_exact, &kid_required);
      keep_better(required, kid_required);
      product(*exact, kid_exact, &joined);
      *exact = joined;
      product(run, kid_exact, &joined);
      if (joined.unknown) {
        run = kid_exact;
        if (run.unknown) run.set_empty_text();
      } else {
        run = joined;
      }
      keep_better(required, run);  // every run so far, so the best prefix of one counts
    }
    if (!exact->unknown && !exact->truncated) keep_better(required, *exact);
  }

  // Exact and required: the union of the branches' (each branch must say
  // something for the union to).
  void alternation(const re_node &n, int depth, lit_set *exact, lit_set *required) {
    lit_set &kid_exact = at(depth + 1, 0), &kid_required = at(depth + 1, 1);
    bool first = true;
    for (uint32_t c = n.first_child; c != RE_NO_NODE; c = t.nodes[c].next_sibling) {
      node(c, depth + 1, &kid_exact, &kid_required);
      // A branch's exact texts are required of it too, and may do better.
      if (!kid_exact.unknown && !kid_exact.truncated && score(kid_exact) > score(kid_required)) {
        kid_required = kid_exact;
      }
      if (first) {
        *exact = kid_exact;
        *required = kid_required;
        first = false;
      } else {
        unite(exact, kid_exact);
        unite(required, kid_required);
      }
    }
    if (score(*required) == 0) required->clear_unknown();
  }

  // Exact: the child's texts min..max times, for a small max. Required: the
  // child's, when it must occur at least once (its exact texts repeated min
  // times, when they are few, say more).
  void repeat(const re_node &n, int depth, lit_set *exact, lit_set *required) {
    lit_set &kid_exact = at(depth + 1, 0), &kid_required = at(depth + 1, 1);
    node(n.first_child, depth + 1, &kid_exact, &kid_required);
    lit_set &times = at(depth, 2), &joined = at(depth, 3);
    times.set_empty_text();  // the child's texts i times
    if (n.max != RE_REPEAT_MANY && n.max <= 4) {
      for (uint32_t i = 0; !times.unknown; ++i) {
        if (i == n.min) {
          *exact = times;
        } else if (i > n.min) {
          unite(exact, times);
        }
        if (i == n.max) break;
        product(times, kid_exact, &joined);
        times = joined;
      }
      if (times.unknown) exact->clear_unknown();
    }
    if (n.min == 0) return;
    *required = kid_required;
    times.set_empty_text();
    for (uint32_t i = 0; i < n.min && !times.unknown; ++i) {
      product(times, kid_exact, &joined);
      times = joined;
    }
    keep_better(required, times);
  }
};

}  // namespace

void re_tree_literals(const re_tree *tree, re_program *prog) {
  prog->literal_count = 0;
  auto *sets = static_cast<lit_set *>(malloc(sizeof(lit_set) * 4 * (kMaxDepth + 1)));
  if (sets == nullptr) return;  // no prefilter: every line is tried
  analyser a{*tree, sets};
  lit_set &exact = a.at(0, 0), &required = a.at(0, 1);
  a.node(tree->root, 0, &exact, &required);
  if (!exact.unknown && !exact.truncated && score(exact) > score(required)) required = exact;
  if (score(required) > 0) {
    prog->fold = required.fold;
    for (int i = 0; i < required.count; ++i) {
      memcpy(prog->literals[i], required.s[i], required.len[i]);
      prog->literals[i][required.len[i]] = '\0';
      prog->literal_lens[i] = required.len[i];
    }
    prog->literal_count = required.count;
  }
  free(sets);
}
