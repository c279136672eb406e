#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qg_test {

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

void make_parents(const std::string &path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/') continue;
    std::string prefix = path.substr(0, i);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      ADD_FAILURE() << "cannot create " << prefix;
    }
  }
}

}  // namespace

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/quenmar-grep-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  // Make every folder writable again so that the removal cannot be refused.
  nftw(
      path_.c_str(),
      [](const char *p, const struct stat *st, int type, struct FTW *) {
        if (type == FTW_D) chmod(p, st->st_mode | S_IRWXU);
        return 0;
      },
      64, FTW_PHYS);
  nftw(path_.c_str(), remove_entry, 64, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::at(const std::string &relative) const { return path_ + "/" + relative; }

std::string TempDir::write(const std::string &relative, const std::string &bytes) const {
  std::string full = at(relative);
  make_parents(full);
  FILE *f = fopen(full.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot write " << full;
    return full;
  }
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    ADD_FAILURE() << "short write to " << full;
  }
  fclose(f);
  return full;
}

std::string TempDir::mkdir(const std::string &relative) const {
  std::string full = at(relative);
  make_parents(full + "/");
  return full;
}

std::string read_bytes(const std::string &path) {
  std::string bytes;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot read " << path;
    return bytes;
  }
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  fclose(f);
  return bytes;
}

}  // namespace qg_test
