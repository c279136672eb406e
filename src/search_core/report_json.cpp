#include "search_core/report_json.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/clock.h"
#include "search_core/match_object.h"
#include "search_core/walk.h"

void report_time_limit(int32_t timeout_ms) {
  qm_grep_set_last_error("Search stopped at the time limit of %d ms", timeout_ms);
}

void full_json_match_handler(void *ctx, const char *path, int32_t line_no, int32_t col,
                             const char *text, const line_array *lines, int32_t line_index,
                             int32_t context_lines) {
  auto *c = static_cast<json_match_ctx *>(ctx);
  // The object joins the array only when whole, so the document stays
  // well-formed whatever runs out.
  yyjson_mut_val *obj = yyjson_mut_obj(c->doc);
  if (obj == nullptr ||
      !match_object_fill(c->doc, obj, path, line_no, col, text, lines, line_index, context_lines) ||
      !yyjson_mut_arr_append(c->matches, obj)) {
    c->failed = true;
  }
}

// A document whose root object holds an empty "matches" array, its first
// member. Null when memory runs out.
static yyjson_mut_doc *new_search_document(yyjson_mut_val **out_matches) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  if (doc == nullptr) return nullptr;
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_val *matches = yyjson_mut_arr(doc);
  if (root == nullptr || matches == nullptr ||
      !yyjson_mut_obj_add_val(doc, root, "matches", matches)) {
    yyjson_mut_doc_free(doc);
    return nullptr;
  }
  yyjson_mut_doc_set_root(doc, root);
  *out_matches = matches;
  return doc;
}

// Adds the totals after "matches" (and "timed_out" after them when the
// search stopped at its time limit) and writes the document compactly. Null
// when memory runs out.
static char *finish_search_document(yyjson_mut_doc *doc, const search_tally *tally,
                                    int64_t duration_ms, bool timed_out) {
  yyjson_mut_val *root = yyjson_mut_doc_get_root(doc);
  if (!yyjson_mut_obj_add_int(doc, root, "total_matches", tally->total_matches) ||
      !yyjson_mut_obj_add_int(doc, root, "files_searched", tally->files_searched) ||
      !yyjson_mut_obj_add_int(doc, root, "duration_ms", duration_ms) ||
      (timed_out && !yyjson_mut_obj_add_true(doc, root, "timed_out"))) {
    return nullptr;
  }
  return yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
}

char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return nullptr;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) return nullptr;
  const int64_t start_ms = search_clock_ms();
  search_tally tally{};
  json_match_ctx ctx{};
  ctx.doc = new_search_document(&ctx.matches);
  char *text = nullptr;
  searcher *s = nullptr;
  if (ctx.doc != nullptr &&
      (s = searcher_new(pattern, &opts, &tally, full_json_match_handler, &ctx)) != nullptr) {
    searcher_run(s, root_path);
    const int64_t end_ms = search_clock_ms();
    const bool timed_out = searcher_timed_out(s);
    if (timed_out) report_time_limit(opts.timeout_ms);
    if (!ctx.failed) text = finish_search_document(ctx.doc, &tally, end_ms - start_ms, timed_out);
    if (text == nullptr) qm_grep_set_last_error("Out of memory building the search document");
  } else if (ctx.doc == nullptr) {
    qm_grep_set_last_error("Out of memory building the search document");
  }
  searcher_free(s);
  yyjson_mut_doc_free(ctx.doc);
  grep_opts_free(&opts);
  return text;
}
