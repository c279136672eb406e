#include "edit_core/pattern_replace.h"

#include "edit_core/file_edit.h"
#include "grep_core/file_id_map.h"
#include "grep_core/grow_array.h"
#include "grep_core/json_out.h"
#include "grep_core/last_error.h"
#include "grep_core/options.h"
#include "grep_core/path_table.h"
#include "grep_core/sha256.h"
#include "grep_core/text_write.h"
#include "grep_core/utf8.h"
#include "search_core/file_scan.h"
#include "search_core/replace_template.h"
#include "search_core/search.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Files locked, read and staged at once: the flush of their new contents is
// shared, and at most this many files are held open and in memory.
constexpr int32_t kChunkFiles = 128;

// One file the call replaces in, or (with "expect") was asked to.
struct target {
  char *path;
  int32_t lines;  // the selected lines the search took from it
  plat_file_id id;
  int32_t replacements;
  bool hashed;
  char sha256[65];  // of the bytes as read under the lock
  bool changed;     // its new text differs from the old: written, or would be in a dry run
  char *diff;
  size_t diff_len;
  int kind;  // 0, or the status of its failure
  char *message;
};

struct target_list {
  grow_array<target> items;
  file_id_map by_id;

  target_list() = default;
  target_list(const target_list &) = delete;
  target_list &operator=(const target_list &) = delete;
  ~target_list() {
    for (uint32_t k = 0; k < items.count; ++k) {
      free(items.items[k].path);
      free(items.items[k].diff);
      free(items.items[k].message);
    }
  }
};

// Records the thread's last failure as the reason `t` failed.
void fail_target(target *t) {
  t->kind = qg_failure_kind() != 0 ? qg_failure_kind() : GREP_E_NO_MEMORY;
  free(t->message);
  t->message = strdup(qm_grep_get_last_error());
}

// Adds the file at `path`, unless another path named it already (its
// identity, links followed); -1 for such a path, -2 when out of memory.
int64_t add_target(target_list *list, const char *path) {
  target fresh = {};
  const bool has_id = plat_path_identity(path, &fresh.id) == 0;
  if (has_id) {
    const file_id_map::added a =
        list->by_id.insert(fresh.id, static_cast<int32_t>(list->items.count));
    if (a == file_id_map::added::already) return -1;
    if (a == file_id_map::added::no_memory) return -2;
  }
  fresh.path = strdup(path);
  if (fresh.path == nullptr || !list->items.push(fresh)) {
    free(fresh.path);
    return -2;
  }
  return list->items.count - 1;
}

// ---- The search that picks the files ----

struct walk_ctx {
  target_list *targets;
  const path_table *expect;  // with "expect": the entries by path
  bool *expect_met;
  const char *path;  // the file being scanned
  int64_t current;   // its target; -1: none yet; -2: passed over
};

sink_verdict walk_out_of_memory() {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory gathering the files to replace in");
  return SINK_FAIL;
}

// With "expect", a file is taken when it is named there, match or not, so
// that a file changed since its preview is reported, not passed over.
sink_verdict walk_begin_file(void *ctx, const char *path) {
  auto *c = static_cast<walk_ctx *>(ctx);
  c->path = path;
  c->current = -1;
  if (c->expect == nullptr) return SINK_GO_ON;
  const int32_t entry = c->expect->find(path, strlen(path));
  if (entry < 0) {
    c->current = -2;
    return SINK_GO_ON;
  }
  c->expect_met[entry] = true;
  c->current = add_target(c->targets, path);
  return c->current == -2 ? walk_out_of_memory() : SINK_GO_ON;
}

sink_verdict walk_match(void *ctx, const scan_match *) {
  auto *c = static_cast<walk_ctx *>(ctx);
  if (c->current == -1) {
    c->current = add_target(c->targets, c->path);
    if (c->current == -2) return walk_out_of_memory();
    if (c->current == -1) c->current = -2;  // another path to a file taken already
  }
  if (c->current >= 0) ++c->targets->items.items[c->current].lines;
  return SINK_GO_ON;
}

