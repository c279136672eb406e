#include "support/temp_files.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace qg_test {

fs::path from_utf8(const std::string &path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string to_utf8(const fs::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) ADD_FAILURE() << "no temporary folder: " << ec.message();
  std::random_device seed;
  std::mt19937_64 rng(seed() ^ reinterpret_cast<uintptr_t>(this));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("quenmar-grep-test-" + std::to_string(rng() % 100000000));
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = to_utf8(candidate);
      return;
    }
  }
  ADD_FAILURE() << "cannot make a temporary folder";
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make every entry writable again so that the removal cannot be refused.
  for (auto it = fs::recursive_directory_iterator(from_utf8(path_), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(from_utf8(path_), ec);
}

std::string TempDir::at(const std::string &relative) const {
  // Joined with the separator the walk writes, so expected paths compare
  // equal to the walk's on every platform.
  const char sep = plat_path_separator();
  std::string joined = path_ + sep;
  for (char c : relative) joined += c == '/' ? sep : c;
  return joined;
}

std::string TempDir::write(const std::string &relative, const std::string &bytes) const {
  const std::string full = at(relative);
  std::error_code ec;
  fs::create_directories(from_utf8(full).parent_path(), ec);
  std::ofstream out(from_utf8(full), std::ios::binary | std::ios::trunc);
  if (!out) {
    ADD_FAILURE() << "cannot write " << full;
    return full;
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "short write to " << full;
  return full;
}

std::string TempDir::mkdir(const std::string &relative) const {
  const std::string full = at(relative);
  std::error_code ec;
  fs::create_directories(from_utf8(full), ec);
  if (ec) ADD_FAILURE() << "cannot create " << full << ": " << ec.message();
  return full;
}

std::string read_bytes(const std::string &path) {
  std::ifstream in(from_utf8(path), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool set_file_size(const std::string &path, uint64_t size) {
  std::error_code ec;
  fs::resize_file(from_utf8(path), size, ec);
  return !ec;
}

}  // namespace qg_test
