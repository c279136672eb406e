// Reading the standard syntax: one pass over the pattern with an explicit
// stack of open groups, so nothing recurses with the pattern. Items of the
// alternative being read and the finished alternatives of each open group
// sit on two shared stacks; a group's frame remembers where its part of each
// begins.
#include "grep_core/regex_standard_parse.h"

#include "grep_core/grow_array.h"
#include "grep_core/posix_class.h"
#include "grep_core/unicode_props.h"
#include "grep_core/utf8.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

namespace {

// Every code point a unit can be: the valid ones (no surrogates) and the
// bytes that are not part of valid UTF-8.
constexpr re_range kUniverse[] = {
    {0, 0xD7FF}, {RE_INVALID_FIRST, RE_INVALID_LAST}, {0xE000, 0x10FFFF}};

// A set of code points under construction: ranges in any order until
// normalised.
struct cp_set {
  grow_array<re_range> r;

  bool add(uint32_t lo, uint32_t hi) { return r.push(re_range{lo, hi}); }

  // uc_emit's form of add.
  static bool add_to(void *set, uint32_t lo, uint32_t hi) {
    return static_cast<cp_set *>(set)->add(lo, hi);
  }

  // Sorts and merges overlapping and adjacent ranges.
  void normalise() {
    if (r.count < 2) return;
    qsort(r.items, r.count, sizeof(re_range), [](const void *a, const void *b) {
      const auto *x = static_cast<const re_range *>(a);
      const auto *y = static_cast<const re_range *>(b);
      return x->lo < y->lo ? -1 : (x->lo > y->lo ? 1 : 0);
    });
    uint32_t out = 0;
    for (uint32_t i = 1; i < r.count; ++i) {
      re_range &last = r.items[out];
      if (r.items[i].lo <= last.hi || r.items[i].lo == last.hi + 1) {
        if (r.items[i].hi > last.hi) last.hi = r.items[i].hi;
      } else {
        r.items[++out] = r.items[i];
      }
    }
    r.count = out + 1;
  }

  // Adds the other case of every ASCII letter in the set.
  bool fold_ascii() {
    const uint32_t n = r.count;
    for (uint32_t i = 0; i < n; ++i) {
      const re_range x = r.items[i];
      for (uint32_t base : {uint32_t{'A'}, uint32_t{'a'}}) {
        const uint32_t lo = x.lo > base ? x.lo : base;
        const uint32_t hi = x.hi < base + 25 ? x.hi : base + 25;
        if (lo > hi) continue;
        const uint32_t other = base == 'A' ? 'a' : 'A';
        if (!add(lo - base + other, hi - base + other)) return false;
      }
    }
    normalise();
    return true;
  }

  // Adds every partner under Unicode's simple case folding of the set's
  // code points.
  bool fold_unicode() {
    const uint32_t n = r.count;
    for (uint32_t i = 0; i < n; ++i) {
      if (!uc_fold_partners(r.items[i].lo, r.items[i].hi, add_to, this)) return false;
    }
    normalise();
    return true;
  }

  // Folds as `unicode` says: Unicode's simple case folding or ASCII's.
  bool fold(bool unicode) { return unicode ? fold_unicode() : fold_ascii(); }

  // Adds every range of `other`.
  bool add_all(const cp_set &other) {
    for (uint32_t i = 0; i < other.r.count; ++i) {
      if (!add(other.r.items[i].lo, other.r.items[i].hi)) return false;
    }
    return true;
  }

