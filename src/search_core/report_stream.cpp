#include "search_core/report_stream.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/match_object.h"
#include "search_core/report_json.h"
#include "search_core/walk.h"

#include <stdlib.h>
#include <string.h>
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
  auto *c = static_cast<stream_match_ctx *>(ctx);
  if (c->callback == nullptr && c->callback_ctx == nullptr) return;
  char *json = write_match_object(path, line_no, col, text, lines, line_index, context_lines);
  if (json == nullptr) return;
  if (c->callback != nullptr) {
    c->callback(json);
  } else if (c->callback_ctx(json, c->user_data) != 0 && c->tally != nullptr) {
    c->tally->stop = true;
  }
  free(json);
}

namespace {

// Hands one match object to the host's callback; false when it asks to stop.
bool deliver_object(void *ctx, const char *text, size_t) {
  const auto *c = static_cast<const stream_match_ctx *>(ctx);
  if (c->callback != nullptr) {
    c->callback(text);
    return true;
  }
  return c->callback_ctx(text, c->user_data) == 0;
}

// The streaming search with the callbacks of `ctx`.
int run_stream(const char *root_path, const char *pattern, const char *options_json,
               stream_match_ctx ctx) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return -1;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) return -1;
  search_tally tally{};
  // Without a callback the matches are only counted: no object is written.
  const bool deliver = ctx.callback != nullptr || ctx.callback_ctx != nullptr;
  const search_sink sink = {nullptr, deliver ? deliver_object : nullptr, &ctx};
  searcher *s = searcher_new_reporting(pattern, &opts, &tally, &sink);
  if (s == nullptr) {
    grep_opts_free(&opts);
    return -1;
  }
  searcher_run(s, root_path);
  if (searcher_timed_out(s)) report_time_limit(opts.timeout_ms);
  searcher_free(s);
  grep_opts_free(&opts);
  return tally.total_matches;
}

}  // namespace

int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback) {
  return run_stream(root_path, pattern, options_json,
                    stream_match_ctx{callback, nullptr, nullptr, nullptr});
}

int grep_core_search_stream_ctx(const char *root_path, const char *pattern,
                                const char *options_json, grep_match_callback_ctx callback,
                                void *user_data) {
  return run_stream(root_path, pattern, options_json,
                    stream_match_ctx{nullptr, callback, user_data, nullptr});
}
