// Reading what a command is given to work on: a named file or standard
// input, whole, as bytes.
#ifndef QG_CLI_INPUT_H
#define QG_CLI_INPUT_H

#include <string>

namespace qg_cli {

// Reads the whole of the file `name`, or of standard input for "-", into
// `out`. False with `error` set when it cannot be opened or read.
bool read_input(const std::string &name, std::string &out, std::string &error);

}  // namespace qg_cli

#endif  // QG_CLI_INPUT_H
