// One search: its setup (the time limit, the pattern compiled once), the
// root dispatch, and the accounting every file and match of the search goes
// through on the calling thread, whichever thread scanned it.
#include "search_core/searcher.h"

#include "grep_core/glob.h"
#include "grep_core/last_error.h"
#include "grep_core/unicode_props.h"
#include "grep_core/utf8.h"
#include "search_core/clock.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

void end_search(searcher *s, search_outcome outcome) {
  if (s->ended) return;
  s->ended = true;
  s->outcome = outcome;
  if (s->shared_stop != nullptr) s->shared_stop->store(true);
}

bool cap_reached(const searcher *s) {
  const int32_t total = s->tally->total_matches;
  return total == INT32_MAX || (s->opts->max_results > 0 && total >= s->opts->max_results);
}

// Acts on a sink's verdict; false when the search must end.
bool accept_verdict(searcher *s, sink_verdict verdict) {
  if (verdict == SINK_STOP) end_search(s, SEARCH_STOPPED);
  if (verdict == SINK_FAIL) searcher_fail(s);
  if (verdict == SINK_FULL) end_search(s, SEARCH_OUTPUT_LIMITED);
  // SINK_DROPPED: the stop check that dropped it has ended the search.
  return verdict == SINK_GO_ON;
}

// The receiver of the calling thread's own scans: the accounting itself.
bool direct_begin(void *ctx) {
  auto *s = static_cast<searcher *>(ctx);
  return searcher_begin_file(s, s->file_path);
}
bool direct_match(void *ctx, const scan_match *m) {
  return searcher_take_match(static_cast<searcher *>(ctx), m);
}
void direct_end(void *ctx) { searcher_end_file(static_cast<searcher *>(ctx)); }

// The walk's visit on one thread: each file is searched at once.
bool scan_now(searcher *s, void *) {
  searcher_scan_file(s, s->path);
  return !searcher_should_stop(s);
}

// The walk's visit in a listing: each file is reported, never read.
bool list_now(searcher *s, void *) {
  if (searcher_begin_file(s, s->path)) searcher_end_file(s);
  return !searcher_should_stop(s);
}

// Copies `path` into the searcher's path buffer; false when it does not fit.
bool set_path(searcher *s, const char *path) {
  const size_t n = strlen(path);
  if (n >= SEARCH_MAX_PATH_BYTES) return false;
  memcpy(s->path, path, n + 1);
  s->path_len = n;
  return true;
}

// A root directory: walked from level 0, on one thread or several. One that
// cannot be listed fails the search: the host named it.
void walk_root(searcher *s, const char *root_path) {
  if (!set_path(s, root_path)) {
    qg_fail(GREP_E_ARGUMENT, "Cannot open directory '%s': %s", root_path,
            plat_error_text(ENAMETOOLONG));
    searcher_fail(s);
    return;
  }
  plat_dir *probe = plat_dir_open(root_path);
  if (probe == nullptr) {
    const int error = errno;
    qg_fail(qg_status_of_error(error), "Cannot open directory '%s': %s", root_path,
            plat_error_text(error));
    searcher_fail(s);
    return;
  }
  plat_dir_close(probe);
  if (!ignore_load_outer(s)) {
    searcher_fail(s);
    return;
  }
  if (s->opts->threads >= 2 && !s->list_only) {
    searcher_walk_parallel(s, s->opts->threads);
  } else {
    searcher_walk(s);
  }
}

// A root that is a file, in a listing: reported when it is there.
void list_root_file(searcher *s, const char *root_path) {
  if (plat_path_kind_of(root_path) != PLAT_PATH_FILE) {
    qg_fail(qg_status_of_error(ENOENT), "Cannot open file '%s': %s", root_path,
            plat_error_text(ENOENT));
    searcher_fail(s);
    return;
  }
  if (searcher_begin_file(s, root_path)) searcher_end_file(s);
}

