#include "edit_core/batch.h"

#include "edit_core/edit.h"
#include "edit_core/file_edit.h"
#include "grep_core/file_id_map.h"
#include "grep_core/grow_array.h"
#include "grep_core/json_alloc.h"
#include "grep_core/json_out.h"
#include "grep_core/last_error.h"
#include "grep_core/path_table.h"
#include "grep_core/text_write.h"
#include "grep_core/utf8.h"

#include <yyjson.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr const char kEmptyInputResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Empty input\"]}";
constexpr const char kInvalidJsonResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Invalid JSON\"]}";
constexpr const char kMissingEditsResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"Missing edits "
    "array\"]}";
constexpr const char kBadDryRunResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"dry_run is not true "
    "or false\"]}";
constexpr const char kBadDiffsResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"diffs is not true "
    "or false\"]}";
constexpr const char kBadExactResult[] =
    "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[\"exact is not true "
    "or false\"]}";

// The members an edit object and the batch document may hold: any other is
// a misspelling that must not be taken for a default.
constexpr const char *kEditMembers[] = {"file",     "file_path",     "start_line", "end_line",
                                        "new_text", "expected_text", "old_text",   "replace_all"};
constexpr const char kEditMembersText[] =
    "file, file_path, start_line, end_line, new_text, expected_text, old_text and replace_all";
constexpr const char *kDocumentMembers[] = {"edits", "dry_run", "diffs", "exact"};
constexpr const char kDocumentMembersText[] = "edits, dry_run, diffs and exact";

// Files edited together: read, staged, flushed and put in place as one
// step, so that a batch pays for durability once per chunk, not per file.
// Each holds two descriptors (its lock and its staged file) for a moment.
constexpr int32_t kChunkGroups = 128;

// The edits of one file, however many paths name it. `path` and the texts
// point into the parsed document, which outlives the groups, so no text is
// copied. A JSON string may hold U+0000, which no C text can carry: such a
// path or text fails the group untouched instead of being cut at the NUL.
// An element that names no file is a group of its own without a path,
// failed from the start.
struct edit_group {
  const char *path;  // the first path given for the file; null for no file
  size_t path_len;   // bytes of `path`, NULs included
  plat_file_id id;
  bool has_id;
  line_edit *edits;
  int32_t count;
  int32_t capacity;
  text_edit *texts;
  int32_t text_count;
  int32_t text_capacity;
  int64_t total;  // edits given for the file, those that fail included
  char *message;  // why the group failed (owned), or null
  int kind;       // the failure's status
  bool written;   // written, or in a dry run would be
  char *diff;     // a dry run's diff (owned)
  size_t diff_len;
};

// Records the thread's last failure as the group's, unless it failed before.
void fail_group(edit_group *g) {
  if (g->message != nullptr) return;
  g->message = strdup(qm_grep_get_last_error());
  g->kind = qg_failure_kind();
  // Without memory for the message the failure still shows, with a shorter one.
  if (g->message == nullptr) g->kind = GREP_E_NO_MEMORY;
}

// Every group of a call, in the order their files first appear.
struct group_list {
  edit_group *groups = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
  path_table by_path;
  file_id_map by_id;

  group_list() = default;
  group_list(const group_list &) = delete;
  group_list &operator=(const group_list &) = delete;
  ~group_list() {
    for (int32_t g = 0; g < count; ++g) {
      free(groups[g].edits);
      free(groups[g].texts);
      free(groups[g].message);
      free(groups[g].diff);
    }
    free(groups);
  }
};

// Releases a parsed document when it goes out of scope.
struct doc_guard {
  yyjson_doc *doc;
  ~doc_guard() { yyjson_doc_free(doc); }
};

// The path member of an edit object, or null when it names no file. The
// "file" member decides alone when present; "file_path" stands in
// otherwise.
yyjson_val *edit_path(yyjson_val *obj) {
  yyjson_val *file = yyjson_obj_get(obj, "file");
  if (file == nullptr) file = yyjson_obj_get(obj, "file_path");
  return yyjson_is_str(file) ? file : nullptr;
}

