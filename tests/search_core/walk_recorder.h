// What the walk tests share: a handler that records every call and checks
// the handler contract on the way, and the root dispatch run with an options
// text. Header-only; each test program gets its own copy.
#ifndef QG_TEST_WALK_RECORDER_H
#define QG_TEST_WALK_RECORDER_H

#include "grep_core/last_error.h"
#include "search_core/walk.h"

#include <gtest/gtest.h>

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

// Records every handler call and checks the handler contract on the way.
struct Recorder {
  const search_tally *tally = nullptr;
  int32_t context_lines = 0;  // the options' value, which every call must carry
  std::vector<Hit> hits;
  std::string last_error_at_last_hit;
};

void record(void *ctx, const char *path, int32_t line_no, int32_t col, const char *text,
            const line_array *lines, int32_t line_index, int32_t context_lines) {
  auto *r = static_cast<Recorder *>(ctx);
  EXPECT_EQ(line_index, line_no - 1);
  ASSERT_LT(line_index, lines->count);
  EXPECT_EQ(text, lines->items[line_index]);
  EXPECT_EQ(r->tally->total_matches, static_cast<int32_t>(r->hits.size()) + 1);
  EXPECT_EQ(context_lines, r->context_lines);
  r->hits.push_back({path, line_no, col, text});
  r->last_error_at_last_hit = qm_grep_get_last_error();
}

struct Result {
  search_tally tally{};
  Recorder rec;
  std::multiset<std::string> paths() const {
    std::multiset<std::string> out;
    for (const Hit &h : rec.hits) out.insert(h.path);
    return out;
  }
};

// Runs the root dispatch with the options text `json`.
Result search(const std::string &root, const char *pattern, const char *json = nullptr) {
  Result r;
  r.rec.tally = &r.tally;
  grep_opts opts;
  EXPECT_TRUE(grep_opts_parse_json(&opts, json));
  r.rec.context_lines = opts.context_lines;
  search_root(root.c_str(), pattern, &opts, &r.tally, record, &r.rec);
  grep_opts_free(&opts);
  EXPECT_EQ(r.tally.total_matches, static_cast<int32_t>(r.rec.hits.size()));
  return r;
}

}  // namespace

#endif  // QG_TEST_WALK_RECORDER_H