// Adds a failed target for each "expect" entry the walk did not meet: one
// it did not reach before its time limit, or one it does not read.
bool add_unmet_expected(target_list *targets, const grep_opts *opts, const bool *met,
                        bool timed_out) {
  for (int32_t k = 0; k < opts->expect_count; ++k) {
    if (met[k]) continue;
    target fresh = {};
    fresh.path = strdup(opts->expect[k].path);
    if (fresh.path == nullptr || !targets->items.push(fresh)) {
      free(fresh.path);
      return false;
    }
    if (timed_out) {
      qg_fail(GREP_TIMED_OUT, "File '%s' was not reached before the time limit of %d ms",
              opts->expect[k].path, opts->timeout_ms);
    } else {
      qg_fail(GREP_E_IO,
              "File '%s' is not among the files the search reads (moved, deleted, filtered out "
              "or binary since it was read)",
              opts->expect[k].path);
    }
    fail_target(&targets->items.items[targets->items.count - 1]);
  }
  return true;
}

// ---- Each file's new text ----

struct rewrite {
  const replace_template *tmpl;
  const char *tmpl_text;
  bool preserve_case;
  const char *text;  // the file's text as read
  size_t copied;     // bytes of it already in `out`
  json_out out;
  int32_t lines;
  int32_t line_cap;  // 0: none
  int32_t replacements;
};

bool rewrite_begin(void *) { return true; }
void rewrite_end(void *) {}

// Replaces every match of the line `m` selects: the bytes up to each match
// are copied as they stand, then the match's replacement.
bool rewrite_match(void *ctx, const scan_match *m) {
  auto *r = static_cast<rewrite *>(ctx);
  if (r->line_cap > 0 && r->lines >= r->line_cap) return false;
  ++r->lines;
  const char *line = m->line.p;
  for (size_t i = 0; i < m->submatch_count; ++i) {
    const match_span &sm = m->submatches[i];
    const size_t at = static_cast<size_t>(line - r->text) + static_cast<size_t>(sm.col - 1);
    if (at < r->copied) continue;  // never: matches come in order and do not overlap
    json_out_bytes(&r->out, r->text + r->copied, at - r->copied);
    const char *match = r->text + at;
    const size_t match_len = static_cast<size_t>(sm.length);
    if (r->preserve_case && r->tmpl->plain) {
      append_in_case_of(&r->out, r->tmpl_text, strlen(r->tmpl_text), match, match_len);
    } else {
      const match_span *groups = m->group_count > 0 ? m->groups + i * m->group_count : nullptr;
      replace_template_expand(r->tmpl, &r->out, line, match, match_len, groups, m->group_count);
    }
    r->copied = at + match_len;
    ++r->replacements;
  }
  return !r->out.failed;
}

// What every file of the call shares.
struct replace_run {
  const grep_opts *opts;
  const replace_template *tmpl;
  const char *tmpl_text;
  file_scanner *scan;
  const path_table *expect;
  bool capped;  // a cap on matches applies: each file gives what the search took
};

bool out_of_memory_in(const char *path) {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory replacing in '%s'", path);
  return false;
}

// The new text of the file `fe` holds, made by `r`: true with r->out
// holding it (when anything was replaced), false with the message set.
bool make_new_text(const replace_run &run, const target &t, file_edit *fe, rewrite *r) {
  r->tmpl = run.tmpl;
  r->tmpl_text = run.tmpl_text;
  r->preserve_case = run.opts->preserve_case;
  r->text = fe->text;
  r->line_cap = run.capped ? t.lines : 0;
  const match_receiver receiver = {r, rewrite_begin, rewrite_match, rewrite_end};
  const file_outcome outcome =
      search_decoded_content(run.scan, t.path, fe->text, fe->len, &receiver);
  if (outcome == FILE_NO_MEMORY || r->out.failed) return out_of_memory_in(t.path);
  if (outcome == FILE_BINARY) r->replacements = 0;  // a binary file is never written
  if (r->replacements == 0) return true;
  json_out_bytes(&r->out, fe->text + r->copied, fe->len - r->copied);
  if (!json_out_reserve(&r->out, 0)) return out_of_memory_in(t.path);
  return true;
}

bool keep_diff(target *t, const file_edit *fe) {
  t->diff = static_cast<char *>(malloc(fe->diff.len + 1));
  if (t->diff == nullptr) return out_of_memory_in(t->path);
  if (fe->diff.len > 0) memcpy(t->diff, fe->diff.data, fe->diff.len);
  t->diff[fe->diff.len] = '\0';
  t->diff_len = fe->diff.len;
  return true;
}

