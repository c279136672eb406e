#include "edit_core/edit.h"

#include "edit_core/file_edit.h"
#include "grep_core/last_error.h"
#include "grep_core/text_write.h"

namespace {

bool apply_edits(const char *path, line_edit *edits, int count, bool exact) {
  if (path == nullptr || edits == nullptr || count < 1) return false;
  const file_edit_input in = {path, edits, count, nullptr, 0, false, exact};
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

int replace_lines(const char *file_path, int start_line, int end_line, const char *new_text,
                  bool exact) {
  if (file_path == nullptr || file_path[0] == '\0') {
    qg_fail_call(GREP_E_ARGUMENT, "Missing file_path");
    return -1;
  }
  line_edit edit = {start_line, end_line, new_text != nullptr ? new_text : "", nullptr};
  if (apply_edits(file_path, &edit, 1, exact)) return 0;
  qg_status_from_failure();
  return -1;
}

}  // namespace

bool apply_file_edits(const char *path, line_edit *edits, int count) {
  return apply_edits(path, edits, count, false);
}

int grep_core_replace_lines(const char *file_path, int start_line, int end_line,
                            const char *new_text) {
  return replace_lines(file_path, start_line, end_line, new_text, false);
}

int grep_core_replace_lines_exact(const char *file_path, int start_line, int end_line,
                                  const char *new_text) {
  return replace_lines(file_path, start_line, end_line, new_text, true);
}