// The group of the file `path` names, made at the end of the list when the
// file has none yet: the same path text, or another path to the same file
// (its identity, links followed), finds the same group. Null when out of
// memory.
edit_group *group_for(group_list *list, const char *path, size_t len) {
  const int32_t known = list->by_path.find(path, len);
  if (known >= 0) return &list->groups[known];
  plat_file_id id = {0, 0};
  // A path holding NUL names no file whole: its group fails, alone.
  const bool has_id = strlen(path) == len && plat_path_identity(path, &id) == 0;
  const int32_t next = list->count;
  if (has_id) {
    const int32_t alias = list->by_id.find(id);
    if (alias >= 0) return list->by_path.insert(path, len, alias) ? &list->groups[alias] : nullptr;
  }
  edit_group fresh = {};
  fresh.path = path;
  fresh.path_len = len;
  fresh.id = id;
  fresh.has_id = has_id;
  if (!grow_push(&list->groups, &list->count, &list->capacity, fresh) ||
      !list->by_path.insert(path, len, next) ||
      (has_id && list->by_id.insert(id, next) == file_id_map::added::no_memory)) {
    return nullptr;
  }
  return &list->groups[next];
}

// Adds, at the end of the list, the failed group of an element that names no
// file, with the message set last. False when out of memory.
bool add_pathless_failure(group_list *list) {
  edit_group failed = {};
  failed.total = 1;
  fail_group(&failed);
  if (!grow_push(&list->groups, &list->count, &list->capacity, failed)) {
    free(failed.message);
    return false;
  }
  return true;
}

// ---- Reading one edit object ----

// The first member of `obj` whose key is none of the `n` names, or null.
yyjson_val *unknown_member(yyjson_val *obj, const char *const *names, size_t n) {
  size_t idx = 0, max = 0;
  yyjson_val *key = nullptr, *value = nullptr;
  yyjson_obj_foreach(obj, idx, max, key, value) {
    bool known = false;
    for (size_t k = 0; k < n && !known; ++k) {
      known = yyjson_equals_strn(key, names[k], strlen(names[k]));
    }
    if (!known) return key;
  }
  return nullptr;
}

// What a member of an edit object holds, once checked.
enum class member { absent, ok, bad };

// A line number: a JSON number with no fractional part within the signed
// 32-bit range (2.0 counts as 2).
member line_member(yyjson_val *v, int32_t *out) {
  if (v == nullptr) return member::absent;
  if (yyjson_is_sint(v)) {
    const int64_t n = yyjson_get_sint(v);
    if (n < INT32_MIN || n > INT32_MAX) return member::bad;
    *out = static_cast<int32_t>(n);
    return member::ok;
  }
  if (yyjson_is_uint(v)) {
    const uint64_t n = yyjson_get_uint(v);
    if (n > static_cast<uint64_t>(INT32_MAX)) return member::bad;
    *out = static_cast<int32_t>(n);
    return member::ok;
  }
  if (yyjson_is_real(v)) {
    const double d = yyjson_get_real(v);
    if (d != floor(d) || d < INT32_MIN || d > INT32_MAX) return member::bad;
    *out = static_cast<int32_t>(d);
    return member::ok;
  }
  return member::bad;
}

// A text member: a JSON string. One that holds U+0000, which no C text
// carries whole, sets *has_nul.
member text_member(yyjson_val *v, const char **out, bool *has_nul) {
  if (v == nullptr) return member::absent;
  if (!yyjson_is_str(v)) return member::bad;
  *out = yyjson_get_str(v);
  if (strlen(*out) != yyjson_get_len(v)) *has_nul = true;
  return member::ok;
}

// Fails the group of the edit at `position` (1-based in the instructions)
// with the message `what` says of its path.
bool refuse_edit(edit_group *g, int64_t position, const char *path, const char *what) {
  qg_fail(GREP_E_ARGUMENT, "Edit %lld for '%s'%s", static_cast<long long>(position), path, what);
  fail_group(g);
  return true;
}

