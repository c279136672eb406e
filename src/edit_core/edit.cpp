#include "edit_core/edit.h"

#include "edit_core/file_edit.h"
#include "grep_core/last_error.h"
#include "grep_core/text_write.h"

int cmp_edits_desc(const void *a, const void *b) {
  const auto *x = static_cast<const line_edit *>(a);
  const auto *y = static_cast<const line_edit *>(b);
  if (x->start_line != y->start_line) return x->start_line > y->start_line ? -1 : 1;
  if (x->end_line != y->end_line) return x->end_line > y->end_line ? -1 : 1;
  return 0;
}

bool apply_file_edits(const char *path, line_edit *edits, int count) {
  if (path == nullptr || edits == nullptr || count < 1) return false;
  const file_edit_input in = {path, edits, count, nullptr, 0, false};
  file_edit fe;
  bool ok = file_edit_prepare(&fe, &in) && file_edit_stage(&fe);
  if (ok) {
    // The write is flushed, put in place and settled while the file is still
    // locked, so that the next editor reads the new contents.
    ok = finish_file_replacement(path, fe.staged);
    fe.staged = nullptr;
  }
  file_edit_release(&fe);
  return ok;
}

int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qg_fail_call(GREP_E_ARGUMENT, "Missing file_path");
    return -1;
  }
  line_edit edit = {start_line, end_line, new_text != nullptr ? new_text : "", nullptr};
  if (apply_file_edits(file_path, &edit, 1)) return 0;
  qg_status_from_failure();
  return -1;
}
