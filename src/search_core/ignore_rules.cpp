#include "search_core/ignore_rules.h"

#include "grep_core/grow_array.h"
#include "grep_core/posix_class.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

// One path component of an anchored rule: a glob, "**" (any number of
// components), or any single component (the first of a trailing "/**",
// which needs at least one).
enum class segment_kind : uint8_t { glob, any_depth, any_one };

struct segment {
  uint32_t start;  // in the rule's pattern
  uint32_t len;
  segment_kind kind;
};

struct rule {
  char *pattern;  // escapes kept; '!', the anchoring '/' and the trailing '/' removed
  uint32_t len;
  segment *segments;  // anchored rules only
  uint32_t segment_count;
  // A spanning star run (see spanning_run_prefix) followed by more pattern:
  // the path may also be the literal prefix glued to what the rest matches.
  uint32_t glue_prefix;    // the prefix's length, or 0 when there is no glued form
  uint32_t glue_rest;      // where the rest begins in the pattern
  segment *glue_segments;  // the rest's segments, inside `segments`' block
  uint32_t glue_count;
  bool negate;
  bool dir_only;
  bool anchored;
  bool broken;  // an unclosed '[', a trailing '\' or an unknown [:class:]: never matches
};

// True when the class `name` (`n` bytes) holds `c`; `known` says whether the
// name is one of the globs' classes at all.
bool class_holds(const char *name, size_t n, unsigned char c, bool *known) {
  const posix_class *k = posix_class_named(name, n);
  *known = k != nullptr && k->in_globs;
  return *known && posix_class_holds(*k, c);
}

// Matches the bracket expression at p[i] ('[') against `c`. Returns the
// index just past its ']', or 0 when the expression is malformed (unclosed,
// or an unknown class name); `*hit` tells whether `c` is in it.
size_t match_bracket(const char *p, size_t n, size_t i, unsigned char c, bool *hit) {
  ++i;
  bool negate = false;
  if (i < n && (p[i] == '!' || p[i] == '^')) {
    negate = true;
    ++i;
  }
  bool in = false;
  bool first = true;
  while (i < n) {
    unsigned char lo = static_cast<unsigned char>(p[i]);
    if (lo == ']' && !first) {
      *hit = in != negate;
      return i + 1;
    }
    first = false;
    if (lo == '[' && i + 1 < n && p[i + 1] == ':') {
      size_t close = i + 2;
      while (close + 1 < n && !(p[close] == ':' && p[close + 1] == ']')) ++close;
      if (close + 1 < n) {
        bool known = false;
        if (class_holds(p + i + 2, close - (i + 2), c, &known)) in = true;
        if (!known) return 0;
        i = close + 2;
        continue;
      }
    }
    if (lo == '\\') {
      if (++i >= n) return 0;
      lo = static_cast<unsigned char>(p[i]);
    }
    // A range: lo '-' hi, where a '-' before the closing ']' is a member.
    // As in git, lo is a member of its own even when the range is empty.
    if (i + 2 < n && p[i + 1] == '-' && p[i + 2] != ']') {
      size_t j = i + 2;
      if (p[j] == '\\') {
        if (++j >= n) return 0;
      }
      const auto hi = static_cast<unsigned char>(p[j]);
      if (lo == c || (lo <= c && c <= hi)) in = true;
      i = j + 1;
      continue;
    }
    if (lo == c) in = true;
    ++i;
  }
  return 0;
}

// Whether the one-byte item at p[*i] ('?', a bracket, an escape or a literal)
// matches `c`; moves *i past it. False also for a malformed item.
bool item_matches(const char *p, size_t n, size_t *i, unsigned char c) {
  const char head = p[*i];
  if (head == '?') {
    ++*i;
    return true;
  }
  if (head == '[') {
    bool hit = false;
    const size_t next = match_bracket(p, n, *i, c, &hit);
    if (next == 0) return false;
    *i = next;
    return hit;
  }
  if (head == '\\' && *i + 1 < n) {
    *i += 2;
    return static_cast<unsigned char>(p[*i - 1]) == c;
  }
  ++*i;
  return static_cast<unsigned char>(head) == c;
}

// Whether the glob p[0, pn) matches the whole of one component s[0, sn):
// '*' runs over any bytes of it. Greedy, going back only to the last star,
// so the time stays within pn * sn steps.
bool glob_matches(const char *p, size_t pn, const char *s, size_t sn) {
  size_t pi = 0, si = 0;
  size_t star_p = SIZE_MAX, star_s = 0;
  while (si < sn) {
    if (pi < pn && p[pi] == '*') {
      while (pi < pn && p[pi] == '*') ++pi;
      star_p = pi;
      star_s = si;
      continue;
    }
    size_t next = pi;
    if (pi < pn && item_matches(p, pn, &next, static_cast<unsigned char>(s[si]))) {
      pi = next;
      ++si;
      continue;
    }
    if (star_p == SIZE_MAX) return false;
    pi = star_p;
    si = ++star_s;
  }
  while (pi < pn && p[pi] == '*') ++pi;
  return pi == pn;
}

