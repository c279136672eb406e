// plat_read alone: kept in a file of its own so that a program linking the
// static library may put its own plat_read in its place (a test makes reads
// fail that way, which no real file does on demand).
#include "platform/platform.h"

#include <errno.h>
#include <stdio.h>

int plat_read(plat_file file, void *buf, size_t n, size_t *got) {
  FILE *f = reinterpret_cast<FILE *>(file.handle);
  *got = fread(buf, 1, n, f);
  if (*got == 0 && ferror(f)) return errno != 0 ? errno : EIO;
  return 0;
}