// Reads `t` under its lock, checks its hash, makes its new text and, unless
// a dry run, stages it. True when it is staged (fe kept for the commit);
// false when there is nothing to write or it failed (t says which; fe
// released).
bool prepare_target(const replace_run &run, target *t, file_edit *fe) {
  bool ok = file_edit_read(fe, t->path);
  if (ok) {
    qg_sha256_hex(fe->buffers.raw, fe->buffers.raw_len, t->sha256);
    t->hashed = true;
    if (run.expect != nullptr) {
      const int32_t entry = run.expect->find(t->path, strlen(t->path));
      if (entry >= 0 && strcmp(run.opts->expect[entry].sha256, t->sha256) != 0) {
        qg_fail(GREP_E_IO, "File '%s' changed since it was read", t->path);
        ok = false;
      }
    }
  }
  rewrite r = {};
  ok = ok && make_new_text(run, *t, fe, &r);
  t->replacements = ok ? r.replacements : 0;
  bool staged = false;
  if (ok && r.replacements > 0 &&
      (r.out.len != fe->len || memcmp(r.out.data, fe->text, fe->len) != 0)) {
    t->changed = true;
    char *text = r.out.data;
    const size_t len = r.out.len;
    r.out.data = nullptr;
    const bool dry_run = run.opts->dry_run;
    ok = file_edit_set_text(fe, text, len, dry_run) &&
         (dry_run ? keep_diff(t, fe) : file_edit_stage(fe));
    staged = ok && !dry_run;
  }
  json_out_free(&r.out);
  if (!ok) {
    t->changed = false;
    fail_target(t);
  }
  if (!staged) file_edit_release(fe);
  return staged;
}

// Replaces in the targets [first, first + n): each read and staged (files
// locked in the order of their identities), every staged file flushed at
// once, then each put in place and the directories flushed once.
void replace_chunk(const replace_run &run, target *targets, int32_t n) {
  int32_t order[kChunkFiles];
  plat_file_id ids[kChunkFiles];
  file_edit edits[kChunkFiles];
  plat_replacement *staged[kChunkFiles];
  plat_replace_result results[kChunkFiles];
  for (int32_t k = 0; k < n; ++k) {
    order[k] = k;
    ids[k] = targets[k].id;
    staged[k] = nullptr;
  }
  file_edits_lock_order(ids, order, n);
  for (int32_t k = 0; k < n; ++k) {
    target *t = &targets[order[k]];
    if (t->kind == 0 && prepare_target(run, t, &edits[order[k]])) {
      staged[order[k]] = edits[order[k]].staged;
    }
  }
  if (run.opts->dry_run) return;
  file_edits_put_in_place(staged, static_cast<size_t>(n), results);
  for (int32_t k = 0; k < n; ++k) {
    if (staged[k] == nullptr) continue;
    if (results[k].step != PLAT_REPLACE_DONE) {
      report_write_failure(targets[k].path, results[k]);
      targets[k].changed = false;
      fail_target(&targets[k]);
    }
    file_edit_release(&edits[k]);
  }
}

// ---- The report ----

void write_error_string(json_out *out, const target &t) {
  const char *message = t.message != nullptr ? t.message : "Out of memory";
  json_out_string(out, message, strlen(message));
}