// A root that is a file, or names nothing: searched as one file, and failing
// the search when it cannot be read.
void scan_root_file(searcher *s, const char *root_path) {
  if (s->list_only) {
    list_root_file(s, root_path);
    return;
  }
  s->file_path = root_path;
  const match_receiver r = {s, direct_begin, direct_match, direct_end};
  const file_outcome outcome = search_file_content(&s->tools, root_path, &r);
  if (outcome == FILE_UNREADABLE) {
    searcher_fail(s);
    return;
  }
  searcher_file_done(s, outcome);
}

// The time limit's stop check, read by the compiler.
bool compile_should_stop(void *ctx) { return searcher_should_stop(static_cast<searcher *>(ctx)); }

}  // namespace

void searcher_walk(searcher *s) {
  s->visit_file = s->list_only ? list_now : scan_now;
  s->visit_ctx = nullptr;
  search_directory_win(s, 0);
}

bool searcher_should_stop(searcher *s) {
  if (s->ended) return true;
  if (s->deadline_ms != 0 && search_clock_ms() >= s->deadline_ms) end_search(s, SEARCH_TIMED_OUT);
  return s->ended;
}

bool searcher_stop_check(void *s) { return searcher_should_stop(static_cast<searcher *>(s)); }

bool searcher_begin_file(searcher *s, const char *path) {
  if (searcher_should_stop(s)) return false;
  ++s->tally->files_searched;
  const sink_verdict verdict = s->sink->begin_file(s->sink->ctx, path);
  if (verdict == SINK_FULL) --s->tally->files_searched;
  return accept_verdict(s, verdict);
}

bool searcher_take_match(searcher *s, const scan_match *m) {
  if (s->ended) return false;
  // Read before the match is handed on: writing a wide window is the
  // costly part, and it is not begun once the time is up.
  if (s->pace.due(m) && searcher_should_stop(s)) return false;
  ++s->tally->total_matches;
  const int32_t before = grep_opts_before(s->opts), after = grep_opts_after(s->opts);
  const bool events = s->sink->context != nullptr && (before > 0 || after > 0);
  const sink_verdict verdict = events
                                   ? context_events_match(&s->context, s->sink, m, before, after)
                                   : s->sink->match(s->sink->ctx, m);
  if (verdict == SINK_FULL || verdict == SINK_DROPPED) --s->tally->total_matches;
  if (!accept_verdict(s, verdict)) return false;
  if (cap_reached(s)) end_search(s, SEARCH_DONE);
  return !s->ended;
}

void searcher_end_file(searcher *s) {
  // The file's last context lines, even when the search has ended at its
  // cap or its time limit: they belong to what was found. Not after the host
  // asked to stop, nor after a failure.
  if (s->sink->context != nullptr) {
    const bool deliver =
        !s->ended || s->outcome == SEARCH_DONE || s->outcome == SEARCH_TIMED_OUT;
    accept_verdict(s, context_events_end_file(&s->context, s->sink, deliver));
  }
  if (s->sink->end_file != nullptr) accept_verdict(s, s->sink->end_file(s->sink->ctx));
}

void searcher_fail(searcher *s) { end_search(s, SEARCH_FAILED); }

void searcher_end(searcher *s, search_outcome outcome) { end_search(s, outcome); }

void searcher_file_done(searcher *s, file_outcome outcome) {
  switch (outcome) {
    case FILE_NO_MEMORY:
      searcher_fail(s);
      return;
    case FILE_STOPPED:
      // Stopped by the accounting, or by a stop check that the time limit
      // or a stop answered: which one, the accounting knows.
      searcher_should_stop(s);
      return;
    case FILE_SCANNED:
    case FILE_BINARY:
    case FILE_UNREADABLE:  // passed over; its message stays
      return;
  }
}

void searcher_scan_file(searcher *s, const char *path) {
  s->file_path = path;
  const match_receiver r = {s, direct_begin, direct_match, direct_end};
  searcher_file_done(s, search_file_content(&s->tools, path, &r));
}