  // Replaces the (normalised) set by the units it does not hold.
  bool complement() {
    grow_array<re_range> out;
    uint32_t i = 0;
    for (const re_range &u : kUniverse) {
      uint32_t next = u.lo;  // first unit of u not yet placed
      while (i < r.count && r.items[i].hi < u.lo) ++i;
      for (uint32_t j = i; j < r.count && r.items[j].lo <= u.hi; ++j) {
        if (r.items[j].lo > next && !out.push(re_range{next, r.items[j].lo - 1})) return false;
        if (r.items[j].hi >= next) next = r.items[j].hi + 1;
      }
      if (next <= u.hi && !out.push(re_range{next, u.hi})) return false;
    }
    free(r.items);
    r.count = out.count;
    r.capacity = out.capacity;
    r.items = out.release();
    return true;
  }
};

// The flags a group, or the rest of the enclosing one, is read with.
struct flag_set {
  bool fold;
  bool verbose;
  bool unicode;  // (?u): classes, word boundaries and folding follow Unicode's properties
};

// One open group: where its items and finished alternatives begin on the
// shared stacks, its flags, and what its last item allows.
struct frame {
  uint32_t items_begin;
  uint32_t branches_begin;
  bool fold;
  bool verbose;  // (?x): white space and '#' comments between items are no part of the pattern
  bool unicode;  // (?u)
  size_t open_at;
  bool last_repeatable;  // an item stands last that a quantifier may follow
  bool last_quantified;  // that item was made by a quantifier
  uint32_t group;        // the capturing group's number, or 0 for one that captures nothing
};

struct parser {
  const char *P;
  size_t m;
  size_t pos = 0;
  re_syntax_error *error;
  bool no_memory = false;
  grow_array<re_node> nodes;
  grow_array<re_range> ranges;
  grow_array<uint32_t> items;     // the items of open alternatives
  grow_array<uint32_t> branches;  // the finished alternatives of open groups
  grow_array<frame> frames;
  grow_array<re_range> names;  // each capturing group's name, as (offset, length) into P

  // Records the first fault; false, to return at once.
  bool fail(const char *what, size_t at) {
    snprintf(error->what, sizeof error->what, "%s", what);
    error->at = at;
    return false;
  }

  bool fail_escape(const char *what, size_t at, size_t len) {
    snprintf(error->what, sizeof error->what, "%s \\%.*s", what, static_cast<int>(len), P + at + 1);
    error->at = at;
    return false;
  }

  bool oom() {
    no_memory = true;
    return false;
  }

  // A new node of `kind`; RE_NO_NODE when out of memory.
  uint32_t node(re_node_kind kind) {
    re_node n = {};
    n.kind = static_cast<uint8_t>(kind);
    n.first_child = n.next_sibling = RE_NO_NODE;
    n.nullable = kind == RE_NODE_EMPTY || kind == RE_NODE_ASSERT;
    if (!nodes.push(n)) {
      no_memory = true;
      return RE_NO_NODE;
    }
    return nodes.count - 1;
  }

  uint32_t unit(cp_set &set, bool fold) {
    set.normalise();
    if (fold && !set.fold(frames.back().unicode)) {
      no_memory = true;
      return RE_NO_NODE;
    }
    const uint32_t id = node(RE_NODE_UNIT);
    if (id == RE_NO_NODE) return id;
    nodes.items[id].range_begin = ranges.count;
    nodes.items[id].range_count = set.r.count;
    for (uint32_t i = 0; i < set.r.count; ++i) {
      if (!ranges.push(set.r.items[i])) {
        no_memory = true;
        return RE_NO_NODE;
      }
    }
    return id;
  }

  // Pushes `id` as the last item of the alternative being read.
  bool push_item(uint32_t id, bool repeatable) {
    if (id == RE_NO_NODE) return false;
    if (!items.push(id)) return oom();
    frames.back().last_repeatable = repeatable;
    frames.back().last_quantified = false;
    return true;
  }

  // The node that the items [begin, items.count) make as one alternative,
  // taken off the stack.
  uint32_t close_items(uint32_t begin) {
    const uint32_t n = items.count - begin;
    uint32_t id;
    if (n == 0) {
      id = node(RE_NODE_EMPTY);
    } else if (n == 1) {
      id = items.items[begin];
    } else {
      id = node(RE_NODE_CONCAT);
      if (id != RE_NO_NODE) link_children(id, items.items + begin, n, true);
    }
    items.count = begin;
    return id;
  }

  // Makes the `n` nodes at `kids` the children of `parent` and works out
  // whether it is nullable: all children (`all`) or any child.
  void link_children(uint32_t parent, const uint32_t *kids, uint32_t n, bool all) {
    bool nullable = all;
    for (uint32_t i = 0; i < n; ++i) {
      nodes.items[kids[i]].next_sibling = i + 1 < n ? kids[i + 1] : RE_NO_NODE;
      const bool kid = nodes.items[kids[i]].nullable;
      nullable = all ? (nullable && kid) : (nullable || kid);
    }
    nodes.items[parent].first_child = kids[0];
    nodes.items[parent].nullable = nullable;
  }

