// What the walk tests share: a search run through the document driver with
// an options text, its matches and totals read back from the document.
// Header-only; each test program gets its own copy.
#ifndef QG_TEST_WALK_RECORDER_H
#define QG_TEST_WALK_RECORDER_H

#include "grep_core/last_error.h"
#include "search_core/report_json.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct Hit {
  std::string path;
  int32_t line_no;
  int32_t col;
  std::string text;
};

struct Result {
  std::vector<Hit> hits;
  int32_t files_searched = 0;
  int status = GREP_OK;
  bool failed = false;  // no document: the search failed
  std::multiset<std::string> paths() const {
    std::multiset<std::string> out;
    for (const Hit &h : hits) out.insert(h.path);
    return out;
  }
};

// Runs the document search with the options text `json` and reads it back.
Result search(const std::string &root, const char *pattern, const char *json = nullptr) {
  Result r;
  qg_set_status(GREP_OK);
  char *text = grep_core_search_json(root.c_str(), pattern, json);
  r.status = qg_get_status();
  if (text == nullptr) {
    r.failed = true;
    return r;
  }
  yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
  free(text);
  EXPECT_NE(doc, nullptr);
  if (doc == nullptr) return r;
  yyjson_val *top = yyjson_doc_get_root(doc);
  size_t i, n;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(top, "matches"), i, n, m) {
    r.hits.push_back({yyjson_get_str(yyjson_obj_get(m, "file")),
                      static_cast<int32_t>(yyjson_get_int(yyjson_obj_get(m, "line"))),
                      static_cast<int32_t>(yyjson_get_int(yyjson_obj_get(m, "col"))),
                      yyjson_get_str(yyjson_obj_get(m, "text"))});
  }
  r.files_searched = static_cast<int32_t>(yyjson_get_int(yyjson_obj_get(top, "files_searched")));
  EXPECT_EQ(yyjson_get_int(yyjson_obj_get(top, "total_matches")),
            static_cast<int64_t>(r.hits.size()));
  yyjson_doc_free(doc);
  return r;
}

}  // namespace

#endif  // QG_TEST_WALK_RECORDER_H
