#include "support/standard_regex_gen.h"

#include <cstring>
#include <memory>
#include <random>

namespace qg_test {

namespace {

// Literal units of a pattern: plain characters (some beyond ASCII, and a byte
// that is no part of valid UTF-8), escaped punctuation, and escapes.
const char *const kLiterals[] = {
    "a",   "b",   "c",   "A",   "B",    "1",   "_",     "-",     " ",   "é",   "€",   "😀",  "\xff",
    "\\.", "\\*", "\\(", "\\[", "\\\\", "\\{", "\\x41", "\\xe9", "\\t", "\\-", "\\ ", "\\é"};

// More literal units for Unicode mode: letters with case partners beyond
// ASCII (final sigma, KELVIN SIGN, LONG S, MICRO SIGN, a title-case
// digraph), letters without case, digits and numbers beyond ASCII, a
// combining mark. Dotted and dotless i are left out: Python's re folds them
// with i, simple case folding does not.
const char *const kUnicodeLiterals[] = {"Σ", "σ", "ς", "Д", "д", "Ё", "É",  "ß", "ẞ", "\u212a",
                                        "K", "ſ", "µ", "ǅ", "ω", "Ω", "中", "٣", "²", "\u0301"};

// Unicode properties, written alike for both (the oracle spells them out).
const char *const kProperties[] = {"\\p{L}",      "\\p{Lu}",       "\\p{Ll}",    "\\pN",
                                   "\\p{Greek}",  "\\p{Cyrillic}", "\\p{Han}",   "\\P{L}",
                                   "\\p{^Lu}",    "\\p{sc=Latin}", "\\p{gc=Nd}", "\\p{Mn}",
                                   "\\p{Common}", "\\p{Letter}",   "\\PL"};

// Members of classes, as this library and Python write them (`unicode`: in
// Unicode mode, where Python has no form for the class: null).
struct member {
  const char *ours;
  const char *python;
  const char *unicode = python;
};
const member kMembers[] = {
    {"a", "a"},
    {"b", "b"},
    {"A", "A"},
    {"_", "_"},
    {"é", "é"},
    {"€", "€"},
    {"\\-", "\\-"},
    {"a-c", "a-c"},
    {"A-Z", "A-Z"},
    {"0-9", "0-9"},
    {"é-ü", "é-ü"},
    {"\\x41-\\x43", "\\x41-\\x43"},
    {"\\d", "\\d"},
    {"\\w", "\\w"},
    {"\\s", "\\s"},
    {"\\W", "\\W"},
    {"[:alpha:]", "A-Za-z", nullptr},
    {"[:digit:]", "0-9", "\\d"},
    {"[:upper:]", "A-Z", nullptr},
    {"[:lower:]", "a-z", nullptr},
    {"[:space:]", " \\t\\n\\r\\f\\v", "\\s"},
    {"[:word:]", "A-Za-z0-9_", "\\w"},
    {"[:xdigit:]", "0-9A-Fa-f"},
};

// Units of lines: ASCII, characters of two to four bytes, a byte that no
// UTF-8 holds, a stray continuation byte and a cut sequence.
const char *const kLineUnits[] = {"a", "b", "c",    "A",    "B",  "1",  "_",        "-", " ", "é",
                                  "€", "😀", "\xff", "\x80", "ab", "\t", "\xe2\x82", "ü", "x", "."};

// More units of lines in Unicode mode, among them white space beyond ASCII
// (NO-BREAK SPACE, IDEOGRAPHIC SPACE) and a decomposed accent.
const char *const kUnicodeLineUnits[] = {"Σ",         "σ", "ς", "Д",        "д",
                                         "ё",         "Ё", "É", "ß",        "ẞ",
                                         "\u212a",    "ſ", "µ", "μ",        "ǅ",
                                         "ǆ",         "Ǆ", "ω", "Ω",        "中",
                                         "日本",      "٣", "²", "\xc2\xa0", "\xe3\x80\x80",
                                         "e\xcc\x81", "k", "s", "S",        "K",
                                         "i",         "I"};

template <typename T, size_t N>
constexpr uint32_t count_of(const T (&)[N]) {
  return static_cast<uint32_t>(N);
}

struct generator {
  const std::function<uint32_t(uint32_t)> &choose;
  standard_case out;
  int names = 0;
  bool verbose = false;  // the group being written is read with (?x)

  void both(const std::string &s) {
    out.pattern += s;
    out.python += s;
  }

  void literal() {
    if (out.unicode && choose(2) == 0) {
      both(kUnicodeLiterals[choose(count_of(kUnicodeLiterals))]);
    } else {
      both(kLiterals[choose(count_of(kLiterals))]);
    }
  }

  void property() { both(kProperties[choose(count_of(kProperties))]); }

  void bracket_class() {
    const bool negated = choose(3) == 0;
    out.pattern += negated ? "[^" : "[";
    out.python += negated ? "[^" : "[";
    for (uint32_t i = 0, n = 1 + choose(3); i < n; ++i) {
      if (out.unicode && choose(4) == 0) {
        property();
        continue;
      }
      const member *m = &kMembers[choose(count_of(kMembers))];
      while (out.unicode && m->unicode == nullptr) m = &kMembers[choose(count_of(kMembers))];
      out.pattern += m->ours;
      out.python += out.unicode ? m->unicode : m->python;
    }
    both("]");
  }

