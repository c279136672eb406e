#include "edit_core/edit.h"

#include "grep_core/last_error.h"

int grep_core_replace_lines(const char *, int, int, const char *) {
  qm_grep_set_last_error("grep_replace_lines: not implemented");
  return -1;
}
