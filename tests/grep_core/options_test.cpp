// Search options: defaults, key precedence, value rules and glob lists.
#include "grep_core/options.h"

#include "grep_core/last_error.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> globs(char *const *list, int32_t count) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < count; ++i) out.emplace_back(list[i]);
  return out;
}

// Parses `json`, expecting success, and returns the record (released by the
// caller with grep_opts_free).
grep_opts parsed(const char *json) {
  grep_opts o;
  EXPECT_TRUE(grep_opts_parse_json(&o, json)) << json;
  return o;
}

void expect_defaults(const grep_opts &o) {
  EXPECT_FALSE(o.regex);
  EXPECT_TRUE(o.case_sensitive);
  EXPECT_FALSE(o.whole_word);
  EXPECT_EQ(o.max_results, 0);
  EXPECT_EQ(o.context_lines, 0);
  EXPECT_EQ(o.include_count, 0);
  EXPECT_EQ(o.exclude_count, 0);
  EXPECT_EQ(o.exclude_dir_count, 0);
  EXPECT_EQ(o.max_per_file, 0);
  EXPECT_FALSE(o.hidden);
  EXPECT_TRUE(o.skip_dirs);
  EXPECT_TRUE(o.follow_links);
  EXPECT_FALSE(o.gitignore);
  EXPECT_FALSE(o.match_length);
}

TEST(GrepOpts, NeutralTextsGiveTheDefaultsAndLeaveTheLastError) {
  qm_grep_set_last_error("earlier");
  const char *texts[] = {nullptr, "", "{}", "[]", "null", "42", " { } ", "\"x\""};
  for (const char *text : texts) {
    grep_opts o = parsed(text);
    expect_defaults(o);
    grep_opts_free(&o);
  }
  EXPECT_STREQ(qm_grep_get_last_error(), "earlier");
}

TEST(GrepOpts, InvalidJsonFailsWithTheWholeText) {
  const char *texts[] = {"   ",         "{\"regex\":tru", "{\"a\":1,}",      "{} x",
                         "{\"a\":NaN}", "/*c*/{}",        "{\"a\":\"\xFF\"}"};
  for (const char *text : texts) {
    grep_opts o;
    o.max_results = 99;
    EXPECT_FALSE(grep_opts_parse_json(&o, text)) << text;
    EXPECT_EQ(std::string(qm_grep_get_last_error()),
              std::string("Invalid JSON in options: ") + text);
    expect_defaults(o);
  }
}

TEST(GrepOpts, LongInvalidTextIsCutToTheErrorSlot) {
  std::string text(3000, '{');
  grep_opts o;
  EXPECT_FALSE(grep_opts_parse_json(&o, text.c_str()));
  EXPECT_EQ(std::string(qm_grep_get_last_error()).size(), 1023u);
}

struct FlagCase {
  const char *json;
  bool regex;
  bool case_sensitive;
  bool whole_word;
};

TEST(GrepOpts, BooleanKeysAndCasePrecedence) {
  const FlagCase cases[] = {
      {R"({"regex":true})", true, true, false},
      {R"({"regex":1})", false, true, false},
      {R"({"regex":"true"})", false, true, false},
      {R"({"Regex":true})", false, true, false},
      {R"({"regex":null})", false, true, false},
      {R"({"whole_word":true})", false, true, true},
      {R"({"case_sensitive":false})", false, false, false},
      {R"({"case_insensitive":true})", false, false, false},
      {R"({"ignore_case":true})", false, false, false},
      {R"({"case_sensitive":false,"ignore_case":false})", false, true, false},
      {R"({"ignore_case":true,"case_sensitive":true})", false, false, false},
      {R"({"ignore_case":false,"case_insensitive":true})", false, true, false},
      {R"({"case_insensitive":false,"case_sensitive":false})", false, true, false},
      {R"({"case_insensitive":"yes","case_sensitive":false})", false, false, false},
      {R"({"regex":"x","regex":true})", false, true, false},
  };
  for (const FlagCase &c : cases) {
    grep_opts o = parsed(c.json);
    EXPECT_EQ(o.regex, c.regex) << c.json;
    EXPECT_EQ(o.case_sensitive, c.case_sensitive) << c.json;
    EXPECT_EQ(o.whole_word, c.whole_word) << c.json;
    grep_opts_free(&o);
  }
}

