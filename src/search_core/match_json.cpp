#include "search_core/match_json.h"

size_t match_json_least_size(const scan_match *m, size_t escaped_path_len) {
  // {"file":,"line":N,"col":N,"text":"","context":[]} with one-digit numbers.
  constexpr size_t kFrame =
      sizeof("{\"file\":,\"line\":0,\"col\":0,\"text\":\"\",\"context\":[]}") - 1;
  size_t n = kFrame + escaped_path_len + m->line.n;
  for (size_t i = 0; i < m->context_count; ++i) n += m->context[i].n + 2;  // and its quotes
  if (m->context_count > 1) n += m->context_count - 1;                     // the commas
  return n;
}

namespace {

// True when the object must be abandoned: enough was written since `*looked`
// for a look at the stop check, and it says stop.
bool told_to_stop(const json_out *out, match_json_check check, size_t *looked) {
  if (check.stop == nullptr || out->len - *looked < QG_SCAN_STOP_WINDOW) return false;
  *looked = out->len;
  return check.stop(check.ctx);
}

}  // namespace

bool match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      match_json_members members, match_json_check check) {
  size_t looked = out->len;
  JSON_OUT_LITERAL(out, "{\"file\":");
  json_out_bytes(out, escaped_path->data, escaped_path->len);
  JSON_OUT_LITERAL(out, ",\"line\":");
  json_out_int(out, m->line_no);
  JSON_OUT_LITERAL(out, ",\"col\":");
  json_out_int(out, m->col);
  if (members.length) {
    JSON_OUT_LITERAL(out, ",\"length\":");
    json_out_int(out, m->length);
  }
  JSON_OUT_LITERAL(out, ",\"text\":");
  json_out_string(out, m->line.p, m->line.n);
  if (told_to_stop(out, check, &looked)) return false;
  if (members.submatches) {
    JSON_OUT_LITERAL(out, ",\"submatches\":[");
    for (size_t i = 0; i < m->submatch_count; ++i) {
      if (i > 0) json_out_char(out, ',');
      JSON_OUT_LITERAL(out, "{\"col\":");
      json_out_int(out, m->submatches[i].col);
      JSON_OUT_LITERAL(out, ",\"length\":");
      json_out_int(out, m->submatches[i].length);
      json_out_char(out, '}');
    }
    json_out_char(out, ']');
  }
  JSON_OUT_LITERAL(out, ",\"context\":[");
  for (size_t i = 0; i < m->context_count; ++i) {
    if (i > 0) json_out_char(out, ',');
    json_out_string(out, m->context[i].p, m->context[i].n);
    if (told_to_stop(out, check, &looked)) return false;
  }
  JSON_OUT_LITERAL(out, "]}");
  return true;
}
