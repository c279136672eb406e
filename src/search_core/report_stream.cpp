#include "search_core/report_stream.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/match_object.h"
#include "search_core/walk.h"

#include <stdlib.h>
#include <yyjson.h>

// The compact text of one match object, or null when memory runs out. The
// caller frees it.
static char *write_match_object(const char *path, int32_t line_no, int32_t col, const char *text,
                                const line_array *lines, int32_t line_index,
                                int32_t context_lines) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  if (doc == nullptr) return nullptr;
  char *json = nullptr;
  yyjson_mut_val *obj = yyjson_mut_obj(doc);
  if (obj != nullptr &&
      match_object_fill(doc, obj, path, line_no, col, text, lines, line_index, context_lines)) {
    yyjson_mut_doc_set_root(doc, obj);
    json = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
  }
  yyjson_mut_doc_free(doc);
  return json;
}

void stream_match_handler(void *ctx, const char *path, int32_t line_no, int32_t col,
                          const char *text, const line_array *lines, int32_t line_index,
                          int32_t context_lines) {
  grep_match_callback callback = static_cast<stream_match_ctx *>(ctx)->callback;
  if (callback == nullptr) return;
  char *json = write_match_object(path, line_no, col, text, lines, line_index, context_lines);
  if (json == nullptr) return;
  callback(json);
  free(json);
}

int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return -1;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) return -1;
  search_tally tally{};
  stream_match_ctx ctx{callback};
  search_root(root_path, pattern, &opts, &tally, stream_match_handler, &ctx);
  grep_opts_free(&opts);
  return tally.total_matches;
}
