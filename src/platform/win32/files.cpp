#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

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

char *plat_real_path(const char *path) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  const int error = wide_path(path, name);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  const HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = errno_from_win32(GetLastError());
    return nullptr;
  }
  wchar_t final_name[QG_WIDE_PATH_UNITS];
  const DWORD units = GetFinalPathNameByHandleW(h, final_name, QG_WIDE_PATH_UNITS, 0);
  const DWORD last_error = GetLastError();
  CloseHandle(h);
  if (units == 0 || units >= QG_WIDE_PATH_UNITS) {
    errno = units == 0 ? errno_from_win32(last_error) : ENAMETOOLONG;
    return nullptr;
  }
  // \\?\C:\x becomes C:\x, and \\?\UNC\server\share becomes \\server\share.
  const wchar_t *shown = final_name;
  wchar_t unc[QG_WIDE_PATH_UNITS];
  if (wcsncmp(shown, L"\\\\?\\UNC\\", 8) == 0) {
    unc[0] = L'\\';
    wcscpy(unc + 1, shown + 7);
    shown = unc;
  } else if (wcsncmp(shown, L"\\\\?\\", 4) == 0) {
    shown += 4;
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, shown, -1, nullptr, 0, nullptr, nullptr);
  char *out = bytes > 0 ? static_cast<char *>(malloc(static_cast<size_t>(bytes))) : nullptr;
  if (out == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  WideCharToMultiByte(CP_UTF8, 0, shown, -1, out, bytes, nullptr, nullptr);
  return out;
}
