/* A host built against the installed tree only: prints the library's version
 * and the first line of the file named by argument 1, numbered. */
#include <quenmar_grep.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  const char *text;
  if (argc < 2) return 2;
  if (strcmp(grep_version(), "1.0.0") != 0) {
    fprintf(stderr, "host: unexpected version %s\n", grep_version());
    return 1;
  }
  text = grep_read_lines(argv[1], 1, 1);
  if (text[0] == '\0') {
    fprintf(stderr, "host: %s\n", grep_last_error());
    return 1;
  }
  fputs(text, stdout);
  return 0;
}
