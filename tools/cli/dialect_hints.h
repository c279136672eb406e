// Hints for a person who types a pattern in another dialect's syntax: the
// library's dialect has no syntax errors, so such a pattern quietly means
// something else, usually "no matches".
#ifndef QG_CLI_DIALECT_HINTS_H
#define QG_CLI_DIALECT_HINTS_H

#include <string>
#include <vector>

namespace qg_cli {

// One sentence for each construct in `pattern` (a regex of the library's
// dialect) that grep -E reads otherwise, naming what it means here; empty
// when there is none. Each kind of construct is named once.
std::vector<std::string> dialect_hints(const std::string &pattern);

}  // namespace qg_cli

#endif  // QG_CLI_DIALECT_HINTS_H
