// The search of a whole line: which start positions get an attempt, and
// which lines need none. It makes the attempts of the definition in order and
// leaves out only attempts that are certain to fail, so the first success is
// the same as the definition's.
#include <string.h>

#include "grep_core/ascii_class.h"
#include "grep_core/byte_scan.h"
#include "grep_core/literal.h"
#include "grep_core/regex.h"
#include "grep_core/regex_parts.h"

// Start positions worth an attempt, learnt from the pattern once per line.
typedef struct re_start_plan {
  bool barless;            // the whole pattern is one alternative, already walked
  const char *gate;        // an atom every match begins with, or null
  re_atom_test gate_test;  // that atom, decoded
  int byte_count;          // > 0: every match begins with one of byte_count bytes:
  unsigned char bytes[2];  // these, when there are at most two,
  uint64_t byte_set[4];    // and in any case this bit set
  const char *run_atom;    // a first atom under '*' or '+' whose run may be skipped
} re_start_plan;

static void re_plan_add_byte(re_start_plan *plan, unsigned char c) {
  uint64_t *word = &plan->byte_set[c >> 6];
  const uint64_t bit = uint64_t{1} << (c & 63);
  if (*word & bit) return;
  *word |= bit;
  if (plan->byte_count < 2) plan->bytes[plan->byte_count] = c;
  ++plan->byte_count;
}

// Fills plan->bytes when every alternative at the top level of [p, p_end)
// must begin with one byte value (up to case, where the atom folds): then a
// start position holding none of them cannot begin a match. Leaves
// byte_count 0 otherwise.
static void re_plan_first_bytes(re_start_plan *plan, const char *p, const char *p_end,
                                re_state *st) {
  for (;;) {
    if (p == p_end || (p_end - p == 1 && *p == '$')) break;  // matches without a byte
    const char *bar = *p == '\\' ? nullptr : re_find_bar(p, p_end, st);
    const char *alt_end = bar != nullptr ? bar : p_end;
    if (alt_end == p || (alt_end - p == 1 && *p == '$')) break;
    const char *atom_end = re_atom_end(p, alt_end);
    const char q = atom_end < alt_end ? *atom_end : '\0';
    unsigned char b;
    bool fold;
    if (q == '*' || q == '?' || !re_single_byte_atom(p, alt_end, st->ignore_case, &b, &fold)) {
      break;
    }
    re_plan_add_byte(plan, fold ? qg_lower(b) : b);
    if (fold && qg_lower(b) != b) re_plan_add_byte(plan, b);
    if (fold && b >= 'a' && b <= 'z') re_plan_add_byte(plan, (unsigned char)(b - ('a' - 'A')));
    if (bar == nullptr) return;
    p = bar + 1;
  }
  plan->byte_count = 0;
  memset(plan->byte_set, 0, sizeof plan->byte_set);
}

static void re_plan_start(re_start_plan *plan, const char *pattern, const char *p_end,
                          re_state *st) {
  memset(plan, 0, sizeof *plan);
  plan->gate = re_required_first_atom(pattern, p_end, st, &plan->barless);
  if (plan->gate != nullptr) plan->gate_test = re_decode_atom(plan->gate, p_end, st->ignore_case);
  bool undivided = plan->barless || (pattern < p_end && *pattern == '\\');
  if (undivided && pattern < p_end) {
    const char *atom_end = re_atom_end(pattern, p_end);
    const char q = atom_end < p_end ? *atom_end : '\0';
    if (q == '*' || q == '+') plan->run_atom = pattern;
  }
  re_plan_first_bytes(plan, pattern, p_end, st);
}

// The first start position at or after `s` worth an attempt, or n + 1.
static size_t re_next_start(const re_start_plan *plan, qg_byte_scan *scan, const char *text,
                            size_t s, size_t n) {
  if (plan->byte_count > 0 && plan->byte_count <= 2) {
    s = qg_byte_scan_next(scan, s);
    return s < n ? s : n + 1;
  }
  if (plan->byte_count > 2) {
    while (s < n) {
      const unsigned char c = (unsigned char)text[s];
      if ((plan->byte_set[c >> 6] >> (c & 63)) & 1) return s;
      ++s;
    }
    return n + 1;
  }
  if (plan->gate != nullptr) {
    s = re_find_forward(&plan->gate_test, text, s, n);
    return s < n ? s : n + 1;
  }
  return s;
}

// After a failed attempt at `s` of a pattern A*R or A+R: every attempt that
// starts inside A's run from s retries R at positions already tried, so the
// next attempt worth making is one past the run's end. Returns that or s + 1.
static size_t re_skip_run(const re_start_plan *plan, const char *text, size_t s, const char *p_end,
                          re_state *st) {
  if (plan->run_atom == nullptr || st->attempt_abandoned || text[s] == '\0') return s + 1;
  const char *k = re_greedy_run(plan->run_atom, p_end, text + s, st);
  return (size_t)(k - text) + 1;
}

