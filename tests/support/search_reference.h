// The search as the library's definition describes it, file by file and line
// by line: a plain walk of the platform's listing with the fixed skip rules
// and the globs, each file read whole and cut into a line array, each line
// searched on its own with the reference finders, each match object built as
// yyjson values. The reference the reports are held against on generated
// trees; it knows the options those trees use (regex, case, whole_word,
// max_results, max_per_file, context_lines, match_length, submatches, the
// glob lists) and nothing of links, ignore files or threads.
#ifndef QG_TEST_SEARCH_REFERENCE_H
#define QG_TEST_SEARCH_REFERENCE_H

#include <string>

namespace qg_test {

// The search document for `root` (a directory or a file), totals included and
// "duration_ms" 0, as yyjson writes it.
std::string reference_search_document(const std::string &root, const std::string &pattern,
                                      const std::string &options_json);

}  // namespace qg_test

#endif  // QG_TEST_SEARCH_REFERENCE_H
