#include "platform/platform.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

// Names are bytes on POSIX, so a UTF-8 path is used as it is. The longest path
// accepted matches the 4096-unit limit other platforms have, so that a path
// behaves the same everywhere.
static constexpr size_t kMaxPathBytes = 4096;

FILE *plat_fopen_utf8(const char *path, const char *mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (strnlen(path, kMaxPathBytes) >= kMaxPathBytes) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  FILE *f = fopen(path, mode);
  if (f == nullptr) return nullptr;
  // POSIX lets a directory be opened for reading; other platforms refuse it,
  // and no caller can do anything useful with one.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(f);
    errno = EISDIR;
    return nullptr;
  }
  return f;
}

bool plat_file_size(FILE *f, uint64_t *out_size) {
  if (fseeko(f, 0, SEEK_END) != 0) return false;
  off_t end = ftello(f);
  if (end < 0) return false;
  if (fseeko(f, 0, SEEK_SET) != 0) return false;
  *out_size = static_cast<uint64_t>(end);
  return true;
}