// Writes to `lit` (NUL-terminated, at most RE_PREFILTER_MAX bytes) a run of
// bytes that every match of a pattern without any '|' covers in a row: the
// longest run of single-byte atoms that no '*' or '?' makes optional (a '+'
// ends a run after its atom). Returns its length, 0 when there is none.
static size_t re_required_literal(const char *p, const char *p_end, bool ignore_case,
                                  char lit[RE_PREFILTER_MAX + 1]) {
  bool in_run = false;
  size_t best_len = 0, run_len = 0;
  char run_bytes[RE_PREFILTER_MAX];
  while (p < p_end && !(p_end - p == 1 && *p == '$')) {
    const char *atom_end = re_atom_end(p, p_end);
    const char q = atom_end < p_end ? *atom_end : '\0';
    const bool quantified = q == '*' || q == '+' || q == '?';
    unsigned char b;
    bool fold;
    const bool single = re_single_byte_atom(p, p_end, ignore_case, &b, &fold);
    if (single && q != '*' && q != '?') {
      in_run = true;
      if (run_len < RE_PREFILTER_MAX) run_bytes[run_len] = (char)b;
      ++run_len;
    }
    if (!single || quantified) {
      if (run_len > best_len) {
        best_len = run_len < RE_PREFILTER_MAX ? run_len : RE_PREFILTER_MAX;
        memcpy(lit, run_bytes, best_len);
      }
      in_run = false;
      run_len = 0;
    }
    p = quantified ? atom_end + 1 : atom_end;
  }
  if (in_run && run_len > best_len) {
    best_len = run_len < RE_PREFILTER_MAX ? run_len : RE_PREFILTER_MAX;
    memcpy(lit, run_bytes, best_len);
  }
  lit[best_len] = '\0';
  return best_len;
}

// True when the line holds the literal that every match of the alternative
// [p, p_end) covers, or when the alternative has no such literal (or holds a
// '|' of its own, which makes its structure too rich to reason about).
static bool re_alternative_may_match(const char *p, const char *p_end, const char *text,
                                     bool ignore_case) {
  if (memchr(p, '|', (size_t)(p_end - p)) != nullptr) return true;
  char lit[RE_PREFILTER_MAX + 1];
  if (re_required_literal(p, p_end, ignore_case, lit) == 0) return true;
  if (!ignore_case) return strstr(text, lit) != nullptr;
  return fixed_find_first(lit, text, false, false, nullptr, nullptr);
}

// False when the line certainly holds no match: no top-level alternative of
// the pattern finds its literal in the line. Looking for the literals first
// saves the attempts on the many lines of a file that do not match. The
// alternatives are those of the bar walk, so they split exactly as matching
// splits them.
static bool re_line_may_match(const char *p, const char *p_end, const char *text, re_state *st) {
  for (;;) {
    const char *bar = *p == '\\' ? nullptr : re_find_bar(p, p_end, st);
    const char *alt_end = bar != nullptr ? bar : p_end;
    if (re_alternative_may_match(p, alt_end, text, st->ignore_case)) return true;
    if (bar == nullptr) return false;
    p = bar + 1;
  }
}

size_t regex_required_literal(const char *pattern, bool case_sensitive,
                              char lit[RE_PREFILTER_MAX + 1]) {
  lit[0] = '\0';
  if (pattern == nullptr || strchr(pattern, '|') != nullptr) return 0;
  const char *body = *pattern == '^' ? pattern + 1 : pattern;
  return re_required_literal(body, pattern + strlen(pattern), !case_sensitive, lit);
}

static void re_write_result(size_t start, size_t len, int32_t *out_col, int32_t *out_len) {
  if (out_col != nullptr) *out_col = (int32_t)(start + 1);
  if (out_len != nullptr) *out_len = (int32_t)len;
}

bool re_search_line(const char *pattern, const char *text, bool ignore_case, re_state *st,
                    int32_t *out_col, int32_t *out_len) {
  const size_t n = strlen(text);
  re_state_init(st, pattern, n, ignore_case);
  const char *p_end = pattern + strlen(pattern);
  size_t len = 0;
  const char *body = *pattern == '^' ? pattern + 1 : pattern;  // without the anchor
  if (!re_line_may_match(body, p_end, text, st)) return false;
  if (*pattern == '^') {
    if (!re_match_here(pattern + 1, p_end, text, st, &len)) return false;
    re_write_result(0, len, out_col, out_len);
    return true;
  }
  re_start_plan plan;
  re_plan_start(&plan, pattern, p_end, st);
  qg_byte_scan scan = {};
  if (plan.byte_count > 0 && plan.byte_count <= 2) {
    qg_byte_scan_init2(&scan, text, n, plan.bytes[0], plan.bytes[plan.byte_count - 1]);
  }
  size_t s = 0;
  while ((s = re_next_start(&plan, &scan, text, s, n)) <= n) {
    st->attempt_abandoned = false;
    if (re_match_from(pattern, p_end, text + s, st, &len, plan.barless)) {
      re_write_result(s, len, out_col, out_len);
      return true;
    }
    if (st->line_exhausted) return false;
    s = re_skip_run(&plan, text, s, p_end, st);
  }
  return false;
}

bool regex_find_first(const char *pattern, const char *text, bool case_sensitive, int32_t *out_col,
                      int32_t *out_len) {
  if (pattern == nullptr || text == nullptr) return false;
  re_state st;
  return re_search_line(pattern, text, !case_sensitive, &st, out_col, out_len);
}
