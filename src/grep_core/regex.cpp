#include "grep_core/regex.h"

#include <string.h>

#include "grep_core/ascii_class.h"
#include "grep_core/regex_parts.h"

// ---- Budget bookkeeping ----

// Takes `n` steps from the line's budget; false (and the line marked
// exhausted) when they are not there.
static bool re_spend(re_state *st, uint64_t n) {
  if (st->steps_left < n) {
    st->steps_left = 0;
    st->line_exhausted = true;
    return false;
  }
  st->steps_left -= n;
  return true;
}

static bool re_stopped(const re_state *st) { return st->attempt_abandoned || st->line_exhausted; }

// Opens one nesting level; false when the attempt must stop (already stopped,
// or the level would exceed RE_MAX_DEPTH, which abandons the attempt).
static bool re_enter(re_state *st) {
  if (re_stopped(st)) return false;
  if (st->depth >= RE_MAX_DEPTH) {
    st->attempt_abandoned = true;
    return false;
  }
  ++st->depth;
  if (st->depth > st->depth_peak) st->depth_peak = st->depth;
  return true;
}

void re_state_init(re_state *st, const char *pattern, size_t text_len, bool ignore_case) {
  st->ignore_case = ignore_case;
  st->depth = 0;
  st->depth_peak = 0;
  uint64_t per_byte = (uint64_t)RE_STEP_BUDGET_PER_BYTE * ((uint64_t)text_len + 1);
  st->steps_left = (uint64_t)RE_STEP_BUDGET_BASE + per_byte;
  st->attempt_abandoned = false;
  st->line_exhausted = false;
  st->last_bar = strrchr(pattern, '|');
  st->failed_atom = nullptr;
}

// ---- Atoms ----

static bool re_escape_match(unsigned char x, unsigned char c) {
  switch (x) {
    case 'd':
      return qg_is_digit(c);
    case 'D':
      return !qg_is_digit(c);
    case 'w':
      return qg_is_word(c);
    case 'W':
      return !qg_is_word(c);
    case 's':
      return qg_is_space(c);
    case 'S':
      return !qg_is_space(c);
    default:
      return x == c;  // never case-folded
  }
}

bool re_atom_match(const char *atom, const char *p_end, unsigned char c, bool ignore_case) {
  unsigned char x = (unsigned char)atom[0];
  if (x == '.') return true;
  if (x == '\\' && atom + 1 < p_end) return re_escape_match((unsigned char)atom[1], c);
  if (x == '[') {
    const char *members, *members_end;
    bool negated;
    re_class_extent(atom, p_end, &members, &members_end, &negated);
    return qg_class_members_match(members, members_end, c, ignore_case) != negated;
  }
  return ignore_case ? qg_lower(x) == qg_lower(c) : x == c;
}

// ---- Loops over many text bytes ----
//
// A greedy run, the search for the next start position and a give-back scan
// test one atom against many bytes. They decode the atom once and run a loop
// specialised to its kind; every answer is re_atom_match's.

re_atom_test re_decode_atom(const char *atom, const char *p_end, bool fold) {
  re_atom_test a = {RE_KIND_CLASS, 0, atom, p_end, fold};
  const unsigned char x = (unsigned char)atom[0];
  if (x == '.') {
    a.kind = RE_KIND_ANY;
  } else if (x == '\\' && atom + 1 < p_end) {
    switch (atom[1]) {
      case 'd':
        a.kind = RE_KIND_DIGIT;
        break;
      case 'D':
        a.kind = RE_KIND_NOT_DIGIT;
        break;
      case 'w':
        a.kind = RE_KIND_WORD;
        break;
      case 'W':
        a.kind = RE_KIND_NOT_WORD;
        break;
      case 's':
        a.kind = RE_KIND_SPACE;
        break;
      case 'S':
        a.kind = RE_KIND_NOT_SPACE;
        break;
      default:
        a.kind = RE_KIND_BYTE;
        a.byte = (unsigned char)atom[1];
        break;
    }
  } else if (x != '[') {
    const bool letter = qg_lower(x) != x || (x >= 'a' && x <= 'z');
    a.kind = fold && letter ? RE_KIND_FOLDED_BYTE : RE_KIND_BYTE;
    a.byte = fold ? qg_lower(x) : x;
  }
  return a;
}

