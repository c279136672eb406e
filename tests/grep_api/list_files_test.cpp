// The listing export: the files a search would read, without reading them,
// and the path globs that choose them.
#include "quenmar_grep.h"

#include "support/json_text.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using qg_test::json_quoted;

struct Listing {
  std::vector<std::string> files;
  int64_t total = -1;
  std::string error;
};

Listing list(const std::string &root, const std::string &options = "{}") {
  const char *text = grep_list_files_json(root.c_str(), options.c_str());
  Listing l;
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  if (doc == nullptr) {
    ADD_FAILURE() << "not JSON: " << text;
    return l;
  }
  yyjson_val *top = yyjson_doc_get_root(doc);
  size_t idx, max;
  yyjson_val *f;
  yyjson_arr_foreach(yyjson_obj_get(top, "files"), idx, max, f) l.files.emplace_back(yyjson_get_str(f));
  l.total = yyjson_get_int(yyjson_obj_get(top, "total_files"));
  const char *error = yyjson_get_str(yyjson_obj_get(top, "error"));
  l.error = error != nullptr ? error : "";
  yyjson_doc_free(doc);
  return l;
}

// The files a search reports as read, from matching every file's first line.
std::set<std::string> searched(const std::string &root, const std::string &options) {
  std::set<std::string> out;
  const char *text = grep_search_json(root.c_str(), "^", options.c_str());
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  size_t idx, max;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, m) {
    out.insert(yyjson_get_str(yyjson_obj_get(m, "file")));
  }
  yyjson_doc_free(doc);
  return out;
}

TEST(ListFiles, ListsWhatASearchReadsInWalkOrderWithoutReadingIt) {
  qg_test::TempDir t;
  t.write("src/a.c", "int a;\n");
  t.write("src/linux/b.h", "int b;\n");
  t.write("docs/c.txt", "text\n");
  t.write("empty.txt", "");
  t.write("build/skipped.c", "x\n");
  t.write(".hidden/d.c", "x\n");
  t.write("bin.dat", std::string("a\0b\n", 4));
  const std::string root = t.path();
  for (const std::string options :
       {"{}", R"({"include_globs":"*.c"})", R"({"hidden":true,"threads":2})",
        R"({"path_globs":["**/linux/*.h"]})", R"({"path_globs":["*.{c,h}","!src/linux/"]})",
        R"({"path_globs":".hidden/*"})"}) {
    const Listing l = list(root, options);
    EXPECT_EQ(grep_last_status(), GREP_OK) << options;
    EXPECT_EQ(l.total, static_cast<int64_t>(l.files.size())) << options;
    // Every file with a line is searched; the empty and the binary file are
    // read too, and listed, though no match can come from them.
    const std::string regex = options == "{}" ? R"({"regex":true})" : R"({"regex":true,)" + options.substr(1);
    std::set<std::string> expected = searched(root, regex);
    for (const std::string &extra : {t.at("empty.txt"), t.at("bin.dat")}) {
      if (std::find(l.files.begin(), l.files.end(), extra) != l.files.end()) expected.insert(extra);
    }
    EXPECT_EQ(std::set<std::string>(l.files.begin(), l.files.end()), expected) << options;
  }
  const Listing all = list(root);
  EXPECT_EQ(all.files.size(), 5u);  // a.c, b.h, c.txt, empty.txt, bin.dat
  EXPECT_EQ(list(root, R"({"path_globs":["**/linux/*.h"]})").files,
            std::vector<std::string>{t.at("src/linux/b.h")});
  // A selecting glob opens what the hidden rule and the skip list close; a
  // folder that no glob selects is judged by those rules first.
  EXPECT_EQ(list(root, R"({"path_globs":[".hidden","build",".hidden/*","build/*.c"]})").files.size(),
            2u);
  EXPECT_TRUE(list(root, R"({"path_globs":[".hidden/*","build/*.c"]})").files.empty());
}

TEST(ListFiles, RootsAndFailuresAsASearchHasThem) {
  qg_test::TempDir t;
  const std::string file = t.write("a.txt", "x\n");
  EXPECT_EQ(list(file).files, std::vector<std::string>{file});
  const Listing missing = list(t.at("nothing"));
  EXPECT_EQ(grep_last_status(), GREP_E_NOT_FOUND);
  EXPECT_NE(missing.error.find("nothing"), std::string::npos);
  EXPECT_TRUE(missing.files.empty());
  const Listing bad = list(t.path(), "{not json");
  EXPECT_EQ(grep_last_status(), GREP_E_ARGUMENT);
  EXPECT_NE(bad.error.find("Invalid JSON in options"), std::string::npos);
  // Patterns and syntaxes play no part: nothing is compiled.
  EXPECT_EQ(list(t.path(), R"({"syntax":"standard","regex":true})").files.size(), 1u);
  EXPECT_EQ(grep_list_files_json(nullptr, nullptr), std::string(grep_list_files_json(nullptr, "")));
  EXPECT_EQ(grep_last_status(), GREP_E_ARGUMENT);
}

TEST(ListFiles, HostileBracesAndGlobsEndPromptly) {
  qg_test::TempDir t;
  t.write("a/b.c", "x\n");
  std::string braces;
  for (int i = 0; i < 40; ++i) braces += "{a,b}";
  std::string deep(5000, '{');
  const std::string options = "{\"path_globs\":[" + json_quoted(braces + "/*.c") + "," +
                              json_quoted(deep) + "," + json_quoted("!\n*.c") + ",\"a/**\"]}";
  const Listing l = list(t.path(), options);
  EXPECT_EQ(grep_last_status(), GREP_OK);
  EXPECT_EQ(l.files, std::vector<std::string>{t.at("a/b.c")});
}

}  // namespace