  // Ends the alternative being read in the innermost group.
  bool close_alternative() {
    const uint32_t id = close_items(frames.back().items_begin);
    if (id == RE_NO_NODE) return false;
    return branches.push(id) || oom();
  }

  // Ends the innermost group: the node its alternatives make.
  uint32_t close_group() {
    if (!close_alternative()) return RE_NO_NODE;
    const frame f = frames.back();
    --frames.count;
    const uint32_t n = branches.count - f.branches_begin;
    uint32_t id = branches.items[f.branches_begin];
    if (n > 1) {
      id = node(RE_NODE_ALT);
      if (id != RE_NO_NODE) link_children(id, branches.items + f.branches_begin, n, false);
    }
    branches.count = f.branches_begin;
    return f.group == 0 || id == RE_NO_NODE ? id : wrap_group(id, f.group);
  }

  // A GROUP node numbered `group` around `child`.
  uint32_t wrap_group(uint32_t child, uint32_t group) {
    const uint32_t id = node(RE_NODE_GROUP);
    if (id == RE_NO_NODE) return id;
    nodes.items[id].first_child = child;
    nodes.items[id].min = group;
    nodes.items[id].nullable = nodes.items[child].nullable;
    return id;
  }

  // Opens a group; `group` is its number, or 0 when it captures nothing.
  bool open_group(flag_set set, size_t open, uint32_t group) {
    if (frames.count > RE_MAX_NESTING) {
      char what[64];
      snprintf(what, sizeof what, "more than %u nested groups", RE_MAX_NESTING);
      return fail(what, open);
    }
    return frames.push(frame{items.count, branches.count, set.fold, set.verbose, set.unicode, open,
                             false, false, group}) ||
           oom();
  }

  // Numbers a new capturing group, named by the `len` bytes at offset
  // `name` of the pattern (none when `len` is 0).
  bool number_group(size_t name, size_t len, uint32_t *group) {
    if (!names.push(re_range{static_cast<uint32_t>(name), static_cast<uint32_t>(len)})) {
      return oom();
    }
    *group = names.count;
    return true;
  }

  // ---- Code points ----

  // The code point of the unit at `pos` (a byte that is no part of valid
  // UTF-8 is a unit of its own), stepping over it.
  uint32_t take_code_point() {
    const auto *s = reinterpret_cast<const unsigned char *>(P);
    const uint32_t cp = qg_utf8_unit_at(s, m, pos);  // RE_INVALID_UNIT(byte) for a stray byte
    const size_t n = qg_utf8_sequence_length(s + pos, m - pos);
    pos += n == 0 ? 1 : n;
    return cp;
  }

  static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // ---- Escapes ----

  // The set of \d \D \w \W \s \S (letter `c`), ASCII's or with `unicode`
  // Unicode's, added to `set`; false when `c` names none of them.
  static bool add_class_escape(char c, bool unicode, cp_set &set, bool *ok) {
    *ok = true;
    cp_set plain;
    switch (c) {
      case 'd':
      case 'D':
        *ok = unicode ? uc_digit_ranges(cp_set::add_to, &plain) : plain.add('0', '9');
        break;
      case 'w':
      case 'W':
        *ok = unicode ? uc_word_ranges(cp_set::add_to, &plain)
                      : plain.add('0', '9') && plain.add('A', 'Z') && plain.add('_', '_') &&
                            plain.add('a', 'z');
        break;
      case 's':
      case 'S':
        *ok = unicode ? uc_space_ranges(cp_set::add_to, &plain)
                      : plain.add('\t', '\r') && plain.add(' ', ' ');
        break;
      default:
        return false;
    }
    if (*ok && c >= 'A' && c <= 'Z') {
      plain.normalise();
      *ok = plain.complement();
    }
    *ok = *ok && set.add_all(plain);
    return true;
  }

