// Reading what a command is given to work on: a named file or standard
// input, whole, as bytes.
#ifndef QG_CLI_INPUT_H
#define QG_CLI_INPUT_H

#include <filesystem>
#include <string>

namespace qg_cli {

// Reads the whole of the file `name`, or of standard input for "-", into
// `out`. False with `error` set when it cannot be opened or read.
bool read_input(const std::string &name, std::string &out, std::string &error);

// The UTF-8 name `utf8` as the system's own path (its bytes on POSIX).
std::filesystem::path native_path(const std::string &utf8);

}  // namespace qg_cli

#endif  // QG_CLI_INPUT_H
