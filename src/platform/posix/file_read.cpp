// plat_read alone: kept in a file of its own so that a program linking the
// static library may put its own plat_read in its place (a test makes reads
// fail that way, which no real file does on demand).
#include "platform/platform.h"

#include <errno.h>
#include <limits.h>
#include <unistd.h>

int plat_read(plat_file file, void *buf, size_t n, size_t *got) {
  // One read() moves at most SSIZE_MAX bytes; Linux moves at most about 2 GiB.
  const size_t chunk = n < static_cast<size_t>(SSIZE_MAX) ? n : static_cast<size_t>(SSIZE_MAX);
  for (;;) {
    ssize_t r = read(static_cast<int>(file.handle), buf, chunk);
    if (r >= 0) {
      *got = static_cast<size_t>(r);
      return 0;
    }
    if (errno != EINTR) {
      *got = 0;
      return errno;
    }
  }
}
