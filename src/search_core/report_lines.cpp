#include "search_core/report_lines.h"

#include "grep_core/json_out.h"
#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "platform/platform.h"
#include "search_core/clock.h"
#include "search_core/match_json.h"
#include "search_core/replace_template.h"
#include "search_core/report_json.h"
#include "search_core/searcher.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// The colours grep users know: paths magenta, numbers green, separators
// cyan, matched text bold red.
constexpr char kPathColour[] = "\033[35m";
constexpr char kNumberColour[] = "\033[32m";
constexpr char kSeparatorColour[] = "\033[36m";
constexpr char kMatchColour[] = "\033[01;31m";
constexpr char kReset[] = "\033[m";

// A piece is handed to the host once it holds this much.
constexpr size_t kPieceBytes = size_t{64} << 10;

// The longest the host goes without a call while files are searched.
constexpr int64_t kHeartbeatMs = 10;

struct printer {
  const grep_opts *opts;
  grep_lines_callback callback;
  void *user_data;
  json_out out;  // printed, not yet handed over
  bool stop_asked;
  int64_t last_call_ms;    // the clock when the host was last called
  uint64_t room;           // bytes the options' max_output_bytes still allow
  size_t event_start;      // where in `out` the current event's text begins
  match_json_check check;  // the search's stop check, for match objects
  const char *file;
  const char *shown;      // the part of `file` that is printed ("relative_paths")
  const char *root;       // the search's root, as the host gave it
  json_out escaped_path;  // the file's path as a JSON string (match objects)
  bool path_escaped;
  int64_t file_matches;
  int32_t files_matched;
  bool printed_any;  // a file has printed lines before this one
  bool file_printed;
  int64_t start_ms;
  const replace_template *tmpl;  // with "replacement": what each match is shown as
};

sink_verdict out_of_memory() {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory printing the search");
  return SINK_FAIL;
}

// Hands what is printed to the host: always when `all`, else once it holds
// a piece's worth.
void call_host(printer *p, const char *text, size_t len) {
  p->last_call_ms = search_clock_ms();
  if (p->callback != nullptr && !p->stop_asked && p->callback(text, len, p->user_data) != 0) {
    p->stop_asked = true;
  }
}

void hand_over(printer *p, bool all) {
  if (p->out.len == 0 || (!all && p->out.len < kPieceBytes)) return;
  call_host(p, p->out.data, p->out.len);
  p->out.len = 0;
  p->out.data[0] = '\0';
}

// At the end of a file that printed nothing: an empty piece, when the host
// has not been called for kHeartbeatMs, so that it can stop a search that
// prints little.
void heartbeat(printer *p) {
  if (search_clock_ms() - p->last_call_ms >= kHeartbeatMs) call_host(p, "", 0);
}

// Starts the text of one event (a match, a context line, a break, a file's
// count): it is printed whole, or not at all when it would pass the cap.
void begin_event(printer *p) { p->event_start = p->out.len; }

// The verdict on the event whose text was just printed: SINK_FULL, with the
// text taken back, when it would pass the options' max_output_bytes.
sink_verdict verdict_of(printer *p) {
  if (p->out.failed) return out_of_memory();
  const size_t written = p->out.len - p->event_start;
  if (written > p->room) {
    p->out.len = p->event_start;
    if (p->out.data != nullptr) p->out.data[p->out.len] = '\0';
    return SINK_FULL;
  }
  p->room -= written;
  hand_over(p, false);
  p->event_start = p->out.len;
  return p->stop_asked ? SINK_STOP : SINK_GO_ON;
}

void put(printer *p, const char *bytes, size_t n) { json_out_bytes(&p->out, bytes, n); }

void put_coloured(printer *p, const char *colour, const char *bytes, size_t n) {
  if (p->opts->color) put(p, colour, strlen(colour));
  put(p, bytes, n);
  if (p->opts->color) put(p, kReset, sizeof kReset - 1);
}

void put_separator(printer *p, char sep) { put_coloured(p, kSeparatorColour, &sep, 1); }

void put_number(printer *p, int64_t n) {
  char digits[24];
  const int len = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(n));
  put_coloured(p, kNumberColour, digits, static_cast<size_t>(len));
}

void put_path(printer *p) { put_coloured(p, kPathColour, p->shown, strlen(p->shown)); }

