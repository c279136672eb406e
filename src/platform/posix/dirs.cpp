#include "platform/platform.h"
#include "platform/posix/system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

struct plat_dir {
  DIR *handle;
  plat_file_id id;
};

plat_dir *plat_dir_open(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  DIR *handle = opendir(path);
  if (handle == nullptr) return nullptr;
  struct stat st;
  if (fstat(dirfd(handle), &st) != 0) {
    const int error = errno;
    closedir(handle);
    errno = error;
    return nullptr;
  }
  auto *dir = static_cast<plat_dir *>(malloc(sizeof(plat_dir)));
  if (dir == nullptr) {
    closedir(handle);
    errno = ENOMEM;
    return nullptr;
  }
  dir->handle = handle;
  dir->id = posix_meta_of(st).id;
  return dir;
}

// d_type is a hint: links and file systems that do not fill it in are asked
// with a stat that follows the link, as a directory junction would be followed.
static void classify_entry(DIR *handle, const struct dirent *ent, plat_dir_entry *out) {
  out->is_link = ent->d_type == DT_LNK;
  unsigned char type = ent->d_type;
  if (type == DT_LNK || type == DT_UNKNOWN) {
    struct stat st;
    type = DT_UNKNOWN;
    if (fstatat(dirfd(handle), ent->d_name, &st, 0) == 0) {
      type = S_ISDIR(st.st_mode) ? DT_DIR : (S_ISREG(st.st_mode) ? DT_REG : DT_FIFO);
    }
    if (ent->d_type == DT_UNKNOWN &&
        fstatat(dirfd(handle), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      out->is_link = S_ISLNK(st.st_mode);
    }
  }
  out->is_dir = type == DT_DIR;
  out->is_regular = type == DT_REG;
}

bool plat_dir_next(plat_dir *dir, plat_dir_entry *out) {
  if (dir == nullptr || out == nullptr) return false;
  const struct dirent *ent = readdir(dir->handle);
  if (ent == nullptr) return false;
  out->name = ent->d_name;
  classify_entry(dir->handle, ent, out);
  return true;
}

plat_file_id plat_dir_id(const plat_dir *dir) { return dir->id; }

void plat_dir_close(plat_dir *dir) {
  if (dir == nullptr) return;
  closedir(dir->handle);
  free(dir);
}

plat_path_kind plat_path_kind_of(const char *path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return PLAT_PATH_MISSING;
  if (S_ISDIR(st.st_mode)) return PLAT_PATH_DIRECTORY;
  return S_ISREG(st.st_mode) ? PLAT_PATH_FILE : PLAT_PATH_OTHER;
}

bool plat_is_directory(const char *path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t plat_path_mtime_ns(const char *path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return 0;
  return posix_meta_of(st).mtime_ns;
}
