#include "platform/platform.h"

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
  if (path == nullptr) return nullptr;
  DIR *handle = opendir(path);
  if (handle == nullptr) return nullptr;
  struct stat st;
  if (fstat(dirfd(handle), &st) != 0) {
    closedir(handle);
    return nullptr;
  }
  auto *dir = static_cast<plat_dir *>(malloc(sizeof(plat_dir)));
  if (dir == nullptr) {
    closedir(handle);
    return nullptr;
  }
  dir->handle = handle;
  dir->id = plat_file_id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return dir;
}

// d_type is a hint: links and file systems that do not fill it in are asked
// with a stat that follows the link, as a directory junction would be followed.
static bool entry_is_dir(DIR *handle, const struct dirent *ent) {
  if (ent->d_type == DT_DIR) return true;
  if (ent->d_type != DT_LNK && ent->d_type != DT_UNKNOWN) return false;
  struct stat st;
  if (fstatat(dirfd(handle), ent->d_name, &st, 0) != 0) return false;
  return S_ISDIR(st.st_mode);
}

bool plat_dir_next(plat_dir *dir, plat_dir_entry *out) {
  if (dir == nullptr || out == nullptr) return false;
  const struct dirent *ent = readdir(dir->handle);
  if (ent == nullptr) return false;
  out->name = ent->d_name;
  out->is_dir = entry_is_dir(dir->handle, ent);
  return true;
}

plat_file_id plat_dir_id(const plat_dir *dir) { return dir->id; }

void plat_dir_close(plat_dir *dir) {
  if (dir == nullptr) return;
  closedir(dir->handle);
  free(dir);
}

bool plat_is_directory(const char *path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
