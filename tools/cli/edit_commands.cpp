#include "edit_commands.h"

#include "base64.h"
#include "input.h"
#include "messages.h"

#include <quenmar_grep.h>

#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace qg_cli {

namespace {

struct mut_doc_free {
  void operator()(yyjson_mut_doc *doc) const { yyjson_mut_doc_free(doc); }
};
using mut_doc_ptr = std::unique_ptr<yyjson_mut_doc, mut_doc_free>;

// A text argument, read from standard input when it is "-". False with the
// error printed when it cannot be read or holds a NUL byte, which the
// library's C texts cannot carry (one cut there would write less than given).
bool text_argument(const std::string &given, const char *what, std::string &out) {
  out = given;
  if (given == "-") {
    out.clear();
    std::string error;
    if (!read_input("-", out, error)) {
      fail_with(error);
      return false;
    }
  }
  if (out.find('\0') != std::string::npos) {
    fail_with(std::string(what) + " holds a NUL byte");
    return false;
  }
  return true;
}

// What a command prints of a batch's result on standard output.
enum class shown { result_document, diffs, nothing };

// Runs the batch document `instructions` and prints what `show` asks for;
// each failed file's error goes to standard error (for a command of one
// file, the library's message alone).
int apply_batch(const std::string &instructions, shown show) {
  const char *result = grep_batch_replace_json(instructions.c_str());
  const int status = grep_last_status();
  doc_ptr doc = parse_json(result);
  yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
  size_t idx, max;
  yyjson_val *item;
  if (show == shown::diffs) {
    yyjson_arr_foreach(yyjson_obj_get(root, "diffs"), idx, max, item) print_diff_of(item);
  } else if (show == shown::result_document) {
    std::fputs(result, stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  if (status == GREP_OK) return kExitMatch;
  // One file: the library's message alone says what went wrong with it.
  yyjson_val *failures = yyjson_obj_get(root, "failures");
  if (show != shown::result_document || yyjson_arr_size(failures) == 0) return fail();
  yyjson_arr_foreach(failures, idx, max, item) {
    const char *file = yyjson_get_str(yyjson_obj_get(item, "file"));
    const std::string message =
        with_status(yyjson_get_str(yyjson_obj_get(item, "message")),
                    yyjson_get_str(yyjson_obj_get(item, "status")));
    fail_with(file != nullptr ? std::string(file) + ": " + message : message);
  }
  return kExitError;
}

// The batch document of the one edit `edit` (an object of `doc`), with
// every line end kept, as a dry run when asked.
std::string one_edit_document(yyjson_mut_doc *doc, yyjson_mut_val *edit, bool dry_run) {
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_val *edits = yyjson_mut_arr(doc);
  yyjson_mut_arr_append(edits, edit);
  yyjson_mut_obj_add_val(doc, root, "edits", edits);
  yyjson_mut_obj_add_bool(doc, root, "exact", true);
  if (dry_run) yyjson_mut_obj_add_bool(doc, root, "dry_run", true);
  yyjson_mut_doc_set_root(doc, root);
  size_t len = 0;
  char *text = yyjson_mut_write(doc, 0, &len);
  std::string out = text != nullptr ? std::string(text, len) : std::string();
  std::free(text);
  return out;
}

}  // namespace

void print_diff_of(yyjson_val *entry) {
  // The file's own bytes, which a diff of lines that are not UTF-8 holds
  // only in its base64 form, so that patch applies what is printed.
  if (yyjson_val *raw = yyjson_obj_get(entry, "diff_base64")) {
    const std::string bytes = from_base64(yyjson_get_str(raw), yyjson_get_len(raw));
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  } else if (yyjson_val *diff = yyjson_obj_get(entry, "diff")) {
    std::fwrite(yyjson_get_str(diff), 1, yyjson_get_len(diff), stdout);
  }
}

edit_commands add_edit_commands(CLI::App &app, edit_request &req) {
  edit_commands c{};
  c.replace = app.add_subcommand(
      "replace", "Replace lines START..END of FILE with TEXT (START > END inserts before START)");
  c.replace->add_option("FILE", req.file, "File to edit")->required();
  c.replace->add_option("START", req.start, "First line to replace")->required();
  c.replace->add_option("END", req.end, "Last line to replace")->required();
  c.replace->add_option("TEXT", req.text, "The new lines, or - to read them from standard input")
      ->required();
  c.replace
      ->add_option("--expect", req.expect,
                   "Only while lines START..END hold TEXT (lines joined with LF)")
      ->type_name("TEXT");
  c.replace->add_flag("--dry-run", req.dry_run,
                      "Print the change as a unified diff; write nothing");

  c.edit = app.add_subcommand("edit", "Replace the text --old by --new in FILE");
  c.edit->add_option("FILE", req.file, "File to edit")->required();
  c.edit
      ->add_option("--old", req.old_text,
                   "The text to replace (every line ending as LF); it must occur once")
      ->required()
      ->type_name("TEXT");
  c.edit->add_option("--new", req.new_text, "The text to put in its place (default: none)")
      ->type_name("TEXT");
  c.edit->add_flag("--all", req.all, "Replace every occurrence");
  c.edit->add_flag("--dry-run", req.dry_run, "Print the change as a unified diff; write nothing");

  c.batch = app.add_subcommand("batch", "Apply the edits of a JSON document");
  c.batch->add_option("FILE", req.batch_input, "The edits document, or - for standard input")
      ->required();
  c.batch->add_flag("--dry-run", req.dry_run,
                    "Write nothing; the result document carries each file's diff");
  return c;
}

int run_replace(const edit_request &req) {
  std::string text;
  if (!text_argument(req.text, "TEXT", text)) return kExitError;
  if (!req.expect && !req.dry_run) {
    grep_replace_lines_exact(req.file.c_str(), req.start, req.end, text.c_str());
    return grep_last_status() == GREP_OK ? kExitMatch : fail();
  }
  mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
  yyjson_mut_val *edit = yyjson_mut_obj(doc.get());
  yyjson_mut_obj_add_strncpy(doc.get(), edit, "file", req.file.data(), req.file.size());
  yyjson_mut_obj_add_int(doc.get(), edit, "start_line", req.start);
  yyjson_mut_obj_add_int(doc.get(), edit, "end_line", req.end);
  yyjson_mut_obj_add_strncpy(doc.get(), edit, "new_text", text.data(), text.size());
  if (req.expect) {
    yyjson_mut_obj_add_strncpy(doc.get(), edit, "expected_text", req.expect->data(),
                               req.expect->size());
  }
  const std::string instructions = one_edit_document(doc.get(), edit, req.dry_run);
  if (instructions.empty()) return fail_with("Out of memory");
  return apply_batch(instructions, req.dry_run ? shown::diffs : shown::nothing);
}

int run_edit(const edit_request &req) {
  if (req.old_text.find('\0') != std::string::npos ||
      req.new_text.find('\0') != std::string::npos) {
    return fail_with("--old or --new holds a NUL byte");
  }
  mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
  yyjson_mut_val *edit = yyjson_mut_obj(doc.get());
  yyjson_mut_obj_add_strncpy(doc.get(), edit, "file", req.file.data(), req.file.size());
  yyjson_mut_obj_add_strncpy(doc.get(), edit, "old_text", req.old_text.data(), req.old_text.size());
  yyjson_mut_obj_add_strncpy(doc.get(), edit, "new_text", req.new_text.data(), req.new_text.size());
  if (req.all) yyjson_mut_obj_add_bool(doc.get(), edit, "replace_all", true);
  const std::string instructions = one_edit_document(doc.get(), edit, req.dry_run);
  if (instructions.empty()) return fail_with("Out of memory");
  return apply_batch(instructions, req.dry_run ? shown::diffs : shown::nothing);
}

int run_batch(const edit_request &req) {
  std::string instructions;
  std::string error;
  if (!read_input(req.batch_input, instructions, error)) return fail_with(error);
  if (instructions.find('\0') != std::string::npos) {
    return fail_with("'" + req.batch_input + "' holds a NUL byte, which no JSON text holds");
  }
  // The document as given, with every line end kept unless it says
  // otherwise, and as a dry run when asked: an array becomes the edits of an
  // object; an object gains "exact" and "dry_run".
  doc_ptr given = parse_json(instructions.c_str());
  if (!given) return apply_batch(instructions, shown::result_document);  // the library says why
  mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
  yyjson_mut_val *root = yyjson_val_mut_copy(doc.get(), yyjson_doc_get_root(given.get()));
  if (yyjson_mut_is_arr(root)) {
    yyjson_mut_val *wrapper = yyjson_mut_obj(doc.get());
    yyjson_mut_obj_add_val(doc.get(), wrapper, "edits", root);
    root = wrapper;
  }
  if (yyjson_mut_is_obj(root)) {
    if (yyjson_mut_obj_get(root, "exact") == nullptr) {
      yyjson_mut_obj_add_bool(doc.get(), root, "exact", true);
    }
    if (req.dry_run) {
      yyjson_mut_obj_remove_key(root, "dry_run");
      yyjson_mut_obj_add_bool(doc.get(), root, "dry_run", true);
    }
  }
  yyjson_mut_doc_set_root(doc.get(), root);
  size_t len = 0;
  char *text = yyjson_mut_write(doc.get(), 0, &len);
  if (text == nullptr) return fail_with("Out of memory");
  instructions.assign(text, len);
  std::free(text);
  return apply_batch(instructions, shown::result_document);
}

}  // namespace qg_cli