  // The property of \p or \P at `pos` (on the letter): \pL, \p{Name} or
  // \p{^Name}, added to `set` (its complement for \P or '^'), and stepped
  // over. False with the fault for a missing or unknown name.
  bool property_escape(size_t at, cp_set &set) {
    bool negated = P[pos] == 'P';
    ++pos;
    if (pos >= m) return fail_escape("bad escape", at, 1);
    size_t name = pos, len = 1;
    if (P[pos] == '{') {
      const char *close = static_cast<const char *>(memchr(P + pos, '}', m - pos));
      if (close == nullptr) return fail("missing }, unterminated property name", at);
      name = pos + 1;
      len = static_cast<size_t>(close - P) - name;
      pos = static_cast<size_t>(close - P) + 1;
      if (len > 0 && P[name] == '^') {
        negated = !negated;
        ++name;
        --len;
      }
    } else {
      ++pos;
    }
    uc_property prop;
    if (len == 0 || !uc_property_named(P + name, len, &prop)) {
      char what[80];
      snprintf(what, sizeof what, "unknown property '%.*s'", static_cast<int>(len < 40 ? len : 40),
               P + name);
      return fail(what, at);
    }
    cp_set part;
    if (!uc_property_ranges(&prop, cp_set::add_to, &part)) return oom();
    part.normalise();
    if (negated && !part.complement()) return oom();
    return set.add_all(part) || oom();
  }

  // The code point of a one-character escape at `pos` (just past the '\'),
  // in or out of a class: \t \n \r \f \v \xHH, and any character that is not
  // an ASCII letter or digit standing for itself. `in_class` makes \b the
  // backspace. Writes it to *cp and steps over it; false (with the fault)
  // for anything else. `at` is the offset of the '\'.
  bool escaped_code_point(size_t at, bool in_class, uint32_t *cp) {
    const char c = P[pos];
    switch (c) {
      case 't':
        *cp = '\t';
        break;
      case 'n':
        *cp = '\n';
        break;
      case 'r':
        *cp = '\r';
        break;
      case 'f':
        *cp = '\f';
        break;
      case 'v':
        *cp = '\v';
        break;
      case 'b':
        if (!in_class) return fail_escape("bad escape", at, 1);
        *cp = '\b';
        break;
      case 'x': {
        const int hi = pos + 1 < m ? hex_value(P[pos + 1]) : -1;
        const int lo = pos + 2 < m ? hex_value(P[pos + 2]) : -1;
        if (hi < 0 || lo < 0) {
          return fail_escape("incomplete escape", at, hi < 0 ? 1 : 2);
        }
        *cp = static_cast<uint32_t>(hi * 16 + lo);
        pos += 3;
        return true;
      }
      default:
        if (c >= '1' && c <= '9') return fail("back-references are not supported", at);
        if (c == '0') return fail("octal escapes are not supported", at);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
          return fail_escape("bad escape", at, 1);
        *cp = take_code_point();
        return true;
    }
    ++pos;
    return true;
  }

  // ---- Classes ----

  // The POSIX class whose name runs from `pos` (just past "[:"), added to
  // `set` and stepped over with its ":]". False when the text there is not
  // a POSIX class at all (*matched false: the '[' is a plain member), or
  // names none that exists (the fault recorded).
  bool named_class(cp_set &set, bool *matched) {
    *matched = false;
    size_t end = pos;
    const bool negated = end < m && P[end] == '^';
    if (negated) ++end;
    const size_t name = end;
    while (end < m && P[end] >= 'a' && P[end] <= 'z') ++end;
    if (end == name || end + 1 >= m || P[end] != ':' || P[end + 1] != ']') return true;
    *matched = true;
    const size_t len = end - name;
    const posix_class *c = posix_class_named(P + name, len);
    if (c != nullptr) {
      cp_set part;
      if (frames.back().unicode) {
        bool known = false;
        if (!uc_posix_ranges(P + name, len, cp_set::add_to, &part, &known)) return oom();
      } else {
        for (const auto &r : c->ranges) {
          if (r[0] <= r[1] && !part.add(r[0], r[1])) return oom();
        }
      }
      part.normalise();
      if (negated && !part.complement()) return oom();
      for (uint32_t i = 0; i < part.r.count; ++i) {
        if (!set.add(part.r.items[i].lo, part.r.items[i].hi)) return oom();
      }
      pos = end + 2;
      return true;
    }
    char what[64];
    snprintf(what, sizeof what, "unknown POSIX class [:%.*s:]",
             static_cast<int>(len < 20 ? len : 20), P + name);
    return fail(what, pos - 2);
  }