// The program for a regex search. With "whole_line", a pattern of the
// standard syntax is compiled anchored at both ends of the line, so that its
// leftmost-first match covers the line whenever any of its matches can (the
// scan then keeps only such matches; in the dialect, only a first match that
// covers its line counts). Null as re_compile_with says, or with the
// message set when the anchored copy cannot be held; a pattern that fails
// is compiled again as given, so its message names places in it.
static re_program *compile_pattern(const char *pattern, const grep_opts *opts,
                                   const re_options *options, bool *stopped) {
  if (!opts->whole_line || opts->syntax != GREP_SYNTAX_STANDARD) {
    return re_compile_with(pattern, options, stopped);
  }
  static constexpr char kOpen[] = "^(?:", kClose[] = ")$";
  const size_t n = strlen(pattern);
  auto *anchored = static_cast<char *>(malloc(sizeof kOpen + n + sizeof kClose));
  if (anchored == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory compiling the pattern");
    return nullptr;
  }
  memcpy(anchored, kOpen, sizeof kOpen - 1);
  memcpy(anchored + sizeof kOpen - 1, pattern, n);
  memcpy(anchored + sizeof kOpen - 1 + n, kClose, sizeof kClose);
  re_program *program = re_compile_with(anchored, options, stopped);
  free(anchored);
  if (program == nullptr && !*stopped && grep_last_status() != GREP_E_NO_MEMORY) {
    re_program_free(re_compile_with(pattern, options, stopped));
  }
  return program;
}

// Whether a literal searched with `opts` needs Unicode's case folding: with
// "unicode" and "ignore_case", a valid UTF-8 literal holding a letter whose
// partners are not all ASCII (ASCII folding reads every other one exactly).
static bool literal_folds_beyond_ascii(const char *pattern, const grep_opts *opts) {
  if (opts->regex || !opts->unicode || opts->case_sensitive) return false;
  const size_t n = strlen(pattern);
  if (!qg_utf8_valid(pattern, n)) return false;
  const auto *p = reinterpret_cast<const unsigned char *>(pattern);
  for (size_t at = 0; at < n; at += qg_utf8_sequence_length(p + at, n - at)) {
    if (uc_folds_beyond_ascii(qg_utf8_unit_at(p, n, at))) return true;
  }
  return false;
}

