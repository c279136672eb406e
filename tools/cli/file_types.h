// The file types of -t TYPE and -T TYPE: a name for the file name globs of a
// common kind of file, as ripgrep users know them.
#ifndef QG_CLI_FILE_TYPES_H
#define QG_CLI_FILE_TYPES_H

#include <string_view>
#include <vector>

namespace qg_cli {

struct file_type {
  std::string_view name;
  std::vector<std::string_view> globs;
};

// Every type, by name.
const std::vector<file_type> &file_types();

// The type called `name`, or null.
const file_type *find_file_type(std::string_view name);

// Prints the table, one "name: glob, glob" line per type, as --type-list does.
void print_file_types();

}  // namespace qg_cli

#endif  // QG_CLI_FILE_TYPES_H