// The document; null when memory runs out.
char *compose_report(const target_list &targets, const grep_opts &opts, const search_tally &tally,
                     search_outcome outcome, bool *output_limited) {
  int64_t modified = 0, total = 0;
  bool failed = false;
  for (uint32_t k = 0; k < targets.items.count; ++k) {
    const target &t = targets.items.items[k];
    modified += t.changed;
    total += t.replacements;
    failed |= t.kind != 0;
  }
  json_out out = {};
  JSON_OUT_LITERAL(&out, "{\"success\":");
  if (failed) {
    JSON_OUT_LITERAL(&out, "false");
  } else {
    JSON_OUT_LITERAL(&out, "true");
  }
  JSON_OUT_LITERAL(&out, ",\"files_modified\":");
  json_out_int(&out, modified);
  JSON_OUT_LITERAL(&out, ",\"total_replacements\":");
  json_out_int(&out, total);
  JSON_OUT_LITERAL(&out, ",\"files\":[");
  // With a cap on the document, entries (a dry run's diffs above all) stop
  // where the next would pass it, leaving room for the rest.
  const size_t cap =
      opts.max_output_bytes > 0 ? static_cast<size_t>(opts.max_output_bytes) : SIZE_MAX;
  bool first = true;
  for (uint32_t k = 0; k < targets.items.count && !*output_limited; ++k) {
    const target &t = targets.items.items[k];
    if (t.kind != 0 || t.replacements == 0) continue;
    const size_t mark = out.len;
    if (!first) json_out_char(&out, ',');
    JSON_OUT_LITERAL(&out, "{\"file\":");
    json_out_string(&out, t.path, strlen(t.path));
    JSON_OUT_LITERAL(&out, ",\"replacements\":");
    json_out_int(&out, t.replacements);
    JSON_OUT_LITERAL(&out, ",\"sha256\":");
    json_out_string(&out, t.sha256, 64);
    if (opts.dry_run) {
      // A file whose replacements leave its bytes as they are has an empty
      // diff: nothing would be written to it.
      JSON_OUT_LITERAL(&out, ",\"diff\":");
      json_out_string(&out, t.diff != nullptr ? t.diff : "", t.diff_len);
      // A JSON string holds only UTF-8: a diff of other bytes comes whole
      // beside its readable form.
      if (!qg_utf8_valid(t.diff, t.diff_len)) {
        JSON_OUT_LITERAL(&out, ",\"diff_base64\":");
        json_out_base64(&out, t.diff, t.diff_len);
      }
    }
    json_out_char(&out, '}');
    constexpr size_t kTailRoom = 512;
    if (!out.failed && (out.len > cap || cap - out.len < kTailRoom)) {
      out.len = mark;
      out.data[mark] = '\0';
      *output_limited = true;
      break;
    }
    first = false;
  }
  JSON_OUT_LITERAL(&out, "],\"errors\":[");
  first = true;
  for (uint32_t k = 0; k < targets.items.count; ++k) {
    const target &t = targets.items.items[k];
    if (t.kind == 0) continue;
    if (!first) json_out_char(&out, ',');
    first = false;
    write_error_string(&out, t);
  }
  JSON_OUT_LITERAL(&out, "],\"failures\":[");
  first = true;
  for (uint32_t k = 0; k < targets.items.count; ++k) {
    const target &t = targets.items.items[k];
    if (t.kind == 0) continue;
    if (!first) json_out_char(&out, ',');
    first = false;
    JSON_OUT_LITERAL(&out, "{\"file\":");
    json_out_string(&out, t.path, strlen(t.path));
    JSON_OUT_LITERAL(&out, ",\"status\":");
    const char *status = qg_status_name(t.kind);
    json_out_string(&out, status, strlen(status));
    JSON_OUT_LITERAL(&out, ",\"message\":");
    write_error_string(&out, t);
    json_out_char(&out, '}');
  }
  JSON_OUT_LITERAL(&out, "],\"files_searched\":");
  json_out_int(&out, tally.files_searched);
  if (outcome == SEARCH_TIMED_OUT) JSON_OUT_LITERAL(&out, ",\"timed_out\":true");
  if (*output_limited) JSON_OUT_LITERAL(&out, ",\"output_limited\":true");
  json_out_char(&out, '}');
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}

// Sets the call's status: that of the first file that failed, else the
// search's end (a time limit), else the document's cap, else GREP_OK. The
// last-error text is the last failure's, as in a batch.
void set_status(const target_list &targets, const searcher *s, const grep_opts &opts,
                search_outcome outcome, bool output_limited) {
  searcher_report_outcome(s, outcome == SEARCH_TIMED_OUT ? outcome : SEARCH_DONE);
  if (output_limited && outcome != SEARCH_TIMED_OUT) {
    qm_grep_set_last_error("Replace report stopped at the output limit of %lld bytes",
                           static_cast<long long>(opts.max_output_bytes));
    qg_set_status(GREP_OUTPUT_LIMITED);
  }
  int first_kind = 0;
  for (uint32_t k = 0; k < targets.items.count; ++k) {
    const target &t = targets.items.items[k];
    if (t.kind == 0) continue;
    if (first_kind == 0) first_kind = t.kind;
    qg_fail(t.kind, "%s", t.message != nullptr ? t.message : "Out of memory");
  }
  if (first_kind != 0) qg_set_status(first_kind);
}

// The options of the search that picks the files: the caller's, without
// what only a report reads, and with groups whenever the template names one.
grep_opts walk_options(const grep_opts &opts, bool groups) {
  grep_opts w = opts;  // shares the caller's lists, which it never frees
  w.submatches = false;
  w.match_length = false;
  w.context_lines = 0;
  w.before_context = 0;
  w.after_context = 0;
  w.captures = groups && opts.syntax == GREP_SYNTAX_STANDARD;
  return w;
}

