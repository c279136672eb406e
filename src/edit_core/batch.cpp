#include "edit_core/batch.h"

#include "edit_core/edit.h"
#include "grep_core/json_alloc.h"
#include "grep_core/json_out.h"
#include "grep_core/last_error.h"

#include <yyjson.h>

#include <inttypes.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int32_t kFirstGroupCapacity = 16;
constexpr int32_t kFirstEditCapacity = 8;

constexpr const char kEmptyInputResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Empty input\"]}";
constexpr const char kInvalidJsonResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Invalid JSON\"]}";
constexpr const char kMissingEditsResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Missing edits "
    "array\"]}";

// The edits of one path. Owns `edits`; `path` and each edit's `new_text`
// point into the parsed document, which outlives the groups, so no text is
// copied. A JSON string may hold U+0000, which no C text can carry: such a path, or
// such a text among the group's edits, fails the group untouched instead of
// being cut at the NUL (which would edit another file, or write less).
struct edit_group {
  const char *path;
  size_t path_len;  // bytes of `path`, NULs included
  line_edit *edits;
  int32_t count;
  int32_t capacity;
  bool text_has_nul;
};

// Every group of a call, in the order their paths first appear.
struct group_list {
  edit_group *groups = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;

  group_list() = default;
  group_list(const group_list &) = delete;
  group_list &operator=(const group_list &) = delete;
  ~group_list() {
    for (int32_t g = 0; g < count; ++g) release_edits(&groups[g]);
    free(groups);
  }

  // Releases the edits of `group`; its path stays.
  static void release_edits(edit_group *group) {
    free(group->edits);
    group->edits = nullptr;
    group->count = 0;
    group->capacity = 0;
  }
};

// Releases a parsed document when it goes out of scope.
struct doc_guard {
  yyjson_doc *doc;
  ~doc_guard() { yyjson_doc_free(doc); }
};

// Doubles an array of `*capacity` items of `size` bytes, or gives it
// `first` items when it has none. False (array unchanged) when out of memory.
bool grow_array(void **items, int32_t *capacity, int32_t first, size_t size) {
  if (*capacity > INT32_MAX / 2) return false;
  int32_t next = *capacity == 0 ? first : *capacity * 2;
  void *grown = realloc(*items, static_cast<size_t>(next) * size);
  if (grown == nullptr) return false;
  *items = grown;
  *capacity = next;
  return true;
}

// A member read as an edit line number: its low 32 bits as a signed number
// when it is an integer, `missing` when absent, 0 for any other type.
int32_t line_number(yyjson_val *member, int32_t missing) {
  if (member == nullptr) return missing;
  if (!yyjson_is_int(member)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(yyjson_get_uint(member)));
}

// The path member of an edit object, or null when the object is to be
// skipped. The "file" member decides alone when present; "file_path" stands
// in otherwise.
yyjson_val *edit_path(yyjson_val *obj) {
  yyjson_val *file = yyjson_obj_get(obj, "file");
  if (file == nullptr) file = yyjson_obj_get(obj, "file_path");
  return yyjson_is_str(file) ? file : nullptr;
}

// The group for the `len` bytes of `path`, made at the end of the list when
// there is none yet. Paths are equal when all their bytes are. Null when out
// of memory.
edit_group *group_for(group_list *list, const char *path, size_t len) {
  for (int32_t g = 0; g < list->count; ++g) {
    const edit_group &group = list->groups[g];
    if (group.path_len == len && memcmp(group.path, path, len) == 0) return &list->groups[g];
  }
  if (list->count == list->capacity &&
      !grow_array(reinterpret_cast<void **>(&list->groups), &list->capacity, kFirstGroupCapacity,
                  sizeof(edit_group))) {
    return nullptr;
  }
  edit_group *group = &list->groups[list->count++];
  *group = {path, len, nullptr, 0, 0, false};
  return group;
}

// Appends one edit of the string `text` (null: no text) to `group`.
bool add_edit(edit_group *group, int32_t start_line, int32_t end_line, yyjson_val *text) {
  if (group->count == group->capacity &&
      !grow_array(reinterpret_cast<void **>(&group->edits), &group->capacity, kFirstEditCapacity,
                  sizeof(line_edit))) {
    return false;
  }
  const char *str = nullptr;
  if (text != nullptr) {
    str = yyjson_get_str(text);
    if (strlen(str) != yyjson_get_len(text)) group->text_has_nul = true;
  }
  group->edits[group->count++] = {start_line, end_line, str};
  return true;
}

// Gathers the edits of `array` into groups. Elements that are not objects,
// objects without members and objects without a usable path are skipped.
// False when out of memory; the groups made so far stay in `list`.
bool group_edits(yyjson_val *array, group_list *list) {
  size_t idx = 0;
  size_t max = 0;
  yyjson_val *obj = nullptr;
  yyjson_arr_foreach(array, idx, max, obj) {
    if (!yyjson_is_obj(obj) || yyjson_obj_size(obj) == 0) continue;
    yyjson_val *path = edit_path(obj);
    if (path == nullptr) continue;
    const int32_t start_line = line_number(yyjson_obj_get(obj, "start_line"), 1);
    const int32_t end_line = line_number(yyjson_obj_get(obj, "end_line"), start_line);
    yyjson_val *text = yyjson_obj_get(obj, "new_text");
    edit_group *group = group_for(list, yyjson_get_str(path), yyjson_get_len(path));
    if (group == nullptr ||
        !add_edit(group, start_line, end_line, yyjson_is_str(text) ? text : nullptr)) {
      return false;
    }
  }
  return true;
}