// The components of a relative path, found one at a time.
struct component {
  const char *p;
  size_t n;
};

bool is_separator(char c, char sep) { return c == '/' || c == sep; }

// Whether the anchored rule's segments match the path's components whole:
// "**" takes any number of components. Greedy, going back only to the last
// "**", so the time stays within segments * components glob matches.
bool segments_match(const char *pattern, const segment *segs, uint32_t count,
                    const component *comps, size_t nc) {
  size_t si = 0, ci = 0;
  size_t star_s = SIZE_MAX, star_c = 0;
  while (ci < nc) {
    if (si < count && segs[si].kind == segment_kind::any_depth) {
      star_s = ++si;
      star_c = ci;
      continue;
    }
    if (si < count) {
      const segment &g = segs[si];
      if (g.kind == segment_kind::any_one ||
          glob_matches(pattern + g.start, g.len, comps[ci].p, comps[ci].n)) {
        ++si;
        ++ci;
        continue;
      }
    }
    if (star_s == SIZE_MAX) return false;
    si = star_s;
    ci = ++star_c;
  }
  while (si < count && segs[si].kind == segment_kind::any_depth) ++si;
  return si == count;
}

// Drops trailing spaces that no backslash escapes; a line ending in a lone
// backslash keeps them.
size_t trim_trailing_spaces(const char *p, size_t n) {
  size_t last_space = SIZE_MAX;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == ' ') {
      if (last_space == SIZE_MAX) last_space = i;
      continue;
    }
    if (p[i] == '\\') {
      if (++i >= n) return n;
    }
    last_space = SIZE_MAX;
  }
  return last_space == SIZE_MAX ? n : last_space;
}

// True when a bracket of the glob is unclosed, a class name unknown, or the
// glob ends in a lone backslash: git matches nothing with such a rule.
bool glob_is_broken(const char *p, size_t n) {
  for (size_t i = 0; i < n;) {
    if (p[i] == '\\') {
      if (i + 1 >= n) return true;
      i += 2;
    } else if (p[i] == '[') {
      bool hit = false;
      const size_t next = match_bracket(p, n, i, 0, &hit);
      if (next == 0) return true;
      i = next;
    } else {
      ++i;
    }
  }
  return false;
}

}  // namespace

struct ignore_rules {
  grow_array<rule> list;
};

