#include "edit_core/file_edit.h"

#include "edit_core/edit_places.h"
#include "edit_core/unified_diff.h"
#include "grep_core/find_bytes.h"
#include "grep_core/grow_array.h"
#include "grep_core/last_error.h"
#include "grep_core/text_lines.h"
#include "grep_core/text_write.h"
#include "grep_core/utf8.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool is_replacement(const line_edit &e) { return e.start_line <= e.end_line; }

bool is_utf16(text_encoding e) { return e == ENC_UTF16LE || e == ENC_UTF16BE; }

// ---- Reading ----

// Locks and reads the file into fe: its bytes, text and encoding, refused
// where writing it back would lose a byte. False with the message set.
bool read_bytes_locked(file_edit *fe) {
  const int error = plat_open_for_edit(fe->path, &fe->file, &fe->meta);
  if (error != 0) {
    qg_fail(qg_status_of_error(error), "Cannot open file '%s': %s", fe->path,
            plat_error_text(error));
    return false;
  }
  fe->locked = true;
  if (!read_open_file(fe->path, fe->file, fe->meta.size, &fe->buffers, &fe->text, &fe->len,
                      &fe->encoding)) {
    return false;
  }
  // An odd last byte of a UTF-16 file is no character; writing the file back
  // would drop it.
  if (is_utf16(fe->encoding) && fe->buffers.raw_len % 2 != 0) {
    qg_fail(GREP_E_IO, "UTF-16 file '%s' ends in half a character", fe->path);
    return false;
  }
  // The lines of a text end at its first NUL: writing them back would drop
  // everything after it.
  if (memchr(fe->text, '\0', fe->len) != nullptr) {
    qg_fail(GREP_E_IO, "File '%s' contains NUL bytes and cannot be edited by line", fe->path);
    return false;
  }
  return true;
}

// Locks and reads the file into fe: its text, encoding and lines, with room
// for `extra` more lines. False with the message set.
bool read_locked(file_edit *fe, size_t extra) {
  if (!read_bytes_locked(fe)) return false;
  ending_counts counts = {0, 0};
  if (!spans_reserve(&fe->lines, spans_line_bound(fe->text, fe->len) + extra) ||
      !spans_split(fe->text, fe->len, &fe->lines, &counts)) {
    qg_fail(GREP_E_NO_MEMORY, "Failed to split lines in '%s'", fe->path);
    return false;
  }
  // The reader's majority rule, counted while cutting instead of in a pass of
  // its own: the same LF and CR LF bytes decide.
  fe->ending = qg_dominant_ending(counts);
  const size_t n = fe->lines.count;
  const line_span *last = n > 0 ? &fe->lines.items[n - 1] : nullptr;
  fe->open_end = last != nullptr && ending_after(last->text, last->len) == 0;
  // Every line but an open last one ends in LF, CR LF or a lone CR.
  const size_t lone_cr = n - (fe->open_end ? 1 : 0) - counts.lf - counts.crlf;
  fe->exact_fill = lone_cr > counts.lf && lone_cr > counts.crlf ? "\r" : le_str(fe->ending);
  return true;
}

// ---- Edits by matching text ----

// The file's text as the reader gives it, every line ending as LF, with the
// offset at which each line starts in it.
struct reader_text {
  char *t = nullptr;
  size_t len = 0;
  size_t *starts = nullptr;  // lines + 1 entries; the last is `len`
  size_t lines = 0;

  reader_text() = default;
  reader_text(const reader_text &) = delete;
  reader_text &operator=(const reader_text &) = delete;
  ~reader_text() {
    free(t);
    free(starts);
  }

  // The end of line `k`'s text, its LF included when it has one.
  size_t end_with_ending(size_t k) const { return starts[k + 1]; }
};

bool make_reader_text(const file_edit *fe, reader_text *rt) {
  const line_spans &l = fe->lines;
  rt->lines = l.count;
  rt->starts = static_cast<size_t *>(malloc((l.count + 1) * sizeof(size_t)));
  rt->t = static_cast<char *>(malloc(fe->len + 1));
  if (rt->starts == nullptr || rt->t == nullptr) return false;
  const char *const end = fe->text + fe->len;
  size_t at = 0;
  for (size_t k = 0; k < l.count; ++k) {
    rt->starts[k] = at;
    memcpy(rt->t + at, l.items[k].text, l.items[k].len);
    at += l.items[k].len;
    if (l.items[k].text + l.items[k].len < end) rt->t[at++] = '\n';  // the line had an ending
  }
  rt->starts[l.count] = at;
  rt->len = at;
  return true;
}

