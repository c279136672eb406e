#include "search_core/report_json.h"

#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "search_core/clock.h"
#include "search_core/match_json.h"

#include <stdint.h>
#include <string.h>

namespace {

constexpr char kHead[] = "{\"matches\":[";

// The longest closing members: the totals at their largest, the longer of
// the two end marks and the walk's depth notice.
constexpr size_t kTailMax = sizeof(
                                "],\"total_matches\":2147483647,\"files_searched\":2147483647"
                                ",\"duration_ms\":-9223372036854775808"
                                ",\"output_limited\":true,\"depth_limited\":true}") -
                            1;

sink_verdict document_fails() {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory building the search document");
  return SINK_FAIL;
}

// Keeps the file's path; it is escaped at the file's first match, so that
// the many files without one cost nothing here.
sink_verdict begin_file(void *ctx, const char *path) {
  auto *c = static_cast<json_match_ctx *>(ctx);
  c->file = path;
  c->path_written = false;
  return SINK_GO_ON;
}

// Closes the "matches" array and adds the totals after it (and "timed_out"
// when the search stopped at its time limit). A failed search's document is
// never used.
void finish(void *ctx, const search_tally *tally, search_outcome outcome) {
  auto *c = static_cast<json_match_ctx *>(ctx);
  if (outcome == SEARCH_FAILED) return;
  const int64_t duration_ms = search_clock_ms() - c->start_ms;
  json_out *out = c->out;
  JSON_OUT_LITERAL(out, "],\"total_matches\":");
  json_out_int(out, tally->total_matches);
  JSON_OUT_LITERAL(out, ",\"files_searched\":");
  json_out_int(out, tally->files_searched);
  JSON_OUT_LITERAL(out, ",\"duration_ms\":");
  json_out_int(out, duration_ms);
  if (outcome == SEARCH_TIMED_OUT) JSON_OUT_LITERAL(out, ",\"timed_out\":true");
  if (outcome == SEARCH_OUTPUT_LIMITED) JSON_OUT_LITERAL(out, ",\"output_limited\":true");
  if (tally->depth_limited) JSON_OUT_LITERAL(out, ",\"depth_limited\":true");
  json_out_char(out, '}');
}

// Runs one document search: `run` searches with the searcher it is given.
// Returns the document, or null with the message and status set.
template <typename Run>
char *search_document(const char *pattern, const char *options_json, Run run) {
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return nullptr;
  }
  search_tally tally{};
  json_out out = {};
  JSON_OUT_LITERAL(&out, kHead);
  json_match_ctx ctx = {&out,
                        nullptr,
                        false,
                        {},
                        0,
                        match_json_members_of(&opts),
                        search_clock_ms(),
                        document_entry_limit(opts.max_output_bytes, sizeof kHead - 1, kTailMax),
                        {nullptr, nullptr}};
  const search_sink sink = {&ctx,    begin_file, full_json_match_handler, nullptr, finish,
                            nullptr, nullptr};
  char *text = nullptr;
  searcher *s = searcher_new(pattern, &opts, &tally, &sink);
  if (s == nullptr) {
    qg_status_from_failure();
  } else {
    ctx.check = {searcher_stop_check, s};
    text = take_document(s, run(s), &out, "the search document");
    searcher_free(s);
  }
  json_out_free(&ctx.path);
  json_out_free(&out);
  grep_opts_free(&opts);
  return text;
}

}  // namespace

size_t document_entry_limit(int64_t cap, size_t head_len, size_t tail_max) {
  if (cap <= 0) return SIZE_MAX;
  const auto bytes = static_cast<uint64_t>(cap);
  if (bytes <= head_len + tail_max) return head_len;
  return bytes - tail_max > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(bytes - tail_max);
}

char *take_document(const searcher *s, search_outcome outcome, json_out *out, const char *what) {
  if (outcome != SEARCH_FAILED && out->failed) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory building %s", what);
    qg_status_from_failure();
    return nullptr;
  }
  searcher_report_outcome(s, outcome);
  if (outcome == SEARCH_FAILED) return nullptr;
  char *text = out->data;
  out->data = nullptr;
  return text;
}

sink_verdict full_json_match_handler(void *ctx, const scan_match *m) {
  auto *c = static_cast<json_match_ctx *>(ctx);
  if (!c->path_written) {
    json_out_string_into(&c->path, c->file, strlen(c->file));
    if (c->path.failed) return document_fails();
    c->path_written = true;
  }
  json_out *out = c->out;
  const size_t mark = out->len;
  const size_t comma = c->objects > 0 ? 1 : 0;
  // A match that cannot fit is refused unwritten; one that might is written
  // and taken back when it did not.
  if (c->entry_limit - mark < comma + match_json_least_size(m, c->path.len)) return SINK_FULL;
  if (comma != 0) json_out_char(out, ',');
  const bool whole = match_json_write(out, &c->path, m, c->members, c->check);
  if (out->failed) return document_fails();
  if (!whole || out->len > c->entry_limit) {
    out->len = mark;
    out->data[mark] = '\0';
    return whole ? SINK_FULL : SINK_DROPPED;
  }
  ++c->objects;
  return SINK_GO_ON;
}

char *grep_core_search_json(const char *root_path, const char *pattern, const char *options_json) {
  if (root_path == nullptr || pattern == nullptr) {
    qg_fail_call(GREP_E_ARGUMENT, "root_path and pattern are required");
    return nullptr;
  }
  return search_document(pattern, options_json,
                         [root_path](searcher *s) { return searcher_run(s, root_path); });
}

char *grep_core_search_text(const char *name, const char *text, size_t len, const char *pattern,
                            const char *options_json) {
  if (name == nullptr || pattern == nullptr || (text == nullptr && len > 0)) {
    qg_fail_call(GREP_E_ARGUMENT, "name, text and pattern are required");
    return nullptr;
  }
  return search_document(pattern, options_json, [name, text, len](searcher *s) {
    return searcher_run_text(s, name, text != nullptr ? text : "", len);
  });
}
