// Bytes read as UTF-8 by the tool: which are valid, and the text the library
// makes of those that are not (each byte that begins no valid sequence
// becomes U+FFFD), so that a path the library gives that way can be matched
// to the name it stands for. Pure functions; nothing fails.
#ifndef QG_CLI_UTF8_BYTES_H
#define QG_CLI_UTF8_BYTES_H

#include <string>
#include <string_view>

namespace qg_cli {

// True when `bytes` is valid UTF-8 (shortest forms only, no surrogates,
// nothing above U+10FFFF).
bool is_utf8(std::string_view bytes);

// `bytes` with each byte that begins no valid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

}  // namespace qg_cli

#endif  // QG_CLI_UTF8_BYTES_H
