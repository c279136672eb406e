// Texts written into the JSON documents that tests hand the library.
#ifndef QG_TEST_JSON_TEXT_H
#define QG_TEST_JSON_TEXT_H

#include <string>

namespace qg_test {

// `s` as a JSON string literal, quotes included: '"' and '\' escaped (so a
// Windows path's separators survive), and every control character as \n,
// \r, \t or \u00XX. Other bytes pass as they are.
std::string json_quoted(const std::string &s);

}  // namespace qg_test

#endif  // QG_TEST_JSON_TEXT_H