// The literal as a pattern of the standard syntax that matches it alone:
// every ASCII byte but letters and digits escaped. Null when out of memory.
static char *literal_as_pattern(const char *literal) {
  const size_t n = strlen(literal);
  auto *out = static_cast<char *>(malloc(2 * n + 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  for (const char *p = literal; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const bool plain =
        c >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
    if (!plain) *w++ = '\\';
    *w++ = *p;
  }
  *w = '\0';
  return out;
}

// Points the searcher at the standard-syntax form of a literal that folds
// beyond ASCII. False when out of memory.
static bool search_literal_as_pattern(searcher *s) {
  s->literal_pattern = literal_as_pattern(s->pattern);
  if (s->literal_pattern == nullptr) return false;
  s->literal_opts = *s->opts;  // shares the caller's lists, which it never frees
  s->literal_opts.regex = true;
  s->literal_opts.syntax = GREP_SYNTAX_STANDARD;
  s->pattern = s->literal_pattern;
  s->opts = &s->literal_opts;
  return true;
}

searcher *searcher_new(const char *pattern, const grep_opts *opts, search_tally *tally,
                       const search_sink *sink) {
  void *block = malloc(sizeof(searcher));
  if (block == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory starting the search");
    return nullptr;
  }
  auto *s = new (block) searcher{};
  s->pattern = pattern;
  s->opts = opts;
  s->tally = tally;
  s->sink = sink;
  if (opts->timeout_ms > 0) s->deadline_ms = search_clock_ms() + opts->timeout_ms;
  if (literal_folds_beyond_ascii(pattern, opts) && !search_literal_as_pattern(s)) {
    searcher_free(s);
    qg_fail(GREP_E_NO_MEMORY, "Out of memory starting the search");
    return nullptr;
  }
  pattern = s->pattern;
  opts = s->opts;
  if (opts->regex) {
    const re_options options = {
        opts->case_sensitive,
        compile_should_stop,
        s,
        opts->syntax == GREP_SYNTAX_STANDARD ? RE_SYNTAX_STANDARD : RE_SYNTAX_DIALECT,
        opts->syntax == GREP_SYNTAX_STANDARD && opts->whole_word,
        opts->syntax == GREP_SYNTAX_STANDARD && opts->captures,
        opts->syntax == GREP_SYNTAX_STANDARD && opts->unicode};
    bool stopped = false;
    s->program = compile_pattern(pattern, opts, &options, &stopped);
    if (s->program == nullptr) {
      if (stopped) return s;  // timed out: the search reads nothing
      searcher_free(s);
      return nullptr;
    }
  }
  if (!file_scanner_init(&s->tools, pattern, opts, s->program, searcher_stop_check, s)) {
    searcher_free(s);
    qg_fail(GREP_E_NO_MEMORY, "Out of memory starting the search");
    return nullptr;
  }
  if (!path_globs_load(s)) {
    searcher_free(s);
    return nullptr;
  }
  return s;
}

void searcher_free(searcher *s) {
  if (s == nullptr) return;
  searcher_close_walk(s);
  ignore_free_outer(s);
  path_globs_free(s);
  file_scanner_free(&s->tools);
  re_program_free(s->program);
  free(s->literal_pattern);
  s->~searcher();
  free(s);
}

search_outcome searcher_run(searcher *s, const char *root_path) {
  if (!searcher_should_stop(s)) {
    switch (plat_path_kind_of(root_path)) {
      case PLAT_PATH_DIRECTORY:
        walk_root(s, root_path);
        break;
      case PLAT_PATH_OTHER:
        // Reading a named pipe could wait for ever; a device may act on a read.
        qg_fail(GREP_E_IO, "Cannot open file '%s': %s", root_path, plat_error_text(PLAT_ENOTREG));
        searcher_fail(s);
        break;
      case PLAT_PATH_FILE:
      case PLAT_PATH_MISSING:
        scan_root_file(s, root_path);
        break;
    }
  }
  end_search(s, SEARCH_DONE);
  if (s->sink->finish != nullptr) s->sink->finish(s->sink->ctx, s->tally, s->outcome);
  return s->outcome;
}

search_outcome searcher_run_text(searcher *s, const char *name, const char *text, size_t len) {
  if (globs_admit_file(s->opts, basename_portable(name)) && !searcher_should_stop(s)) {
    s->file_path = name;
    const match_receiver r = {s, direct_begin, direct_match, direct_end};
    const file_outcome outcome = search_text_content(&s->tools, name, text, len, &r);
    if (outcome == FILE_UNREADABLE) {
      searcher_fail(s);
    } else {
      searcher_file_done(s, outcome);
    }
  }
  end_search(s, SEARCH_DONE);
  if (s->sink->finish != nullptr) s->sink->finish(s->sink->ctx, s->tally, s->outcome);
  return s->outcome;
}

const re_program *searcher_program(const searcher *s) { return s->program; }

const char *searcher_scan_pattern(const searcher *s) { return s->pattern; }

const grep_opts *searcher_scan_options(const searcher *s) { return s->opts; }

void searcher_report_outcome(const searcher *s, search_outcome outcome) {
  switch (outcome) {
    case SEARCH_DONE:
      qg_set_status(GREP_OK);
      return;
    case SEARCH_STOPPED:
      qm_grep_set_last_error("Search stopped by the host's callback");
      qg_set_status(GREP_STOPPED);
      return;
    case SEARCH_TIMED_OUT:
      qm_grep_set_last_error("Search stopped at the time limit of %d ms", s->opts->timeout_ms);
      qg_set_status(GREP_TIMED_OUT);
      return;
    case SEARCH_OUTPUT_LIMITED:
      qm_grep_set_last_error("Search stopped at the output limit of %lld bytes",
                             static_cast<long long>(s->opts->max_output_bytes));
      qg_set_status(GREP_OUTPUT_LIMITED);
      return;
    case SEARCH_FAILED:
      qg_status_from_failure();
      return;
  }
}
