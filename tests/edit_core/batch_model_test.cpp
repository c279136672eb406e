// Generated batches against the model of tests/support/edit_model.py, in
// which every line number counts the file as read: each batch gives exactly
// the model's file, or fails whole, for the model's reason, with the file
// untouched. Dry runs of the batches that succeed give diffs that patch and
// git apply turn into that same file.
#include "edit_core/batch.h"
#include "grep_core/last_error.h"
#include "support/run_process.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using qg_test::read_bytes;
using qg_test::TempDir;

std::string model_path() { return std::string(QG_TEST_SOURCE_DIR) + "/support/edit_model.py"; }

std::string from_hex(const char *hex) {
  std::string out;
  for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
  }
  return out;
}

// The batch document of a generated case's edits, each naming `path`.
std::string batch_document(yyjson_val *edits, bool exact, bool dry_run, const std::string &path) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_val *list = yyjson_val_mut_copy(doc, edits);
  size_t idx, max;
  yyjson_mut_val *edit;
  yyjson_mut_arr_foreach(list, idx, max, edit) {
    yyjson_mut_obj_add_strncpy(doc, edit, "file", path.data(), path.size());
  }
  yyjson_mut_obj_add_val(doc, root, "edits", list);
  yyjson_mut_obj_add_bool(doc, root, "exact", exact);
  if (dry_run) yyjson_mut_obj_add_bool(doc, root, "dry_run", true);
  yyjson_mut_doc_set_root(doc, root);
  char *text = yyjson_mut_write(doc, 0, nullptr);
  std::string out = text;
  free(text);
  yyjson_mut_doc_free(doc);
  return out;
}

struct outcome {
  bool success = false;
  std::vector<std::string> errors;
  std::vector<std::string> diffs;
};

outcome run_batch(const std::string &json) {
  outcome o;
  char *text = grep_core_batch_replace_json(json.c_str());
  yyjson_doc *doc = text != nullptr ? yyjson_read(text, strlen(text), 0) : nullptr;
  free(text);
  yyjson_val *root = yyjson_doc_get_root(doc);
  o.success = yyjson_get_bool(yyjson_obj_get(root, "success"));
  size_t i, n;
  yyjson_val *v;
  yyjson_arr_foreach(yyjson_obj_get(root, "errors"), i, n, v) o.errors.push_back(yyjson_get_str(v));
  yyjson_arr_foreach(yyjson_obj_get(root, "diffs"), i, n, v) {
    yyjson_val *diff = yyjson_obj_get(v, "diff");
    o.diffs.emplace_back(yyjson_get_str(diff), yyjson_get_len(diff));
  }
  yyjson_doc_free(doc);
  return o;
}

// How each of the model's reasons begins in the library's message.
const std::map<std::string, std::string> kFailures = {
    {"not_found", "Text not found in "},
    {"ambiguous", "Text occurs "},
    {"past_end", "File has only "},
    {"overlap", "Overlapping edit ranges in "},
};

TEST(BatchModel, GeneratedBatchesGiveTheModelsFileOrFailWhole) {
  if (!qg_test::program_exists("python3")) GTEST_SKIP() << "python3 is not installed";
  const bool have_patch = qg_test::program_exists("patch");
  const bool have_git = qg_test::program_exists("git");
  const qg_test::run_result cases =
      qg_test::run_process({"python3", model_path(), "generate", "25", "5000"});
  ASSERT_EQ(cases.status, 0) << cases.err;
  TempDir dir;
  const std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(qg_test::from_utf8(dir.path()));
  const std::string path = "f.txt";  // relative, so that a diff applies where it stands
  std::map<std::string, int> seen;
  int patched = 0;
  size_t at = 0;
  for (int number = 1; at < cases.out.size(); ++number) {
    const size_t end = cases.out.find('\n', at);
    const std::string line = cases.out.substr(at, end - at);
    at = end + 1;
    yyjson_doc *c = yyjson_read(line.c_str(), line.size(), 0);
    ASSERT_NE(c, nullptr) << line;
    yyjson_val *root = yyjson_doc_get_root(c);
    const std::string original = from_hex(yyjson_get_str(yyjson_obj_get(root, "file")));
    const bool exact = yyjson_get_bool(yyjson_obj_get(root, "exact"));
    yyjson_val *edits = yyjson_obj_get(root, "edits");
    yyjson_val *expect = yyjson_obj_get(root, "expect");
    const bool ok = yyjson_get_bool(yyjson_obj_get(expect, "ok"));
    const std::string shown = "case " + std::to_string(number) + ": " + line;

    if (ok && number % 8 == 0 && have_patch) {
      // The dry run's diff, applied to the file as it is on the disk.
      dir.write(path, original);
      const outcome dry = run_batch(batch_document(edits, exact, true, path));
      ASSERT_TRUE(dry.success) << shown;
      ASSERT_EQ(read_bytes(path), original) << shown;
      const std::string want = from_hex(yyjson_get_str(yyjson_obj_get(expect, "result")));
      const std::string diff = dry.diffs.empty() ? "" : dry.diffs[0];
      if (diff.empty()) {
        EXPECT_EQ(want, original) << shown;
      } else {
        const qg_test::run_result p = qg_test::run_process({"patch", "-s", "-o", "-", path}, diff);
        EXPECT_EQ(p.status, 0) << shown << "\n" << p.err << diff;
        EXPECT_EQ(p.out, want) << shown << "\n" << diff;
        if (have_git) {
          const qg_test::run_result g = qg_test::run_process({"git", "apply", "-p0", "-"}, diff);
          EXPECT_EQ(g.status, 0) << shown << "\n" << g.err << diff;
          EXPECT_EQ(read_bytes(path), want) << shown << "\n" << diff;
        }
        ++patched;
      }
    }

    dir.write(path, original);
    const outcome o = run_batch(batch_document(edits, exact, false, path));
    if (ok) {
      ++seen["ok"];
      EXPECT_TRUE(o.success) << shown << "\n" << (o.errors.empty() ? "" : o.errors[0]);
      EXPECT_EQ(read_bytes(path), from_hex(yyjson_get_str(yyjson_obj_get(expect, "result"))))
          << shown;
    } else {
      const std::string failure = yyjson_get_str(yyjson_obj_get(expect, "failure"));
      ++seen[failure];
      EXPECT_FALSE(o.success) << shown;
      EXPECT_EQ(read_bytes(path), original) << shown;
      ASSERT_EQ(o.errors.size(), 1u) << shown;
      EXPECT_EQ(o.errors[0].rfind(path + ": " + kFailures.at(failure), 0), 0u) << shown << "\n"
                                                                               << o.errors[0];
    }
    yyjson_doc_free(c);
    if (HasFailure()) break;
  }
  std::filesystem::current_path(old_cwd);
  // Every kind of outcome is reached often, not only the easy ones.
  EXPECT_GT(seen["ok"], 2000);
  for (const auto &f : kFailures) EXPECT_GT(seen[f.first], 200) << f.first;
  if (have_patch) {
    EXPECT_GT(patched, 200);
  }
}

}  // namespace
