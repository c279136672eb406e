// Times edits over many files through the public interface, for
// bench/rename_bench.sh.
//
//   rename_bench rename ROOT OLD NEW   one search for the literal OLD under
//                                      ROOT, then one batch that replaces
//                                      every OLD by NEW in each file found
//   rename_bench group DIR N [dry]     one batch of N edits, one per file
//                                      DIR/d<i/1000>/f<i>.txt (made first,
//                                      untimed, when missing), as a dry run
//                                      if asked
//   rename_bench replace ROOT WORD NEW THREADS
//                                      one grep_replace_json of the whole
//                                      word WORD by NEW
//   rename_bench searchbatch ROOT WORD NEW THREADS
//                                      the same by hand: one search for the
//                                      whole word (every match of a line),
//                                      then one batch of exact line edits,
//                                      each expecting the line it replaces
//
// `rename` prints "files F search_ms S batch_ms B"; `group` prints the
// milliseconds of the batch call; `replace` and `searchbatch` print "files F
// replacements R ms M". Exits non-zero when a call fails.
#include "quenmar_grep.h"

#include <yyjson.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// A JSON string literal of `s`.
std::string quoted(const std::string &s) {
  size_t len = 0;
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_doc_set_root(doc, yyjson_mut_strncpy(doc, s.data(), s.size()));
  char *text = yyjson_mut_write(doc, 0, &len);
  std::string out(text, len);
  free(text);
  yyjson_mut_doc_free(doc);
  return out;
}

int collect_file(const char *match_json, void *files) {
  yyjson_doc *doc = yyjson_read(match_json, strlen(match_json), 0);
  const char *file = yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(doc), "file"));
  if (file != nullptr) static_cast<std::set<std::string> *>(files)->insert(file);
  yyjson_doc_free(doc);
  return 0;
}

// Runs the batch `json`; false (with the report on standard error) unless
// every file succeeded.
bool run_batch(const std::string &json, double *ms) {
  const double start = now_ms();
  const char *report = grep_batch_replace_json(json.c_str());
  *ms = now_ms() - start;
  if (grep_last_status() == GREP_OK) return true;
  fprintf(stderr, "batch failed: %.2000s\n", report);
  return false;
}

int rename_in_tree(const char *root, const char *old_text, const char *new_text) {
  std::set<std::string> files;
  const double start = now_ms();
  const char *options = R"({"hidden":true,"skip_dirs":false})";
  if (grep_search_stream_ctx(root, old_text, options, collect_file, &files) < 0) {
    fprintf(stderr, "search failed: %s\n", grep_last_error());
    return 1;
  }
  const double search_ms = now_ms() - start;
  std::string json = "{\"edits\":[";
  const std::string tail = ",\"old_text\":" + quoted(old_text) +
                           ",\"new_text\":" + quoted(new_text) + ",\"replace_all\":true}";
  for (const std::string &file : files) {
    if (json.back() != '[') json += ',';
    json += "{\"file\":" + quoted(file) + tail;
  }
  json += "]}";
  double batch_ms = 0;
  if (!run_batch(json, &batch_ms)) return 1;
  printf("files %zu search_ms %.1f batch_ms %.1f\n", files.size(), search_ms, batch_ms);
  return 0;
}

// The options of a whole-word rename over every file of a tree, as grep -r
// reads it: hidden entries and every folder name, links left alone.
std::string word_options(const char *threads, bool submatches) {
  return std::string(R"({"whole_word":true,"hidden":true,"skip_dirs":false,"follow_links":false,)") +
         (submatches ? R"("submatches":true,)" : "") + "\"threads\":" + threads + "}";
}

int replace_in_tree(const char *root, const char *word, const char *new_text, const char *threads) {
  const double start = now_ms();
  const char *report = grep_replace_json(root, word, new_text, word_options(threads, false).c_str());
  const double ms = now_ms() - start;
  yyjson_doc *doc = yyjson_read(report, strlen(report), 0);
  yyjson_val *top = yyjson_doc_get_root(doc);
  const bool ok = grep_last_status() == GREP_OK && yyjson_get_bool(yyjson_obj_get(top, "success"));
  if (ok) {
    printf("files %lld replacements %lld ms %.1f\n",
           static_cast<long long>(yyjson_get_sint(yyjson_obj_get(top, "files_modified"))),
           static_cast<long long>(yyjson_get_sint(yyjson_obj_get(top, "total_replacements"))), ms);
  } else {
    fprintf(stderr, "replace failed: %.2000s\n", report);
  }
  yyjson_doc_free(doc);
  return ok ? 0 : 1;
}