// The line holding offset `at` of the reader's text.
size_t line_of(const reader_text &rt, size_t at) { return qg_line_holding(rt.starts, rt.lines, at); }

struct edit_list {
  line_edit *items = nullptr;
  int count = 0;
  int capacity = 0;
  char **owned = nullptr;
  int owned_count = 0;
  int owned_capacity = 0;
};

// The text of lines [first, last] of the reader's text (the last one's LF
// included) with each occurrence of `old` that starts in [from, to) replaced
// by `with`; the occurrences are the `n` at `hits`.
char *replace_in_lines(const reader_text &rt, size_t first, size_t last, const size_t *hits,
                       size_t n, size_t old_len, const char *with) {
  const size_t with_len = strlen(with);
  const size_t begin = rt.starts[first], end = rt.end_with_ending(last);
  size_t total = end - begin;
  for (size_t k = 0; k < n; ++k) total = total - old_len + with_len;
  auto *out = static_cast<char *>(malloc(total + 1));
  if (out == nullptr) return nullptr;
  size_t o = 0, at = begin;
  for (size_t k = 0; k < n; ++k) {
    memcpy(out + o, rt.t + at, hits[k] - at);
    o += hits[k] - at;
    memcpy(out + o, with, with_len);
    o += with_len;
    at = hits[k] + old_len;
  }
  memcpy(out + o, rt.t + at, end - at);
  o += end - at;
  out[o] = '\0';
  return out;
}

// The last line an occurrence ending at `end` (exclusive) touches: the line
// of its last byte, or, when it took that line's LF, the next line too,
// whose text then follows the new text on the same line.
size_t last_line_touched(const reader_text &rt, size_t end) {
  const size_t k = line_of(rt, end - 1);
  const bool took_ending = end == rt.end_with_ending(k) && rt.t[end - 1] == '\n';
  return took_ending && k + 1 < rt.lines ? k + 1 : k;
}

// Turns one text edit into line edits of the lines its occurrences touch,
// their untouched beginnings and ends kept; occurrences whose lines touch
// make one edit. False with the message set.
bool resolve_text_edit(const file_edit *fe, const reader_text &rt, const text_edit &te,
                       edit_list *out) {
  const size_t n = strlen(te.old_text);
  qg_finder finder;
  qg_finder_init(&finder, te.old_text, n, true);
  grow_array<size_t> hits;
  size_t count = 0;  // occurrences found; beyond two, without replace_all, only counted
  for (size_t from = 0; from + n <= rt.len;) {
    const char *hit = qg_finder_find(&finder, rt.t + from, rt.len - from);
    if (hit == nullptr) break;
    if (!hits.push(static_cast<size_t>(hit - rt.t))) {
      qg_fail(GREP_E_NO_MEMORY, "Out of memory finding the text in '%s'", fe->path);
      return false;
    }
    ++count;
    from = static_cast<size_t>(hit - rt.t) + n;
    if (!te.replace_all && count > 1) {
      // How many there are, for the message.
      while ((hit = qg_finder_find(&finder, rt.t + from, rt.len - from)) != nullptr) {
        ++count;
        from = static_cast<size_t>(hit - rt.t) + n;
      }
      break;
    }
  }
  if (count == 0 || (count > 1 && !te.replace_all)) {
    if (count == 0) {
      qg_fail(GREP_E_CONFLICT, "Text not found in '%s'", fe->path);
    } else {
      qg_fail(GREP_E_CONFLICT,
              "Text occurs %llu times in '%s'; add context to old_text to make it unique, or set "
              "replace_all",
              static_cast<unsigned long long>(count), fe->path);
    }
    return false;
  }
  const char *with = te.new_text != nullptr ? te.new_text : "";
  bool ok = true;
  for (size_t k = 0; k < count && ok;) {
    const size_t first = line_of(rt, hits.items[k]);
    size_t last = last_line_touched(rt, hits.items[k] + n);
    size_t end = k + 1;
    while (end < count && line_of(rt, hits.items[end]) <= last) {
      last = last_line_touched(rt, hits.items[end] + n);
      ++end;
    }
    char *text = replace_in_lines(rt, first, last, hits.items + k, end - k, n, with);
    ok = text != nullptr && grow_push(&out->owned, &out->owned_count, &out->owned_capacity, text);
    if (!ok) {
      free(text);
    } else {
      ok = grow_push(&out->items, &out->count, &out->capacity,
                line_edit{static_cast<int32_t>(first + 1), static_cast<int32_t>(last + 1), text,
                          nullptr});
    }
    k = end;
  }
  if (!ok) qg_fail(GREP_E_NO_MEMORY, "Out of memory applying the text edits of '%s'", fe->path);
  return ok;
}

