// Replacing a file's contents on Windows so that a failure never leaves it
// half written, in the steps the interface shares with POSIX: the new
// contents go to a temporary file beside it (stage), are flushed (flush), and
// take the old file's place with ReplaceFileW or, for a new file, MoveFileExW
// (commit).
#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
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

// The meta of the file behind `h`; false with the Windows error set when it
// cannot be read.
bool meta_of(HANDLE h, plat_file_meta *out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  *out = meta_of_info(info);
  return true;
}

bool same_meta(const plat_file_meta &a, const plat_file_meta &b) {
  return a.id.volume == b.id.volume && a.id.index == b.id.index && a.size == b.size &&
         a.mtime_ns == b.mtime_ns;
}

// True when `name` still names the regular file `expected` describes.
bool still_the_file(const wchar_t *name, const plat_file_meta &expected) {
  const HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  plat_file_meta now;
  const bool same =
      GetFileType(h) == FILE_TYPE_DISK && meta_of(h, &now) && same_meta(now, expected);
  CloseHandle(h);
  return same;
}

}  // namespace

struct plat_replacement {
  wchar_t target[QG_WIDE_PATH_UNITS];     // the file replaced, links resolved
  wchar_t temp[QG_WIDE_PATH_UNITS + 64];  // the new contents beside it ("" in place, or once moved)
  HANDLE h;                               // the temporary file until flushed
  bool has_original;                      // the target existed: commit checks it is unchanged
  plat_file_meta original;
  bool flushed;
  bool done;  // written in place, or moved
};

namespace {

plat_replacement *new_replacement() {
  auto *r = static_cast<plat_replacement *>(calloc(1, sizeof(plat_replacement)));
  if (r != nullptr) r->h = INVALID_HANDLE_VALUE;
  return r;
}

// Writes the pieces to a new temporary file beside r->target, left open for
// the flush.
plat_replace_result stage_temp(plat_replacement *r, const plat_bytes *pieces, size_t count) {
  r->h = create_temp_beside(r->target, r->temp);
  if (r->h == INVALID_HANDLE_VALUE) {
    r->temp[0] = L'\0';
    // For a new file this is the creation of the file itself.
    return failed_win32(r->has_original ? PLAT_REPLACE_CREATE_TEMP : PLAT_REPLACE_OPEN);
  }
  const int err = write_pieces(r->h, pieces, count);
  return err != 0 ? failed(PLAT_REPLACE_WRITE, err) : failed(PLAT_REPLACE_DONE, 0);
}

// Opens the existing file at `name` for writing and checks it against
// `expected`; on success r->original describes it and *out is the handle.
plat_replace_result open_existing(plat_replacement *r, const wchar_t *name,
                                  const plat_file_meta *expected, HANDLE *out) {
  *out = INVALID_HANDLE_VALUE;
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND;
    if (missing && expected == nullptr) return failed(PLAT_REPLACE_DONE, 0);
    return failed(PLAT_REPLACE_OPEN, missing ? PLAT_ECHANGED : errno_from_win32(error));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return failed(PLAT_REPLACE_OPEN, EISDIR);
  // A read-only file stays as it is, whatever its folder allows.
  if (attributes & FILE_ATTRIBUTE_READONLY) return failed(PLAT_REPLACE_OPEN, EACCES);
  // Opening for writing refuses exactly what an overwrite would refuse.
  const HANDLE h = CreateFileW(name, GENERIC_WRITE | GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed_win32(PLAT_REPLACE_OPEN);
  if (!meta_of(h, &r->original)) {
    const plat_replace_result result = failed_win32(PLAT_REPLACE_OPEN);
    CloseHandle(h);
    return result;
  }
  r->has_original = true;
  if (expected != nullptr &&
      (GetFileType(h) != FILE_TYPE_DISK || !same_meta(r->original, *expected))) {
    CloseHandle(h);
    return failed(PLAT_REPLACE_OPEN, PLAT_ECHANGED);
  }
  *out = h;
  return failed(PLAT_REPLACE_DONE, 0);
}

}  // namespace

plat_replace_result plat_replacement_stage(const char *path, const plat_bytes *pieces, size_t count,
                                           const plat_file_meta *expected, plat_replacement **out) {
  *out = nullptr;
  if (path == nullptr || (pieces == nullptr && count > 0)) return failed(PLAT_REPLACE_OPEN, EINVAL);
  plat_replacement *r = new_replacement();
  if (r == nullptr) return failed(PLAT_REPLACE_OPEN, ENOMEM);
  wchar_t name[QG_WIDE_PATH_UNITS];
  const int err = wide_path(path, name);
  HANDLE h = INVALID_HANDLE_VALUE;
  plat_replace_result result =
      err != 0 ? failed(PLAT_REPLACE_OPEN, err) : open_existing(r, name, expected, &h);
  wcscpy(r->target, name);
  if (result.step == PLAT_REPLACE_DONE && h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK ||
        (GetFileInformationByHandle(h, &info) && info.nNumberOfLinks > 1)) {
      // Shared by several names, or not a file on a disk: written where it is.
      result = write_in_place(h, pieces, count);
      r->flushed = r->done = result.step == PLAT_REPLACE_DONE;
    } else {
      // A link is followed: the file it leads to is replaced and the link stays.
      wchar_t final_name[QG_WIDE_PATH_UNITS];
      const DWORD len =
          GetFinalPathNameByHandleW(h, final_name, QG_WIDE_PATH_UNITS, FILE_NAME_NORMALIZED);
      if (len > 0 && len < QG_WIDE_PATH_UNITS) wcscpy(r->target, final_name);
      CloseHandle(h);
    }
  }
  if (result.step == PLAT_REPLACE_DONE && !r->done) result = stage_temp(r, pieces, count);
  if (result.step != PLAT_REPLACE_DONE) {
    plat_replacement_free(r);
    return result;
  }
  *out = r;
  return result;
}

