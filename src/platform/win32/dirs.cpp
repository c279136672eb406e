#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Bytes of an entry name in UTF-8: a name has at most 255 UTF-16 units, each
// at most three bytes.
constexpr size_t kNameBytes = 1024;

}  // namespace

struct plat_dir {
  HANDLE find;
  WIN32_FIND_DATAW data;
  bool pending;  // `data` holds an entry not yet handed out (the first one)
  plat_file_id id;
  char name[kNameBytes];
};

// The identity of the directory at `name`: its volume's serial number and its
// file index, which are the same whichever path or junction reaches it.
static bool directory_id(const wchar_t *name, plat_file_id *id) {
  const HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// Fails a listing with `error` in errno.
static plat_dir *no_listing(int error) {
  errno = error;
  return nullptr;
}

plat_dir *plat_dir_open(const char *path) {
  if (path == nullptr) return no_listing(EINVAL);
  // The listing's pattern is the directory's path, a backslash and '*'.
  const size_t len = strlen(path);
  char *pattern = static_cast<char *>(malloc(len + 3));
  if (pattern == nullptr) return no_listing(ENOMEM);
  memcpy(pattern, path, len);
  memcpy(pattern + len, "\\*", 3);
  wchar_t wide_pattern[QG_WIDE_PATH_UNITS];
  wchar_t wide_dir[QG_WIDE_PATH_UNITS];
  int error = wide_path(pattern, wide_pattern);
  if (error == 0) error = wide_path(path, wide_dir);
  free(pattern);
  if (error != 0) return no_listing(error);
  auto *dir = static_cast<plat_dir *>(malloc(sizeof(plat_dir)));
  if (dir == nullptr) return no_listing(ENOMEM);
  if (!directory_id(wide_dir, &dir->id)) {
    error = errno_from_win32(GetLastError());
    free(dir);
    return no_listing(error);
  }
  dir->find = FindFirstFileExW(wide_pattern, FindExInfoBasic, &dir->data, FindExSearchNameMatch,
                               nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (dir->find == INVALID_HANDLE_VALUE) {
    error = errno_from_win32(GetLastError());
    free(dir);
    return no_listing(error);
  }
  dir->pending = true;
  return dir;
}

bool plat_dir_next(plat_dir *dir, plat_dir_entry *out) {
  if (dir == nullptr || out == nullptr) return false;
  // A name that has no UTF-8 form within the room is passed over: it could
  // not be opened again by any path the walk would write.
  do {
    if (!dir->pending && !FindNextFileW(dir->find, &dir->data)) return false;
    dir->pending = false;
  } while (!narrow_name(dir->data.cFileName, dir->name, sizeof dir->name));
  const DWORD attributes = dir->data.dwFileAttributes;
  out->name = dir->name;
  // The directory bit alone decides, reparse points included: a junction or a
  // link to a directory is walked (the walk's identity check keeps it from
  // being walked twice), and a link to a file is read through.
  out->is_dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out->is_regular = !out->is_dir && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
  out->is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return true;
}

plat_file_id plat_dir_id(const plat_dir *dir) { return dir->id; }

void plat_dir_close(plat_dir *dir) {
  if (dir == nullptr) return;
  FindClose(dir->find);
  free(dir);
}
