/* A host written in strict C99: includes the public header and calls every
 * export through the shared library. Argument 1 is a readable text file. */
#include <quenmar_grep.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "c_host: %s\n", what);
    ++failures;
  }
}

static void on_match(const char *match_json) { (void)match_json; }

static int stop_at_once(const char *match_json, void *user_data) {
  (void)match_json;
  ++*(int *)user_data;
  return 1;
}

int main(int argc, char **argv) {
  const char *text;
  int calls = 0;
  if (argc < 2) return 2;
  expect(strcmp(grep_version(), "1.0.0") == 0, "version");
  expect(grep_last_error() != NULL && grep_last_error()[0] == '\0', "fresh last error");

  text = grep_read_lines(argv[1], 1, 1);
  expect(strncmp(text, "1: ", 3) == 0, "read_lines numbers the first line");

  text = grep_read_lines(NULL, 0, 0);
  expect(text[0] == '\0', "read_lines without a path gives \"\"");
  expect(strcmp(grep_last_error(), "Missing file_path") == 0, "its message");

  text = grep_search_json(NULL, "x", NULL);
  expect(strstr(text, "\"error\":\"root_path and pattern are required\"") != NULL,
         "search fallback document");
  expect(grep_search_stream(NULL, "x", NULL, on_match) == -1, "stream without a root");
  expect(grep_search_stream_ctx(NULL, "x", NULL, stop_at_once, &calls) == -1,
         "stoppable stream without a root");
  expect(grep_search_stream_ctx(argv[1], "", "{\"regex\":true}", stop_at_once, &calls) == 1 &&
             calls == 1,
         "stoppable stream stops at its first match");
  expect(grep_replace_lines(NULL, 1, 1, "x") == -1, "replace without a path");
  text = grep_batch_replace_json("");
  expect(strstr(text, "\"success\":false") != NULL, "batch of nothing");
  return failures == 0 ? 0 : 1;
}
