#include "search_core/context_events.h"

#include "grep_core/last_error.h"


namespace {

sink_verdict deliver(context_state *state, const search_sink *sink, int32_t line_no,
                     text_span text) {
  state->shown_through = line_no;
  const context_line line = {line_no, text};
  return sink->context(sink->ctx, &line);
}

// Opens a group that starts at `first`: a break first when the file has
// shown lines that it does not touch.
sink_verdict open_group(context_state *state, const search_sink *sink, int32_t first) {
  if (state->shown_through == 0 || first <= state->shown_through + 1) return SINK_GO_ON;
  return sink->context_break != nullptr ? sink->context_break(sink->ctx) : SINK_GO_ON;
}

// Delivers the waiting lines that come before line `until`, in order, and
// forgets every waiting line.
sink_verdict flush_waiting(context_state *state, const search_sink *sink, int32_t until) {
  sink_verdict verdict = SINK_GO_ON;
  for (uint32_t k = 0; k < state->waiting.count && verdict == SINK_GO_ON; ++k) {
    const waiting_line &w = state->waiting.items[k];
    if (w.line_no >= until || w.line_no <= state->shown_through) continue;
    verdict = open_group(state, sink, w.line_no);
    if (verdict == SINK_GO_ON) {
      verdict = deliver(state, sink, w.line_no, {state->text.data + w.offset, w.len});
    }
  }
  state->waiting.count = 0;
  state->text.len = 0;
  return verdict;
}

bool keep_waiting(context_state *state, int32_t line_no, text_span text) {
  const waiting_line w = {line_no, state->text.len, text.n};
  json_out_bytes(&state->text, text.p, text.n);
  return !state->text.failed && state->waiting.push(w);
}

}  // namespace

sink_verdict context_events_match(context_state *state, const search_sink *sink,
                                  const scan_match *m, int32_t before, int32_t after) {
  const int32_t line = m->line_no;
  sink_verdict verdict = flush_waiting(state, sink, line);
  // The window runs from `first`: `before` lines up, or from the file's start.
  const int32_t above = m->context_count == 0 ? 0 : (before < line - 1 ? before : line - 1);
  const int32_t first = line - (above > 0 ? above : 0);
  for (int32_t n = first; n < line && verdict == SINK_GO_ON; ++n) {
    if (n <= state->shown_through) continue;
    verdict = open_group(state, sink, n);
    if (verdict == SINK_GO_ON) verdict = deliver(state, sink, n, m->context[n - first]);
  }
  if (verdict == SINK_GO_ON) verdict = open_group(state, sink, line);
  if (verdict != SINK_GO_ON) return verdict;
  scan_match alone = *m;
  alone.context = nullptr;
  alone.context_count = 0;
  state->shown_through = line;
  verdict = sink->match(sink->ctx, &alone);
  if (verdict != SINK_GO_ON || after <= 0) return verdict;
  for (size_t i = static_cast<size_t>(line - first) + 1; i < m->context_count; ++i) {
    const int32_t n = first + static_cast<int32_t>(i);
    if (!keep_waiting(state, n, m->context[i])) {
      qg_fail(GREP_E_NO_MEMORY, "Out of memory keeping context lines");
      return SINK_FAIL;
    }
  }
  return SINK_GO_ON;
}

sink_verdict context_events_end_file(context_state *state, const search_sink *sink, bool deliver) {
  const sink_verdict verdict = flush_waiting(state, sink, deliver ? INT32_MAX : INT32_MIN);
  state->shown_through = 0;
  return verdict;
}