struct IntCase {
  const char *json;
  int32_t max_results;
  int32_t context_lines;
};

TEST(GrepOpts, IntegersKeepTheirLow32Bits) {
  const IntCase cases[] = {
      {R"({"max_results":5})", 5, 0},
      {R"({"max_results":-3})", -3, 0},
      {R"({"max_results":5.0})", 0, 0},
      {R"({"max_results":1e2})", 0, 0},
      {R"({"max_results":"7"})", 0, 0},
      {R"({"max_results":4294967295})", -1, 0},
      {R"({"max_results":4294967296})", 0, 0},
      {R"({"max_results":4294967301})", 5, 0},
      {R"({"max_results":18446744073709551615})", -1, 0},
      {R"({"max_results":18446744073709551616})", 0, 0},
      {R"({"max_results":-9223372036854775808})", 0, 0},
      {R"({"max_results":-4294967297})", -1, 0},
      {R"({"context_lines":4294967298})", 0, 2},
      {R"({"context_lines":2147483647})", 0, 2147483647},
      {R"({"context_lines":2147483648})", 0, INT32_MIN},
      {R"({"max_results":"x","max_results":7})", 0, 0},
      {R"({"max_results":7,"max_results":8,"context_lines":3})", 7, 3},
  };
  for (const IntCase &c : cases) {
    grep_opts o = parsed(c.json);
    EXPECT_EQ(o.max_results, c.max_results) << c.json;
    EXPECT_EQ(o.context_lines, c.context_lines) << c.json;
    grep_opts_free(&o);
  }
}

struct WalkCase {
  const char *json;
  bool hidden, skip_dirs, follow_links, gitignore, match_length;
  int32_t max_per_file;
};

// The keys beyond the core ones take their values plainly, and the first
// member wins.
TEST(GrepOpts, ExtensionKeysTakeTheirValues) {
  const WalkCase cases[] = {
      {R"({"hidden":true,"gitignore":true})", true, true, true, true, false, 0},
      {R"({"skip_dirs":false,"follow_links":false})", false, false, false, false, false, 0},
      {R"({"match_length":true,"max_per_file":2})", false, true, true, false, true, 2},
      {R"({"hidden":true,"hidden":"x","skip_dirs":false,"skip_dirs":3})", true, false, true,
       false, false, 0},
      {R"({"max_per_file":-4})", false, true, true, false, false, -4},
  };
  for (const WalkCase &c : cases) {
    grep_opts o = parsed(c.json);
    EXPECT_EQ(o.hidden, c.hidden) << c.json;
    EXPECT_EQ(o.skip_dirs, c.skip_dirs) << c.json;
    EXPECT_EQ(o.follow_links, c.follow_links) << c.json;
    EXPECT_EQ(o.gitignore, c.gitignore) << c.json;
    EXPECT_EQ(o.match_length, c.match_length) << c.json;
    EXPECT_EQ(o.max_per_file, c.max_per_file) << c.json;
    grep_opts_free(&o);
  }
}

struct RefusalCase {
  const char *json;
  const char *message;
};

