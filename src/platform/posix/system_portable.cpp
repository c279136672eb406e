// Every POSIX system but Linux: modification times in st_mtimespec (macOS,
// the BSDs) or st_mtim, no flush of a whole file system, blocks reserved
// through posix_fallocate where the system has it, and extended attributes
// through the macOS calls where they exist.
#include "platform/posix/system.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <sys/xattr.h>
#endif

plat_file_meta posix_meta_of(const struct stat &st) {
#if defined(__APPLE__)
  const struct timespec t = st.st_mtimespec;
#else
  const struct timespec t = st.st_mtim;
#endif
  return {{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
          static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec};
}

bool posix_can_sync_file_system() { return false; }

int posix_sync_file_system(int) { return ENOSYS; }

int posix_reserve_blocks(int fd, off_t offset, off_t len) {
#if defined(__APPLE__)
  (void)fd;
  (void)offset;
  (void)len;
  return EOPNOTSUPP;
#else
  const int err = posix_fallocate(fd, offset, len);
  return err == EINVAL ? EOPNOTSUPP : err;
#endif
}

ssize_t posix_list_attributes(int fd, char *buf, size_t size) {
#if defined(__APPLE__)
  return flistxattr(fd, buf, size, 0);
#else
  (void)fd;
  (void)buf;
  (void)size;
  errno = ENOTSUP;
  return -1;
#endif
}

ssize_t posix_get_attribute(int fd, const char *name, void *buf, size_t size) {
#if defined(__APPLE__)
  return fgetxattr(fd, name, buf, size, 0, 0);
#else
  (void)fd;
  (void)name;
  (void)buf;
  (void)size;
  errno = ENOTSUP;
  return -1;
#endif
}

int posix_set_attribute(int fd, const char *name, const void *value, size_t len) {
#if defined(__APPLE__)
  return fsetxattr(fd, name, value, len, 0, 0);
#else
  (void)fd;
  (void)name;
  (void)value;
  (void)len;
  errno = ENOTSUP;
  return -1;
#endif
}

bool posix_attribute_absent(int err) {
#if defined(ENOATTR)
  return err == ENOATTR;
#else
  return err == ENODATA;
#endif
}
