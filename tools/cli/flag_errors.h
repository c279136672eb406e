// Errors for what a command line holds beyond its command's flags: an unknown
// flag is named with the flag nearest to it.
#ifndef QG_CLI_FLAG_ERRORS_H
#define QG_CLI_FLAG_ERRORS_H

#include <CLI/CLI.hpp>

#include <string>

namespace qg_cli {

// The flag of `cmd` (long or short form) nearest to `given` by edit distance,
// or "" when none is near enough to be a likely typo.
std::string nearest_flag(const CLI::App &cmd, const std::string &given);

// Checks what `cmd` left unparsed; prints an error and returns false when it
// left anything: "unknown flag '--max-cont'; did you mean '--max-count'?" or
// "unexpected argument 'x'".
bool no_leftovers(const CLI::App &cmd);

}  // namespace qg_cli

#endif  // QG_CLI_FLAG_ERRORS_H