// The text of `line` with each of the matches `spans` (objects of "col" and
// "length", byte columns from 1) replaced by `with`.
std::string replaced_line(const char *line, size_t len, yyjson_val *spans, const std::string &with) {
  std::string out;
  size_t at = 0, idx, max;
  yyjson_val *span;
  yyjson_arr_foreach(spans, idx, max, span) {
    const auto col = static_cast<size_t>(yyjson_get_sint(yyjson_obj_get(span, "col")));
    const auto n = static_cast<size_t>(yyjson_get_sint(yyjson_obj_get(span, "length")));
    if (col < 1 || col - 1 < at || col - 1 + n > len) continue;
    out.append(line + at, col - 1 - at);
    out += with;
    at = col - 1 + n;
  }
  out.append(line + at, len - at);
  return out;
}

int search_then_batch(const char *root, const char *word, const char *new_text,
                      const char *threads) {
  const double start = now_ms();
  const char *found = grep_search_json(root, word, word_options(threads, true).c_str());
  if (grep_last_status() != GREP_OK) {
    fprintf(stderr, "search failed: %s\n", grep_last_error());
    return 1;
  }
  yyjson_doc *doc = yyjson_read(found, strlen(found), 0);
  std::string json = "{\"exact\":true,\"edits\":[";
  std::set<std::string> files;
  long long replacements = 0;
  size_t idx, max;
  yyjson_val *m;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, m) {
    yyjson_val *text = yyjson_obj_get(m, "text");
    yyjson_val *spans = yyjson_obj_get(m, "submatches");
    const std::string file = yyjson_get_str(yyjson_obj_get(m, "file"));
    const std::string line(yyjson_get_str(text), yyjson_get_len(text));
    const std::string number = std::to_string(yyjson_get_sint(yyjson_obj_get(m, "line")));
    files.insert(file);
    replacements += static_cast<long long>(yyjson_arr_size(spans));
    if (json.back() != '[') json += ',';
    json += "{\"file\":" + quoted(file) + ",\"start_line\":" + number + ",\"end_line\":" + number +
            ",\"expected_text\":" + quoted(line) + ",\"new_text\":" +
            quoted(replaced_line(line.data(), line.size(), spans, new_text)) + "}";
  }
  yyjson_doc_free(doc);
  json += "]}";
  double batch_ms = 0;
  if (!run_batch(json, &batch_ms)) return 1;
  printf("files %zu replacements %lld ms %.1f\n", files.size(), replacements, now_ms() - start);
  return 0;
}

int edit_group(const char *dir, long n, bool dry) {
  std::string json = dry ? "{\"dry_run\":true,\"edits\":[" : "{\"edits\":[";
  for (long i = 0; i < n; ++i) {
    // 1,000 files a folder, as a source tree has them, so that the file
    // system's cost per name stays the same whatever the count.
    const std::string folder = std::string(dir) + "/d" + std::to_string(i / 1000);
    if (i % 1000 == 0) mkdir(folder.c_str(), 0777);
    const std::string path = folder + "/f" + std::to_string(i) + ".txt";
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr && (f = fopen(path.c_str(), "wb")) != nullptr) fputs("old\n", f);
    if (f != nullptr) fclose(f);
    if (i > 0) json += ',';
    json += "{\"file\":" + quoted(path) + ",\"start_line\":1,\"end_line\":1,\"new_text\":\"new " +
            std::to_string(i) + "\"}";
  }
  json += "]}";
  double ms = 0;
  if (!run_batch(json, &ms)) return 1;
  printf("%.1f\n", ms);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "rename") == 0) return rename_in_tree(argv[2], argv[3], argv[4]);
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "group") == 0) {
    return edit_group(argv[2], atol(argv[3]), argc == 5 && strcmp(argv[4], "dry") == 0);
  }
  if (argc == 6 && strcmp(argv[1], "replace") == 0) {
    return replace_in_tree(argv[2], argv[3], argv[4], argv[5]);
  }
  if (argc == 6 && strcmp(argv[1], "searchbatch") == 0) {
    return search_then_batch(argv[2], argv[3], argv[4], argv[5]);
  }
  fprintf(stderr,
          "usage: %s rename ROOT OLD NEW | group DIR N [dry] | replace ROOT WORD NEW THREADS | "
          "searchbatch ROOT WORD NEW THREADS\n",
          argv[0]);
  return 2;
}
