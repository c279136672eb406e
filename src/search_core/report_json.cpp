#include "search_core/report_json.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/clock.h"
#include "search_core/match_object.h"
#include "search_core/walk.h"

#include <string.h>

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

namespace {

// Adds the totals after the matches (and "timed_out" when the search stopped
// at its time limit) and closes the document.
void finish_document(json_out *out, const search_tally *tally, int64_t duration_ms,
                     bool timed_out) {
  JSON_OUT_LITERAL(out, "],\"total_matches\":");
  json_out_int(out, tally->total_matches);
  JSON_OUT_LITERAL(out, ",\"files_searched\":");
  json_out_int(out, tally->files_searched);
  JSON_OUT_LITERAL(out, ",\"duration_ms\":");
  json_out_int(out, duration_ms);
  if (timed_out) JSON_OUT_LITERAL(out, ",\"timed_out\":true");
  json_out_char(out, '}');
}

}  // namespace

char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return nullptr;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) return nullptr;
  const int64_t start_ms = search_clock_ms();
  search_tally tally{};
  json_out out = {};
  JSON_OUT_LITERAL(&out, "{\"matches\":[");
  const search_sink sink = {&out, nullptr, nullptr};
  char *text = nullptr;
  searcher *s = searcher_new_reporting(pattern, &opts, &tally, &sink);
  if (s != nullptr) {
    searcher_run(s, root_path);
    const int64_t end_ms = search_clock_ms();
    const bool timed_out = searcher_timed_out(s);
    if (timed_out) report_time_limit(opts.timeout_ms);
    finish_document(&out, &tally, end_ms - start_ms, timed_out);
    if (!out.failed) {
      text = out.data;
      out.data = nullptr;
    } else {
      qm_grep_set_last_error("Out of memory building the search document");
    }
    searcher_free(s);
  }
  json_out_free(&out);
  grep_opts_free(&opts);
  return text;
}
