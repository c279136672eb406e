// The exported functions: thin frames around the drivers, plus the
// per-thread slots that own the texts they return. Each frame starts the
// calling thread's status at GREP_OK; the driver sets any other outcome.
#include "quenmar_grep.h"

#include "edit_core/batch.h"
#include "edit_core/edit.h"
#include "edit_core/pattern_replace.h"
#include "grep_core/json_out.h"
#include "grep_core/last_error.h"
#include "grep_core/option_schema.h"
#include "grep_core/options.h"
#include "read_core/read_lines.h"
#include "search_core/report_files.h"
#include "search_core/report_json.h"
#include "search_core/report_lines.h"
#include "search_core/report_stream.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The texts last returned on this thread. Each is released when its export is
// next called on the thread, or when the thread ends.
struct result_slots {
  char *search = nullptr;
  char *search_text = nullptr;
  char *batch = nullptr;
  char *read = nullptr;
  char *files = nullptr;
  char *lines = nullptr;
  char *schema = nullptr;
  char *options = nullptr;
  char *replace = nullptr;

  result_slots() = default;
  result_slots(const result_slots &) = delete;
  result_slots &operator=(const result_slots &) = delete;
  ~result_slots() {
    free(search);
    free(search_text);
    free(batch);
    free(read);
    free(files);
    free(lines);
    free(schema);
    free(options);
    free(replace);
  }
};

thread_local result_slots s_slots;

// Releases the text held in `slot` and leaves it null; the call about to run
// starts with status GREP_OK.
void begin_call(char *&slot) {
  free(slot);
  slot = nullptr;
  qg_set_status(GREP_OK);
}

constexpr const char kBatchOutOfMemory[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Out of memory\"]}";

// A document of `head` (its members with their empty values, ending in a
// comma) and "error", the calling thread's last-error text as valid JSON
// string content: what stands in for a failed search or listing. Null when
// it cannot be allocated.
char *fallback_document(const char *head) {
  json_out out = {};
  const char *message = qm_grep_get_last_error();
  if (message == nullptr) message = "Unknown error";
  json_out_bytes(&out, head, strlen(head));
  JSON_OUT_LITERAL(&out, "\"error\":");
  json_out_string(&out, message, strlen(message));
  json_out_char(&out, '}');
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}

char *fallback_search_document() {
  return fallback_document(
      "{\"total_matches\":0,\"files_searched\":0,\"duration_ms\":0,\"matches\":[],");
}

char *fallback_files_document() {
  return fallback_document("{\"files\":[],\"total_files\":0,\"duration_ms\":0,");
}

char *fallback_summary_document() {
  return fallback_document(
      "{\"total_matches\":0,\"files_searched\":0,\"files_matched\":0,\"duration_ms\":0,");
}

// What stands in for a replace that could not start: nothing was written,
// and "errors" holds the calling thread's last-error text. Null when it
// cannot be allocated.
char *fallback_replace_document() {
  json_out out = {};
  const char *message = qm_grep_get_last_error();
  if (message == nullptr) message = "Unknown error";
  JSON_OUT_LITERAL(&out,
                   "{\"success\":false,\"files_modified\":0,\"total_replacements\":0,\"files\":[],"
                   "\"errors\":[");
  json_out_string(&out, message, strlen(message));
  JSON_OUT_LITERAL(&out, "]}");
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}

constexpr const char kReplaceOutOfMemory[] =
    "{\"success\":false,\"files_modified\":0,\"total_replacements\":0,\"files\":[],"
    "\"errors\":[\"Out of memory\"]}";

// The options `options_json` amounts to, or a document of its error.
char *read_options(const char *options_json) {
  grep_opts opts;
  if (!grep_opts_parse_json(&opts, options_json)) {
    qg_status_from_failure();
    return fallback_document("{");
  }
  char *values = option_values_json(&opts);
  grep_opts_free(&opts);
  if (values == nullptr) qg_fail_call(GREP_E_NO_MEMORY, "Out of memory writing the options");
  return values != nullptr ? values : fallback_document("{");
}

// The search document in `slot`, or the fallback document when the driver
// gave none.
const char *search_result(char *&slot, char *document) {
  slot = document != nullptr ? document : fallback_search_document();
  return slot != nullptr ? slot : "";
}

}  // namespace

