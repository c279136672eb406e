#include "edit_core/batch.h"

#include "grep_core/last_error.h"

#include <string.h>

char *grep_core_batch_replace_json(const char *) {
  qm_grep_set_last_error("grep_batch_replace_json: not implemented");
  return strdup(
      "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"not implemented\"]}");
}
