#include "input.h"

#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qg_cli {

bool read_input(const std::string &name, std::string &out, std::string &error) {
  const bool from_stdin = name == "-";
  std::FILE *in = from_stdin ? binary_stdin() : open_for_reading(name.c_str());
  if (in == nullptr) {
    error = "Cannot open '" + name + "': " + std::strerror(errno);
    return false;
  }
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.append(chunk, n);
  const bool ok = !std::ferror(in);
  if (!ok) error = "Cannot read '" + name + "': " + std::strerror(errno);
  if (!from_stdin) std::fclose(in);
  return ok;
}

std::filesystem::path native_path(const std::string &utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace qg_cli