// What follows a path on its line: `sep`, or NUL with "null_after_path".
void put_after_path(printer *p, char sep) {
  if (p->opts->null_after_path) {
    put(p, "", 1);
  } else {
    put_separator(p, sep);
  }
}

bool is_separator(char c) { return c == '/' || c == plat_path_separator(); }

// The path of a file as printed: below the root when "relative_paths" asks
// for it and the walk made it from the root (the root, its separators, then
// the rest); as the search has it otherwise (a root that is a file, or
// "relative_paths" off).
const char *shown_path(const printer *p, const char *path) {
  if (!p->opts->relative_paths) return path;
  const size_t n = strlen(p->root);
  if (n == 0 || strncmp(path, p->root, n) != 0) return path;
  const char *rest = path + n;
  if (!is_separator(p->root[n - 1]) && !is_separator(*rest)) return path;
  while (is_separator(*rest)) ++rest;
  return *rest != '\0' ? rest : path;
}

// What stands before a line's text: its path (unless under a heading), its
// number and, for a match, the column, each followed by `sep`.
void put_prefix(printer *p, int32_t line_no, int32_t col, char sep) {
  if (p->opts->with_filename && !p->opts->heading) {
    put_path(p);
    put_after_path(p, sep);
  }
  if (p->opts->line_number) {
    put_number(p, line_no);
    put_separator(p, sep);
  }
  if (col > 0 && p->opts->column) {
    put_number(p, col);
    put_separator(p, sep);
  }
}

// The start of a file's first printed line: the blank line and heading of a
// heading, or the "--" that parts files when context is shown.
void begin_printing_file(printer *p, bool context_shown) {
  if (p->file_printed) return;
  p->file_printed = true;
  if (p->opts->heading) {
    if (p->printed_any) put(p, "\n", 1);
    put_path(p);
    put(p, "\n", 1);
  } else if (p->printed_any && context_shown) {
    put_coloured(p, kSeparatorColour, "--", 2);
    put(p, "\n", 1);
  }
  p->printed_any = true;
}

bool context_shown(const grep_opts *opts) {
  return grep_opts_before(opts) > 0 || grep_opts_after(opts) > 0;
}

// The bytes of a line that are shown: all of it, or with "max_columns" at
// most that many around `focus` (the first match; the line's start for a
// context line), cut where no UTF-8 character is split.
struct shown_part {
  size_t from, to;
};

shown_part window_of(const printer *p, text_span line, size_t focus, size_t focus_len) {
  const auto cap = static_cast<size_t>(p->opts->max_columns);
  if (p->opts->max_columns <= 0 || line.n <= cap) return {0, line.n};
  focus = focus < line.n ? focus : line.n;
  const size_t spare = cap > focus_len ? (cap - focus_len) / 2 : 0;
  size_t from = focus > spare ? focus - spare : 0;
  if (line.n - from < cap) from = line.n - cap;
  size_t to = from + cap;
  auto continuation = [&](size_t at) {
    return at < line.n && (static_cast<unsigned char>(line.p[at]) & 0xC0) == 0x80;
  };
  while (from > 0 && continuation(from)) --from;
  while (to < line.n && continuation(to)) ++to;
  return {from, to};
}

// The mark of `n` bytes left out of a line.
void put_omitted(printer *p, size_t n, bool before) {
  char mark[48];
  const int len = snprintf(mark, sizeof mark, before ? "[... %zu bytes] " : " [... %zu bytes]", n);
  put_coloured(p, kSeparatorColour, mark, static_cast<size_t>(len));
}

// Where the groups of a line's matches took part: `spans` of them per
// match, in the order of the matches (null when not asked for).
struct match_groups {
  const match_span *spans;
  uint32_t count;

  const match_span *of(size_t match) const { return count > 0 ? spans + match * count : nullptr; }
};

// The shown form of the match of `n` bytes at `offset` in `line`: with
// "replacement", the template's expansion; coloured when asked.
void put_match(printer *p, text_span line, size_t offset, size_t n, const match_groups &groups,
               size_t match) {
  if (p->tmpl == nullptr) {
    put_coloured(p, kMatchColour, line.p + offset, n);
    return;
  }
  if (p->opts->color) put(p, kMatchColour, sizeof kMatchColour - 1);
  replace_template_expand(p->tmpl, &p->out, line.p, line.p + offset, n, groups.of(match),
                          groups.count);
  if (p->opts->color) put(p, kReset, sizeof kReset - 1);
}