// Calls `loop` with a predicate over text bytes equal to the atom's test (the
// NUL excluded by the callers), instantiated once per kind.
template <typename Loop>
static auto re_with_predicate(const re_atom_test &a, Loop loop) {
  switch (a.kind) {
    case RE_KIND_ANY:
      return loop([](unsigned char) { return true; });
    case RE_KIND_BYTE:
      return loop([b = a.byte](unsigned char c) { return c == b; });
    case RE_KIND_FOLDED_BYTE:
      return loop([b = a.byte](unsigned char c) { return qg_lower(c) == b; });
    case RE_KIND_DIGIT:
      return loop([](unsigned char c) { return qg_is_digit(c); });
    case RE_KIND_NOT_DIGIT:
      return loop([](unsigned char c) { return !qg_is_digit(c); });
    case RE_KIND_WORD:
      return loop([](unsigned char c) { return qg_is_word(c); });
    case RE_KIND_NOT_WORD:
      return loop([](unsigned char c) { return !qg_is_word(c); });
    case RE_KIND_SPACE:
      return loop([](unsigned char c) { return qg_is_space(c); });
    case RE_KIND_NOT_SPACE:
      return loop([](unsigned char c) { return !qg_is_space(c); });
    case RE_KIND_CLASS:
      break;
  }
  return loop([&a](unsigned char c) { return re_atom_match(a.atom, a.p_end, c, a.fold); });
}

// The end of the run of bytes from `t` that the atom matches.
static const char *re_run_end(const re_atom_test &a, const char *t) {
  if (a.kind == RE_KIND_ANY) return t + strlen(t);
  return re_with_predicate(a, [t](auto match) {
    const char *k = t;
    while (*k != '\0' && match((unsigned char)*k)) ++k;
    return k;
  });
}

size_t re_find_forward(const re_atom_test *a, const char *text, size_t s, size_t n) {
  return re_with_predicate(*a, [=](auto match) {
    size_t k = s;
    while (k < n && !match((unsigned char)text[k])) ++k;
    return k;
  });
}

// The last position in [t, j] whose byte (not the NUL) the atom matches, or
// null when there is none.
static const char *re_find_backward(const re_atom_test &a, const char *t, const char *j) {
  return re_with_predicate(a, [=](auto match) -> const char * {
    for (const char *k = j;; --k) {
      if (*k != '\0' && match((unsigned char)*k)) return k;
      if (k == t) return nullptr;
    }
  });
}

// ---- Alternation ----

// The first '|' of [p, p_end) seen at bracket count 0 by the bar walk ('\'
// skips the next byte, '[' counts up, ']' down), or null. No bar lies past
// the pattern's last one, so the walk stops there. Spends a step per byte.
const char *re_find_bar(const char *p, const char *p_end, re_state *st) {
  if (st->last_bar == nullptr || st->last_bar < p) return nullptr;
  const char *stop = st->last_bar < p_end ? st->last_bar + 1 : p_end;
  const char *found = nullptr;
  const char *q = p;
  long depth = 0;
  for (; q < stop && found == nullptr; ++q) {
    switch (*q) {
      case '\\':
        ++q;
        break;
      case '[':
        ++depth;
        break;
      case ']':
        --depth;
        break;
      case '|':
        if (depth == 0) found = q;
        break;
      default:
        break;
    }
  }
  if (!re_spend(st, (uint64_t)(q - p))) return nullptr;
  return found;
}

// ---- Matching ----

// The atom every match of the remainder [p, p_end) must begin with, or null
// when a match may begin otherwise (a divided remainder, a first atom that may
// be skipped, the lone anchor '$', the empty remainder). Writes whether the
// remainder was walked and holds no bar, so a match of it needs no walk.
const char *re_required_first_atom(const char *p, const char *p_end, re_state *st, bool *barless) {
  *barless = false;
  if (p == p_end || (p_end - p == 1 && *p == '$')) return nullptr;
  if (*p != '\\') {
    if (re_find_bar(p, p_end, st) != nullptr) return nullptr;
    *barless = true;
  }
  const char *atom_end = re_atom_end(p, p_end);
  const char q = atom_end < p_end ? *atom_end : '\0';
  return (q == '*' || q == '?') ? nullptr : p;
}

// Steps charged for scanning `bytes` bytes in a tight loop, which costs about
// as much per sixteen bytes as one atom test does.
static uint64_t re_scan_cost(size_t bytes) { return bytes / 16 + 1; }

bool re_match_here(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len) {
  return re_match_from(p, p_end, t, st, out_len, false);
}