  void quantifier() {
    static const char *const kForms[] = {"*",     "+",     "?",    "{2}",   "{0}", "{1,}",
                                         "{0,2}", "{1,3}", "{,2}", "{2,3}", "{,}", "{0,0}"};
    both(kForms[choose(count_of(kForms))]);
    if (choose(3) == 0) both("?");
  }

  // One item: returns whether a quantifier may follow it.
  bool atom(int depth) {
    const uint32_t r = choose(100);
    if (r < 40) {
      literal();
    } else if (r < 47) {
      both(".");
    } else if (r < 58) {
      bracket_class();
    } else if (r < 65) {
      static const char *const kEscapes[] = {"\\d", "\\D", "\\w", "\\W", "\\s", "\\S"};
      if (out.unicode && choose(3) == 0) {
        property();
      } else {
        both(kEscapes[choose(count_of(kEscapes))]);
      }
    } else if (r < 72) {
      static const char *const kAsserts[] = {"^", "$", "\\b", "\\B"};
      both(kAsserts[choose(count_of(kAsserts))]);
      return false;
    } else if (depth < 3) {
      group(depth);
    } else {
      literal();
    }
    return true;
  }

  void group(int depth) {
    switch (choose(8)) {
      case 0:
        both("(?:");
        break;
      case 1:
        both("(");
        break;
      case 2: {
        const std::string name = "n" + std::to_string(++names);
        both("(?P<" + name + ">");
        break;
      }
      case 3: {
        const std::string name = "n" + std::to_string(++names);
        out.pattern += "(?<" + name + ">";
        out.python += "(?P<" + name + ">";
        break;
      }
      case 4:
        both("(?i:");
        break;
      case 5:
        both("(?-i:");
        break;
      default: {
        // The other flags, scoped: x changes how the group is read.
        static const struct {
          const char *open;
          bool verbose;
        } kScoped[] = {{"(?s:", false},    {"(?m:", false}, {"(?x:", true},  {"(?-x:", false},
                       {"(?sm-i:", false}, {"(?ix:", true}, {"(?x-s:", true}};
        // No (?a:...) or (?u:...): Python's re takes them but follows them
        // for some classes and not others (in Unicode mode, (?a:\w) is
        // ASCII's and (?a:\W) Unicode's).
        const auto &pick = kScoped[choose(count_of(kScoped))];
        both(pick.open);
        const bool outer = verbose;
        verbose = pick.verbose;
        alternation(depth + 1);
        verbose = outer;
        both(")");
        return;
      }
    }
    alternation(depth + 1);
    both(")");
  }

  // White space or a comment, which a group read with (?x) passes over.
  void verbose_space() {
    static const char *const kSpaces[] = {" ", "  ", "\t", "\n", "# note\n", " #\n "};
    if (verbose && choose(3) == 0) both(kSpaces[choose(count_of(kSpaces))]);
  }

  void concat(int depth) {
    for (uint32_t i = 0, n = choose(4) + (depth == 0 ? 1 : 0); i < n; ++i) {
      verbose_space();
      if (atom(depth) && choose(3) == 0) {
        verbose_space();
        quantifier();
      }
    }
    verbose_space();
  }

  void alternation(int depth) {
    const uint32_t branches = choose(4) == 0 ? 2 + choose(2) : 1;
    for (uint32_t i = 0; i < branches; ++i) {
      if (i > 0) both("|");
      concat(depth);
    }
  }

  void line() {
    for (uint32_t i = 0, n = choose(10); i < n; ++i) {
      if (out.unicode && choose(2) == 0) {
        out.line += kUnicodeLineUnits[choose(count_of(kUnicodeLineUnits))];
      } else {
        out.line += kLineUnits[choose(count_of(kLineUnits))];
      }
    }
  }
};

}  // namespace

standard_case generate_standard_case(const std::function<uint32_t(uint32_t)> &choose) {
  generator g{choose, {}, 0};
  g.out.unicode = g.choose(3) == 0;
  if (g.choose(6) == 0) {
    // Flags for the whole pattern, at its start (where Python takes them);
    // (?u) only where the pattern is in Unicode mode already (Python refuses
    // it with re.ASCII).
    static const char *const kGlobal[] = {"(?i)",  "(?i)",  "(?s)", "(?m)", "(?x)",
                                          "(?ix)", "(?sm)", "(?u)", "(?iu)"};
    const char *flags = kGlobal[g.choose(count_of(kGlobal) - (g.out.unicode ? 0 : 2))];
    g.both(flags);
    g.verbose = strchr(flags, 'x') != nullptr;
  }
  g.alternation(0);
  g.line();
  return g.out;
}

std::function<uint32_t(uint32_t)> seeded_choices(uint64_t seed) {
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [engine](uint32_t n) { return static_cast<uint32_t>((*engine)() % n); };
}

std::function<uint32_t(uint32_t)> byte_choices(const uint8_t *data, size_t size) {
  auto next = std::make_shared<size_t>(0);
  return [data, size, next](uint32_t n) {
    if (*next >= size) return uint32_t{0};
    return static_cast<uint32_t>(data[(*next)++] % n);
  };
}

std::string hex_of(const std::string &s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace qg_test