// The part [from, to) of `line`, with the marks of what is left out; the
// matches that lie within it coloured or replaced, as the options say.
void put_part(printer *p, text_span line, shown_part part, const match_span *spans, size_t count,
              const match_groups &groups) {
  if (part.from > 0) put_omitted(p, part.from, true);
  size_t at = part.from;
  const bool shown_apart = p->opts->color || p->tmpl != nullptr;
  for (size_t i = 0; shown_apart && i < count; ++i) {
    // An empty match is coloured as nothing, but replaced as any other.
    if (spans[i].col < 1 || (spans[i].length <= 0 && p->tmpl == nullptr)) continue;
    size_t offset = static_cast<size_t>(spans[i].col - 1);
    size_t end = offset + static_cast<size_t>(spans[i].length);
    if (offset < at || end > part.to) continue;
    put(p, line.p + at, offset - at);
    put_match(p, line, offset, end - offset, groups, i);
    at = end;
  }
  put(p, line.p + at, part.to - at);
  if (part.to < line.n) put_omitted(p, line.n - part.to, false);
}

// The groups of the matches of `m`, as the scan gave them.
match_groups groups_of(const scan_match *m) { return {m->groups, m->group_count}; }

// The line's text with each match that lies within what is shown coloured
// (or replaced).
void put_matched_text(printer *p, const scan_match *m) {
  const match_span first = {m->col, m->length};
  const match_span *spans = m->submatch_count > 0 ? m->submatches : &first;
  const size_t count = m->submatch_count > 0 ? m->submatch_count : 1;
  const size_t focus = m->col > 0 ? static_cast<size_t>(m->col - 1) : 0;
  const size_t focus_len = m->length > 0 ? static_cast<size_t>(m->length) : 0;
  put_part(p, m->line, window_of(p, m->line, focus, focus_len), spans, count, groups_of(m));
}

void print_line(printer *p, const scan_match *m) {
  begin_printing_file(p, context_shown(p->opts));
  put_prefix(p, m->line_no, m->col, ':');
  put_matched_text(p, m);
  put(p, "\n", 1);
}

// Each non-empty match of the line on a line of its own.
void print_each_match(printer *p, const scan_match *m) {
  const match_span first = {m->col, m->length};
  const match_span *spans = m->submatch_count > 0 ? m->submatches : &first;
  const size_t count = m->submatch_count > 0 ? m->submatch_count : 1;
  for (size_t i = 0; i < count; ++i) {
    const size_t offset = static_cast<size_t>(spans[i].col - 1);
    const size_t n = static_cast<size_t>(spans[i].length);
    if (spans[i].col < 1 || n == 0 || offset > m->line.n || n > m->line.n - offset) continue;
    begin_printing_file(p, false);
    put_prefix(p, m->line_no, spans[i].col, ':');
    put_match(p, m->line, offset, n, groups_of(m), i);
    put(p, "\n", 1);
  }
}

// The whole line once for each of its matches, each time with that match's
// column and that match alone coloured (with "replacement", every match
// replaced); a line without a column (an inverted match) once.
void print_line_per_match(printer *p, const scan_match *m) {
  const match_span first = {m->col, m->length};
  const match_span *spans = m->submatch_count > 0 ? m->submatches : &first;
  const size_t count = m->submatch_count > 0 ? m->submatch_count : 1;
  begin_printing_file(p, false);
  for (size_t i = 0; i < count; ++i) {
    put_prefix(p, m->line_no, spans[i].col, ':');
    const size_t focus = spans[i].col > 0 ? static_cast<size_t>(spans[i].col - 1) : 0;
    const size_t focus_len = spans[i].length > 0 ? static_cast<size_t>(spans[i].length) : 0;
    // Coloured, only this match stands out; replaced, every match is.
    const shown_part part = window_of(p, m->line, focus, focus_len);
    if (p->tmpl != nullptr) {
      put_part(p, m->line, part, spans, count, groups_of(m));
    } else {
      put_part(p, m->line, part, spans + i, spans[i].col > 0 ? 1 : 0, match_groups{nullptr, 0});
    }
    put(p, "\n", 1);
  }
}

