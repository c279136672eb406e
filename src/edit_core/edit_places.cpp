#include "edit_core/edit_places.h"

#include "grep_core/last_error.h"

#include <stdlib.h>

namespace {

// The place of `e` in a file of `n` lines: a replacement keeps the part of
// its range that the file has; one that keeps nothing, and an insertion,
// land before their start line, raised to the first line and lowered to
// just after the last.
edit_place place_of(const line_edit &e, int64_t n, int32_t order) {
  const int64_t start = e.start_line;
  const int64_t before = start < 1 ? 0 : (start > n + 1 ? n : start - 1);
  edit_place p = {static_cast<size_t>(before), 0, order, e.new_text, &e};
  if (e.start_line <= e.end_line) {
    const int64_t first = start < 1 ? 1 : start;
    const int64_t last = e.end_line > n ? n : e.end_line;
    if (first <= last) {
      p.position = static_cast<size_t>(first - 1);
      p.removed = static_cast<size_t>(last - first + 1);
    }
  }
  return p;
}

// The order of application: position descending; at one position the
// replacement (there is at most one that passes the check) before the
// insertions, and those last listed first, so that each goes in before the
// ones applied before it and the list order comes out.
int cmp_places(const void *a, const void *b) {
  const auto *x = static_cast<const edit_place *>(a);
  const auto *y = static_cast<const edit_place *>(b);
  if (x->position != y->position) return x->position > y->position ? -1 : 1;
  if ((x->removed > 0) != (y->removed > 0)) return x->removed > 0 ? -1 : 1;
  if (x->order != y->order) return x->order > y->order ? -1 : 1;
  return 0;
}

}  // namespace

edit_place *place_edits(const char *path, const line_edit *edits, int32_t count, size_t lines,
                        bool exact) {
  auto *places = static_cast<edit_place *>(malloc(sizeof(edit_place) * (count > 0 ? count : 1)));
  if (places == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory placing the edits of '%s'", path);
    return nullptr;
  }
  const auto n = static_cast<int64_t>(lines);
  for (int32_t k = 0; k < count; ++k) {
    if (exact && edits[k].start_line > n + 1) {
      qg_fail(GREP_E_ARGUMENT, "File has only %d lines, requested start at line %d",
              static_cast<int>(n), edits[k].start_line);
      free(places);
      return nullptr;
    }
    places[k] = place_of(edits[k], n, k);
  }
  qsort(places, static_cast<size_t>(count), sizeof *places, cmp_places);
  // In this order the edit just before a replacement is the one nearest
  // above it: if that one starts inside the replaced range, they collide
  // (an insertion at the range's first line sorts after it and lands before
  // its new lines).
  for (int32_t k = 1; k < count; ++k) {
    const edit_place &low = places[k], &above = places[k - 1];
    if (low.removed > 0 && above.position < low.position + low.removed) {
      qg_fail(GREP_E_ARGUMENT, "Overlapping edit ranges in '%s': lines %d-%d and %d-%d", path,
              low.edit->start_line, low.edit->end_line, above.edit->start_line,
              above.edit->end_line);
      free(places);
      return nullptr;
    }
  }
  return places;
}