// A value that a key beyond the core ones cannot take fails the call with a
// message naming the key, whatever "strict" says; so does every refusal of
// "strict", which reads the core keys by the same rule and knows every key.
TEST(GrepOpts, ValuesAKeyCannotTakeAreRefusedByName) {
  const RefusalCase cases[] = {
      {R"({"timeout_ms":4294967296})", "Option 'timeout_ms' takes an integer within 32 bits"},
      {R"({"threads":2.0})", "Option 'threads' takes an integer within 32 bits"},
      {R"({"max_per_file":"3"})", "Option 'max_per_file' takes an integer within 32 bits"},
      {R"({"hidden":1})", "Option 'hidden' takes true or false"},
      {R"({"follow_links":"no"})", "Option 'follow_links' takes true or false"},
      {R"({"gitignore":null})", "Option 'gitignore' takes true or false"},
      {R"({"path_globs":5})", "Option 'path_globs' takes a glob or an array of globs"},
      {R"({"path_globs":["a",1]})", "Option 'path_globs' takes a glob or an array of globs"},
      {R"({"print":"all"})",
       "Option 'print' takes one of "
       "'lines|matches|files|count|json|vimgrep|paths', not 'all'"},
      {R"({"sort":"size"})", "Option 'sort' takes one of 'none|path|modified', not 'size'"},
      {R"({"syntax":5})", "Unknown syntax '5'"},
      {R"({"strict":true,"ignor_case":true})", "Unknown option 'ignor_case'"},
      {R"({"strict":true,"regex":true,"regex":true})", "Option 'regex' is given more than once"},
      {R"({"strict":true,"case_sensitive":"false"})",
       "Option 'case_sensitive' takes true or false"},
      {R"({"strict":true,"max_results":5.0})",
       "Option 'max_results' takes an integer within 32 bits"},
      {R"({"strict":true,"context_lines":4294967298})",
       "Option 'context_lines' takes an integer within 32 bits"},
      {R"({"strict":true,"include_globs":5})",
       "Option 'include_globs' takes a text of globs or an array of texts"},
      {R"({"strict":true,"exclude_globs":["a",null]})",
       "Option 'exclude_globs' takes a text of globs or an array of texts"},
      {R"({"strict":"yes"})", "Option 'strict' takes true or false"},
  };
  for (const RefusalCase &c : cases) {
    grep_opts o;
    EXPECT_FALSE(grep_opts_parse_json(&o, c.json)) << c.json;
    EXPECT_STREQ(qm_grep_get_last_error(), c.message) << c.json;
    EXPECT_EQ(qg_failure_kind(), GREP_E_ARGUMENT) << c.json;
    expect_defaults(o);
  }
}

// Lists past their limit are cut without "strict" and refused with it.
TEST(GrepOpts, StrictRefusesListsPastTheirLimit) {
  std::string text, array = "[";
  for (int i = 0; i < 65; ++i) {
    text += "g" + std::to_string(i) + " ";
    array += (i > 0 ? ",\"g" : "\"g") + std::to_string(i) + "\"";
  }
  array += "]";
  for (const std::string &value : {"\"" + text + "\"", array}) {
    const std::string json = "{\"strict\":true,\"exclude_globs\":" + value + "}";
    grep_opts o;
    EXPECT_FALSE(grep_opts_parse_json(&o, json.c_str())) << json;
    EXPECT_STREQ(qm_grep_get_last_error(), "Option 'exclude_globs' takes at most 64 globs");
  }
  const std::string fits = "{\"strict\":true,\"exclude_globs\":\"a b c\"}";
  grep_opts o = parsed(fits.c_str());
  EXPECT_EQ(o.exclude_count, 3);
  grep_opts_free(&o);
}

// The output cap is read whole as 64 bits (a cap past 4 GiB is not cut to a
// small one or to none); a value it cannot take is refused, as for every key
// beyond the core ones, and the first member counts.
TEST(GrepOpts, OutputCapIsAWhole64BitInteger) {
  const std::pair<const char *, int64_t> cases[] = {
      {R"({"max_output_bytes":1048576})", 1048576},
      {R"({"max_output_bytes":4294967296})", 4294967296},
      {R"({"max_output_bytes":9223372036854775807})", INT64_MAX},
      {R"({"max_output_bytes":-1})", -1},
      {R"({"max_output_bytes":7,"max_output_bytes":null})", 7},
      {"{}", 0},
  };
  for (const auto &[json, cap] : cases) {
    grep_opts o = parsed(json);
    EXPECT_EQ(o.max_output_bytes, cap) << json;
    grep_opts_free(&o);
  }
  for (const char *json : {R"({"max_output_bytes":9223372036854775808})",
                           R"({"max_output_bytes":1e6})", R"({"max_output_bytes":"100"})"}) {
    grep_opts o;
    EXPECT_FALSE(grep_opts_parse_json(&o, json)) << json;
    EXPECT_STREQ(qm_grep_get_last_error(), "Option 'max_output_bytes' takes an integer within 64 bits");
  }
}

