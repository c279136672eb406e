#include "search_core/report_stream.h"

#include "grep_core/last_error.h"

int grep_core_search_stream(const char *root_path, const char *pattern, const char *, grep_match_callback) {
  if (root_path == nullptr || pattern == nullptr) {
    qm_grep_set_last_error("root_path and pattern are required");
    return -1;
  }
  qm_grep_set_last_error("grep_search_stream: not implemented");
  return -1;
}
