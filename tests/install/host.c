/* A host built against the installed tree only: checks the library's version
 * against argument 2 and prints the first line of the file named by argument
 * 1, numbered. */
#include <quenmar_grep.h>

#include <stdio.h>
#include <string.h>

/* Stops the search at its first match. */
static int first_only(const char *match_json, void *user_data) {
  (void)match_json;
  ++*(int *)user_data;
  return 1;
}

int main(int argc, char **argv) {
  int calls = 0;
  const char *text;
  if (argc < 3) return 2;
  if (strcmp(grep_version(), argv[2]) != 0) {
    fprintf(stderr, "host: unexpected version %s\n", grep_version());
    return 1;
  }
  text = grep_read_lines(argv[1], 1, 1);
  if (text[0] == '\0') {
    fprintf(stderr, "host: %s\n", grep_last_error());
    return 1;
  }
  fputs(text, stdout);
  /* The stoppable stream: every line matches the empty pattern, one is seen. */
  if (grep_search_stream_ctx(argv[1], "", "{\"regex\":true}", first_only, &calls) != 1 ||
      calls != 1) {
    fprintf(stderr, "host: the stream did not stop at its first match\n");
    return 1;
  }
  return 0;
}