struct GlobCase {
  const char *json;
  std::vector<std::string> include;
};

TEST(GrepOpts, GlobListsFromStringsAndArrays) {
  const GlobCase cases[] = {
      {R"({"include_globs":"*.c;*.h"})", {"*.c", "*.h"}},
      {R"({"include_globs":["*.c","*.h"]})", {"*.c", "*.h"}},
      {R"({"include_globs":" *.c ; *.h ,,*.md"})", {"*.c", "*.h", "*.md"}},
      {R"({"include_globs":"*.c *.h"})", {"*.c", "*.h"}},
      {R"({"include_globs":"*.{c,h}"})", {"*.{c", "h}"}},
      {R"({"include_globs":"a\tb"})", {"a\tb"}},
      {R"({"include_globs":["*.c",7,null,"a b"]})", {"*.c", "a b"}},
      {R"({"include_globs":["", "x,y"]})", {"", "x,y"}},
      {R"({"include_globs":""})", {}},
      {R"({"include_globs":" ;, "})", {}},
      {R"({"include_globs":{}})", {}},
      {R"({"include_globs":true})", {}},
      {R"({"include_globs":5,"include_globs":"*.c"})", {}},
  };
  for (const GlobCase &c : cases) {
    grep_opts o = parsed(c.json);
    EXPECT_EQ(globs(o.include_globs, o.include_count), c.include) << c.json;
    grep_opts_free(&o);
  }
}

TEST(GrepOpts, EachListHasItsOwnKey) {
  grep_opts o =
      parsed(R"({"exclude_dirs":"vendor","exclude_globs":["test_*"],"include_globs":"*.c"})");
  EXPECT_EQ(globs(o.include_globs, o.include_count), std::vector<std::string>{"*.c"});
  EXPECT_EQ(globs(o.exclude_globs, o.exclude_count), std::vector<std::string>{"test_*"});
  EXPECT_EQ(globs(o.exclude_dirs, o.exclude_dir_count), std::vector<std::string>{"vendor"});
  grep_opts_free(&o);
  grep_opts d = parsed(R"({"exclude_dirs":{}})");
  EXPECT_EQ(d.exclude_dir_count, 0);
  grep_opts_free(&d);
}

TEST(GrepOpts, SeventyGlobsKeepTheFirst64) {
  std::string text;
  std::string array = "[";
  for (int i = 0; i < 70; ++i) {
    text += "g" + std::to_string(i) + ",";
    array += (i > 0 ? ",\"g" : "\"g") + std::to_string(i) + "\"";
  }
  array += "]";
  for (const std::string &json :
       {"{\"exclude_globs\":\"" + text + "\"}", "{\"exclude_globs\":" + array + "}"}) {
    grep_opts o = parsed(json.c_str());
    ASSERT_EQ(o.exclude_count, 64) << json;
    EXPECT_STREQ(o.exclude_globs[0], "g0");
    EXPECT_STREQ(o.exclude_globs[63], "g63");
    grep_opts_free(&o);
  }
}

TEST(GrepOpts, AddGlobsFromStrAppendsToWhatIsThere) {
  char *list[GREP_OPTS_MAX_GLOBS];
  int32_t count = 0;
  add_globs_from_str(list, &count, nullptr);
  add_globs_from_str(list, &count, "");
  EXPECT_EQ(count, 0);
  add_globs_from_str(list, &count, "a,b");
  add_globs_from_str(list, &count, ";c;");
  EXPECT_EQ(globs(list, count), (std::vector<std::string>{"a", "b", "c"}));
  for (int32_t i = 0; i < count; ++i) free(list[i]);
}

TEST(GrepOpts, FreeZeroesTheRecord) {
  grep_opts o = parsed(R"({"include_globs":"a b","regex":true,"max_results":3})");
  grep_opts_free(&o);
  EXPECT_FALSE(o.case_sensitive);
  EXPECT_FALSE(o.regex);
  EXPECT_EQ(o.max_results, 0);
  EXPECT_EQ(o.include_count, 0);
  grep_opts_free(&o);
  grep_opts_init(&o);
  expect_defaults(o);
}

}  // namespace
