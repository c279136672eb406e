// The standard syntax: what it refuses and why, what it means where Python's
// re is particular (empty iterations, UTF-8 units, \B), the literals it
// prefilters lines with, and patterns built to make a backtracking matcher
// take exponential time. Python's answers for the rows were checked with
// re.search(pattern, line, re.ASCII); the generated comparison with Python
// is regex_python_test.
#include "grep_core/last_error.h"
#include "grep_core/regex.h"
#include "grep_core/regex_program.h"
#include "quenmar_grep.h"

#include <gtest/gtest.h>

#include <string>

namespace {

re_program *compile(const std::string &pattern, bool case_sensitive = true, bool whole_word = false,
                    bool unicode = false) {
  const re_options options = {case_sensitive, nullptr, nullptr, RE_SYNTAX_STANDARD,
                              whole_word,     false,   unicode};
  return re_compile_with(pattern.c_str(), &options, nullptr);
}

// "col len" of the first match, "none", or the compile error's message.
std::string first_match(const std::string &pattern, const std::string &line,
                        bool case_sensitive = true, bool whole_word = false, bool unicode = false) {
  re_program *program = compile(pattern, case_sensitive, whole_word, unicode);
  if (program == nullptr) return std::string("error: ") + qm_grep_get_last_error();
  re_scratch *scratch = re_scratch_new(program);
  int32_t col = 0, len = 0;
  const re_result r = re_find(program, scratch, line.data(), line.size(), &col, &len);
  re_scratch_free(scratch);
  re_program_free(program);
  if (r == RE_NO_MATCH) return "none";
  if (r != RE_MATCH) return "failed";
  return std::to_string(col) + " " + std::to_string(len);
}

TEST(StandardSyntax, RefusedPatternsSayWhatAndWhere) {
  struct row {
    std::string pattern;
    const char *message;
  };
  const row rows[] = {
      {"(a", "missing ), unterminated subpattern at byte 0"},
      {"a)", "unbalanced parenthesis at byte 1"},
      {"a[b", "unterminated character set at byte 1"},
      {"[]", "unterminated character set at byte 0"},
      {"[z-a]", "bad character range z-a at byte 1"},
      {"[\\d-z]", "bad character range \\d-z at byte 1"},
      {"[a-\\w]", "bad character range a-\\w at byte 1"},
      {"a{3,2}", "min repeat greater than max repeat at byte 1"},
      {"*a", "nothing to repeat at byte 0"},
      {"a|*", "nothing to repeat at byte 2"},
      {"^*", "nothing to repeat at byte 1"},
      {"\\b+", "nothing to repeat at byte 2"},
      {"a**", "multiple repeat at byte 2"},
      {"a{2}{3}", "multiple repeat at byte 4"},
      {"\\q", "bad escape \\q at byte 0"},
      {"\\A", "bad escape \\A at byte 0"},
      {"\\u0041", "bad escape \\u at byte 0"},
      {"[\\B]", "bad escape \\B at byte 1"},
      {"a\\", "bad escape (end of pattern) at byte 1"},
      {"\\x4", "incomplete escape \\x4 at byte 0"},
      {"\\xg1", "incomplete escape \\x at byte 0"},
      {"(a)\\1", "back-references are not supported at byte 3"},
      {"(?P<n>a)(?P=n)", "back-references are not supported at byte 8"},
      {"\\0", "octal escapes are not supported at byte 0"},
      {"(?=a)", "look-around is not supported at byte 0"},
      {"(?!a)", "look-around is not supported at byte 0"},
      {"(?<=a)b", "look-around is not supported at byte 0"},
      {"(?<!a)b", "look-around is not supported at byte 0"},
      {"(?>a)", "atomic groups are not supported at byte 0"},
      {"a*+", "possessive quantifiers are not supported at byte 1"},
      {"a{2}+", "possessive quantifiers are not supported at byte 1"},
      {"a{1001}", "repetition count above 1000 at byte 1"},
      {"a{0,1001}", "repetition count above 1000 at byte 1"},
      {"[[:foo:]]", "unknown POSIX class [:foo:] at byte 1"},
      {"(?-u:a)", "bad inline flags: cannot turn off flags 'a', 'u' and 'L' at byte 3"},
      {"(?au)a", "bad inline flags: flags 'a', 'u' and 'L' are incompatible at byte 4"},
      {"\\p{Klingon}", "unknown property 'Klingon' at byte 0"},
      {"[\\p{gc=Greek}]", "unknown property 'gc=Greek' at byte 1"},
      {"\\p{}", "unknown property '' at byte 0"},
      {"\\p{L", "missing }, unterminated property name at byte 0"},
      {"a\\p", "bad escape \\p at byte 1"},
      {"[\\p{L}-z]", "bad character range \\p{L}-z at byte 1"},
      {"(?-a:a)", "bad inline flags: cannot turn off flags 'a', 'u' and 'L' at byte 3"},
      {"(?i-i:a)", "bad inline flags: flag turned on and off at byte 5"},
      {"(?-:a)", "missing flag at byte 3"},
      {"(?x)(a #)", "missing ), unterminated subpattern at byte 4"},
      {"(?%a)", "unknown extension ?% at byte 0"},
      {"(?Qa)", "unsupported flag 'Q' at byte 2"},
      {"(?P<1a>x)", "bad character in group name '1a' at byte 4"},
      {"(?P<a>x)(?<a>y)", "redefinition of group name 'a' at byte 11"},
      {"(?P<>x)", "missing group name at byte 4"},
      {"(?P<ab", "missing >, unterminated name at byte 4"},
      {"(?#note", "missing ), unterminated comment at byte 0"},
      {std::string(257, '(') + std::string(257, ')'), "more than 256 nested groups at byte 256"},
  };
  for (const row &r : rows) {
    EXPECT_EQ(first_match(r.pattern, "a"), std::string("error: Invalid pattern: ") + r.message)
        << r.pattern;
    EXPECT_EQ(qg_failure_kind(), GREP_E_ARGUMENT) << r.pattern;
  }
  // A program past its bound is refused like a pattern too large.
  EXPECT_EQ(first_match("(?:(?:a{1000}){1000})", "a"),
            "error: Pattern too large: its program passes 262144 instructions");
}

// Inline flags, alone or scoped, anywhere: a flag group alone sets the rest
// of the group it stands in (where Python takes them only at the start); m
// and s change nothing in a line; x drops white space and '#' comments
// between items, not in classes or after a backslash.
TEST(StandardSyntax, InlineFlagsAnywhere) {
  const struct {
    std::string pattern, line, found;
  } rows[] = {
      {"(?s)a.c", "abc", "1 3"},
      {"(?m)^b$", "b", "1 1"},
      {"(?ms-i:A)", "a", "none"},
      {"a(?i)b", "aB", "1 2"},
      {"a(?i)b", "AB", "none"},
      {"(?i)a(?-i)b", "AbAB", "1 2"},
      {"((?i)a)a", "AA", "none"},
      {"((?i)a)a", "Aa", "1 2"},
      {"(?i)a(?-i:b)c", "AbC", "1 3"},
      {"(?i)a(?-i:b)c", "ABC", "none"},
      {"(?x) a b # the rest\n c", "abc", "1 3"},
      {"(?x)a\\ b", "a b", "1 3"},
      {"(?x)[ ]", "x y", "2 1"},
      {"(?x)a #c\n *", "aaa", "1 3"},
      {"(?x:a b)c d", "abc d", "1 5"},
      {"(?x)(?-x:a b)c", "a bc", "1 4"},
      {"(?a)\\w", "_", "1 1"},
  };
  for (const auto &r : rows) EXPECT_EQ(first_match(r.pattern, r.line), r.found) << r.pattern;
}

// Unicode mode, where the generated comparison with Python cannot reach:
// the POSIX classes (which Python lacks) over Unicode, the names a property
// may be given, and word boundaries between characters beyond ASCII. Each
// row: pattern, line, found in Unicode mode, found in ASCII mode.
TEST(StandardSyntax, UnicodeModeClassesAndProperties) {
  const struct {
    std::string pattern, line, unicode, ascii;
  } rows[] = {
      {"[[:alpha:]]+", "École", "1 6", "3 4"},
      {"[[:upper:]]", "éÉ", "3 2", "none"},
      {"[[:lower:]]+", "ÉCOLEé", "7 2", "none"},
      {"[[:digit:]]+", "x٣٤", "2 4", "none"},
      {"[[:alnum:]]+", "-Ω9", "2 3", "4 1"},
      {"[[:space:]]",
       "a\xc2\xa0"
       "b",
       "2 2", "none"},
      {"[[:blank:]]", "a\xe3\x80\x80", "2 3", "none"},
      {"[[:punct:]]", "a«", "2 2", "none"},
      {"[[:punct:]]", "a+", "2 1", "2 1"},
      {"[[:graph:]]", " \xc2\xa0€", "4 3", "none"},
      {"[[:print:]]", "\xc2\xa0", "1 2", "none"},
      {"[[:cntrl:]]", "a\xc2\x85", "2 2", "none"},
      {"[[:xdigit:]]", "ＡA", "4 1", "4 1"},
      {"[[:^alpha:]]", "Ωa1", "4 1", "1 2"},
      {"\\p{Greek}+", "aΩμ", "2 4", "2 4"},
      {"\\p{Grek}", "Ω", "1 2", "1 2"},
      {"\\p{script=greek}", "Ω", "1 2", "1 2"},
      {"\\p{ Uppercase-Letter }", "aΩ", "2 2", "2 2"},
      {"\\p{General_Category=Lu}", "aΩ", "2 2", "2 2"},
      {"\\p{L&}", "1ǅ", "2 2", "2 2"},
      {"\\p{LC}", "中ǅ", "4 2", "4 2"},
      {"\\p{Any}", "\xf0\x9f\x98\x80", "1 4", "1 4"},
      {"\\p{ASCII}+", "éab", "3 2", "3 2"},
      {"\\p{Assigned}",
       "\xf3\xb0\x80\x80"
       "a",
       "1 4", "1 4"},
      {"\\p{Cn}", "a\xf4\x8f\xbf\xbf", "2 4", "2 4"},
      {"\\p{Zzzz}", "a\xf4\x8f\xbf\xbf", "2 4", "2 4"},
      {"\\p{Cs}", "\xed\xa0\x80", "none", "none"},
      {"\\P{L}", "\xff", "1 1", "1 1"},
      {"(?i)\\p{Lu}", "ω", "1 2", "none"},
      {"(?i)σ", "ς", "1 2", "none"},
      {"(?i)k", "\xe2\x84\xaa", "1 3", "none"},
      {"(?i)[^k]", "\xe2\x84\xaa", "none", "1 3"},
      {"(?i)ß", "ẞ", "1 3", "none"},
      {"(?i)i", "İ", "none", "none"},
      {"\\bмир\\b", "мирный мир", "14 6", "none"},
      {"\\Bир", "мир", "3 4", "3 4"},
      {"(?a)\\w", "éa", "3 1", "3 1"},
      {"(?a:\\b)a", "éa", "3 1", "3 1"},
      {"(?u)\\w", "éa", "1 2", "1 2"},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(first_match(r.pattern, r.line, true, false, true), r.unicode) << r.pattern;
    EXPECT_EQ(first_match(r.pattern, r.line), r.ascii) << r.pattern << " (ASCII)";
  }
  // Whole words are Unicode's words; in ASCII mode no boundary stands next
  // to a letter beyond ASCII.
  EXPECT_EQ(first_match("мир", "мирный мир", true, true, true), "14 6");
  EXPECT_EQ(first_match("мир", "мирный мир", true, true, false), "none");
}

// Meanings where Python's re is particular, each row as re.search gives it.
TEST(StandardSyntax, MeaningsAsPythonGivesThem) {
  struct row {
    const char *pattern;
    std::string line;
    const char *want;
  };
  const row rows[] = {
      // An optional iteration that consumes nothing ends the repetition.
      {"(|a)*", "a", "1 0"},
      {"(?:a?)*?b", "aab", "1 3"},
      {"(a?"
       "?)+b",
       "ab", "1 2"},
      {"(?:(?:)*)*x", "yx", "2 1"},
      {"(a*)*?b", "aab", "1 3"},
      // Leftmost-first, not longest.
      {"(?:ab|a)(?:c|bcd)", "abcd", "1 3"},
      {"(a|ab)(c|bcd)(d*)", "abcd", "1 4"},
      {"a{2}?", "aaa", "1 2"},
      {"a{,2}", "aaa", "1 2"},
      // Units are code points, or single bytes that are no part of UTF-8;
      // an attempt never starts inside a character.
      {"\\W\\W\\W", "€!", "none"},
      {".$", "é", "1 2"},
      {"[^a]", "\xff", "1 1"},
      {"\\xe9", "é", "1 2"},
      {"x*", "é", "1 0"},
      {"..",
       "\xe2\x82"
       "a",
       "1 2"},
      {"\xff", "\xff", "1 1"},
      // Case folding is ASCII.
      {"(?i)É", "é", "none"},
      {"(?i)[k]", "K", "1 1"},
      {"(?i:A)b", "aB", "none"},
      // \B holds nowhere in an empty line; \b between word and non-word.
      {"\\B", "", "none"},
      {"\\b", "a", "1 0"},
      {"^$", "", "1 0"},
      {"[]]", "]", "1 1"},
      {"[[:alpha:]]+", "12ab3", "3 2"},
      {"[[:^digit:]]", "12a", "3 1"},
      {"a{", "a{", "1 2"},
      {"(?#note)b", "ab", "2 1"},
  };
  for (const row &r : rows) {
    EXPECT_EQ(first_match(r.pattern, r.line), r.want) << r.pattern << " on " << r.line;
  }
  EXPECT_EQ(first_match("mutex", "a mutexes mutex", true, true), "11 5");
  EXPECT_EQ(first_match("MUTEX", "mutex", false, false), "1 5");
}

// Every line with a match holds one of the literals the pattern is
// prefiltered with: searches with the library's scan give what matching each
// line gives.
TEST(StandardSyntax, PrefilterLiteralsKeepEveryMatchingLine) {
  struct row {
    const char *pattern;
    int literal_count;  // what the pattern should be prefiltered with
  };
  const row rows[] = {
      {"pthread_(mutex|cond)_lock", 2},
      {"PM_RESUME|PM_SUSPEND|PM_FREEZE", 3},
      {"(?i)obj|cmd_", 2},
      {"ab(c|d)?ef", 1},
      {"[0-9]{4}", 0},
      {"a|", 0},
      {"x(?:yz){2}", 1},
      {"(?:foo|bar)+baz", 1},
  };
  const std::string text =
      "pthread_mutex_lock(m);\nPTHREAD_COND_LOCK\npthread_cond_lock\nPM_FREEZE\nOBJ_x\ncmd_y\n"
      "abef abcef\n2024\nxyzyz\nfoobarbaz\nbarbaz\nnothing\n";
  for (const row &r : rows) {
    re_program *program = compile(r.pattern);
    ASSERT_NE(program, nullptr) << r.pattern;
    EXPECT_EQ(program->literal_count, r.literal_count) << r.pattern;
    // The lines a document search reports are those where the pattern
    // matches the line alone.
    std::string expected;
    size_t start = 0, line_no = 1;
    re_scratch *scratch = re_scratch_new(program);
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      int32_t col = 0, len = 0;
      if (re_find(program, scratch, text.data() + start, end - start, &col, &len) == RE_MATCH) {
        expected += std::to_string(line_no) + ":" + std::to_string(col) + " ";
      }
      start = end + 1;
      ++line_no;
    }
    re_scratch_free(scratch);
    re_program_free(program);
    const std::string doc =
        grep_search_text("t.txt", text.data(), text.size(), r.pattern, R"({"syntax":"standard"})");
    std::string found;
    for (size_t at = doc.find("\"line\":"); at != std::string::npos;
         at = doc.find("\"line\":", at + 1)) {
      const size_t col_at = doc.find("\"col\":", at);
      found += std::to_string(std::stoi(doc.substr(at + 7))) + ":" +
               std::to_string(std::stoi(doc.substr(col_at + 6))) + " ";
    }
    EXPECT_EQ(found, expected) << r.pattern;
  }
}

// Patterns that make a backtracking matcher take exponential time answer
// like any other, within the engine's bound of instructions times positions.
TEST(StandardSyntax, HostilePatternsGiveTheirAnswer) {
  EXPECT_EQ(first_match("(a|aa)*c", std::string(50000, 'a')), "none");
  EXPECT_EQ(first_match("(x+x+)+y", std::string(5000, 'x')), "none");
  EXPECT_EQ(first_match("(a*)*b", std::string(20000, 'a')), "none");
  EXPECT_EQ(first_match("(?:a?){300}a{300}", std::string(300, 'a')), "1 300");
  EXPECT_EQ(first_match("(?:a|b|ab)*c", std::string(4000, 'a') + "c"), "1 4001");
}

}  // namespace
