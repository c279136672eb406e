// Temporary files and folders with exact bytes, for tests, on every platform.
// Paths are UTF-8 texts, joined with the separator the library's walk writes.
#ifndef QG_TEST_TEMP_FILES_H
#define QG_TEST_TEMP_FILES_H

#include <stdint.h>

#include <filesystem>
#include <string>

namespace qg_test {

// A fresh folder in the system's temporary folder, removed with everything in
// it when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }

  // The path of `relative` ('/' between its parts) inside the folder.
  std::string at(const std::string &relative) const;

  // Writes `bytes` exactly to `relative`, creating parent folders, and returns
  // the full path.
  std::string write(const std::string &relative, const std::string &bytes) const;

  // Creates the folder `relative` (and its parents) and returns its path.
  std::string mkdir(const std::string &relative) const;

 private:
  std::string path_;
};

// The bytes of the file at `path`; fails the current test when unreadable.
std::string read_bytes(const std::string &path);

// Makes the file at `path` exactly `size` bytes long (a sparse file where the
// file system has them); false on failure.
bool set_file_size(const std::string &path, uint64_t size);

// A UTF-8 path as the standard library's path, and back.
std::filesystem::path from_utf8(const std::string &path);
std::string to_utf8(const std::filesystem::path &path);

}  // namespace qg_test

#endif  // QG_TEST_TEMP_FILES_H