  // One member of a class at `pos`: a code point (*single, written to *cp)
  // or a set it adds (\d and the like, a POSIX class). False on a fault.
  bool class_member(cp_set &set, bool *single, uint32_t *cp) {
    *single = false;
    const size_t at = pos;
    if (P[pos] == '[' && pos + 1 < m && P[pos + 1] == ':') {
      pos += 2;
      bool matched = false;
      if (!named_class(set, &matched)) return false;
      if (matched) return true;
      pos = at;
    }
    if (P[pos] == '\\') {
      if (pos + 1 >= m) return fail("bad escape (end of pattern)", at);
      ++pos;
      bool ok = true;
      if (add_class_escape(P[pos], frames.back().unicode, set, &ok)) {
        ++pos;
        return ok || oom();
      }
      if (P[pos] == 'p' || P[pos] == 'P') return property_escape(at, set);
      if (P[pos] == 'B') return fail_escape("bad escape", at, 1);
      *single = true;
      return escaped_code_point(at, true, cp);
    }
    *single = true;
    *cp = take_code_point();
    return true;
  }

  // The class whose '[' is at `pos`, as a unit.
  bool bracket_class() {
    const size_t open = pos++;
    const bool negated = pos < m && P[pos] == '^';
    if (negated) ++pos;
    cp_set set;
    bool first = true;
    for (;;) {
      if (pos >= m) return fail("unterminated character set", open);
      if (P[pos] == ']' && !first) {
        ++pos;
        break;
      }
      first = false;
      const size_t member_at = pos;
      bool single = false;
      uint32_t lo = 0;
      if (!class_member(set, &single, &lo)) return false;
      const bool range = pos + 1 < m && P[pos] == '-' && P[pos + 1] != ']';
      if (!range) {
        if (single && !set.add(lo, lo)) return oom();
        continue;
      }
      ++pos;  // the '-'
      bool single_hi = false;
      uint32_t hi = 0;
      cp_set ignored;
      if (!class_member(ignored, &single_hi, &hi)) return false;
      if (!single || !single_hi || lo > hi) {
        char what[64];
        snprintf(what, sizeof what, "bad character range %.*s",
                 static_cast<int>(pos - member_at < 40 ? pos - member_at : 40), P + member_at);
        return fail(what, member_at);
      }
      if (!set.add(lo, hi)) return oom();
    }
    set.normalise();
    if (negated) {
      if (frames.back().fold && !set.fold(frames.back().unicode)) return oom();
      if (!set.complement()) return oom();
      return push_item(unit(set, false), true);
    }
    return push_item(unit(set, frames.back().fold), true);
  }

  // ---- Atoms ----

  bool dot() {
    ++pos;
    cp_set set;
    if (!set.add('\n', '\n')) return oom();
    if (!set.complement()) return oom();
    return push_item(unit(set, false), true);
  }

  bool assertion(re_assert_kind kind, size_t len) {
    pos += len;
    const uint32_t id = node(RE_NODE_ASSERT);
    if (id == RE_NO_NODE) return false;
    nodes.items[id].assert_kind = static_cast<uint8_t>(kind);
    return push_item(id, false);
  }

  bool escape() {
    const size_t at = pos++;
    if (pos >= m) return fail("bad escape (end of pattern)", at);
    const char c = P[pos];
    const bool unicode = frames.back().unicode;
    if (c == 'b') {
      return assertion(unicode ? RE_ASSERT_UNICODE_WORD_BOUNDARY : RE_ASSERT_WORD_BOUNDARY, 1);
    }
    if (c == 'B') {
      return assertion(unicode ? RE_ASSERT_UNICODE_NOT_WORD_BOUNDARY : RE_ASSERT_NOT_WORD_BOUNDARY,
                       1);
    }
    cp_set set;
    bool ok = true;
    if (add_class_escape(c, unicode, set, &ok)) {
      ++pos;
      if (!ok) return oom();
      return push_item(unit(set, false), true);
    }
    if (c == 'p' || c == 'P') {
      if (!property_escape(at, set)) return false;
      return push_item(unit(set, frames.back().fold), true);
    }
    uint32_t cp = 0;
    if (!escaped_code_point(at, false, &cp)) return false;
    return literal(cp);
  }

