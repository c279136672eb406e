#include "search_core/scan.h"

#include "grep_core/ascii_class.h"
#include "grep_core/grow_array.h"
#include "grep_core/regex_dfa.h"
#include "grep_core/regex_program.h"
#include "grep_core/text_lines.h"
#include "grep_core/unicode_props.h"
#include "grep_core/utf8.h"

#include <stdlib.h>
#include <string.h>

#include <new>

struct scanner {
  const char *pattern;
  const grep_opts *opts;
  const re_program *program;
  re_scratch *scratch;
  re_dfa *dfa;  // finds the lines that hold a match, where the program has one
  scan_should_stop stop;
  void *stop_ctx;
  bool never;       // no line can match (an empty literal, or a needle holding CR or LF)
  bool has_needle;  // every match covers the needle
  qg_finder finder;
  bool has_set;  // every match covers one of the set's strings (a pattern's literals)
  qg_set_finder set;
  size_t set_longest;
  grow_array<text_span> window;   // the context window being reported
  grow_array<match_span> subs;    // the submatches being reported
  grow_array<match_span> groups;  // where their groups took part
  re_group_span *group_spans;     // re_group_count of them, for re_find_groups
  bool finding;  // with "invert_match": the matches found only mark the lines passed over
};

namespace {

// A one-byte needle at least this common (qg_byte_rank) is in most lines of
// source text: the DFA reads the whole text faster than the needle picks
// lines out of it.
constexpr unsigned kWeakNeedleRank = 240;

bool weak_needle(const char *needle, size_t n, bool case_sensitive) {
  if (n != 1) return false;
  const unsigned char c = static_cast<unsigned char>(needle[0]);
  unsigned rank = qg_byte_rank(c);
  if (!case_sensitive && qg_lower(c) >= 'a' && qg_lower(c) <= 'z') {
    const unsigned upper = qg_byte_rank(static_cast<unsigned char>(qg_lower(c) - ('a' - 'A')));
    const unsigned lower = qg_byte_rank(qg_lower(c));
    rank = upper > lower ? upper : lower;
  }
  return rank >= kWeakNeedleRank;
}

bool holds_line_break(const char *p, size_t n) {
  return memchr(p, '\n', n) != nullptr || memchr(p, '\r', n) != nullptr;
}

bool stop_asked(scanner *s) { return s->stop != nullptr && s->stop(s->stop_ctx); }

// The needle's first hit in [from, end), a window at a time with a look at
// the stop check between windows; null when there is none or the scan must
// stop (*stopped then set).
const char *find_needle(scanner *s, const char *from, const char *end, bool *stopped) {
  const size_t n = s->finder.n;
  while (from < end) {
    const size_t left = static_cast<size_t>(end - from);
    const size_t window = left <= QG_SCAN_STOP_WINDOW + n ? left : QG_SCAN_STOP_WINDOW + n - 1;
    const char *hit = qg_finder_find(&s->finder, from, window);
    if (hit != nullptr || window == left) return hit;
    from += window - (n - 1);
    if (stop_asked(s)) {
      *stopped = true;
      return nullptr;
    }
  }
  return nullptr;
}

// The first place in [from, end) where one of the set's strings begins, as
// find_needle looks: a window at a time. Writes the string's length.
const char *find_set_member(scanner *s, const char *from, const char *end, bool *stopped,
                            size_t *len) {
  const size_t overlap = s->set_longest - 1;
  while (from < end) {
    const size_t left = static_cast<size_t>(end - from);
    const size_t window =
        left <= QG_SCAN_STOP_WINDOW + overlap ? left : QG_SCAN_STOP_WINDOW + overlap;
    int which = 0;
    const char *hit = qg_set_finder_find(&s->set, from, window, &which);
    if (hit != nullptr) {
      *len = s->set.lens[which];
      return hit;
    }
    if (window == left) return nullptr;
    from += window - overlap;
    if (stop_asked(s)) {
      *stopped = true;
      return nullptr;
    }
  }
  return nullptr;
}

// The next hit of the needle or the set in [from, end), its length written.
const char *next_hit(scanner *s, const char *from, const char *end, bool *stopped, size_t *len) {
  if (s->has_set) return find_set_member(s, from, end, stopped, len);
  *len = s->finder.n;
  return find_needle(s, from, end, stopped);
}

// True when the `n` bytes at `hit` (in the text [text, limit)) stand as a
// whole word: the bytes just before and after them (a line break, the
// text's start or its end counting as non-word) are not word bytes; with
// `unicode`, the characters there are not word characters. `hit[n]` is
// readable.
bool whole_word_at(const char *text, const char *limit, const char *hit, size_t n, bool unicode) {
  if (unicode) {
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    const auto before = static_cast<size_t>(hit - text), after = before + n;
    if (before > 0 && uc_is_word(qg_utf8_unit_before(t, before))) return false;
    const auto end = static_cast<size_t>(limit - text);
    return after >= end || !uc_is_word(qg_utf8_unit_at(t, end, after));
  }
  if (hit > text && qg_is_word(static_cast<unsigned char>(hit[-1]))) return false;
  return !qg_is_word(static_cast<unsigned char>(hit[n]));
}

// Fills the scanner's window with up to `before` lines before the line
// [start, stop), the line itself, and up to `after` lines after it, in file
// order. A wide window over a large text is gathered with a look at the stop
// check every QG_SCAN_STOP_WINDOW bytes it spans, so that a time limit holds
// however large `before` and `after` are. SCAN_STOPPED when the check ended
// it, SCAN_NO_MEMORY when the window cannot grow.
scan_result collect_window(scanner *s, const char *text, const char *end, const char *start,
                           const char *stop, int64_t before, int64_t after) {
  grow_array<text_span> &window = s->window;
  window.count = 0;
  const char *checked = start;  // where the stop check was last asked, going back
  // Lines before, gathered backwards, then put in order.
  const char *cur = start;
  for (int64_t k = 0; k < before && cur > text; ++k) {
    const char *brk = cur - 1;  // the ending of the line before
    if (*brk == '\n' && brk > text && brk[-1] == '\r') --brk;
    const char *prev = qg_line_start(brk, text);
    if (!window.push({prev, static_cast<size_t>(brk - prev)})) return SCAN_NO_MEMORY;
    cur = prev;
    if (static_cast<size_t>(checked - cur) >= QG_SCAN_STOP_WINDOW) {
      checked = cur;
      if (stop_asked(s)) return SCAN_STOPPED;
    }
  }
  for (size_t i = 0, j = window.count; i + 1 < j; ++i, --j) {
    const text_span t = window.items[i];
    window.items[i] = window.items[j - 1];
    window.items[j - 1] = t;
  }
  if (!window.push({start, static_cast<size_t>(stop - start)})) return SCAN_NO_MEMORY;
  const char *line_end = stop;
  checked = stop;
  for (int64_t k = 0; k < after; ++k) {
    const char *next = qg_line_next(line_end, end);
    if (next >= end) break;
    line_end = qg_line_end(next, end, true);
    if (!window.push({next, static_cast<size_t>(line_end - next)})) return SCAN_NO_MEMORY;
    if (static_cast<size_t>(line_end - checked) >= QG_SCAN_STOP_WINDOW) {
      checked = line_end;
      if (stop_asked(s)) return SCAN_STOPPED;
    }
  }
  return SCAN_DONE;
}

// Every further match of a literal in the line [start, stop) after the
// first, at `first`: each occurrence that does not overlap the one before
// (and stands as a whole word where the options ask for it).
bool collect_literal_subs(scanner *s, const char *text, const char *start, const char *stop,
                          const char *first) {
  const size_t n = s->finder.n;
  const bool whole_word = s->opts->whole_word;
  const char *from = first + n;
  while (from < stop) {
    const char *hit = qg_finder_find(&s->finder, from, static_cast<size_t>(stop - from));
    if (hit == nullptr) break;
    if (whole_word && !whole_word_at(text, stop, hit, n, s->opts->unicode)) {
      from = hit + 1;
      continue;
    }
    const match_span span = {static_cast<int32_t>(hit - start + 1), static_cast<int32_t>(n)};
    if (!s->subs.push(span)) return false;
    from = hit + n;
  }
  return true;
}

// Every further match of a pattern in the line [start, stop) after the
// first: each leftmost-first match that starts where the one before ended, or
// one byte further on after an empty match.
scan_result collect_pattern_subs(scanner *s, const char *start, const char *stop) {
  const size_t len = static_cast<size_t>(stop - start);
  for (;;) {
    const match_span last = s->subs.back();
    size_t from = static_cast<size_t>(last.col - 1) + static_cast<size_t>(last.length);
    if (last.length == 0) ++from;
    if (from > len) return SCAN_DONE;
    int32_t col = 0, length = 0;
    const re_result r = re_find_from(s->program, s->scratch, start, len, from, &col, &length);
    if (r == RE_STOPPED) return SCAN_STOPPED;
    if (r == RE_NO_MEMORY) return SCAN_NO_MEMORY;
    if (r == RE_NO_MATCH) return SCAN_DONE;
    if (!s->subs.push(match_span{col, length})) return SCAN_NO_MEMORY;
  }
}

// Fills the scanner's submatches for the line [start, stop) whose first match
// is (col, length).
scan_result collect_subs(scanner *s, const char *text, const char *start, const char *stop,
                         int32_t col, int32_t length) {
  s->subs.count = 0;
  if (!s->subs.push(match_span{col, length})) return SCAN_NO_MEMORY;
  if (s->opts->regex) return collect_pattern_subs(s, start, stop);
  return collect_literal_subs(s, text, start, stop, start + col - 1) ? SCAN_DONE : SCAN_NO_MEMORY;
}

// Appends where each group took part in the match at `col` (`length`
// bytes) of the line [start, stop) to the scanner's groups.
scan_result collect_groups_of(scanner *s, const char *start, const char *stop, int32_t col,
                              int32_t length) {
  const size_t begin = static_cast<size_t>(col - 1);
  const re_result r =
      re_find_groups(s->program, s->scratch, start, static_cast<size_t>(stop - start), begin,
                     begin + static_cast<size_t>(length), s->group_spans);
  if (r == RE_STOPPED) return SCAN_STOPPED;
  if (r != RE_MATCH) return SCAN_NO_MEMORY;
  const uint32_t count = re_group_count(s->program);
  for (uint32_t g = 0; g < count; ++g) {
    const re_group_span span = s->group_spans[g];
    const match_span out = span.start == RE_GROUP_UNSET
                               ? match_span{0, 0}
                               : match_span{static_cast<int32_t>(span.start + 1),
                                            static_cast<int32_t>(span.end - span.start)};
    if (!s->groups.push(out)) return SCAN_NO_MEMORY;
  }
  return SCAN_DONE;
}

// Fills the scanner's groups for the first match (col, length) of the line
// [start, stop) and, when `m` has submatches, for each further one.
scan_result collect_groups(scanner *s, const char *start, const char *stop, int32_t col,
                           int32_t length, scan_match *m) {
  s->groups.count = 0;
  const size_t matches = m->submatch_count > 0 ? m->submatch_count : 1;
  for (size_t i = 0; i < matches; ++i) {
    const match_span at = m->submatch_count > 0 ? m->submatches[i] : match_span{col, length};
    const scan_result r = collect_groups_of(s, start, stop, at.col, at.length);
    if (r != SCAN_DONE) return r;
  }
  m->groups = s->groups.items;
  m->group_span_count = s->groups.count;
  m->group_count = re_group_count(s->program);
  m->group_names = s->program->group_names;
  return SCAN_DONE;
}

// Emits the match at `col` (`length` bytes) of line `line_no`, [start,
// stop), with its window and its submatches when the options ask for them.
scan_result report(scanner *s, const char *text, const char *end, int64_t line_no, int32_t col,
                   int32_t length, const char *start, const char *stop, scan_emit emit, void *ctx) {
  scan_match m = {};
  m.line_no = static_cast<int32_t>(line_no);
  m.col = col;
  m.length = length;
  m.line = {start, static_cast<size_t>(stop - start)};
  if (s->finding) return emit(ctx, &m) ? SCAN_DONE : SCAN_STOPPED;
  const int64_t before = grep_opts_before(s->opts), after = grep_opts_after(s->opts);
  if (before > 0 || after > 0) {
    const scan_result r = collect_window(s, text, end, start, stop, before, after);
    if (r != SCAN_DONE) return r;
    m.context = s->window.items;
    m.context_count = s->window.count;
  }
  if (s->opts->submatches && col > 0) {
    const scan_result r = collect_subs(s, text, start, stop, col, length);
    if (r != SCAN_DONE) return r;
    m.submatches = s->subs.items;
    m.submatch_count = s->subs.count;
  }
  if (s->group_spans != nullptr && col > 0) {
    const scan_result r = collect_groups(s, start, stop, col, length, &m);
    if (r != SCAN_DONE) return r;
  }
  return emit(ctx, &m) ? SCAN_DONE : SCAN_STOPPED;
}

// Matches the pattern against the line [line, stop), number `line_no`, and
// reports its match when it has one.
scan_result match_line(scanner *s, const char *text, const char *end, int64_t line_no,
                       const char *line, const char *stop, scan_emit emit, void *ctx) {
  int32_t col = 0, length = 0;
  const re_result r =
      re_find(s->program, s->scratch, line, static_cast<size_t>(stop - line), &col, &length);
  if (r == RE_STOPPED) return SCAN_STOPPED;
  if (r == RE_NO_MEMORY) return SCAN_NO_MEMORY;
  if (r == RE_NO_MATCH) return SCAN_DONE;
  if (s->opts->whole_line && (col != 1 || line + length != stop)) return SCAN_DONE;
  return report(s, text, end, line_no, col, length, line, stop, emit, ctx);
}

// Literal searches and patterns with a needle: from hit to hit.
scan_result scan_by_needle(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx) {
  const char *const end = text + len;
  const bool literal = !s->opts->regex;
  const bool whole_word = literal && s->opts->whole_word;
  bool use_dfa = !literal && s->dfa != nullptr;
  if (use_dfa) re_dfa_begin_text(s->dfa);
  const char *pos = text;
  const char *counted = text;  // line breaks before here are in line_no
  const char *line_start = text;
  int64_t line_no = 1;
  while (pos < end) {
    bool stopped = false;
    size_t n = 0;
    const char *hit = next_hit(s, pos, end, &stopped, &n);
    if (stopped) return SCAN_STOPPED;
    if (hit == nullptr) break;
    if (whole_word && !whole_word_at(text, end, hit, n, s->opts->unicode)) {
      pos = hit + 1;  // overlapping occurrences are considered
      continue;
    }
    const size_t breaks = qg_count_line_breaks(counted, hit);
    if (breaks > 0) {
      line_no += static_cast<int64_t>(breaks);
      line_start = qg_line_start(hit, counted);
    }
    counted = hit;
    const char *stop = qg_line_end(hit + n, end, true);
    if (literal && s->opts->whole_line && (hit != line_start || hit + n != stop)) {
      pos = stop;  // a later hit in the line cannot start it
      continue;
    }
    int32_t col = static_cast<int32_t>(hit - line_start + 1);
    int32_t length = static_cast<int32_t>(n);
    bool matched = true;
    bool bounded = false;  // col and length are the line's first match
    if (use_dfa) {
      // The bounds DFAs give the line's first match, or its absence, in
      // one pass where they can tell.
      const re_result r =
          re_find_by_dfa(s->program, s->scratch, line_start, static_cast<size_t>(stop - line_start),
                         &col, &length, &bounded);
      if (r == RE_STOPPED) return SCAN_STOPPED;
      matched = !bounded || r == RE_MATCH;
    }
    if (use_dfa && !bounded) {
      // One pass of the DFA rules out a picked line that holds no match;
      // once it gives up, the text's other lines go to the exact matcher.
      const re_dfa_result d =
          re_dfa_line(s->dfa, line_start, static_cast<size_t>(stop - line_start));
      if (d == RE_DFA_STOPPED) return SCAN_STOPPED;
      use_dfa = d != RE_DFA_GAVE_UP;
      matched = d != RE_DFA_NO_MATCH;
    }
    if (matched) {
      const scan_result r =
          literal || bounded
              ? report(s, text, end, line_no, col, length, line_start, stop, emit, ctx)
              : match_line(s, text, end, line_no, line_start, stop, emit, ctx);
      if (r != SCAN_DONE) return r;
    }
    pos = stop;  // the rest of the line needs no look: one match per line
  }
  return SCAN_DONE;
}

// Patterns without a needle and without a DFA: every line from `line` (the
// start of line `line_no`) on is tried.
scan_result scan_every_line(scanner *s, const char *text, size_t len, const char *line,
                            int64_t line_no, scan_emit emit, void *ctx) {
  const char *const end = text + len;
  const char *checked = line;  // where the stop check was last asked
  while (line < end) {
    const char *stop = qg_line_end(line, end, true);
    const scan_result r = match_line(s, text, end, line_no, line, stop, emit, ctx);
    if (r != SCAN_DONE) return r;
    line = qg_line_next(stop, end);
    ++line_no;
    if (static_cast<size_t>(line - checked) >= QG_SCAN_STOP_WINDOW) {
      checked = line;
      if (stop_asked(s)) return SCAN_STOPPED;
    }
  }
  return SCAN_DONE;
}

// Patterns without a needle, with a DFA: one pass over the whole text finds
// the lines that hold a match, a window at a time with a look at the stop
// check between windows, and only those lines go to the exact matcher (for
// the column, the length and the submatches). When the DFA gives up on the
// text, the exact matcher takes every line from the one it stood in.
scan_result scan_by_dfa(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx) {
  const char *const end = text + len;
  const char *counted = text;  // a line start; line breaks before it are in line_no
  int64_t line_no = 1;
  size_t pos = 0, to = 0, checked = 0;
  re_dfa_begin_text(s->dfa);
  for (;;) {
    // Windows keep their bounds until they are read, so what the DFA read
    // ahead in one stays of use after a match.
    if (pos >= to) to = len - pos > QG_SCAN_STOP_WINDOW ? pos + QG_SCAN_STOP_WINDOW : len;
    size_t at = 0;
    const re_dfa_result d = re_dfa_scan(s->dfa, text, len, pos, to, &at);
    if (d == RE_DFA_STOPPED) return SCAN_STOPPED;
    if (d == RE_DFA_NO_MATCH) {
      if (to == len) return SCAN_DONE;
      pos = to;
    } else {
      const char *line = qg_line_start(text + at, counted);
      line_no += static_cast<int64_t>(qg_count_line_breaks(counted, line));
      counted = line;
      if (d == RE_DFA_GAVE_UP) return scan_every_line(s, text, len, line, line_no, emit, ctx);
      const char *stop = qg_line_end(line, end, true);
      const scan_result r = match_line(s, text, end, line_no, line, stop, emit, ctx);
      if (r != SCAN_DONE) return r;
      const char *next = qg_line_next(stop, end);
      if (next >= end) return SCAN_DONE;
      pos = static_cast<size_t>(next - text);
      re_dfa_at_line_start(s->dfa);
    }
    if (pos - checked >= QG_SCAN_STOP_WINDOW) {
      checked = pos;
      if (stop_asked(s)) return SCAN_STOPPED;
    }
  }
}

// Makes the program's literals the scanner's set: those a line can hold
// (a literal with CR or LF is in no line, and a match that needs it in none
// either), or no line at all when none is left.
void use_literal_set(scanner *s, const re_program *program) {
  const char *needles[RE_MAX_PREFILTER_LITERALS];
  size_t lens[RE_MAX_PREFILTER_LITERALS];
  int count = 0;
  for (int i = 0; i < program->literal_count; ++i) {
    if (holds_line_break(program->literals[i], program->literal_lens[i])) continue;
    needles[count] = program->literals[i];
    lens[count++] = program->literal_lens[i];
    if (program->literal_lens[i] > s->set_longest) s->set_longest = program->literal_lens[i];
  }
  if (count == 0) {
    s->never = true;
    return;
  }
  qg_set_finder_init(&s->set, needles, lens, count, !program->fold);
  s->has_set = true;
}

// The scan of the lines that hold no match: the matches a scan finds mark
// the lines passed over, and every line between them is reported (column 0,
// no submatches), with its context as a match's.
struct inverted_scan {
  scanner *s;
  const char *text;
  const char *end;
  const char *line;  // the first line not yet reported or passed over
  int64_t line_no;
  scan_emit emit;
  void *ctx;
  scan_result result;
};

// Reports each line from inv->line up to `until` (a line start, or the
// text's end). SCAN_STOPPED when the emit or the stop check ended it.
scan_result report_lines_before(inverted_scan *inv, const char *until) {
  scanner *s = inv->s;
  const char *checked = inv->line;
  s->finding = false;
  scan_result r = SCAN_DONE;
  while (r == SCAN_DONE && inv->line < until) {
    const char *stop = qg_line_end(inv->line, inv->end, true);
    r = report(s, inv->text, inv->end, inv->line_no, 0, 0, inv->line, stop, inv->emit, inv->ctx);
    inv->line = qg_line_next(stop, inv->end);
    ++inv->line_no;
    if (r == SCAN_DONE && static_cast<size_t>(inv->line - checked) >= QG_SCAN_STOP_WINDOW) {
      checked = inv->line;
      if (stop_asked(s)) r = SCAN_STOPPED;
    }
  }
  s->finding = true;
  return r;
}

// A matched line: the lines before it are reported, it is passed over.
bool pass_over_match(void *ctx, const scan_match *m) {
  auto *inv = static_cast<inverted_scan *>(ctx);
  inv->result = report_lines_before(inv, m->line.p);
  if (inv->result != SCAN_DONE) return false;
  inv->line = qg_line_next(m->line.p + m->line.n, inv->end);
  inv->line_no = m->line_no + 1;
  return true;
}

scan_result scan_matches(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx);

scan_result scan_inverted(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx) {
  inverted_scan inv = {s, text, text + len, text, 1, emit, ctx, SCAN_DONE};
  s->finding = true;
  scan_result r =
      s->never || len == 0 ? SCAN_DONE : scan_matches(s, text, len, pass_over_match, &inv);
  if (r == SCAN_STOPPED && inv.result != SCAN_DONE) r = inv.result;
  if (r == SCAN_DONE) r = report_lines_before(&inv, inv.end);
  s->finding = false;
  return r;
}

// The scan of the lines that hold a match, by the fastest way the pattern
// allows.
scan_result scan_matches(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx) {
  if (s->has_needle) return scan_by_needle(s, text, len, emit, ctx);
  if (s->dfa != nullptr) return scan_by_dfa(s, text, len, emit, ctx);
  return scan_every_line(s, text, len, text, 1, emit, ctx);
}

}  // namespace