// re_match_here, told by `barless` that the bar walk from `p` is known to find
// no bar (the remainder is a left alternative, or a walk already passed over
// it). Plain atoms, a skipped '?' and the right side of a bar continue the
// loop instead of recursing, so nesting grows only with quantifiers and left
// alternatives, never with the length of a run of plain atoms; and the walk
// runs again only where a bracket may have changed its count.
bool re_match_from(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len,
                   bool barless) {
  if (!re_enter(st)) return false;
  const bool fold = st->ignore_case;
  size_t consumed = 0;  // text bytes matched by the loop itself
  size_t tail = 0;      // length of the match of a nested call
  bool ok = false;
  for (;;) {
    if (!re_spend(st, 1)) break;
    if (p == p_end) {
      ok = true;
      break;
    }
    if (p_end - p == 1 && *p == '$') {
      ok = *t == '\0';
      break;
    }
    if (*p != '\\' && !barless) {
      const char *bar = re_find_bar(p, p_end, st);
      if (st->line_exhausted) break;
      if (bar != nullptr) {
        if (re_match_from(p, bar, t, st, &tail, true)) {
          ok = true;
          break;
        }
        if (re_stopped(st)) break;
        p = bar + 1;
        continue;
      }
      barless = true;
    }
    const char *atom = p;
    const char *atom_end = re_atom_end(p, p_end);
    const char q = atom_end < p_end ? *atom_end : '\0';
    const unsigned char c = (unsigned char)*t;
    // Past a bracket the walk's count differs from a fresh walk's.
    if (*atom == '[' || *atom == ']') barless = false;
    if (q == '*') {
      ok = re_match_star(atom, atom_end + 1, p_end, t, st, &tail);
      break;
    }
    if (q == '+') {
      if (c == '\0' || !re_atom_match(atom, p_end, c, fold)) break;
      ok = re_match_star(atom, atom_end + 1, p_end, t + 1, st, &tail);
      consumed += 1;
      break;
    }
    if (q == '?') {
      if (c != '\0' && re_atom_match(atom, p_end, c, fold)) {
        if (re_match_from(atom_end + 1, p_end, t + 1, st, &tail, barless)) {
          ok = true;
          consumed += 1;
          break;
        }
        if (re_stopped(st)) break;
      }
      p = atom_end + 1;
      continue;
    }
    if (c == '\0' || !re_atom_match(atom, p_end, c, fold)) break;
    p = atom_end;
    ++t;
    ++consumed;
  }
  --st->depth;
  if (ok) *out_len = consumed + tail;
  return ok;
}

// The end of the greedy run of `atom` from `t`, with its steps spent.
const char *re_greedy_run(const char *atom, const char *p_end, const char *t, re_state *st) {
  const re_atom_test a = re_decode_atom(atom, p_end, st->ignore_case);
  const char *k = re_run_end(a, t);
  re_spend(st, a.kind == RE_KIND_CLASS ? (uint64_t)(k - t) + 1 : re_scan_cost((size_t)(k - t)));
  return k;
}

// Moves *j down to the last position in [t, *j] whose byte may begin a match
// of the rest, given the atom `gate` that every such match begins with; false
// when there is none. A position where the rest's first atom fails needs no try.
static bool re_give_back_to(const char *gate, const char *p_end, const char *t, const char **j,
                            re_state *st) {
  const re_atom_test a = re_decode_atom(gate, p_end, st->ignore_case);
  const char *k = re_find_backward(a, t, *j);
  const size_t scanned = (size_t)(*j - (k != nullptr ? k : t));
  re_spend(st, a.kind == RE_KIND_CLASS ? (uint64_t)scanned + 1 : re_scan_cost(scanned));
  if (k == nullptr) return false;
  *j = k;
  return true;
}

// A star call whose tries would all repeat tries of the last failed one (same
// atom, rest and nesting; its run ends at the same byte and starts no earlier)
// fails at once. The rest's result at a position depends only on the rest,
// the position and the nesting, so this changes no result; it turns a '.*'
// retried from every occurrence of what precedes it from quadratic into
// linear work.
static bool re_star_repeats_failure(const re_state *st, const char *atom, const char *rest,
                                    const char *rest_end, const char *t, const char *run_end) {
  return st->failed_atom == atom && st->failed_rest == rest && st->failed_rest_end == rest_end &&
         st->failed_depth == st->depth && st->failed_run_end == run_end && st->failed_from <= t;
}

static void re_star_remember_failure(re_state *st, const char *atom, const char *rest,
                                     const char *rest_end, const char *t, const char *run_end) {
  st->failed_atom = atom;
  st->failed_rest = rest;
  st->failed_rest_end = rest_end;
  st->failed_from = t;
  st->failed_run_end = run_end;
  st->failed_depth = st->depth;
}

bool re_match_star(const char *atom, const char *rest, const char *rest_end, const char *t,
                   re_state *st, size_t *out_len) {
  if (!re_enter(st)) return false;
  const char *run_end = re_greedy_run(atom, rest_end, t, st);
  if (re_star_repeats_failure(st, atom, rest, rest_end, t, run_end)) {
    --st->depth;
    return false;
  }
  const char *j = run_end;
  bool rest_barless = false;
  const char *gate = re_required_first_atom(rest, rest_end, st, &rest_barless);
  bool ok = false;
  size_t tail = 0;
  while (!re_stopped(st)) {
    // Skipping a try is only exact while the try itself would not be the one
    // that goes too deep.
    if (gate != nullptr && st->depth < RE_MAX_DEPTH) {
      if (!re_give_back_to(gate, rest_end, t, &j, st)) break;
    }
    if (re_match_from(rest, rest_end, j, st, &tail, rest_barless)) {
      ok = true;
      break;
    }
    if (j == t) break;
    --j;
  }
  if (!ok && !re_stopped(st)) re_star_remember_failure(st, atom, rest, rest_end, t, run_end);
  --st->depth;
  if (ok) *out_len = (size_t)(j - t) + tail;
  return ok;
}