  bool literal(uint32_t cp) {
    cp_set set;
    if (!set.add(cp, cp)) return oom();
    return push_item(unit(set, frames.back().fold), true);
  }

  // ---- Groups ----

  // A group name at `pos`, up to `close`, numbered as a new group in
  // *group; stepped over with the close.
  bool group_name(char close, uint32_t *group) {
    const size_t begin = pos;
    while (pos < m && P[pos] != close) ++pos;
    if (pos >= m) return fail("missing >, unterminated name", begin);
    const size_t len = pos - begin;
    if (len == 0) return fail("missing group name", begin);
    for (size_t i = 0; i < len; ++i) {
      const char c = P[begin + i];
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
      if (!letter && !(i > 0 && c >= '0' && c <= '9')) {
        char what[64];
        snprintf(what, sizeof what, "bad character in group name '%.*s'",
                 static_cast<int>(len < 32 ? len : 32), P + begin);
        return fail(what, begin);
      }
    }
    for (uint32_t i = 0; i < names.count; ++i) {
      if (names.items[i].hi == len && memcmp(P + names.items[i].lo, P + begin, len) == 0) {
        char what[64];
        snprintf(what, sizeof what, "redefinition of group name '%.*s'",
                 static_cast<int>(len < 32 ? len : 32), P + begin);
        return fail(what, begin);
      }
    }
    if (!number_group(begin, len, group)) return false;
    ++pos;
    return true;
  }

  // Flags at `pos` (after "(?"): letters of i, m, s, x, a and u, optionally
  // a '-' and letters to turn off, then ':' for a scoped group or ')' for the
  // rest of the enclosing group. m and s change nothing in a line (^ and $
  // are line anchors already, and no line holds a line end for '.' to
  // meet); a reads classes as ASCII, u as Unicode, and neither can be turned
  // off, only replaced by the other. Writes the flags in *set.
  bool flags(size_t open, bool *scoped, flag_set *set) {
    bool turning_off = false, any_off = false;
    uint32_t on = 0, off = 0;  // bits of the letters "imsxa"
    static constexpr char kLetters[] = "imsxau";
    for (; pos < m && P[pos] != ':' && P[pos] != ')'; ++pos) {
      const char c = P[pos];
      const char *letter = c != '\0' ? strchr(kLetters, c) : nullptr;
      if (c == '-' && !turning_off) {
        turning_off = true;
      } else if (letter != nullptr && !(turning_off && (c == 'a' || c == 'u'))) {
        (turning_off ? off : on) |= 1u << (letter - kLetters);
        any_off |= turning_off;
      } else if (c == 'a' || c == 'u') {
        return fail("bad inline flags: cannot turn off flags 'a', 'u' and 'L'", pos);
      } else {
        char what[48];
        snprintf(what, sizeof what, "unsupported flag '%c'", c);
        return fail(what, pos);
      }
    }
    if (pos >= m) return fail("missing ), unterminated subpattern", open);
    if (turning_off && !any_off) return fail("missing flag", pos);
    if ((on & off) != 0) return fail("bad inline flags: flag turned on and off", pos);
    constexpr uint32_t kFold = 1u << 0, kVerbose = 1u << 3, kAscii = 1u << 4, kUnicode = 1u << 5;
    if ((on & kAscii) != 0 && (on & kUnicode) != 0) {
      return fail("bad inline flags: flags 'a', 'u' and 'L' are incompatible", pos);
    }
    *scoped = P[pos] == ':';
    ++pos;
    const frame &outer = frames.back();
    set->fold = (on & kFold) != 0 || ((off & kFold) == 0 && outer.fold);
    set->verbose = (on & kVerbose) != 0 || ((off & kVerbose) == 0 && outer.verbose);
    set->unicode = (on & kUnicode) != 0 || ((on & kAscii) == 0 && outer.unicode);
    return true;
  }

  // Moves `pos` past white space and '#' comments (to the end of their line)
  // while the group is read with (?x).
  void skip_verbose_space() {
    while (pos < m && frames.back().verbose) {
      const char c = P[pos];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++pos;
      } else if (c == '#') {
        const char *end = static_cast<const char *>(memchr(P + pos, '\n', m - pos));
        pos = end != nullptr ? static_cast<size_t>(end - P) + 1 : m;
      } else {
        return;
      }
    }
  }

