#include "platform/win32/wide.h"

#include <errno.h>
#include <string.h>

namespace {

// Names this long or longer need the \\?\ form on systems without the
// process-wide long-path setting.
constexpr size_t kClassicLimit = 260;
constexpr size_t kMaxUnits = 4096;
// The longest name of one file or folder the file systems take.
constexpr size_t kMaxComponentUnits = 255;

bool starts_with(const wchar_t *s, const wchar_t *prefix) {
  return wcsncmp(s, prefix, wcslen(prefix)) == 0;
}

// True when some part of `path` between separators is longer than a file
// system takes: such a name is refused as too long, as POSIX refuses it,
// rather than looked up and reported missing.
bool has_overlong_component(const wchar_t *path) {
  size_t run = 0;
  for (const wchar_t *p = path; *p != L'\0'; ++p) {
    run = (*p == L'\\' || *p == L'/') ? 0 : run + 1;
    if (run > kMaxComponentUnits) return true;
  }
  return false;
}

}  // namespace

int wide_path(const char *path, wchar_t *out) {
  if (path == nullptr) return EINVAL;
  wchar_t plain[kMaxUnits];
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (units <= 0) return GetLastError() == ERROR_NO_UNICODE_TRANSLATION ? EILSEQ : EINVAL;
  if (static_cast<size_t>(units) > kMaxUnits) return ENAMETOOLONG;
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, plain, units);
  if (has_overlong_component(plain)) return ENAMETOOLONG;
  const size_t len = static_cast<size_t>(units) - 1;
  if (len < kClassicLimit || starts_with(plain, L"\\\\?\\")) {
    memcpy(out, plain, static_cast<size_t>(units) * sizeof(wchar_t));
    return 0;
  }
  // The \\?\ form takes an absolute name with backslashes and no "." or
  // "..": the full name gives exactly that.
  wchar_t full[kMaxUnits];
  const DWORD full_len = GetFullPathNameW(plain, kMaxUnits, full, nullptr);
  if (full_len == 0) return errno_from_win32(GetLastError());
  if (full_len >= kMaxUnits) return ENAMETOOLONG;
  const bool unc = starts_with(full, L"\\\\");
  const wchar_t *prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
  const wchar_t *rest = unc ? full + 2 : full;
  const size_t prefix_len = wcslen(prefix);
  const size_t rest_len = wcslen(rest);
  if (prefix_len + rest_len + 1 > QG_WIDE_PATH_UNITS) return ENAMETOOLONG;
  memcpy(out, prefix, prefix_len * sizeof(wchar_t));
  memcpy(out + prefix_len, rest, (rest_len + 1) * sizeof(wchar_t));
  return 0;
}

bool narrow_name(const wchar_t *name, char *out, size_t cap) {
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, -1, out,
                                        static_cast<int>(cap), nullptr, nullptr);
  return bytes > 0;
}

int errno_from_win32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

plat_file_meta meta_of_info(const BY_HANDLE_FILE_INFORMATION &info) {
  const uint64_t ticks = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                         info.ftLastWriteTime.dwLowDateTime;
  return {{info.dwVolumeSerialNumber,
           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow},
          (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
          static_cast<int64_t>(ticks) * 100};
}
