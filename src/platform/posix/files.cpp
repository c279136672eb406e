#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// Names are bytes on POSIX, so a UTF-8 path is used as it is. The longest path
// accepted matches the 4096-unit limit other platforms have, so that a path
// behaves the same everywhere.
static constexpr size_t kMaxPathBytes = 4096;

char plat_path_separator(void) { return '/'; }

const char *plat_error_text(int error) {
  if (error == PLAT_ENOTREG) return "Not a regular file";
  return strerror(error);
}

int plat_open_read(const char *path, plat_file *out, uint64_t *out_size) {
  if (path == nullptr) return EINVAL;
  if (strnlen(path, kMaxPathBytes) >= kMaxPathBytes) return ENAMETOOLONG;
  // O_NONBLOCK keeps the open itself from waiting for a writer on a named
  // pipe; such a file is refused below before anything is read from it.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    // A socket cannot be opened at all; say what it is rather than why.
    struct stat st;
    if (error == ENXIO && stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return PLAT_ENOTREG;
    return error;
  }
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = PLAT_ENOTREG;
  }
  if (error != 0) {
    close(fd);
    return error;
  }
  out->handle = fd;
  *out_size = static_cast<uint64_t>(st.st_size);
  return 0;
}

void plat_close(plat_file file) { close(static_cast<int>(file.handle)); }

char *plat_real_path(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return realpath(path, nullptr);
}