// ---- Checks ----

// Refuses new texts that a UTF-16 file cannot hold unchanged: bytes that are
// not UTF-8 would be converted to units nobody wrote, and could swallow the
// line breaks after them. Nothing is guessed; the message names the file.
bool new_texts_fit_utf16(const char *path, const line_edit *edits, int count) {
  for (int k = 0; k < count; ++k) {
    const char *text = edits[k].new_text;
    if (text != nullptr && !qg_utf8_valid_for_utf16(text, strlen(text))) {
      qg_fail(GREP_E_ARGUMENT,
              "Text for '%s' is not valid UTF-8 and cannot be written to a UTF-16 file", path);
      return false;
    }
  }
  return true;
}

// True when the lines `e` covers (those the file has; none for an insertion)
// hold `e.expected_text`, joined with LF and no ending after the last.
bool holds_expected(const line_spans &lines, const line_edit &e) {
  const char *expected = e.expected_text;
  const size_t want = strlen(expected);
  if (!is_replacement(e)) return want == 0;
  const int64_t first = e.start_line < 1 ? 1 : e.start_line;
  const int64_t last = e.end_line > static_cast<int64_t>(lines.count)
                           ? static_cast<int64_t>(lines.count)
                           : e.end_line;
  size_t at = 0;
  for (int64_t k = first; k <= last; ++k) {
    const line_span &s = lines.items[k - 1];
    if (k > first) {
      if (at >= want || expected[at] != '\n') return false;
      ++at;
    }
    if (want - at < s.len || memcmp(expected + at, s.text, s.len) != 0) return false;
    at += s.len;
  }
  return at == want;
}

bool check_expected(const file_edit *fe) {
  for (int k = 0; k < fe->count; ++k) {
    const line_edit &e = fe->edits[k];
    if (e.expected_text != nullptr && !holds_expected(fe->lines, e)) {
      qg_fail(GREP_E_CONFLICT, "Lines %d-%d of '%s' do not hold the expected text", e.start_line,
              e.end_line, fe->path);
      return false;
    }
  }
  return true;
}

// The lines every edit's new text adds, at most.
size_t new_lines_bound(const line_edit *edits, int count) {
  size_t bound = 0;
  for (int k = 0; k < count; ++k) {
    const char *text = edits[k].new_text;
    if (text != nullptr) bound += spans_line_bound(text, strlen(text));
  }
  return bound;
}

// Gathers the caller's line edits and the line edits of its text edits into
// fe->edits (owned). False with the message set.
bool gather_edits(file_edit *fe, const file_edit_input *in) {
  edit_list list;
  bool ok = true;
  for (int k = 0; k < in->count && ok; ++k) {
    ok = grow_push(&list.items, &list.count, &list.capacity, in->edits[k]);
  }
  if (!ok) qg_fail(GREP_E_NO_MEMORY, "Out of memory gathering the edits of '%s'", fe->path);
  if (ok && in->text_count > 0) {
    reader_text rt;
    ok = make_reader_text(fe, &rt);
    if (!ok) qg_fail(GREP_E_NO_MEMORY, "Out of memory reading the text of '%s'", fe->path);
    for (int k = 0; k < in->text_count && ok; ++k)
      ok = resolve_text_edit(fe, rt, in->texts[k], &list);
  }
  fe->edits = list.items;
  fe->count = list.count;
  fe->owned = list.owned;
  fe->owned_count = list.owned_count;
  fe->owned_capacity = list.owned_capacity;
  return ok;
}

// ---- Exact line ends ----

// The ending new line `j` of the edit at `p` takes: that of the line it
// replaces (the last one replaced for lines beyond them), or the file's
// dominant one where that line has none or the edit replaces nothing.
void new_line_ending(const file_edit *fe, const edit_place &p, size_t j, const char **bytes,
                     size_t *n) {
  if (p.removed > 0) {
    const line_span &old = fe->lines.items[p.position + (j < p.removed ? j : p.removed - 1)];
    *n = ending_after(old.text, old.len);
    *bytes = old.text + old.len;
    if (*n > 0) return;
  }
  *bytes = fe->exact_fill;
  *n = strlen(fe->exact_fill);
}

