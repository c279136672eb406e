// The options table: its JSON form, and that every key reaches its own
// field of the record and no other.
#include "grep_core/option_schema.h"

#include "grep_core/last_error.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <random>
#include <set>
#include <string>

namespace {

struct doc_ptr {
  yyjson_doc *doc;
  explicit doc_ptr(const char *text) : doc(yyjson_read(text, strlen(text), 0)) {}
  ~doc_ptr() { yyjson_doc_free(doc); }
  yyjson_val *root() const { return yyjson_doc_get_root(doc); }
};

std::string owned(char *text) {
  std::string s = text != nullptr ? text : "";
  free(text);
  return s;
}

// The values document of `json` read as the searches read it.
std::string values_of(const std::string &json) {
  grep_opts o;
  EXPECT_TRUE(grep_opts_parse_json(&o, json.c_str())) << json << ": " << qm_grep_get_last_error();
  std::string values = owned(option_values_json(&o));
  grep_opts_free(&o);
  return values;
}

// A value of `key_row`'s type that differs from its default, chosen by `pick`.
std::string other_value(const option_row &key_row, unsigned pick) {
  switch (key_row.type) {
    case option_type::boolean:
      return key_row.fallback != 0 ? "false" : "true";
    case option_type::integer:
      return std::to_string(key_row.fallback + 1 + static_cast<int64_t>(pick % 7));
    case option_type::globs:
      return pick % 2 == 0 ? "\"*.c *.h\"" : "[\"a b\",\"x\"]";
    case option_type::path_globs:
      return pick % 2 == 0 ? "\"src/**\"" : "[\"!x/\",\"**/y\"]";
    case option_type::text:
      return pick % 2 == 0 ? "\"$1-\"" : "\"x\"";
    case option_type::file_hashes:
      return "{\"a/b.c\":\"" + std::string(64, "0123456789abcdef"[pick % 16]) + "\"}";
    case option_type::choice: {
      const int64_t count = [&] {
        int64_t n = 1;
        for (const char *c = key_row.choices; *c != '\0'; ++c) n += *c == '|';
        return n;
      }();
      char text[64];
      option_choice_text(&key_row, (key_row.fallback + 1 + pick % (count - 1)) % count, text,
                         sizeof text);
      return std::string("\"") + text + "\"";
    }
  }
  return "null";
}

TEST(OptionSchema, DocumentListsEveryKeyOnceWithItsDefault) {
  const std::string schema = owned(option_schema_json());
  doc_ptr doc(schema.c_str());
  ASSERT_NE(doc.doc, nullptr) << schema;
  yyjson_val *options = yyjson_obj_get(doc.root(), "options");
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  ASSERT_EQ(yyjson_arr_size(options), count);
  // The defaults the schema states are the values of a record with none given.
  const std::string defaults = values_of("{}");
  doc_ptr values(defaults.c_str());
  std::set<std::string> keys;
  size_t idx, max;
  yyjson_val *row;
  yyjson_arr_foreach(options, idx, max, row) {
    const char *key = yyjson_get_str(yyjson_obj_get(row, "key"));
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(keys.insert(key).second) << key;
    EXPECT_STREQ(key, key_rows[idx].key);
    EXPECT_TRUE(yyjson_equals(yyjson_obj_get(row, "default"), yyjson_obj_get(values.root(), key)))
        << key;
    for (const char *member : {"keyword", "type", "origin", "scope", "doc"}) {
      EXPECT_TRUE(yyjson_is_str(yyjson_obj_get(row, member))) << key << " " << member;
    }
  }
}

// Each key given alone changes its own member of the values document, and
// none other but the keys that share its field (the three case keys).
TEST(OptionSchema, EachKeyReachesItsOwnFieldAlone) {
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  const std::string defaults = values_of("{}");
  doc_ptr base(defaults.c_str());
  for (size_t i = 0; i < count; ++i) {
    const option_row &key_row = key_rows[i];
    const std::string json = std::string("{\"") + key_row.key + "\":" + other_value(key_row, 1) + "}";
    const std::string values = values_of(json);
    doc_ptr changed(values.c_str());
    for (size_t k = 0; k < count; ++k) {
      const bool same_field = key_rows[k].offset == key_row.offset;
      // "syntax":"standard" makes the pattern a regex.
      const bool implied = strcmp(key_row.key, "syntax") == 0 && strcmp(key_rows[k].key, "regex") == 0;
      const bool equal = yyjson_equals(yyjson_obj_get(base.root(), key_rows[k].key),
                                       yyjson_obj_get(changed.root(), key_rows[k].key));
      EXPECT_EQ(equal, !same_field && !implied) << json << " -> " << key_rows[k].key;
    }
  }
}

// Random documents of valid values read back, under "strict", to the same
// values: what the values document says is exactly what a search uses.
TEST(OptionSchema, ValuesDocumentsReadBackToThemselves) {
  size_t count = 0;
  const option_row *key_rows = option_rows(&count);
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    std::string json = "{";
    for (size_t i = 1; i < count; ++i) {
      if (rng() % 3 != 0) continue;
      if (json.size() > 1) json += ",";
      json += std::string("\"") + key_rows[i].key + "\":" + other_value(key_rows[i], rng());
    }
    json += "}";
    const std::string first = values_of(json);
    std::string strict = first;
    strict.replace(strict.find("\"strict\":false"), 14, "\"strict\":true");
    const std::string again = values_of(strict);
    EXPECT_EQ(again.substr(again.find(',')), first.substr(first.find(','))) << json;
  }
}

}  // namespace
