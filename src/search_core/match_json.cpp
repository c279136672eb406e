#include "search_core/match_json.h"

void match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      match_json_members members) {
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
  }
  JSON_OUT_LITERAL(out, "]}");
}