extern "C" {

const char *grep_version(void) { return QG_VERSION_TEXT; }

const char *grep_last_error(void) { return qm_grep_get_last_error(); }

int grep_last_status(void) { return qg_get_status(); }

const char *grep_status_name(int status) { return qg_status_name(status); }

const char *grep_search_json(const char *root_path, const char *pattern, const char *options_json) {
  begin_call(s_slots.search);
  return search_result(s_slots.search, grep_core_search_json(root_path, pattern, options_json));
}

const char *grep_search_text(const char *name, const char *text, size_t length, const char *pattern,
                             const char *options_json) {
  begin_call(s_slots.search_text);
  return search_result(s_slots.search_text,
                       grep_core_search_text(name, text, length, pattern, options_json));
}

const char *grep_list_files_json(const char *root_path, const char *options_json) {
  begin_call(s_slots.files);
  s_slots.files = grep_core_list_files_json(root_path, options_json);
  if (s_slots.files == nullptr) s_slots.files = fallback_files_document();
  return s_slots.files != nullptr ? s_slots.files : "";
}

const char *grep_search_lines(const char *root_path, const char *text, size_t length,
                              const char *pattern, const char *options_json,
                              grep_lines_callback callback, void *user_data) {
  begin_call(s_slots.lines);
  s_slots.lines = grep_core_search_lines(root_path, text, length, pattern, options_json, callback,
                                         user_data);
  if (s_slots.lines == nullptr) s_slots.lines = fallback_summary_document();
  return s_slots.lines != nullptr ? s_slots.lines : "";
}

const char *grep_options_schema_json(void) {
  begin_call(s_slots.schema);
  s_slots.schema = option_schema_json();
  if (s_slots.schema == nullptr) {
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory writing the options schema");
    s_slots.schema = fallback_document("{");
  }
  return s_slots.schema != nullptr ? s_slots.schema : "";
}

const char *grep_options_read_json(const char *options_json) {
  begin_call(s_slots.options);
  s_slots.options = read_options(options_json);
  return s_slots.options != nullptr ? s_slots.options : "";
}

int grep_search_stream(const char *root_path, const char *pattern, const char *options_json,
                       grep_match_callback callback) {
  qg_set_status(GREP_OK);
  return grep_core_search_stream(root_path, pattern, options_json, callback);
}

int grep_search_stream_ctx(const char *root_path, const char *pattern, const char *options_json,
                           grep_match_callback_ctx callback, void *user_data) {
  qg_set_status(GREP_OK);
  return grep_core_search_stream_ctx(root_path, pattern, options_json, callback, user_data);
}

int grep_replace_lines(const char *file_path, int start_line, int end_line, const char *new_text) {
  qg_set_status(GREP_OK);
  return grep_core_replace_lines(file_path, start_line, end_line, new_text);
}

int grep_replace_lines_exact(const char *file_path, int start_line, int end_line,
                             const char *new_text) {
  qg_set_status(GREP_OK);
  return grep_core_replace_lines_exact(file_path, start_line, end_line, new_text);
}

const char *grep_batch_replace_json(const char *instructions_json) {
  begin_call(s_slots.batch);
  s_slots.batch = grep_core_batch_replace_json(instructions_json);
  return s_slots.batch != nullptr ? s_slots.batch : kBatchOutOfMemory;
}

const char *grep_replace_json(const char *root_path, const char *pattern, const char *replacement,
                              const char *options_json) {
  begin_call(s_slots.replace);
  s_slots.replace = grep_core_replace_json(root_path, pattern, replacement, options_json);
  if (s_slots.replace == nullptr) s_slots.replace = fallback_replace_document();
  return s_slots.replace != nullptr ? s_slots.replace : kReplaceOutOfMemory;
}

const char *grep_read_lines(const char *file_path, int start_line, int end_line) {
  begin_call(s_slots.read);
  s_slots.read = grep_core_read_lines(file_path, start_line, end_line);
  return s_slots.read != nullptr ? s_slots.read : "";
}

}  // extern "C"
