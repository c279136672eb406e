#include "grep_core/unicode_props.h"

#include "grep_core/posix_class.h"
#include "grep_core/unicode_tables.h"

#include <string.h>

#include <iterator>

namespace {

using unicode_tables::kCategoryLongNames;
using unicode_tables::kCategoryNames;
using unicode_tables::kFoldOrbits;
using unicode_tables::kGeneralCategories;
using unicode_tables::kScriptNames;
using unicode_tables::kScripts;
using unicode_tables::kScriptShortNames;

constexpr uint32_t kMaxCodePoint = 0x10FFFF;
constexpr uint32_t kSurrogateFirst = 0xD800, kSurrogateLast = 0xDFFF;
constexpr int kCategoryCount = static_cast<int>(std::size(kCategoryNames));
constexpr int kScriptCount = static_cast<int>(std::size(kScriptNames));

// The index of a category in the tables, by its short name.
constexpr int category_index(const char *name) {
  for (int i = 0; i < kCategoryCount; ++i) {
    const char *c = kCategoryNames[i];
    if (c[0] == name[0] && c[1] == name[1]) return i;
  }
  return -1;
}

constexpr uint32_t bit(const char *name) { return 1u << category_index(name); }
constexpr uint32_t kLetters = bit("Lu") | bit("Ll") | bit("Lt") | bit("Lm") | bit("Lo");
constexpr uint32_t kCased = bit("Lu") | bit("Ll") | bit("Lt");
constexpr uint32_t kMarks = bit("Mn") | bit("Mc") | bit("Me");
constexpr uint32_t kNumbers = bit("Nd") | bit("Nl") | bit("No");
constexpr uint32_t kPunctuation =
    bit("Pc") | bit("Pd") | bit("Ps") | bit("Pe") | bit("Pi") | bit("Pf") | bit("Po");
constexpr uint32_t kSymbols = bit("Sm") | bit("Sc") | bit("Sk") | bit("So");
constexpr uint32_t kSeparators = bit("Zs") | bit("Zl") | bit("Zp");
constexpr uint32_t kOther = bit("Cc") | bit("Cf") | bit("Co") | bit("Cn");
constexpr uint32_t kAllCategories = (1u << kCategoryCount) - 1;
static_assert(kCategoryCount <= 32, "the categories fit one mask");

// The one-letter groups of categories, and the cased letters.
struct category_group {
  const char *short_name;
  const char *long_name;
  uint32_t mask;
};
constexpr category_group kGroups[] = {
    {"L", "Letter", kLetters}, {"LC", "Cased_Letter", kCased},
    {"M", "Mark", kMarks},     {"M", "Combining_Mark", kMarks},
    {"N", "Number", kNumbers}, {"P", "Punctuation", kPunctuation},
    {"S", "Symbol", kSymbols}, {"Z", "Separator", kSeparators},
    {"C", "Other", kOther},
};

// Unicode's loose matching: ASCII case, spaces, '_' and '-' do not count.
bool loose_equal(const char *a, size_t n, const char *b) {
  size_t i = 0;
  auto skip = [](char c) { return c == ' ' || c == '_' || c == '-'; };
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (;;) {
    while (i < n && skip(a[i])) ++i;
    while (*b != '\0' && skip(*b)) ++b;
    if (i == n || *b == '\0') return i == n && *b == '\0';
    if (lower(a[i]) != lower(*b)) return false;
    ++i;
    ++b;
  }
}

bool category_named(const char *name, size_t n, uint32_t *mask) {
  if (n == 2 && memcmp(name, "L&", 2) == 0) {
    *mask = kCased;
    return true;
  }
  for (const category_group &g : kGroups) {
    if (loose_equal(name, n, g.short_name) || loose_equal(name, n, g.long_name)) {
      *mask = g.mask;
      return true;
    }
  }
  for (int i = 0; i < kCategoryCount; ++i) {
    if (loose_equal(name, n, kCategoryNames[i]) || loose_equal(name, n, kCategoryLongNames[i])) {
      *mask = 1u << i;
      return true;
    }
  }
  return false;
}

bool script_named(const char *name, size_t n, int32_t *script) {
  for (int i = 0; i < kScriptCount; ++i) {
    if (loose_equal(name, n, kScriptNames[i]) || loose_equal(name, n, kScriptShortNames[i])) {
      *script = i;
      return true;
    }
  }
  return false;
}

// Emits [lo, hi] without the surrogates.
bool emit_valid(uc_emit emit, void *ctx, uint32_t lo, uint32_t hi) {
  if (lo > hi) return true;
  if (hi < kSurrogateFirst || lo > kSurrogateLast) return emit(ctx, lo, hi);
  if (lo < kSurrogateFirst && !emit(ctx, lo, kSurrogateFirst - 1)) return false;
  return hi <= kSurrogateLast || emit(ctx, kSurrogateLast + 1, hi);
}

// Emits the runs of `table` whose value `take` accepts, and, when
// `with_gaps`, the code points in no run.
template <typename Table, typename Take>
bool emit_runs(const Table &table, Take take, bool with_gaps, uc_emit emit, void *ctx) {
  uint32_t next = 0;  // first code point after the last run seen
  for (const auto &r : table) {
    if (with_gaps && r.lo > next && !emit_valid(emit, ctx, next, r.lo - 1)) return false;
    if (take(r.value) && !emit(ctx, r.lo, r.hi)) return false;
    next = r.hi + 1;
  }
  return !with_gaps || emit_valid(emit, ctx, next, kMaxCodePoint);
}

bool emit_categories(uint32_t mask, uc_emit emit, void *ctx) {
  const bool unassigned = (mask & bit("Cn")) != 0;
  return emit_runs(
      kGeneralCategories, [mask](uint8_t v) { return ((mask >> v) & 1) != 0; }, unassigned, emit,
      ctx);
}

template <typename Spans>
bool emit_spans(const Spans &spans, uc_emit emit, void *ctx) {
  for (const auto &s : spans) {
    if (!emit(ctx, s.lo, s.hi)) return false;
  }
  return true;
}

// True when a range of `spans` (sorted, disjoint) holds `cp`.
template <typename Spans>
bool spans_hold(const Spans &spans, uint32_t cp) {
  size_t lo = 0, hi = std::size(spans);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (spans[mid].hi < cp) {
      lo = mid + 1;
    } else if (spans[mid].lo > cp) {
      hi = mid;
    } else {
      return true;
    }
  }
  return false;
}