// Windows has no flush of a whole volume for an unprivileged process: each
// file is flushed on its own.
void plat_replacements_flush(plat_replacement *const *list, size_t count,
                             plat_replace_result *results) {
  for (size_t i = 0; i < count; ++i) {
    results[i] = failed(PLAT_REPLACE_DONE, 0);
    plat_replacement *r = list[i];
    if (r == nullptr || r->flushed) continue;
    r->flushed = true;
    if (!FlushFileBuffers(r->h)) results[i] = failed_win32(PLAT_REPLACE_SYNC);
    if (!CloseHandle(r->h) && results[i].step == PLAT_REPLACE_DONE) {
      results[i] = failed_win32(PLAT_REPLACE_CLOSE);
    }
    r->h = INVALID_HANDLE_VALUE;
  }
}

// ReplaceFileW keeps the old file's attributes, ACLs and named streams (its
// alternate data streams), and takes its place
// even while an edit holds it open (edits share deletion); a new file is
// moved into place, written through.
plat_replace_result plat_replacement_commit(plat_replacement *r) {
  if (r->done) return failed(PLAT_REPLACE_DONE, 0);
  if (r->has_original && !still_the_file(r->target, r->original)) {
    return failed(PLAT_REPLACE_RENAME, PLAT_ECHANGED);
  }
  const BOOL moved =
      r->has_original
          ? ReplaceFileW(r->target, r->temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr)
          : MoveFileExW(r->temp, r->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!moved) return failed_win32(PLAT_REPLACE_RENAME);
  r->temp[0] = L'\0';
  r->done = true;
  return failed(PLAT_REPLACE_DONE, 0);
}

// The file system journals the replacement itself; there is no directory
// to flush on Windows.
void plat_replacements_settle(plat_replacement *const *list, size_t count) {
  (void)list;
  (void)count;
}

void plat_replacement_free(plat_replacement *r) {
  if (r == nullptr) return;
  if (r->h != INVALID_HANDLE_VALUE) CloseHandle(r->h);
  if (r->temp[0] != L'\0') DeleteFileW(r->temp);
  free(r);
}
