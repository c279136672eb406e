// Name globs: `*`, `?` and bracket classes over one whole name.
#ifndef QG_GLOB_H
#define QG_GLOB_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

// True when `glob` matches the whole `name` (both NUL-terminated, never null).
// Literal bytes compare without regard to ASCII case; classes compare exactly.
bool glob_match(const char *glob, const char *name);

// The part of `path` after its last '/' or '\\' (a view into `path`).
const char *basename_portable(const char *path);

#ifdef __cplusplus
}
#endif

#endif  // QG_GLOB_H
