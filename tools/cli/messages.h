// What every command of the tool shares: its exit statuses, its way of
// reporting an error, and parsed JSON documents that free themselves.
#ifndef QG_CLI_MESSAGES_H
#define QG_CLI_MESSAGES_H

#include <quenmar_grep.h>

#include <yyjson.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace qg_cli {

// As grep has it: 0 when something matched or an edit succeeded, 1 when a
// search matched nothing, 2 on any error.
constexpr int kExitMatch = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;

// Prints "quenmar-grep: <message>" on standard error and gives the error status.
inline int fail_with(const std::string &message) {
  std::fprintf(stderr, "quenmar-grep: %s\n", message.c_str());
  return kExitError;
}

// `message` with the name of the status it came with: "... (GREP_E_IO)".
inline std::string with_status(const char *message, const char *status) {
  return std::string(message) + " (" + status + ")";
}

// Fails with the calling thread's last-error text and the name of the status
// its last call ended with.
inline int fail() {
  return fail_with(with_status(grep_last_error(), grep_status_name(grep_last_status())));
}

struct doc_free {
  void operator()(yyjson_doc *doc) const { yyjson_doc_free(doc); }
};
using doc_ptr = std::unique_ptr<yyjson_doc, doc_free>;

inline doc_ptr parse_json(const char *text) {
  return doc_ptr(yyjson_read(text, std::strlen(text), 0));
}

}  // namespace qg_cli

#endif  // QG_CLI_MESSAGES_H