// Gives every placed edit's new text the endings its lines take, as a text
// of its own (owned by fe) in which each line is followed by its ending, so
// that the writer keeps it as it keeps the file's own lines. Before the
// edits are applied: the endings are read from the file's lines as read.
bool end_new_lines_exactly(file_edit *fe) {
  line_spans split = {nullptr, 0, 0};
  bool ok = true;
  for (int k = 0; k < fe->count && ok; ++k) {
    edit_place &p = fe->places[k];
    if (p.new_text == nullptr || p.new_text[0] == '\0') continue;
    split.count = 0;
    ok = spans_split(p.new_text, strlen(p.new_text), &split, nullptr);
    size_t total = 0, n = 0;
    const char *ending = nullptr;
    for (size_t j = 0; ok && j < split.count; ++j) {
      new_line_ending(fe, p, j, &ending, &n);
      total += split.items[j].len + n;
    }
    char *text = ok ? static_cast<char *>(malloc(total + 1)) : nullptr;
    ok = text != nullptr && grow_push(&fe->owned, &fe->owned_count, &fe->owned_capacity, text);
    if (!ok) {
      free(text);
      break;
    }
    char *w = text;
    for (size_t j = 0; j < split.count; ++j) {
      memcpy(w, split.items[j].text, split.items[j].len);
      w += split.items[j].len;
      new_line_ending(fe, p, j, &ending, &n);
      memcpy(w, ending, n);
      w += n;
    }
    *w = '\0';
    p.new_text = text;
  }
  spans_free(&split);
  if (!ok) qg_fail(GREP_E_NO_MEMORY, "Out of memory ending the new lines of '%s'", fe->path);
  return ok;
}

// How the edited lines are written (see file_edit_prepare).
line_ends ends_of(const file_edit *fe, bool exact) {
  const char *fill = exact ? fe->exact_fill : le_str(fe->ending);
  line_ends ends = {fill, strlen(fill), exact, false};
  if (exact && fe->open_end && fe->lines.count > 0) {
    // A new last line ends as the file ended; an empty one keeps its ending,
    // without which it would be no line at all.
    const line_span &last = fe->lines.items[fe->lines.count - 1];
    ends.open_last = last.len > 0 && (last.text < fe->text || last.text > fe->text + fe->len);
  }
  return ends;
}

// ---- Writing ----

// Stages the edited lines of `fe`. In a UTF-8 file whose lines mostly stand
// in its text followed by the ending they are written with, the runs of such
// lines are written where they stand; otherwise (other endings, UTF-16) the
// lines are joined into a new text first.
bool stage_lines(file_edit *fe) {
  if (!is_utf16(fe->encoding)) {
    // A piece costs 16 bytes of memory and a few of a system call's work; a
    // join costs a copy of the whole text.
    const size_t pieces = spans_pieces(&fe->lines, &fe->ends, nullptr);
    if (pieces * sizeof(plat_bytes) <= fe->len / 2) {
      auto *list = static_cast<plat_bytes *>(malloc((pieces + 1) * sizeof(plat_bytes)));
      if (list != nullptr) {
        spans_pieces(&fe->lines, &fe->ends, list + 1);
        const bool staged =
            stage_file_pieces(fe->path, list, pieces + 1, fe->encoding, &fe->meta, &fe->staged);
        free(list);
        return staged;
      }
    }
  }
  char *joined = spans_join(&fe->lines, &fe->ends, nullptr);
  if (joined == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory joining lines for '%s'", fe->path);
    return false;
  }
  const bool staged = stage_file_from_utf8(fe->path, joined, fe->encoding, &fe->meta, &fe->staged);
  free(joined);
  return staged;
}

// The unified diff of the file as read against its edited lines, into
// fe->diff. False with the message set.
bool make_diff(file_edit *fe) {
  // The diff is of the bytes on the disk: a UTF-8 file's mark stands at the
  // start of its first line.
  const char *mark = fe->encoding == ENC_UTF8_BOM ? "\xEF\xBB\xBF" : "";
  unified_diff_write(&fe->diff, fe->path, mark, fe->text, fe->len, &fe->lines, &fe->ends);
  if (fe->diff.failed) qg_fail(GREP_E_NO_MEMORY, "Out of memory making the diff of '%s'", fe->path);
  return !fe->diff.failed;
}

