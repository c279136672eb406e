// plat_read alone: kept in a file of its own so that a program linking the
// static library may put its own plat_read in its place (a test makes reads
// fail that way, which no real file does on demand).
#include "platform/platform.h"

#include "platform/win32/wide.h"

#include <errno.h>

int plat_read(plat_file file, void *buf, size_t n, size_t *got) {
  const HANDLE h = reinterpret_cast<HANDLE>(file.handle);
  // One call reads at most 1 GiB, well inside what a DWORD counts.
  const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
  DWORD read = 0;
  *got = 0;
  if (!ReadFile(h, buf, chunk, &read, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    return errno_from_win32(error);
  }
  *got = read;
  return 0;
}