// The first orbit whose code point is at least `cp`.
const unicode_tables::orbit *first_orbit_from(uint32_t cp) {
  size_t lo = 0, hi = std::size(kFoldOrbits);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (kFoldOrbits[mid].cp < cp) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return kFoldOrbits + lo;
}

// The ranges of the ASCII POSIX class `name`.
bool emit_ascii_class(const char *name, uc_emit emit, void *ctx) {
  const posix_class *c = posix_class_named(name, strlen(name));
  for (const auto &r : c->ranges) {
    if (r[0] <= r[1] && !emit(ctx, r[0], r[1])) return false;
  }
  return true;
}

}  // namespace

bool uc_word_ranges(uc_emit emit, void *ctx) {
  return emit_spans(unicode_tables::kWordRanges, emit, ctx);
}

bool uc_space_ranges(uc_emit emit, void *ctx) {
  return emit_spans(unicode_tables::kSpaceRanges, emit, ctx);
}

bool uc_digit_ranges(uc_emit emit, void *ctx) { return emit_categories(bit("Nd"), emit, ctx); }

bool uc_is_word(uint32_t cp) { return spans_hold(unicode_tables::kWordRanges, cp); }

bool uc_property_named(const char *name, size_t n, uc_property *out) {
  *out = uc_property{0, -1, false};
  const char *eq = static_cast<const char *>(memchr(name, '=', n));
  if (eq != nullptr) {
    const size_t key = static_cast<size_t>(eq - name);
    const char *value = eq + 1;
    const size_t len = n - key - 1;
    if (loose_equal(name, key, "gc") || loose_equal(name, key, "General_Category")) {
      return category_named(value, len, &out->categories);
    }
    if (loose_equal(name, key, "sc") || loose_equal(name, key, "Script")) {
      return script_named(value, len, &out->script);
    }
    return false;
  }
  if (category_named(name, n, &out->categories) || script_named(name, n, &out->script)) {
    return true;
  }
  if (loose_equal(name, n, "Any")) {
    out->categories = kAllCategories;
    return true;
  }
  if (loose_equal(name, n, "Assigned")) {
    out->categories = kAllCategories & ~bit("Cn");
    out->assigned_only = true;
    return true;
  }
  if (loose_equal(name, n, "ASCII")) {
    out->categories = 0;
    out->script = -2;
    return true;
  }
  return false;
}

