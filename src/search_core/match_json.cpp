#include "search_core/match_json.h"

#include <string.h>

match_json_members match_json_members_of(const grep_opts *opts) {
  return match_json_members{opts->match_length, opts->submatches, opts->captures};
}

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

// Writes ,"groups":[...] for the `count` spans at `spans`: a group that
// took no part is null, a named one has its "name" first.
void write_groups(json_out *out, const match_span *spans, uint32_t count,
                  const char *const *names) {
  JSON_OUT_LITERAL(out, ",\"groups\":[");
  for (uint32_t g = 0; g < count; ++g) {
    if (g > 0) json_out_char(out, ',');
    if (spans[g].col == 0) {
      JSON_OUT_LITERAL(out, "null");
      continue;
    }
    json_out_char(out, '{');
    const char *name = names != nullptr ? names[g] : nullptr;
    if (name != nullptr) {
      JSON_OUT_LITERAL(out, "\"name\":");
      json_out_string(out, name, strlen(name));
      json_out_char(out, ',');
    }
    JSON_OUT_LITERAL(out, "\"col\":");
    json_out_int(out, spans[g].col);
    JSON_OUT_LITERAL(out, ",\"length\":");
    json_out_int(out, spans[g].length);
    json_out_char(out, '}');
  }
  json_out_char(out, ']');
}

// The groups of match `i` of `m` (0: the first match), none when it has no
// groups recorded.
void write_groups_of(json_out *out, const scan_match *m, size_t i) {
  const bool known = m->groups != nullptr && (i + 1) * m->group_count <= m->group_span_count;
  write_groups(out, known ? m->groups + i * m->group_count : nullptr, known ? m->group_count : 0,
               m->group_names);
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
      if (members.groups) write_groups_of(out, m, i);
      json_out_char(out, '}');
    }
    json_out_char(out, ']');
  }
  if (members.groups) write_groups_of(out, m, 0);
  JSON_OUT_LITERAL(out, ",\"context\":[");
  for (size_t i = 0; i < m->context_count; ++i) {
    if (i > 0) json_out_char(out, ',');
    json_out_string(out, m->context[i].p, m->context[i].n);
    if (told_to_stop(out, check, &looked)) return false;
  }
  JSON_OUT_LITERAL(out, "]}");
  return true;
}
