#include "search_core/match_json.h"

void match_json_write(json_out *out, const json_out *escaped_path, const scan_match *m,
                      bool with_length) {
  JSON_OUT_LITERAL(out, "{\"file\":");
  json_out_bytes(out, escaped_path->data, escaped_path->len);
  JSON_OUT_LITERAL(out, ",\"line\":");
  json_out_int(out, m->line_no);
  JSON_OUT_LITERAL(out, ",\"col\":");
  json_out_int(out, m->col);
  if (with_length) {
    JSON_OUT_LITERAL(out, ",\"length\":");
    json_out_int(out, m->length);
  }
  JSON_OUT_LITERAL(out, ",\"text\":");
  json_out_string(out, m->line.p, m->line.n);
  JSON_OUT_LITERAL(out, ",\"context\":[");
  for (size_t i = 0; i < m->context_count; ++i) {
    if (i > 0) json_out_char(out, ',');
    json_out_string(out, m->context[i].p, m->context[i].n);
  }
  JSON_OUT_LITERAL(out, "]}");
}