bool uc_property_ranges(const uc_property *p, uc_emit emit, void *ctx) {
  if (p->script == -2) return emit(ctx, 0, 0x7F);
  if (p->script >= 0) {
    const auto script = static_cast<uint8_t>(p->script);
    return emit_runs(
        kScripts, [script](uint8_t v) { return v == script; }, script == 0, emit, ctx);
  }
  return emit_categories(p->categories, emit, ctx);
}

bool uc_posix_ranges(const char *name, size_t n, uc_emit emit, void *ctx, bool *known) {
  *known = true;
  auto is = [&](const char *k) { return strlen(k) == n && memcmp(k, name, n) == 0; };
  if (is("alpha")) return emit_categories(kLetters, emit, ctx);
  if (is("lower")) return emit_categories(bit("Ll"), emit, ctx);
  if (is("upper")) return emit_categories(bit("Lu"), emit, ctx);
  if (is("digit")) return uc_digit_ranges(emit, ctx);
  if (is("alnum")) return emit_categories(kLetters | bit("Nd"), emit, ctx);
  if (is("space")) return uc_space_ranges(emit, ctx);
  if (is("blank")) return emit(ctx, '\t', '\t') && emit_categories(bit("Zs"), emit, ctx);
  if (is("cntrl")) return emit_categories(bit("Cc"), emit, ctx);
  if (is("punct")) {
    return emit_categories(kPunctuation, emit, ctx) && emit_ascii_class("punct", emit, ctx);
  }
  if (is("graph")) {
    return emit_categories(kAllCategories & ~(kSeparators | bit("Cc") | bit("Cn")), emit, ctx);
  }
  if (is("print")) {
    return emit_categories(kAllCategories & ~(bit("Zl") | bit("Zp") | bit("Cc") | bit("Cn")), emit,
                           ctx);
  }
  if (is("word")) return uc_word_ranges(emit, ctx);
  if (is("xdigit") || is("ascii"))
    return emit_ascii_class(is("ascii") ? "ascii" : "xdigit", emit, ctx);
  *known = false;
  return true;
}

bool uc_fold_partners(uint32_t lo, uint32_t hi, uc_emit emit, void *ctx) {
  const auto *end = kFoldOrbits + std::size(kFoldOrbits);
  for (const auto *o = first_orbit_from(lo); o != end && o->cp <= hi; ++o) {
    for (uint32_t other : o->others) {
      if (other != 0 && !emit(ctx, other, other)) return false;
    }
  }
  return true;
}

bool uc_folds_beyond_ascii(uint32_t cp) {
  const auto *o = first_orbit_from(cp);
  if (o == kFoldOrbits + std::size(kFoldOrbits) || o->cp != cp) return false;
  for (uint32_t other : o->others) {
    if (other >= 0x80) return true;
  }
  return cp >= 0x80;
}

const char *uc_version(void) { return QG_UNICODE_VERSION; }