void drop_text(file_edit *fe) {
  spans_free(&fe->lines);
  text_buffers_free(&fe->buffers);
  fe->text = nullptr;
  fe->len = 0;
}

}  // namespace

bool file_edit_prepare(file_edit *fe, const file_edit_input *in) {
  *fe = file_edit{};
  fe->path = in->path;
  // Room for the lines of the caller's texts in the one block of the file's
  // lines; the edits' own pass makes room for those of text edits.
  if (!read_locked(fe, new_lines_bound(in->edits, in->count)) || !gather_edits(fe, in)) {
    return false;
  }
  fe->places = place_edits(fe->path, fe->edits, fe->count, fe->lines.count, in->exact);
  if (fe->places == nullptr || !check_expected(fe)) return false;
  if (is_utf16(fe->encoding) && !new_texts_fit_utf16(fe->path, fe->edits, fe->count)) {
    return false;
  }
  if (in->exact && !end_new_lines_exactly(fe)) return false;
  bool ok = apply_sorted_edits(&fe->lines, fe->places, fe->count);
  if (!ok) qg_fail(GREP_E_NO_MEMORY, "Failed applying edit to '%s'", fe->path);
  fe->ends = ends_of(fe, in->exact);
  return ok && (!in->diff || make_diff(fe));
}

bool file_edit_read(file_edit *fe, const char *path) {
  *fe = file_edit{};
  fe->path = path;
  return read_bytes_locked(fe);
}

bool file_edit_set_text(file_edit *fe, char *text, size_t len, bool diff) {
  if (!grow_push(&fe->owned, &fe->owned_count, &fe->owned_capacity, text)) {
    free(text);
    qg_fail(GREP_E_NO_MEMORY, "Out of memory editing '%s'", fe->path);
    return false;
  }
  if (is_utf16(fe->encoding) && !qg_utf8_valid_for_utf16(text, len)) {
    qg_fail(GREP_E_ARGUMENT,
            "Text for '%s' is not valid UTF-8 and cannot be written to a UTF-16 file", fe->path);
    return false;
  }
  fe->new_text = text;
  if (!diff) return true;
  // The diff is of the old text against the new lines, each standing before
  // its own end but the last, which keeps whatever stands after it.
  fe->lines.count = 0;
  if (!spans_split(text, len, &fe->lines, nullptr)) {
    qg_fail(GREP_E_NO_MEMORY, "Failed to split lines in '%s'", fe->path);
    return false;
  }
  const char *fill = le_str(fe->ending);
  fe->ends = {fill, strlen(fill), true, false};
  return make_diff(fe);
}

bool file_edit_stage(file_edit *fe) {
  const bool staged =
      fe->new_text != nullptr
          ? stage_file_from_utf8(fe->path, fe->new_text, fe->encoding, &fe->meta, &fe->staged)
          : stage_lines(fe);
  drop_text(fe);
  return staged;
}

void file_edit_release(file_edit *fe) {
  plat_replacement_free(fe->staged);
  if (fe->locked) plat_close(fe->file);
  drop_text(fe);
  for (int k = 0; k < fe->owned_count; ++k) free(fe->owned[k]);
  free(fe->owned);
  free(fe->edits);
  free(fe->places);
  json_out_free(&fe->diff);
  *fe = file_edit{};
}

void file_edits_put_in_place(plat_replacement **staged, size_t n, plat_replace_result *results) {
  plat_replacements_flush(staged, n, results);
  for (size_t k = 0; k < n; ++k) {
    if (staged[k] != nullptr && results[k].step == PLAT_REPLACE_DONE) {
      results[k] = plat_replacement_commit(staged[k]);
    }
  }
  plat_replacements_settle(staged, n);
}

void file_edits_lock_order(const plat_file_id *ids, int32_t *order, int32_t n) {
  for (int32_t a = 1; a < n; ++a) {
    const int32_t g = order[a];
    int32_t b = a;
    for (; b > 0; --b) {
      const plat_file_id x = ids[order[b - 1]], y = ids[g];
      if (x.volume < y.volume || (x.volume == y.volume && x.index <= y.index)) break;
      order[b] = order[b - 1];
    }
    order[b] = g;
  }
}
