#include "platform/platform.h"
#include "platform/posix/system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Names are bytes on POSIX, so a UTF-8 path is used as it is. The longest path
// accepted matches the 4096-unit limit other platforms have, so that a path
// behaves the same everywhere.
static constexpr size_t kMaxPathBytes = 4096;

char plat_path_separator(void) { return '/'; }

const char *plat_error_text(int error) {
  if (error == PLAT_ENOTREG) return "Not a regular file";
  if (error == PLAT_ECHANGED) return "Changed since it was read";
  return strerror(error);
}

namespace {

// Opens the regular file at `path` for reading and stats it; the refusals of
// plat_open_read. Returns the descriptor, or -1 with *error set.
int open_regular(const char *path, struct stat *st, int *error) {
  *error = 0;
  if (path == nullptr) {
    *error = EINVAL;
    return -1;
  }
  if (strnlen(path, kMaxPathBytes) >= kMaxPathBytes) {
    *error = ENAMETOOLONG;
    return -1;
  }
  // O_NONBLOCK keeps the open itself from waiting for a writer on a named
  // pipe; such a file is refused below before anything is read from it.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = errno;
    // A socket cannot be opened at all; say what it is rather than why.
    if (*error == ENXIO && stat(path, st) == 0 && !S_ISREG(st->st_mode)) *error = PLAT_ENOTREG;
    return -1;
  }
  if (fstat(fd, st) != 0) {
    *error = errno;
  } else if (S_ISDIR(st->st_mode)) {
    *error = EISDIR;
  } else if (!S_ISREG(st->st_mode)) {
    *error = PLAT_ENOTREG;
  }
  if (*error != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Times a path may be found replaced between its open and its lock before
// an edit gives up (another editor replacing it as fast as it can).
constexpr int kLockAttempts = 1000;

}  // namespace

int plat_open_read(const char *path, plat_file *out, uint64_t *out_size) {
  struct stat st;
  int error = 0;
  const int fd = open_regular(path, &st, &error);
  if (fd < 0) return error;
  *out = {fd, 0};
  *out_size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int plat_path_identity(const char *path, plat_file_id *out) {
  struct stat st;
  if (path == nullptr) return EINVAL;
  if (stat(path, &st) != 0) return errno;
  *out = posix_meta_of(st).id;
  return 0;
}

int plat_open_for_edit(const char *path, plat_file *out, plat_file_meta *out_meta) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    struct stat st;
    int error = 0;
    const int fd = open_regular(path, &st, &error);
    if (fd < 0) return error;
    // flock locks belong to the open file description: every edit, in this
    // process or another, opens its own and waits for the others.
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error = errno;
        close(fd);
        return error;
      }
    }
    // Locked; but an editor that held the lock may have replaced the file
    // by renaming a new one over it: then the path names another file, and
    // that one is locked in turn.
    struct stat now;
    struct stat locked;
    if (stat(path, &now) == 0 && fstat(fd, &locked) == 0 && now.st_dev == locked.st_dev &&
        now.st_ino == locked.st_ino) {
      *out = {fd, 0};
      *out_meta = posix_meta_of(locked);
      return 0;
    }
    close(fd);
  }
  return EAGAIN;
}

void plat_close(plat_file file) { close(static_cast<int>(file.handle)); }

char *plat_real_path(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return realpath(path, nullptr);
}