// Reads one edit object into its group; a malformed one fails the group
// with a message naming the edit's position, the path and the member. False
// only when memory runs out.
bool add_edit(edit_group *g, yyjson_val *obj, const char *path, int64_t position) {
  ++g->total;
  if (g->message != nullptr) return true;  // failed already: nothing of it is applied
  if (yyjson_val *key =
          unknown_member(obj, kEditMembers, sizeof kEditMembers / sizeof *kEditMembers)) {
    qg_fail(GREP_E_ARGUMENT, "Edit %lld for '%s': unknown member '%s' (an edit takes %s)",
            static_cast<long long>(position), path, yyjson_get_str(key), kEditMembersText);
    fail_group(g);
    return true;
  }
  int32_t start = 1, end = 0;
  const char *new_text = nullptr, *old_text = nullptr, *expected = nullptr;
  bool has_nul = false;
  const member s = line_member(yyjson_obj_get(obj, "start_line"), &start);
  const member e = line_member(yyjson_obj_get(obj, "end_line"), &end);
  if (s == member::bad)
    return refuse_edit(g, position, path, ": start_line is not a 32-bit integer");
  if (e == member::bad) return refuse_edit(g, position, path, ": end_line is not a 32-bit integer");
  const struct {
    const char *key;
    const char **out;
    const char *what;
  } texts[] = {{"new_text", &new_text, ": new_text is not a string"},
               {"old_text", &old_text, ": old_text is not a string"},
               {"expected_text", &expected, ": expected_text is not a string"}};
  member found[3];
  for (int t = 0; t < 3; ++t) {
    found[t] = text_member(yyjson_obj_get(obj, texts[t].key), texts[t].out, &has_nul);
    if (found[t] == member::bad) return refuse_edit(g, position, path, texts[t].what);
  }
  yyjson_val *all = yyjson_obj_get(obj, "replace_all");
  if (all != nullptr && !yyjson_is_bool(all)) {
    return refuse_edit(g, position, path, ": replace_all is not true or false");
  }
  const bool has_line = s != member::absent || e != member::absent;
  const bool has_old = found[1] != member::absent;
  // Members besides the path, and none that says what to do: a misspelt key
  // must not be taken for "delete line 1".
  if (!has_line && !has_old && found[0] == member::absent && yyjson_obj_size(obj) > 1 &&
      !(yyjson_obj_size(obj) == 2 && yyjson_obj_get(obj, "file") != nullptr &&
        yyjson_obj_get(obj, "file_path") != nullptr)) {
    return refuse_edit(g, position, path, " has no start_line, end_line, old_text or new_text");
  }
  if (has_old && has_line) {
    return refuse_edit(g, position, path,
                       ": old_text cannot be combined with start_line or end_line");
  }
  if (has_old && old_text[0] == '\0') return refuse_edit(g, position, path, ": old_text is empty");
  if (has_old && found[2] != member::absent) {
    return refuse_edit(g, position, path, ": expected_text applies to line edits, not to old_text");
  }
  if (has_nul) {
    qg_fail(GREP_E_ARGUMENT, "Text for '%s' holds a NUL character", path);
    fail_group(g);
    return true;
  }
  if (has_old) {
    return grow_push(&g->texts, &g->text_count, &g->text_capacity,
                     text_edit{old_text, new_text, yyjson_get_bool(all)});
  }
  if (e == member::absent) end = start;
  return grow_push(&g->edits, &g->count, &g->capacity, line_edit{start, end, new_text, expected});
}

