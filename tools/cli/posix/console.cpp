#include "console.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qg_cli {

// Arguments and names are bytes here, UTF-8 as the user typed them.
bool utf8_arguments(int &, char **&) { return true; }

void prepare_console() {}

std::FILE *open_for_reading(const char *name) { return std::fopen(name, "rb"); }

bool is_terminal(std::FILE *stream) { return isatty(fileno(stream)) != 0; }

bool stdin_has_input() {
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0) return false;
  return S_ISFIFO(st.st_mode) || S_ISREG(st.st_mode) || S_ISSOCK(st.st_mode);
}

std::FILE *binary_stdin() { return stdin; }

}  // namespace qg_cli
