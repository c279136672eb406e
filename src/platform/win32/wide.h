// UTF-8 paths as Windows names, Windows errors as errno values, and a
// file's identity, size and time as a handle tells them: what the win32
// platform files share. Internal to src/platform/win32/.
#ifndef QG_PLATFORM_WIN32_WIDE_H
#define QG_PLATFORM_WIN32_WIDE_H

#include "platform/platform.h"

#include <windows.h>

#include <stddef.h>

// Room for a converted path, terminator and long-path prefix included: the
// 4096 units a path may take, and the \\?\UNC\ that a long one gets.
#define QG_WIDE_PATH_UNITS 4112

// Converts the UTF-8 `path` into the UTF-16 name it is opened by, in `out`
// (QG_WIDE_PATH_UNITS units). A name of 260 units or more is made absolute
// and given the \\?\ form, which lifts the classic length limit. Returns 0,
// or EINVAL for a null path, EILSEQ for bytes that are not UTF-8, and
// ENAMETOOLONG for a name of 4096 units or more, or with a part of more than
// 255 units: nothing is ever opened under a cut or guessed name.
int wide_path(const char *path, wchar_t *out);

// The UTF-8 form of the NUL-terminated `name` in `out` (`cap` bytes); false
// for a name with a lone surrogate (no UTF-8 form), and
// when it does not fit.
bool narrow_name(const wchar_t *name, char *out, size_t cap);

// The errno value that describes a Windows error code.
int errno_from_win32(DWORD error);

// The identity, size and last write time of the file `info` describes: the
// one reading of them, so that what an edit read and what it checks before
// writing always compare alike.
plat_file_meta meta_of_info(const BY_HANDLE_FILE_INFORMATION &info);

#endif  // QG_PLATFORM_WIN32_WIDE_H