scanner *scanner_new(const char *pattern, const grep_opts *opts, const re_program *program,
                     scan_should_stop stop, void *stop_ctx) {
  auto *s = new (std::nothrow) scanner();
  if (s == nullptr) return nullptr;
  s->pattern = pattern;
  s->opts = opts;
  s->program = program;
  s->stop = stop;
  s->stop_ctx = stop_ctx;
  const char *needle = pattern;
  size_t n = strlen(pattern);
  bool case_sensitive = opts->case_sensitive;
  if (opts->regex) {
    s->scratch = re_scratch_new(program);
    if (s->scratch == nullptr) {
      scanner_free(s);
      return nullptr;
    }
    re_scratch_set_stop(s->scratch, stop, stop_ctx);
    if (opts->captures && re_group_count(program) > 0) {
      s->group_spans =
          static_cast<re_group_span *>(malloc(re_group_count(program) * sizeof(re_group_span)));
      if (s->group_spans == nullptr) {
        scanner_free(s);
        return nullptr;
      }
    }
    s->dfa = re_dfa_new(program);  // none: the exact matcher alone, as fast as it goes
    if (s->dfa != nullptr) re_dfa_set_stop(s->dfa, stop, stop_ctx);
    // The program's literals, whatever the syntax: one is the needle,
    // several the set.
    n = program->literal_count == 1 ? program->literal_lens[0] : 0;
    needle = program->literals[0];
    case_sensitive = !program->fold;
    s->never = n > 0 && holds_line_break(needle, n);
    if (n == 0 && program->literal_count >= 2) use_literal_set(s, program);
  } else {
    // A line holds no CR or LF, so a literal holding one matches none; the
    // empty literal matches no line either.
    s->never = n == 0 || holds_line_break(needle, n);
  }
  // With a DFA, a needle that picks most lines is no help.
  if (s->dfa != nullptr && weak_needle(needle, n, case_sensitive)) n = 0;
  s->has_needle = n > 0 || s->has_set;
  qg_finder_init(&s->finder, needle, n, case_sensitive);
  return s;
}

void scanner_free(scanner *s) {
  if (s == nullptr) return;
  re_scratch_free(s->scratch);
  re_dfa_free(s->dfa);
  free(s->group_spans);
  delete s;
}

scan_result scanner_scan(scanner *s, const char *text, size_t len, scan_emit emit, void *ctx) {
  if (s->opts->invert_match) return scan_inverted(s, text, len, emit, ctx);
  if (s->never || len == 0) return SCAN_DONE;
  return scan_matches(s, text, len, emit, ctx);
}
