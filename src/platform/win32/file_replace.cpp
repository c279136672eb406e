// Replacing a file's contents on Windows so that a failure never leaves it
// half written: the new contents go to a temporary file beside it, are
// flushed, and take the old file's place with ReplaceFileW (which keeps its
// attributes, ACLs and identity) or, for a new file, MoveFileExW.
#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <atomic>

namespace {

constexpr int kTempNameAttempts = 64;
// Units of the file's own name kept in the temporary name.
constexpr size_t kTempNameBase = 64;

plat_replace_result failed(plat_replace_step step, int error) { return {step, error}; }

plat_replace_result failed_win32(plat_replace_step step) {
  return failed(step, errno_from_win32(GetLastError()));
}

// Writes every piece through `h` at its position. Returns 0 or an errno.
int write_pieces(HANDLE h, const plat_bytes *pieces, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const char *p = static_cast<const char *>(pieces[i].data);
    size_t left = pieces[i].len;
    while (left > 0) {
      const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteFile(h, p, chunk, &written, nullptr)) return errno_from_win32(GetLastError());
      if (written == 0) return EIO;
      p += written;
      left -= written;
    }
  }
  return 0;
}

// The directory part of `name` (up to and including its last separator).
size_t directory_length(const wchar_t *name) {
  const wchar_t *slash = wcsrchr(name, L'\\');
  const wchar_t *other = wcsrchr(name, L'/');
  if (other != nullptr && (slash == nullptr || other > slash)) slash = other;
  return slash == nullptr ? 0 : static_cast<size_t>(slash - name) + 1;
}

// 64 bits that differ between calls, threads and processes, to make a clash
// of temporary names unlikely (CREATE_NEW guarantees they never mix).
uint64_t temp_salt() {
  static std::atomic<uint64_t> counter{0};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  uint64_t x = static_cast<uint64_t>(now.QuadPart) ^
               (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 29);
}

// Creates a new file beside `target`; its name goes to `temp`
// (QG_WIDE_PATH_UNITS + 64 units). INVALID_HANDLE_VALUE with the Windows
// error set on failure.
HANDLE create_temp_beside(const wchar_t *target, wchar_t *temp) {
  const size_t dir = directory_length(target);
  const wchar_t *base = target + dir;
  const int base_len = static_cast<int>(wcsnlen(base, kTempNameBase));
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const int n = _snwprintf(temp, QG_WIDE_PATH_UNITS + 64, L"%.*ls.%.*ls.qgtmp-%016llx",
                             static_cast<int>(dir), target, base_len, base,
                             static_cast<unsigned long long>(temp_salt()));
    if (n < 0) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE h =
        CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

// Writes the pieces to a new file beside `target` and puts it in the
// target's place (`exists`: the target is an existing file). On failure the
// temporary file is removed and the target is as it was.
plat_replace_result replace_by_new_file(const wchar_t *target, const plat_bytes *pieces,
                                        size_t count, bool exists) {
  wchar_t temp[QG_WIDE_PATH_UNITS + 64];
  HANDLE h = create_temp_beside(target, temp);
  if (h == INVALID_HANDLE_VALUE) {
    return failed_win32(exists ? PLAT_REPLACE_CREATE_TEMP : PLAT_REPLACE_OPEN);
  }
  plat_replace_result result = {PLAT_REPLACE_DONE, 0};
  int err = write_pieces(h, pieces, count);
  if (err != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  } else if (!FlushFileBuffers(h)) {
    result = failed_win32(PLAT_REPLACE_SYNC);
  }
  if (!CloseHandle(h) && result.step == PLAT_REPLACE_DONE) {
    result = failed_win32(PLAT_REPLACE_CLOSE);
  }
  if (result.step == PLAT_REPLACE_DONE) {
    const BOOL moved =
        exists
            ? ReplaceFileW(target, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved) result = failed_win32(PLAT_REPLACE_RENAME);
  }
  if (result.step != PLAT_REPLACE_DONE) DeleteFileW(temp);
  return result;
}

// Overwrites the file behind `h` (one of several names of the same file) with
// the pieces, so that every name keeps sharing it; room is claimed first, so
// a full disk fails before an old byte is overwritten. Closes `h`.
plat_replace_result write_in_place(HANDLE h, const plat_bytes *pieces, size_t count) {
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].len;
  plat_replace_result result = {PLAT_REPLACE_DONE, 0};
  LARGE_INTEGER size, zero, end;
  zero.QuadPart = 0;
  end.QuadPart = static_cast<LONGLONG>(total);
  int err = 0;
  if (!GetFileSizeEx(h, &size)) {
    result = failed_win32(PLAT_REPLACE_WRITE);
  } else if (end.QuadPart > size.QuadPart &&
             (!SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h))) {
    result = failed_win32(PLAT_REPLACE_WRITE);
  } else if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) {
    result = failed_win32(PLAT_REPLACE_WRITE);
  } else if ((err = write_pieces(h, pieces, count)) != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  } else if (!SetEndOfFile(h)) {
    result = failed_win32(PLAT_REPLACE_WRITE);
  } else if (!FlushFileBuffers(h)) {
    result = failed_win32(PLAT_REPLACE_SYNC);
  }
  if (!CloseHandle(h) && result.step == PLAT_REPLACE_DONE) {
    result = failed_win32(PLAT_REPLACE_CLOSE);
  }
  return result;
}

}  // namespace

plat_replace_result plat_replace_file_contents(const char *path, const plat_bytes *pieces,
                                               size_t count) {
  if (path == nullptr || (pieces == nullptr && count > 0)) return failed(PLAT_REPLACE_OPEN, EINVAL);
  wchar_t name[QG_WIDE_PATH_UNITS];
  int err = wide_path(path, name);
  if (err != 0) return failed(PLAT_REPLACE_OPEN, err);
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return failed(PLAT_REPLACE_OPEN, errno_from_win32(error));
    return replace_by_new_file(name, pieces, count, false);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return failed(PLAT_REPLACE_OPEN, EISDIR);
  // A read-only file stays as it is, whatever its folder allows.
  if (attributes & FILE_ATTRIBUTE_READONLY) return failed(PLAT_REPLACE_OPEN, EACCES);
  // Opening for writing refuses exactly what an overwrite would refuse.
  HANDLE h = CreateFileW(name, GENERIC_WRITE | GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed_win32(PLAT_REPLACE_OPEN);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    plat_replace_result r = failed_win32(PLAT_REPLACE_OPEN);
    CloseHandle(h);
    return r;
  }
  if (GetFileType(h) != FILE_TYPE_DISK || info.nNumberOfLinks > 1) {
    return write_in_place(h, pieces, count);
  }
  // A link is followed: the file it leads to is replaced and the link stays.
  wchar_t target[QG_WIDE_PATH_UNITS];
  const DWORD len = GetFinalPathNameByHandleW(h, target, QG_WIDE_PATH_UNITS, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  const wchar_t *final_name = (len > 0 && len < QG_WIDE_PATH_UNITS) ? target : name;
  return replace_by_new_file(final_name, pieces, count, true);
}
