#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

char plat_path_separator(void) { return '\\'; }

const char *plat_error_text(int error) {
  if (error == PLAT_ENOTREG) return "Not a regular file";
  return strerror(error);
}

int plat_open_read(const char *path, plat_file *out, uint64_t *out_size) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  int error = wide_path(path, name);
  if (error != 0) return error;
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return errno_from_win32(GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PLAT_ENOTREG;
  FILE *f = _wfopen(name, L"rb");
  if (f == nullptr) return errno != 0 ? errno : EIO;
  // Only a file on a disk is read: a named pipe or a console could block.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    fclose(f);
    return PLAT_ENOTREG;
  }
  if (!GetFileSizeEx(handle, &size)) {
    error = errno_from_win32(GetLastError());
    fclose(f);
    return error;
  }
  out->handle = reinterpret_cast<intptr_t>(f);
  *out_size = static_cast<uint64_t>(size.QuadPart);
  return 0;
}

void plat_close(plat_file file) { fclose(reinterpret_cast<FILE *>(file.handle)); }

bool plat_is_directory(const char *path) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  if (wide_path(path, name) != 0) return false;
  const DWORD attributes = GetFileAttributesW(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

plat_path_kind plat_path_kind_of(const char *path) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  if (wide_path(path, name) != 0) return PLAT_PATH_MISSING;
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PLAT_PATH_MISSING;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PLAT_PATH_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PLAT_PATH_OTHER;
  return PLAT_PATH_FILE;
}
