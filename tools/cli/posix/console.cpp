#include "console.h"

#include <unistd.h>

namespace qg_cli {

// Arguments and names are bytes here, UTF-8 as the user typed them.
bool utf8_arguments(int &, char **&) { return true; }

void prepare_console() {}

std::FILE *open_for_reading(const char *name) { return std::fopen(name, "rb"); }

bool is_terminal(std::FILE *stream) { return isatty(fileno(stream)) != 0; }

}  // namespace qg_cli
