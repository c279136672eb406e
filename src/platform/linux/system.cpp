// Linux: nanosecond times in st_mtim, syncfs, posix_fallocate and the xattr
// calls of <sys/xattr.h>.
#include "platform/posix/system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

plat_file_meta posix_meta_of(const struct stat &st) {
  return {{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
          static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool posix_can_sync_file_system() { return true; }

int posix_sync_file_system(int fd) { return syncfs(fd) == 0 ? 0 : errno; }

int posix_reserve_blocks(int fd, off_t offset, off_t len) {
  const int err = posix_fallocate(fd, offset, len);
  return err == EINVAL ? EOPNOTSUPP : err;
}

ssize_t posix_list_attributes(int fd, char *buf, size_t size) { return flistxattr(fd, buf, size); }

ssize_t posix_get_attribute(int fd, const char *name, void *buf, size_t size) {
  return fgetxattr(fd, name, buf, size);
}

int posix_set_attribute(int fd, const char *name, const void *value, size_t len) {
  return fsetxattr(fd, name, value, len, 0);
}

bool posix_attribute_absent(int err) { return err == ENODATA; }