// The edits array of the document: the root array, or the first "edits"
// member of a root object with members. Null when there is none.
yyjson_val *find_edits_array(yyjson_doc *doc) {
  yyjson_val *root = yyjson_doc_get_root(doc);
  if (yyjson_is_arr(root)) return root;
  if (!yyjson_is_obj(root) || yyjson_obj_size(root) == 0) return nullptr;
  yyjson_val *edits = yyjson_obj_get(root, "edits");
  return yyjson_is_arr(edits) ? edits : nullptr;
}

// False, with the reason in the last-error text, when a path or text of the
// group holds a NUL character, so that nothing of the group may be applied.
bool group_is_sound(const edit_group &group) {
  if (strlen(group.path) != group.path_len) {
    qg_fail(GREP_E_ARGUMENT, "Path holds a NUL character");
    return false;
  }
  if (group.text_has_nul) {
    qg_fail(GREP_E_ARGUMENT, "Text for '%s' holds a NUL character", group.path);
    return false;
  }
  return true;
}

// Applies every group in order, counting into the report's figures and
// appending an error string for each failed group. The call's status is that
// of its first failed group.
void apply_groups(group_list *list, json_out *errors, int64_t *failed, int64_t *modified,
                  int64_t *total) {
  for (int32_t g = 0; g < list->count; ++g) {
    edit_group &group = list->groups[g];
    *total += group.count;
    bool applied = group_is_sound(group) && apply_file_edits(group.path, group.edits, group.count);
    group_list::release_edits(&group);
    if (applied) {
      ++*modified;
      continue;
    }
    if (*failed == 0) qg_status_from_failure();
    if (*failed > 0) json_out_char(errors, ',');
    ++*failed;
    batch_append_group_error(errors, group.path, group.path_len, qm_grep_get_last_error());
  }
}

// A heap copy of a fixed result, with the call failed as `status`.
char *fixed_result(const char *result, int status, const char *message) {
  qg_fail_call(status, "%s", message);
  return strdup(result);
}

}  // namespace

void batch_append_group_error(json_out *errors, const char *path, size_t path_len,
                              const char *message) {
  json_out_char(errors, '"');
  if (path != nullptr) json_out_string_content(errors, path, path_len);
  JSON_OUT_LITERAL(errors, ": ");
  if (message != nullptr) json_out_string_content(errors, message, strlen(message));
  json_out_char(errors, '"');
}

char *grep_core_batch_replace_json(const char *instructions_json) {
  if (instructions_json == nullptr || instructions_json[0] == '\0') {
    return fixed_result(kEmptyInputResult, GREP_E_ARGUMENT, "Empty batch instructions JSON");
  }
  yyjson_read_err err;
  yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(instructions_json),
                                     strlen(instructions_json), 0, qg_json_large_alc(), &err);
  if (doc == nullptr) {
    if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) {
      qg_fail_call(GREP_E_NO_MEMORY, "Out of memory reading batch instructions");
      return nullptr;
    }
    return fixed_result(kInvalidJsonResult, GREP_E_ARGUMENT, "Invalid JSON in batch instructions");
  }

  // The groups borrow their paths and texts from the document, which lives
  // until every group has been applied.
  doc_guard doc_owner{doc};
  group_list list;
  yyjson_val *array = find_edits_array(doc);
  if (array == nullptr) {
    return fixed_result(kMissingEditsResult, GREP_E_ARGUMENT, "Expected 'edits' array in JSON");
  }
  // Going on with a group or edit missing would apply a batch the caller
  // never asked for: out of memory here fails the whole call before any file
  // is touched.
  if (!group_edits(array, &list)) {
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory grouping batch edits");
    return nullptr;
  }

  json_out errors = {};
  int64_t failed = 0;
  int64_t modified = 0;
  int64_t total = 0;
  apply_groups(&list, &errors, &failed, &modified, &total);

  json_out result = {};
  JSON_OUT_LITERAL(&result, "{\"success\":");
  if (failed == 0) {
    JSON_OUT_LITERAL(&result, "true");
  } else {
    JSON_OUT_LITERAL(&result, "false");
  }
  JSON_OUT_LITERAL(&result, ",\"files_modified\":");
  json_out_int(&result, modified);
  JSON_OUT_LITERAL(&result, ",\"total_edits\":");
  json_out_int(&result, total);
  JSON_OUT_LITERAL(&result, ",\"errors\":[");
  json_out_bytes(&result, errors.data, errors.len);
  JSON_OUT_LITERAL(&result, "]}");
  const bool ok = !errors.failed && !result.failed;
  json_out_free(&errors);
  if (!ok) {
    // The files are written by now; only the report is lost.
    json_out_free(&result);
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory composing the batch report");
    return nullptr;
  }
  return result.data;
}