void print_file_name(printer *p) {
  put_path(p);
  put(p, p->opts->null_after_path ? "" : "\n", 1);
}

void print_count(printer *p) {
  if (p->opts->with_filename) {
    put_path(p);
    put_after_path(p, ':');
  }
  char digits[24];
  const int len = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(p->file_matches));
  put(p, digits, static_cast<size_t>(len));
  put(p, "\n", 1);
}

sink_verdict print_object(printer *p, const scan_match *m) {
  if (!p->path_escaped) {
    json_out_string_into(&p->escaped_path, p->file, strlen(p->file));
    if (p->escaped_path.failed) return out_of_memory();
    p->path_escaped = true;
  }
  if (!match_json_write(&p->out, &p->escaped_path, m,
                        match_json_members_of(p->opts),
                        p->check)) {
    p->out.len = p->event_start;
    return SINK_DROPPED;
  }
  put(p, "\n", 1);
  return verdict_of(p);
}

// ---- The sink ----

sink_verdict begin_file(void *ctx, const char *path) {
  auto *p = static_cast<printer *>(ctx);
  p->file = path;
  p->shown = shown_path(p, path);
  p->path_escaped = false;
  p->file_matches = 0;
  p->file_printed = false;
  if (p->opts->print_mode == GREP_PRINT_PATHS) {
    begin_event(p);
    print_file_name(p);
    return verdict_of(p);
  }
  return p->stop_asked ? SINK_STOP : SINK_GO_ON;
}

sink_verdict match(void *ctx, const scan_match *m) {
  auto *p = static_cast<printer *>(ctx);
  begin_event(p);
  if (++p->file_matches == 1) ++p->files_matched;
  switch (static_cast<grep_print_mode>(p->opts->print_mode)) {
    case GREP_PRINT_LINES:
      print_line(p, m);
      break;
    case GREP_PRINT_MATCHES:
      print_each_match(p, m);
      break;
    case GREP_PRINT_FILES:
      if (p->file_matches == 1) print_file_name(p);
      break;
    case GREP_PRINT_COUNT:
      break;  // at the file's end
    case GREP_PRINT_JSON:
      return print_object(p, m);
    case GREP_PRINT_VIMGREP:
      print_line_per_match(p, m);
      break;
    case GREP_PRINT_PATHS:
      break;  // never: nothing is read
  }
  return verdict_of(p);
}

sink_verdict context(void *ctx, const context_line *line) {
  auto *p = static_cast<printer *>(ctx);
  begin_event(p);
  begin_printing_file(p, true);
  put_prefix(p, line->line_no, 0, '-');
  put_part(p, line->text, window_of(p, line->text, 0, 0), nullptr, 0, match_groups{nullptr, 0});
  put(p, "\n", 1);
  return verdict_of(p);
}

sink_verdict context_break(void *ctx) {
  auto *p = static_cast<printer *>(ctx);
  begin_event(p);
  put_coloured(p, kSeparatorColour, "--", 2);
  put(p, "\n", 1);
  return verdict_of(p);
}

sink_verdict end_file(void *ctx) {
  auto *p = static_cast<printer *>(ctx);
  sink_verdict verdict = SINK_GO_ON;
  if (p->opts->print_mode == GREP_PRINT_COUNT && p->file_matches > 0) {
    begin_event(p);
    print_count(p);
    verdict = verdict_of(p);
  }
  if (p->out.failed) return verdict;
  if (p->out.len > 0) {
    hand_over(p, true);
  } else {
    heartbeat(p);
  }
  return verdict;
}

void finish(void *ctx, const search_tally *, search_outcome) {
  auto *p = static_cast<printer *>(ctx);
  if (!p->out.failed) hand_over(p, true);
}

