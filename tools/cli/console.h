// What the tool needs of the system beyond the library: its arguments and
// file names as UTF-8, and whether an output is a terminal. One file per
// platform (posix/, win32/), chosen by the build.
#ifndef QG_CLI_CONSOLE_H
#define QG_CLI_CONSOLE_H

#include <cstdio>

namespace qg_cli {

// Makes `argv` the program's arguments in UTF-8: kept as they are where the
// system passes bytes (POSIX), rebuilt from the wide command line where it
// passes them in a legacy code page (Windows). The texts live until the
// process ends. False when they cannot be had.
bool utf8_arguments(int &argc, char **&argv);

// Lets the terminal show the UTF-8 this tool writes, where it would otherwise
// take the bytes in another code page; put back when the process ends.
void prepare_console();

// Opens the file with the UTF-8 name `name` for reading bytes; null with
// errno set on failure.
std::FILE *open_for_reading(const char *name);

// True when `stream` is a terminal rather than a file or a pipe.
bool is_terminal(std::FILE *stream);

// True when standard input brings something to search: a pipe or a file
// (not a terminal, and not a device such as the null device a program is
// often started with).
bool stdin_has_input();

// Standard input, read as bytes (no newline translation).
std::FILE *binary_stdin();

}  // namespace qg_cli

#endif  // QG_CLI_CONSOLE_H
