#include "search_core/report_stream.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/match_json.h"

#include <stdint.h>
#include <string.h>

namespace {

sink_verdict object_fails() {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory writing a match object");
  return SINK_FAIL;
}

bool delivers(const stream_match_ctx *c) {
  return c->callback != nullptr || c->callback_ctx != nullptr;
}

// Keeps the file's path; it is escaped at the file's first match, so that
// the many files without one cost nothing here.
sink_verdict begin_file(void *ctx, const char *path) {
  auto *c = static_cast<stream_match_ctx *>(ctx);
  c->file = path;
  c->path_written = false;
  return SINK_GO_ON;
}

// The streaming search with the callbacks of `ctx`.
int run_stream(const char *root_path, const char *pattern, const char *options_json,
               stream_match_ctx ctx) {
  if (root_path == nullptr || pattern == nullptr) {
    qg_fail_call(GREP_E_ARGUMENT, "root_path and pattern are required");
    return -1;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return -1;
  }
  ctx.members = match_json_members_of(&opts);
  ctx.room = opts.max_output_bytes > 0 ? static_cast<uint64_t>(opts.max_output_bytes) : UINT64_MAX;
  search_tally tally{};
  const search_sink sink = {&ctx,    begin_file, stream_match_handler, nullptr,
                            nullptr, nullptr,    nullptr};
  int result = -1;
  searcher *s = searcher_new(pattern, &opts, &tally, &sink);
  if (s == nullptr) {
    qg_status_from_failure();
  } else {
    ctx.check = {searcher_stop_check, s};
    const search_outcome outcome = searcher_run(s, root_path);
    searcher_report_outcome(s, outcome);
    if (outcome != SEARCH_FAILED) result = tally.total_matches;
    searcher_free(s);
  }
  json_out_free(&ctx.path);
  json_out_free(&ctx.object);
  grep_opts_free(&opts);
  return result;
}

}  // namespace

sink_verdict stream_match_handler(void *ctx, const scan_match *m) {
  auto *c = static_cast<stream_match_ctx *>(ctx);
  if (!delivers(c)) return SINK_GO_ON;  // only counted
  if (!c->path_written) {
    json_out_string_into(&c->path, c->file, strlen(c->file));
    if (c->path.failed) return object_fails();
    c->path_written = true;
  }
  if (c->room < match_json_least_size(m, c->path.len)) return SINK_FULL;
  c->object.len = 0;
  c->object.failed = false;
  const bool whole = match_json_write(&c->object, &c->path, m,
                                      c->members, c->check);
  if (c->object.failed) return object_fails();
  if (!whole) return SINK_DROPPED;
  if (c->room != UINT64_MAX) {
    if (c->object.len > c->room) return SINK_FULL;
    c->room -= c->object.len;
  }
  if (c->callback != nullptr) {
    c->callback(c->object.data);
    return SINK_GO_ON;
  }
  return c->callback_ctx(c->object.data, c->user_data) == 0 ? SINK_GO_ON : SINK_STOP;
}

int grep_core_search_stream(const char *root_path, const char *pattern, const char *options_json,
                            grep_match_callback callback) {
  return run_stream(
      root_path, pattern, options_json,
      stream_match_ctx{
          callback, nullptr, nullptr, nullptr, false, {}, {}, {}, 0, {nullptr, nullptr}});
}

int grep_core_search_stream_ctx(const char *root_path, const char *pattern,
                                const char *options_json, grep_match_callback_ctx callback,
                                void *user_data) {
  return run_stream(root_path, pattern, options_json,
                    stream_match_ctx{nullptr,
                                     callback,
                                     user_data,
                                     nullptr,
                                     false,
                                     {},
                                     {},
                                     {},
                                     0,
                                     {nullptr, nullptr}});
}
