// Base64 (RFC 4648, the standard alphabet, padded) for the tool: the library
// writes a diff that is not UTF-8 in it, and the JSON Lines output gives text
// that is not UTF-8 in it, as ripgrep does. Pure functions; nothing fails.
#ifndef QG_CLI_BASE64_H
#define QG_CLI_BASE64_H

#include <cstddef>
#include <string>
#include <string_view>

namespace qg_cli {

// The base64 text of `bytes`, padded with '=' to a multiple of four.
std::string to_base64(std::string_view bytes);

// The bytes of a base64 text; stops at the padding or at anything else.
std::string from_base64(const char *text, size_t len);

}  // namespace qg_cli

#endif  // QG_CLI_BASE64_H
