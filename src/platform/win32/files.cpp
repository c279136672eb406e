#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

char plat_path_separator(void) { return '\\'; }

const char *plat_error_text(int error) {
  if (error == PLAT_ENOTREG) return "Not a regular file";
  if (error == PLAT_ECHANGED) return "Changed since it was read";
  return strerror(error);
}

namespace {

// Times a path may be found replaced between its open and its lock before
// an edit gives up (another editor replacing it as fast as it can).
constexpr int kLockAttempts = 1000;

// Where an edit's lock lies: one byte far past the end of any file, since a
// lock on Windows is enforced on the bytes it covers and readers of the
// file must never be held up by it.
constexpr DWORD kLockOffsetHigh = 0x40000000;


// Opens the regular file at `path` for reading (sharing reading, writing and
// renaming with everyone, so that an edit can put a new file in its place)
// and reads what the handle knows of it; the refusals of plat_open_read.
// Returns the handle, or INVALID_HANDLE_VALUE with *error set.
HANDLE open_regular(const char *path, BY_HANDLE_FILE_INFORMATION *info, int *error) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  *error = wide_path(path, name);
  if (*error != 0) return INVALID_HANDLE_VALUE;
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = errno_from_win32(GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    *error = EISDIR;
    return INVALID_HANDLE_VALUE;
  }
  if (attributes & FILE_ATTRIBUTE_DEVICE) {
    *error = PLAT_ENOTREG;
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE h =
      CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = errno_from_win32(GetLastError());
    return h;
  }
  // Only a file on a disk is read: a named pipe or a console could block.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    *error = PLAT_ENOTREG;
  } else if (!GetFileInformationByHandle(h, info)) {
    *error = errno_from_win32(GetLastError());
  }
  if (*error != 0) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// Replacing a file that others hold open (as waiting editors do) moves it
// aside before the new file takes its name, so for a moment the path names
// nothing. Editors of one path therefore also take a mutex named after it
// (its absolute, upper-cased form, hashed), held from before the open until
// plat_close, so that none opens the path while another replaces the file.
// Returns the held mutex, or null when none can be made, and the edit then
// relies on the file's own lock alone.
HANDLE lock_path(const char *path) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  wchar_t full[QG_WIDE_PATH_UNITS];
  if (wide_path(path, name) != 0) return nullptr;
  const DWORD units = GetFullPathNameW(name, QG_WIDE_PATH_UNITS, full, nullptr);
  if (units == 0 || units >= QG_WIDE_PATH_UNITS) return nullptr;
  const int upper = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full,
                                  static_cast<int>(units), name, QG_WIDE_PATH_UNITS, nullptr,
                                  nullptr, 0);
  if (upper <= 0) return nullptr;
  uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a over the UTF-16 units
  for (int i = 0; i < upper; ++i) {
    hash = (hash ^ name[i]) * 0x100000001b3ull;
  }
  wchar_t mutex_name[64];
  _snwprintf(mutex_name, 64, L"Local\\quenmar-grep-edit-%016llx",
             static_cast<unsigned long long>(hash));
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name);
  if (mutex == nullptr) return nullptr;
  // An editor that died holding it leaves it abandoned, which still hands
  // it over.
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

void unlock_path(HANDLE mutex) {
  if (mutex == nullptr) return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace

int plat_open_read(const char *path, plat_file *out, uint64_t *out_size) {
  BY_HANDLE_FILE_INFORMATION info;
  int error = 0;
  const HANDLE h = open_regular(path, &info, &error);
  if (h == INVALID_HANDLE_VALUE) return error;
  *out = {reinterpret_cast<intptr_t>(h), 0};
  *out_size = meta_of_info(info).size;
  return 0;
}

void plat_close(plat_file file) {
  CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  unlock_path(reinterpret_cast<HANDLE>(file.guard));
}

int plat_path_identity(const char *path, plat_file_id *out) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  const int error = wide_path(path, name);
  if (error != 0) return error;
  const HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return errno_from_win32(GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  const DWORD last_error = GetLastError();
  CloseHandle(h);
  if (!ok) return errno_from_win32(last_error);
  *out = meta_of_info(info).id;
  return 0;
}

int plat_open_for_edit(const char *path, plat_file *out, plat_file_meta *out_meta) {
  const HANDLE path_lock = lock_path(path);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    BY_HANDLE_FILE_INFORMATION info;
    int error = 0;
    const HANDLE h = open_regular(path, &info, &error);
    if (h == INVALID_HANDLE_VALUE) {
      unlock_path(path_lock);
      return error;
    }
    // Locks belong to the handle: every edit, in this process or another,
    // opens its own and waits for the others.
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
      error = errno_from_win32(GetLastError());
      CloseHandle(h);
      unlock_path(path_lock);
      return error;
    }
    // Locked; but an editor that held the lock through another path may
    // have put a new file in this one's place: then that one is locked in
    // turn.
    plat_file_id now;
    if (GetFileInformationByHandle(h, &info) && plat_path_identity(path, &now) == 0) {
      const plat_file_meta locked = meta_of_info(info);
      if (now.volume == locked.id.volume && now.index == locked.id.index) {
        *out = {reinterpret_cast<intptr_t>(h), reinterpret_cast<intptr_t>(path_lock)};
        *out_meta = locked;
        return 0;
      }
    }
    CloseHandle(h);
  }
  unlock_path(path_lock);
  return EAGAIN;
}

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

int64_t plat_path_mtime_ns(const char *path) {
  wchar_t name[QG_WIDE_PATH_UNITS];
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (wide_path(path, name) != 0 || !GetFileAttributesExW(name, GetFileExInfoStandard, &data)) {
    return 0;
  }
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  return static_cast<int64_t>(ticks) * 100;
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
