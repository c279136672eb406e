#include "search_core/report_files.h"

#include "grep_core/json_out.h"
#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/clock.h"
#include "search_core/report_json.h"
#include "search_core/searcher.h"

#include <string.h>

namespace {

constexpr char kHead[] = "{\"files\":[";

// The longest closing members (see report_json.cpp).
constexpr size_t kTailMax = sizeof(
                                "],\"total_files\":2147483647,\"duration_ms\":-9223372036854775808"
                                ",\"output_limited\":true,\"depth_limited\":true}") -
                            1;

struct files_ctx {
  json_out *out;
  int64_t start_ms;
  size_t entry_limit;  // the list ends here before its totals (document_entry_limit)
};

sink_verdict add_file(void *ctx, const char *path) {
  auto *c = static_cast<files_ctx *>(ctx);
  json_out *out = c->out;
  const size_t mark = out->len;
  const size_t n = strlen(path);
  const size_t comma = mark > sizeof kHead - 1 ? 1 : 0;
  if (c->entry_limit - mark < comma + n + 2) return SINK_FULL;
  if (comma != 0) json_out_char(out, ',');
  json_out_string(out, path, n);
  if (out->failed) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory building the file list");
    return SINK_FAIL;
  }
  if (out->len > c->entry_limit) {
    out->len = mark;
    out->data[mark] = '\0';
    return SINK_FULL;
  }
  return SINK_GO_ON;
}

// Files are reported before they are read, so no match ever arrives.
sink_verdict no_match(void *, const scan_match *) { return SINK_GO_ON; }

void finish(void *ctx, const search_tally *tally, search_outcome outcome) {
  auto *c = static_cast<files_ctx *>(ctx);
  if (outcome == SEARCH_FAILED) return;
  JSON_OUT_LITERAL(c->out, "],\"total_files\":");
  json_out_int(c->out, tally->files_searched);
  JSON_OUT_LITERAL(c->out, ",\"duration_ms\":");
  json_out_int(c->out, search_clock_ms() - c->start_ms);
  if (outcome == SEARCH_TIMED_OUT) JSON_OUT_LITERAL(c->out, ",\"timed_out\":true");
  if (outcome == SEARCH_OUTPUT_LIMITED) JSON_OUT_LITERAL(c->out, ",\"output_limited\":true");
  if (tally->depth_limited) JSON_OUT_LITERAL(c->out, ",\"depth_limited\":true");
  json_out_char(c->out, '}');
}

}  // namespace

char *grep_core_list_files_json(const char *root_path, const char *options_json) {
  if (root_path == nullptr) {
    qg_fail_call(GREP_E_ARGUMENT, "root_path is required");
    return nullptr;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return nullptr;
  }
  // Nothing is matched: a plain literal stands in for any pattern, so that
  // no pattern is compiled and none can be refused.
  opts.regex = false;
  opts.syntax = GREP_SYNTAX_DIALECT;
  search_tally tally{};
  json_out out = {};
  JSON_OUT_LITERAL(&out, kHead);
  files_ctx ctx = {&out, search_clock_ms(),
                   document_entry_limit(opts.max_output_bytes, sizeof kHead - 1, kTailMax)};
  const search_sink sink = {&ctx, add_file, no_match, nullptr, finish, nullptr, nullptr};
  char *text = nullptr;
  searcher *s = searcher_new("-", &opts, &tally, &sink);
  if (s == nullptr) {
    qg_status_from_failure();
  } else {
    s->list_only = true;
    text = take_document(s, searcher_run(s, root_path), &out, "the file list");
    searcher_free(s);
  }
  json_out_free(&out);
  grep_opts_free(&opts);
  return text;
}