// Fails, as a group of its own, the element at `position` that names no
// file: it is no object, its path member is no string, or it has none
// (naming the first unknown member, which may be the misspelt path). False
// when out of memory.
bool refuse_pathless(group_list *list, yyjson_val *element, int64_t position) {
  const auto at = static_cast<long long>(position);
  yyjson_val *file = yyjson_obj_get(element, "file");
  yyjson_val *file_path = yyjson_obj_get(element, "file_path");
  if (!yyjson_is_obj(element)) {
    qg_fail(GREP_E_ARGUMENT, "Edit %lld is not an object", at);
  } else if (file != nullptr || file_path != nullptr) {
    qg_fail(GREP_E_ARGUMENT, "Edit %lld: %s is not a string", at,
            file != nullptr ? "file" : "file_path");
  } else if (yyjson_val *key = unknown_member(element, kEditMembers,
                                              sizeof kEditMembers / sizeof *kEditMembers)) {
    qg_fail(GREP_E_ARGUMENT, "Edit %lld names no file: unknown member '%s' (an edit takes %s)", at,
            yyjson_get_str(key), kEditMembersText);
  } else {
    qg_fail(GREP_E_ARGUMENT, "Edit %lld names no file", at);
  }
  return add_pathless_failure(list);
}

// Gathers the edits of `array` into groups; an element that names no file
// fails alone. False when out of memory; the groups made so far stay in
// `list`.
bool group_edits(yyjson_val *array, group_list *list) {
  size_t idx = 0;
  size_t max = 0;
  yyjson_val *obj = nullptr;
  yyjson_arr_foreach(array, idx, max, obj) {
    const auto position = static_cast<int64_t>(idx) + 1;
    yyjson_val *path = yyjson_is_obj(obj) ? edit_path(obj) : nullptr;
    if (path == nullptr) {
      if (!refuse_pathless(list, obj, position)) return false;
      continue;
    }
    const char *p = yyjson_get_str(path);
    const size_t len = yyjson_get_len(path);
    edit_group *group = group_for(list, p, len);
    if (group == nullptr) return false;
    if (strlen(p) != len) {
      ++group->total;
      qg_fail(GREP_E_ARGUMENT, "Path holds a NUL character");
      fail_group(group);
      continue;
    }
    if (!add_edit(group, obj, p, position)) return false;
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

// ---- Applying the groups ----

// What the batch document asks of every file.
struct batch_options {
  bool dry_run;
  bool diffs;
  bool exact;
};

// Keeps the diff the edit of `g` made; false (the group failed) when memory
// runs out.
bool keep_diff(edit_group *g, const file_edit *fe) {
  g->diff_len = fe->diff.len;
  g->diff = static_cast<char *>(malloc(g->diff_len + 1));
  if (g->diff == nullptr) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory keeping the diff of '%s'", g->path);
    fail_group(g);
    return false;
  }
  if (g->diff_len > 0) memcpy(g->diff, fe->diff.data, g->diff_len);
  g->diff[g->diff_len] = '\0';
  return true;
}

// Reads, edits and (unless a dry run) stages one group, keeping its diff
// when asked; false when it failed (its message recorded).
bool prepare_group(edit_group *g, file_edit *fe, const batch_options &o) {
  const file_edit_input in = {g->path,       g->edits, g->count, g->texts,
                              g->text_count, o.diffs,  o.exact};
  const bool ok = file_edit_prepare(fe, &in) && (o.dry_run || file_edit_stage(fe));
  if (!ok) {
    fail_group(g);
    file_edit_release(fe);
    return false;
  }
  const bool kept = !o.diffs || keep_diff(g, fe);
  if (o.dry_run) {
    g->written = kept;
    file_edit_release(fe);
  } else if (!kept) {
    file_edit_release(fe);
  }
  return g->message == nullptr;
}

// Applies the groups [first, first + n): each read and staged (files locked
// in the order of their identities), every staged file flushed at once,
// then each put in place and the directories flushed once.
void apply_chunk(group_list *list, int32_t first, int32_t n, const batch_options &o) {
  int32_t order[kChunkGroups];
  plat_file_id ids[kChunkGroups];
  file_edit edits[kChunkGroups];
  plat_replacement *staged[kChunkGroups];
  plat_replace_result results[kChunkGroups];
  for (int32_t k = 0; k < n; ++k) {
    order[k] = k;
    ids[k] = list->groups[first + k].id;
    staged[k] = nullptr;
  }
  file_edits_lock_order(ids, order, n);
  for (int32_t k = 0; k < n; ++k) {
    const int32_t slot = order[k];
    edit_group *g = &list->groups[first + slot];
    if (g->message == nullptr && prepare_group(g, &edits[slot], o) && !o.dry_run) {
      staged[slot] = edits[slot].staged;
    }
  }
  if (o.dry_run) return;
  file_edits_put_in_place(staged, static_cast<size_t>(n), results);
  for (int32_t k = 0; k < n; ++k) {
    edit_group *g = &list->groups[first + k];
    if (staged[k] == nullptr) continue;
    if (results[k].step == PLAT_REPLACE_DONE) {
      g->written = true;
    } else {
      report_write_failure(g->path, results[k]);
      fail_group(g);
    }
  }
  for (int32_t k = 0; k < n; ++k) {
    if (staged[k] != nullptr) file_edit_release(&edits[k]);
  }
}

// The result document; null when it cannot be had.
// The report's "failures": each failed group's file (null for an element
// that names none), status by name and message, so that a host branches on
// the status and never parses an error string.
void append_failures(json_out *out, const group_list &list) {
  JSON_OUT_LITERAL(out, ",\"failures\":[");
  bool first = true;
  for (int32_t g = 0; g < list.count; ++g) {
    const edit_group &group = list.groups[g];
    if (group.message == nullptr && group.kind == 0) continue;
    if (!first) json_out_char(out, ',');
    first = false;
    JSON_OUT_LITERAL(out, "{\"file\":");
    if (group.path != nullptr) {
      json_out_string(out, group.path, group.path_len);
    } else {
      JSON_OUT_LITERAL(out, "null");
    }
    JSON_OUT_LITERAL(out, ",\"status\":");
    const char *status = qg_status_name(group.kind);
    json_out_string(out, status, strlen(status));
    JSON_OUT_LITERAL(out, ",\"message\":");
    const char *message = group.message != nullptr ? group.message : "Out of memory";
    json_out_string(out, message, strlen(message));
    json_out_char(out, '}');
  }
  json_out_char(out, ']');
}

char *compose_result(const group_list &list, bool diffs) {
  int64_t failed = 0, modified = 0, total = 0;
  for (int32_t g = 0; g < list.count; ++g) {
    total += list.groups[g].total;
    failed += list.groups[g].message != nullptr || list.groups[g].kind != 0;
    modified += list.groups[g].written;
  }
  json_out out = {};
  JSON_OUT_LITERAL(&out, "{\"success\":");
  if (failed == 0) {
    JSON_OUT_LITERAL(&out, "true");
  } else {
    JSON_OUT_LITERAL(&out, "false");
  }
  JSON_OUT_LITERAL(&out, ",\"files_modified\":");
  json_out_int(&out, modified);
  JSON_OUT_LITERAL(&out, ",\"total_edits\":");
  json_out_int(&out, total);
  JSON_OUT_LITERAL(&out, ",\"errors\":[");
  bool first = true;
  for (int32_t g = 0; g < list.count; ++g) {
    const edit_group &group = list.groups[g];
    if (group.message == nullptr && group.kind == 0) continue;
    if (!first) json_out_char(&out, ',');
    first = false;
    batch_append_group_error(&out, group.path, group.path_len,
                             group.message != nullptr ? group.message : "Out of memory");
  }
  json_out_char(&out, ']');
  append_failures(&out, list);
  if (diffs) {
    JSON_OUT_LITERAL(&out, ",\"diffs\":[");
    first = true;
    for (int32_t g = 0; g < list.count; ++g) {
      const edit_group &group = list.groups[g];
      if (!group.written || group.diff == nullptr) continue;
      if (!first) json_out_char(&out, ',');
      first = false;
      JSON_OUT_LITERAL(&out, "{\"file\":");
      json_out_string(&out, group.path, group.path_len);
      JSON_OUT_LITERAL(&out, ",\"diff\":");
      json_out_string(&out, group.diff, group.diff_len);
      // A JSON string holds only UTF-8: a diff of other bytes, which only
      // apply as they are, comes whole beside its readable form.
      if (!qg_utf8_valid(group.diff, group.diff_len)) {
        JSON_OUT_LITERAL(&out, ",\"diff_base64\":");
        json_out_base64(&out, group.diff, group.diff_len);
      }
      json_out_char(&out, '}');
    }
    json_out_char(&out, ']');
  }
  json_out_char(&out, '}');
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
}

// The result of a batch document with the member `key`, which it does not
// take: the call fails whole, before any file is touched.
char *refused_document(yyjson_val *key) {
  qg_fail_call(GREP_E_ARGUMENT, "Unknown member '%s' in the batch document (it takes %s)",
               yyjson_get_str(key), kDocumentMembersText);
  json_out out = {};
  JSON_OUT_LITERAL(&out, "{\"success\":false,\"files_modified\":0,\"total_edits\":0,\"errors\":[");
  json_out_string(&out, qm_grep_get_last_error(), strlen(qm_grep_get_last_error()));
  JSON_OUT_LITERAL(&out, "]}");
  if (out.failed) {
    json_out_free(&out);
    return nullptr;
  }
  return out.data;
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
  if (path != nullptr) {
    json_out_string_content(errors, path, path_len);
    JSON_OUT_LITERAL(errors, ": ");
  }
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
  yyjson_val *array = find_edits_array(doc);
  if (array == nullptr) {
    return fixed_result(kMissingEditsResult, GREP_E_ARGUMENT, "Expected 'edits' array in JSON");
  }
  yyjson_val *root = yyjson_doc_get_root(doc);
  yyjson_val *key = yyjson_is_obj(root)
                        ? unknown_member(root, kDocumentMembers,
                                         sizeof kDocumentMembers / sizeof *kDocumentMembers)
                        : nullptr;
  if (key != nullptr) return refused_document(key);
  // A dry run that is not asked for plainly must not be taken for a write.
  yyjson_val *dry = yyjson_obj_get(root, "dry_run");
  if (dry != nullptr && !yyjson_is_bool(dry)) {
    return fixed_result(kBadDryRunResult, GREP_E_ARGUMENT, "dry_run is not true or false");
  }
  // Diffs of the files written, on request.
  yyjson_val *want = yyjson_obj_get(root, "diffs");
  if (want != nullptr && !yyjson_is_bool(want)) {
    return fixed_result(kBadDiffsResult, GREP_E_ARGUMENT, "diffs is not true or false");
  }
  yyjson_val *exact = yyjson_obj_get(root, "exact");
  if (exact != nullptr && !yyjson_is_bool(exact)) {
    return fixed_result(kBadExactResult, GREP_E_ARGUMENT, "exact is not true or false");
  }
  const bool dry_run = yyjson_get_bool(dry);
  const batch_options options = {dry_run, dry_run || yyjson_get_bool(want), yyjson_get_bool(exact)};
  // Going on with a group or edit missing would apply a batch the caller
  // never asked for: out of memory here fails the whole call before any file
  // is touched.
  group_list list;
  if (!group_edits(array, &list)) {
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory grouping batch edits");
    return nullptr;
  }
  for (int32_t first = 0; first < list.count; first += kChunkGroups) {
    const int32_t n = list.count - first < kChunkGroups ? list.count - first : kChunkGroups;
    apply_chunk(&list, first, n, options);
  }
  // The status is the first failed group's; the last-error text, as ever,
  // the last failed group's.
  qg_set_status(GREP_OK);
  for (int32_t g = 0; g < list.count; ++g) {
    const edit_group &group = list.groups[g];
    if (group.message == nullptr && group.kind == 0) continue;
    if (qg_get_status() == GREP_OK) qg_set_status(group.kind);
    if (group.message != nullptr) qg_fail(group.kind, "%s", group.message);
  }
  char *result = compose_result(list, options.diffs);
  if (result == nullptr) {
    // The files are written by now; only the report is lost.
    qg_fail_call(GREP_E_NO_MEMORY, "Out of memory composing the batch report");
  }
  return result;
}
