// Temporary files and folders with exact bytes, for tests.
#ifndef QG_TEST_TEMP_FILES_H
#define QG_TEST_TEMP_FILES_H

#include <string>

namespace qg_test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }

  // The path of `relative` inside the folder.
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

}  // namespace qg_test

#endif  // QG_TEST_TEMP_FILES_H
