#include "search_core/report_json.h"

#include "grep_core/last_error.h"

char *grep_core_search_json(const char *root_path, const char *pattern, const char *) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return nullptr;
  }
  qm_grep_set_last_error("grep_search_json: not implemented");
  return nullptr;
}