struct searcher_guard {
  searcher *s;
  ~searcher_guard() { searcher_free(s); }
};

struct opts_guard {
  grep_opts *o;
  ~opts_guard() { grep_opts_free(o); }
};

// The second half of the call, once the files are known: the edits and the
// report. Null when memory runs out for the report.
char *replace_in_targets(const char *replacement, const replace_template &tmpl,
                         const grep_opts &opts, searcher *s, target_list *targets,
                         const path_table *expect, const search_tally &tally,
                         search_outcome outcome) {
  grep_opts scan_opts = *searcher_scan_options(s);  // the walk's, as the search reads them
  scan_opts.submatches = true;
  scan_opts.max_per_file = 0;  // each file's own cap is the lines the search took
  file_scanner scan;
  char *report = nullptr;
  if (!file_scanner_init(&scan, searcher_scan_pattern(s), &scan_opts, searcher_program(s), nullptr,
                         nullptr)) {
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory starting the replace");
  } else {
    const replace_run run = {&opts, &tmpl,  replacement,
                             &scan, expect, opts.max_results > 0 || opts.max_per_file > 0};
    target *items = targets->items.items;
    const auto count = static_cast<int32_t>(targets->items.count);
    for (int32_t first = 0; first < count; first += kChunkFiles) {
      replace_chunk(run, items + first, count - first < kChunkFiles ? count - first : kChunkFiles);
    }
    bool output_limited = false;
    report = compose_report(*targets, opts, tally, outcome, &output_limited);
    if (report == nullptr) {
      qg_fail_call(GREP_E_NO_MEMORY, "Out of memory composing the replace report");
    } else {
      set_status(*targets, s, opts, outcome, output_limited);
    }
  }
  file_scanner_free(&scan);
  return report;
}

}  // namespace

char *grep_core_replace_json(const char *root_path, const char *pattern, const char *replacement,
                             const char *options_json) {
  if (root_path == nullptr || pattern == nullptr || replacement == nullptr) {
    qg_fail_call(GREP_E_ARGUMENT, "root_path, pattern and replacement are required");
    return nullptr;
  }
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return nullptr;
  }
  opts_guard opts_owner{&opts};
  if (opts.invert_match) {
    qg_fail_call(GREP_E_ARGUMENT,
                 "invert_match selects the lines without a match, which hold nothing to replace");
    return nullptr;
  }
  path_table expect;
  bool *expect_met = nullptr;
  if (opts.expect != nullptr) {
    expect_met = static_cast<bool *>(calloc(opts.expect_count > 0 ? opts.expect_count : 1, 1));
    bool ok = expect_met != nullptr;
    for (int32_t k = 0; k < opts.expect_count && ok; ++k) {
      ok = expect.insert(opts.expect[k].path, strlen(opts.expect[k].path), k);
    }
    if (!ok) {
      free(expect_met);
      qg_fail_call(GREP_E_NO_MEMORY, "Out of memory reading the expected files");
      return nullptr;
    }
  }
  const grep_opts walk = walk_options(opts, replace_template_names_groups(replacement));
  target_list targets;
  walk_ctx ctx = {&targets, opts.expect != nullptr ? &expect : nullptr, expect_met, nullptr, -1};
  const search_sink sink = {&ctx, walk_begin_file, walk_match, nullptr, nullptr, nullptr, nullptr};
  search_tally tally{};
  searcher_guard s{searcher_new(pattern, &walk, &tally, &sink)};
  char *report = nullptr;
  if (s.s == nullptr) {
    qg_status_from_failure();
  } else {
    // The template is read against the compiled pattern before any file is.
    replace_template tmpl;
    if (!replace_template_read(&tmpl, replacement, opts.regex ? searcher_program(s.s) : nullptr)) {
      qg_status_from_failure();
    } else {
      const search_outcome outcome = searcher_run(s.s, root_path);
      if (outcome == SEARCH_FAILED) {
        searcher_report_outcome(s.s, outcome);
      } else if (opts.expect != nullptr &&
                 !add_unmet_expected(&targets, &opts, expect_met, outcome == SEARCH_TIMED_OUT)) {
        qg_fail_call(GREP_E_NO_MEMORY, "Out of memory gathering the files to replace in");
      } else {
        report = replace_in_targets(replacement, tmpl, opts, s.s, &targets,
                                    opts.expect != nullptr ? &expect : nullptr, tally, outcome);
      }
      replace_template_free(&tmpl);
    }
  }
  free(expect_met);
  return report;
}