  // The group whose '(' is at `pos`; a comment or a global flag opens none.
  bool group() {
    const size_t open = pos++;
    flag_set set = {frames.back().fold, frames.back().verbose, frames.back().unicode};
    uint32_t number = 0;
    if (pos >= m || P[pos] != '?') {
      if (!number_group(0, 0, &number)) return false;
    } else {
      ++pos;
      const char c = pos < m ? P[pos] : '\0';
      if (c == ':') {
        ++pos;
      } else if (c == 'P' && pos + 1 < m && P[pos + 1] == '<') {
        pos += 2;
        if (!group_name('>', &number)) return false;
      } else if (c == 'P' && pos + 1 < m && P[pos + 1] == '=') {
        return fail("back-references are not supported", open);
      } else if (c == '<' && pos + 1 < m && (P[pos + 1] == '=' || P[pos + 1] == '!')) {
        return fail("look-around is not supported", open);
      } else if (c == '<') {
        ++pos;
        if (!group_name('>', &number)) return false;
      } else if (c == '=' || c == '!') {
        return fail("look-around is not supported", open);
      } else if (c == '>') {
        return fail("atomic groups are not supported", open);
      } else if (c == '#') {
        const char *close = static_cast<const char *>(memchr(P + pos, ')', m - pos));
        if (close == nullptr) return fail("missing ), unterminated comment", open);
        pos = static_cast<size_t>(close - P) + 1;
        return true;
      } else if (c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        bool scoped = false;
        if (!flags(open, &scoped, &set)) return false;
        if (!scoped) {
          // The rest of the enclosing group is read with them.
          frames.back().fold = set.fold;
          frames.back().verbose = set.verbose;
          frames.back().unicode = set.unicode;
          return true;
        }
      } else {
        char what[48];
        snprintf(what, sizeof what, "unknown extension ?%c", c == '\0' ? ' ' : c);
        return fail(what, open);
      }
    }
    return open_group(set, open, number);
  }

  // ---- Quantifiers ----

  // Reads a counted repetition at `pos` (a '{'): true with *is_repeat set
  // and its bounds when it is one, stepped over; a '{' that begins none is
  // a literal (*is_repeat false, nothing stepped over).
  bool counted(bool *is_repeat, uint32_t *min, uint32_t *max) {
    *is_repeat = false;
    size_t q = pos + 1;
    if (q < m && P[q] == '}') return true;
    auto digits = [&](uint64_t *value, bool *any) {
      *value = 0;
      *any = false;
      while (q < m && P[q] >= '0' && P[q] <= '9') {
        if (*value <= RE_MAX_REPEAT_COUNT) *value = *value * 10 + static_cast<uint64_t>(P[q] - '0');
        *any = true;
        ++q;
      }
    };
    uint64_t lo = 0, hi = 0;
    bool has_lo = false, has_hi = false;
    digits(&lo, &has_lo);
    if (q < m && P[q] == ',') {
      ++q;
      digits(&hi, &has_hi);
    } else {
      hi = lo;
      has_hi = has_lo;
    }
    if (q >= m || P[q] != '}') return true;
    if (lo > RE_MAX_REPEAT_COUNT || (has_hi && hi > RE_MAX_REPEAT_COUNT)) {
      char what[64];
      snprintf(what, sizeof what, "repetition count above %u", RE_MAX_REPEAT_COUNT);
      return fail(what, pos);
    }
    *min = has_lo ? static_cast<uint32_t>(lo) : 0;
    *max = has_hi ? static_cast<uint32_t>(hi) : RE_REPEAT_MANY;
    if (*max < *min) return fail("min repeat greater than max repeat", pos);
    *is_repeat = true;
    pos = q + 1;
    return true;
  }