// The summary of a finished search into `out`.
void write_summary(json_out *out, const printer &p, const search_tally &tally,
                   search_outcome outcome) {
  JSON_OUT_LITERAL(out, "{\"total_matches\":");
  json_out_int(out, tally.total_matches);
  JSON_OUT_LITERAL(out, ",\"files_searched\":");
  json_out_int(out, tally.files_searched);
  JSON_OUT_LITERAL(out, ",\"files_matched\":");
  json_out_int(out, p.files_matched);
  JSON_OUT_LITERAL(out, ",\"duration_ms\":");
  json_out_int(out, search_clock_ms() - p.start_ms);
  if (outcome == SEARCH_TIMED_OUT) JSON_OUT_LITERAL(out, ",\"timed_out\":true");
  if (outcome == SEARCH_OUTPUT_LIMITED) JSON_OUT_LITERAL(out, ",\"output_limited\":true");
  if (tally.depth_limited) JSON_OUT_LITERAL(out, ",\"depth_limited\":true");
  json_out_char(out, '}');
}

// The options as the printer needs them: every match of a line where they
// are coloured or printed alone, one match per file for a list of files, and
// no context where none is printed.
void settle_printer_options(grep_opts *opts) {
  const auto mode = static_cast<grep_print_mode>(opts->print_mode);
  if (mode == GREP_PRINT_MATCHES || mode == GREP_PRINT_VIMGREP ||
      (mode == GREP_PRINT_LINES && (opts->color || opts->replacement != nullptr))) {
    opts->submatches = true;
  }
  // A template that names groups needs to know where they matched.
  if (opts->replacement != nullptr && replace_template_names_groups(opts->replacement)) {
    opts->captures = true;
  }
  if (mode == GREP_PRINT_FILES) opts->max_per_file = 1;
  if (mode == GREP_PRINT_FILES || mode == GREP_PRINT_COUNT || mode == GREP_PRINT_MATCHES ||
      mode == GREP_PRINT_VIMGREP) {
    opts->context_lines = 0;
    opts->before_context = -1;
    opts->after_context = -1;
  }
}

}  // namespace

char *grep_core_search_lines(const char *root_path, const char *text, size_t length,
                             const char *pattern, const char *options_json,
                             grep_lines_callback callback, void *user_data) {
  if (root_path == nullptr || pattern == nullptr) {
    qg_fail_call(GREP_E_ARGUMENT, "root_path and pattern are required");
    return nullptr;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return nullptr;
  }
  settle_printer_options(&opts);
  const bool list_only = opts.print_mode == GREP_PRINT_PATHS;
  if (list_only) {
    // Nothing is matched: a plain literal stands in for any pattern, so that
    // no pattern is compiled and none can be refused.
    pattern = "-";
    opts.regex = false;
    opts.syntax = GREP_SYNTAX_DIALECT;
  }
  printer p = {};
  p.opts = &opts;
  p.callback = callback;
  p.user_data = user_data;
  p.start_ms = search_clock_ms();
  p.printed_any = opts.continued;
  p.last_call_ms = p.start_ms;
  p.root = root_path;
  p.room = opts.max_output_bytes > 0 ? static_cast<uint64_t>(opts.max_output_bytes) : UINT64_MAX;
  const bool lines = opts.print_mode == GREP_PRINT_LINES;
  const search_sink sink = {&p,     begin_file, match,   end_file,
                            finish, lines ? context : nullptr,
                            lines ? context_break : nullptr};
  search_tally tally{};
  char *summary = nullptr;
  searcher *s = searcher_new(pattern, &opts, &tally, &sink);
  if (s == nullptr) {
    qg_status_from_failure();
  } else {
    p.check = {searcher_stop_check, s};
    s->list_only = list_only;
    // The template is read against the compiled pattern before any file is.
    replace_template tmpl = {};
    const bool replaced = opts.replacement != nullptr && !list_only;
    if (replaced && !replace_template_read(&tmpl, opts.replacement,
                                           opts.regex ? searcher_program(s) : nullptr)) {
      qg_status_from_failure();
    } else {
      if (replaced) p.tmpl = &tmpl;
      const search_outcome outcome = text != nullptr ? searcher_run_text(s, root_path, text, length)
                                                     : searcher_run(s, root_path);
      json_out doc = {};
      if (outcome != SEARCH_FAILED) write_summary(&doc, p, tally, outcome);
      summary = take_document(s, outcome, &doc, "the search summary");
      json_out_free(&doc);
    }
    replace_template_free(&tmpl);
    searcher_free(s);
  }
  json_out_free(&p.out);
  json_out_free(&p.escaped_path);
  grep_opts_free(&opts);
  return summary;
}