namespace {

// Where the separator after p[i] lies: the index of the next '/' that is
// neither inside a bracket expression nor escaped (an escaped one, "\/", ends
// the segment at its backslash), or `n`. Sets *broken for an unclosed
// bracket or a trailing backslash.
uint32_t segment_end(const char *p, uint32_t n, uint32_t i, bool *broken) {
  while (i < n) {
    if (p[i] == '/') return i;
    if (p[i] == '\\') {
      if (i + 1 >= n) {
        *broken = true;
        return n;
      }
      if (p[i + 1] == '/') return i;
      i += 2;
    } else if (p[i] == '[') {
      bool hit = false;
      const size_t next = match_bracket(p, n, i, 0, &hit);
      if (next == 0) {
        *broken = true;
        return n;
      }
      i = static_cast<uint32_t>(next);
    } else {
      ++i;
    }
  }
  return n;
}

// The number of unescaped '*' that end the glob p[0, n).
uint32_t trailing_stars(const char *p, uint32_t n) {
  uint32_t stars = 0;
  while (stars < n && p[n - 1 - stars] == '*') ++stars;
  if (stars > 0 && stars < n) {
    // A backslash before the run escapes its first star, unless it is
    // itself escaped.
    uint32_t slashes = 0;
    while (slashes < n - stars && p[n - stars - 1 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 1) --stars;
  }
  return stars;
}

// Where the first wildcard ('*', '?', '[' or '\') of p[0, n) lies, or n.
uint32_t first_wildcard(const char *p, uint32_t n) {
  uint32_t i = 0;
  while (i < n && p[i] != '*' && p[i] != '?' && p[i] != '[' && p[i] != '\\') ++i;
  return i;
}

// Whether a run of two or more stars is the pattern's first wildcard, right
// after a literal prefix that does not end in '/', and ends the component.
// git compares such a prefix apart and then matches the rest from the run as
// if the run began the pattern, so the run spans components: "k**/o" takes
// "k/m/n/o", and also "ko" (the run taking nothing, "/o" glued on). Returns
// the prefix length, or 0 when the pattern has no such run.
uint32_t spanning_run_prefix(const char *p, uint32_t n) {
  const uint32_t w = first_wildcard(p, n);
  if (w == 0 || w >= n || p[w - 1] == '/') return 0;
  uint32_t end = w;
  while (end < n && p[end] == '*') ++end;
  if (end - w < 2) return 0;
  const bool ends_component =
      end == n || p[end] == '/' || (p[end] == '\\' && end + 1 < n && p[end + 1] == '/');
  return ends_component ? w : 0;
}

// Splits p[from, len) into segments at each '/' outside brackets, appending
// them to r->segments. A segment of stars alone is "**" (any number of
// components); a trailing "**" becomes "any one component" then "**". When
// `span_at` is not 0, the star run there (see spanning_run_prefix) becomes
// one star that ends its glob, then "**". Elsewhere a run of stars inside a
// segment is one star.
void append_segments(rule *r, uint32_t from, uint32_t span_at, segment *out, uint32_t *count) {
  const uint32_t first = *count;
  bool spanned_tail = false;
  for (uint32_t start = from;;) {
    const uint32_t end = segment_end(r->pattern, r->len, start, &r->broken);
    const uint32_t len = end - start;
    const uint32_t stars = trailing_stars(r->pattern + start, len);
    const bool last = end >= r->len;
    if (stars >= 2 && stars == len) {
      out[(*count)++] = {start, len, segment_kind::any_depth};
    } else if (span_at != 0 && start < span_at && span_at < end) {
      out[(*count)++] = {start, span_at - start + 1, segment_kind::glob};
      out[(*count)++] = {start, 0, segment_kind::any_depth};
      spanned_tail = last;
    } else {
      out[(*count)++] = {start, len, segment_kind::glob};
    }
    if (last) break;
    start = end + (r->pattern[end] == '\\' ? 2 : 1);
  }
  segment &tail = out[*count - 1];
  if (!spanned_tail && *count > first && tail.kind == segment_kind::any_depth) {
    tail.kind = segment_kind::any_one;
    out[(*count)++] = {tail.start, tail.len, segment_kind::any_depth};
  }
}

// Splits an anchored rule's pattern into its segments, and for a spanning
// run followed by more pattern, the segments of that rest matched on their
// own for the glued form. False when out of memory.
bool split_segments(rule *r) {
  uint32_t count = 1;
  for (uint32_t i = 0; i < r->len; ++i) count += r->pattern[i] == '/';
  r->segments = static_cast<segment *>(malloc((4 * count + 2) * sizeof(segment)));
  if (r->segments == nullptr) return false;
  const uint32_t span_at = spanning_run_prefix(r->pattern, r->len);
  append_segments(r, 0, span_at, r->segments, &r->segment_count);
  if (span_at == 0) return true;
  uint32_t rest = span_at;
  while (rest < r->len && r->pattern[rest] == '*') ++rest;
  if (rest >= r->len) return true;
  rest += r->pattern[rest] == '\\' ? 2 : 1;
  r->glue_prefix = span_at;
  r->glue_rest = rest;
  r->glue_segments = r->segments + r->segment_count;
  append_segments(r, rest, 0, r->glue_segments, &r->glue_count);
  return true;
}

// Parses one line (without its LF) into `r`. False when it holds no rule.
bool parse_line(const char *p, size_t n, rule *r, bool *out_of_memory) {
  *r = rule{};
  if (n > 0 && p[n - 1] == '\r') --n;
  if (n == 0 || p[0] == '#') return false;
  n = trim_trailing_spaces(p, n);
  if (n > 0 && p[0] == '!') {
    r->negate = true;
    ++p;
    --n;
  }
  if (n > 0 && p[n - 1] == '/') {
    r->dir_only = true;
    --n;
  }
  r->anchored = memchr(p, '/', n) != nullptr;
  if (n > 0 && p[0] == '/') {
    ++p;
    --n;
  }
  if (n == 0 || n > UINT32_MAX) return false;
  r->pattern = static_cast<char *>(malloc(n));
  if (r->pattern == nullptr) {
    *out_of_memory = true;
    return false;
  }
  memcpy(r->pattern, p, n);
  r->len = static_cast<uint32_t>(n);
  if (r->anchored) {
    if (!split_segments(r)) {
      free(r->pattern);
      *out_of_memory = true;
      return false;
    }
  } else {
    r->broken = glob_is_broken(r->pattern, r->len);
  }
  return true;
}

void free_rule(rule &r) {
  free(r.pattern);
  free(r.segments);
}

// The components of `path` into `comps` (room for `cap`); the count, or
// SIZE_MAX when there are more than `cap`.
size_t split_path(const char *path, size_t len, char sep, component *comps, size_t cap) {
  size_t count = 0;
  size_t start = 0;
  for (size_t i = 0; i <= len; ++i) {
    if (i < len && !is_separator(path[i], sep)) continue;
    if (i > start) {
      if (count == cap) return SIZE_MAX;
      comps[count++] = {path + start, i - start};
    }
    start = i + 1;
  }
  return count;
}

// Whether the rest of a glued rule, from its start, matches the empty
// string: only "**/" units and then a run of stars can.
bool rest_matches_empty(const char *p, uint32_t from, uint32_t n) {
  for (;;) {
    uint32_t end = from;
    while (end < n && p[end] == '*') ++end;
    if (end == n) return end > from;
    if (end - from < 2 || p[end] != '/') return false;
    from = end + 1;
  }
}

// Deepest path the matcher takes apart on the stack; a deeper one is matched
// by its name alone.
constexpr size_t kMaxComponents = 256;

// Whether `path` is the rule's literal prefix glued to what the rest of the
// pattern matches (see spanning_run_prefix). A rest that begins with a
// separator is left to the rule's main form, which covers it.
bool glued_match(const rule &r, const char *path, size_t len, char sep) {
  if (len < r.glue_prefix) return false;
  for (uint32_t i = 0; i < r.glue_prefix; ++i) {
    const bool same = r.pattern[i] == '/' ? is_separator(path[i], sep) : r.pattern[i] == path[i];
    if (!same) return false;
  }
  const char *rest = path + r.glue_prefix;
  const size_t rest_len = len - r.glue_prefix;
  if (rest_len == 0) return rest_matches_empty(r.pattern, r.glue_rest, r.len);
  if (is_separator(rest[0], sep)) return false;
  component comps[kMaxComponents];
  const size_t nc = split_path(rest, rest_len, sep, comps, kMaxComponents);
  return nc != SIZE_MAX && segments_match(r.pattern, r.glue_segments, r.glue_count, comps, nc);
}

// Whether the anchored rule matches the path taken apart into `comps`.
bool anchored_match(const rule &r, const char *path, size_t len, char sep, const component *comps,
                    size_t nc) {
  if (nc == SIZE_MAX) return false;
  if (segments_match(r.pattern, r.segments, r.segment_count, comps, nc)) return true;
  return r.glue_prefix != 0 && glued_match(r, path, len, sep);
}

}  // namespace

ignore_rules *ignore_rules_new(void) {
  void *block = malloc(sizeof(ignore_rules));
  return block != nullptr ? new (block) ignore_rules{} : nullptr;
}

bool ignore_rules_add_text(ignore_rules *rules, const char *text, size_t len) {
  if (len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
    text += 3;
    len -= 3;
  }
  const char *end = text + len;
  for (const char *line = text; line < end;) {
    const auto *lf = static_cast<const char *>(memchr(line, '\n', static_cast<size_t>(end - line)));
    const char *stop = lf != nullptr ? lf : end;
    rule r;
    bool out_of_memory = false;
    if (parse_line(line, static_cast<size_t>(stop - line), &r, &out_of_memory)) {
      if (!rules->list.push(r)) {
        free_rule(r);
        return false;
      }
    }
    if (out_of_memory) return false;
    line = stop + 1;
  }
  return true;
}

void ignore_rules_free(ignore_rules *rules) {
  if (rules == nullptr) return;
  for (uint32_t i = 0; i < rules->list.count; ++i) free_rule(rules->list.items[i]);
  rules->~ignore_rules();
  free(rules);
}

ignore_verdict ignore_rules_match(const ignore_rules *rules, const char *path, size_t len, char sep,
                                  bool is_dir) {
  if (rules == nullptr || rules->list.count == 0) return IGNORE_NO_MATCH;
  component comps[kMaxComponents];
  const size_t nc = split_path(path, len, sep, comps, kMaxComponents);
  if (nc == 0) return IGNORE_NO_MATCH;
  component name = nc != SIZE_MAX ? comps[nc - 1] : component{path, len};
  if (nc == SIZE_MAX) {  // too deep to take apart: the name alone is matched
    size_t start = len;
    while (start > 0 && !is_separator(path[start - 1], sep)) --start;
    name = {path + start, len - start};
  }
  for (uint32_t i = rules->list.count; i-- > 0;) {
    const rule &r = rules->list.items[i];
    if (r.broken || (r.dir_only && !is_dir)) continue;
    const bool hit = r.anchored ? anchored_match(r, path, len, sep, comps, nc)
                                : glob_matches(r.pattern, r.len, name.p, name.n);
    if (hit) return r.negate ? IGNORE_INCLUDE : IGNORE_EXCLUDE;
  }
  return IGNORE_NO_MATCH;
}