  // The quantifier at `pos` ('*', '+', '?' or a counted repetition) applied
  // to the last item.
  bool quantifier(uint32_t min, uint32_t max, size_t at) {
    frame &f = frames.back();
    if (items.count == f.items_begin || !f.last_repeatable) return fail("nothing to repeat", at);
    if (f.last_quantified) return fail("multiple repeat", at);
    bool greedy = true;
    if (pos < m && P[pos] == '?') {
      greedy = false;
      ++pos;
    } else if (pos < m && P[pos] == '+') {
      return fail("possessive quantifiers are not supported", at);
    }
    const uint32_t child = items.back();
    const uint32_t id = node(RE_NODE_REPEAT);
    if (id == RE_NO_NODE) return false;
    re_node &r = nodes.items[id];
    r.first_child = child;
    r.min = min;
    r.max = max;
    r.greedy = greedy;
    r.nullable = min == 0 || nodes.items[child].nullable;
    items.back() = id;
    f.last_quantified = true;
    return true;
  }

  // ---- The whole pattern ----

  bool run(bool fold, bool unicode) {
    if (!frames.push(frame{0, 0, fold, false, unicode, 0, false, false, 0})) return oom();
    while (pos < m) {
      skip_verbose_space();
      if (pos >= m) break;
      const size_t at = pos;
      const char c = P[pos];
      bool ok = true;
      switch (c) {
        case '(':
          ok = group();
          break;
        case ')': {
          if (frames.count == 1) return fail("unbalanced parenthesis", at);
          ++pos;
          const uint32_t id = close_group();
          ok = push_item(id, true);
          break;
        }
        case '|':
          ++pos;
          ok = close_alternative();
          frames.back().last_repeatable = false;
          frames.back().last_quantified = false;
          break;
        case '*':
        case '+':
        case '?':
          ++pos;
          ok = quantifier(c == '+' ? 1 : 0, c == '?' ? 1 : RE_REPEAT_MANY, at);
          break;
        case '{': {
          bool is_repeat = false;
          uint32_t min = 0, max = 0;
          ok = counted(&is_repeat, &min, &max);
          if (ok) ok = is_repeat ? quantifier(min, max, at) : (++pos, literal('{'));
          break;
        }
        case '[':
          ok = bracket_class();
          break;
        case '.':
          ok = dot();
          break;
        case '^':
          ok = assertion(RE_ASSERT_LINE_START, 1);
          break;
        case '$':
          ok = assertion(RE_ASSERT_LINE_END, 1);
          break;
        case '\\':
          ok = escape();
          break;
        default:
          ok = literal(take_code_point());
          break;
      }
      if (!ok) return false;
    }
    if (frames.count > 1) return fail("missing ), unterminated subpattern", frames.back().open_at);
    const uint32_t root = close_group();
    if (root == RE_NO_NODE) return false;
    tree_root = root;
    return true;
  }

  uint32_t tree_root = RE_NO_NODE;
};

// `id`, or what the groups around it hold.
const re_node *inside_groups(const re_tree &t, uint32_t id) {
  const re_node *n = &t.nodes[id];
  while (n->kind == RE_NODE_GROUP) n = &t.nodes[n->first_child];
  return n;
}

// True when every match of the tree begins with '^' at its top level.
bool begins_anchored(const re_tree &t) {
  const re_node *n = inside_groups(t, t.root);
  if (n->kind == RE_NODE_CONCAT) n = inside_groups(t, n->first_child);
  return n->kind == RE_NODE_ASSERT && n->assert_kind == RE_ASSERT_LINE_START;
}

}  // namespace

re_parse_result re_syntax_parse(const char *pattern, size_t len, bool fold, bool unicode,
                                re_tree *tree, re_syntax_error *error) {
  *tree = re_tree{};
  error->what[0] = '\0';
  error->at = 0;
  parser p;
  p.P = pattern;
  p.m = len;
  p.error = error;
  if (!p.run(fold, unicode)) {
    if (p.no_memory) {
      error->what[0] = '\0';
      return RE_PARSE_NO_MEMORY;
    }
    return RE_PARSE_INVALID;
  }
  tree->node_count = p.nodes.count;
  tree->nodes = p.nodes.release();
  tree->range_count = p.ranges.count;
  tree->ranges = p.ranges.release();
  tree->root = p.tree_root;
  tree->anchored = begins_anchored(*tree);
  tree->group_count = p.names.count;
  tree->group_names = p.names.release();
  return RE_PARSE_OK;
}

void re_tree_free(re_tree *tree) {
  free(tree->nodes);
  free(tree->ranges);
  free(tree->group_names);
  *tree = re_tree{};
}
