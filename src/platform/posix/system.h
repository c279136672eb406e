// The few calls in which POSIX systems differ, behind one contract: the
// rest of src/platform/posix builds on any POSIX system. Linux has its own
// implementation (platform/linux/system.cpp); every other system takes the
// portable one (platform/posix/system_portable.cpp). Internal to the
// platform layer; no state; any thread. Failures are errno values.
#ifndef QG_PLATFORM_POSIX_SYSTEM_H
#define QG_PLATFORM_POSIX_SYSTEM_H

#include "platform/platform.h"

#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

// The identity, size and modification time (to the nanosecond where the
// system keeps it) of the file `st` describes: the one reading of them, so
// that what an edit read and what it checks before writing always compare
// alike.
plat_file_meta posix_meta_of(const struct stat &st);

// True when one call flushes every file of a file system to the disk
// (posix_sync_file_system); elsewhere each file is flushed on its own.
bool posix_can_sync_file_system();

// Flushes every file of the file system that holds the file behind `fd`.
// 0 or an errno; ENOSYS where the system cannot.
int posix_sync_file_system(int fd);

// Gives the file behind `fd` real blocks for `len` bytes from `offset`, so
// that a full disk shows before a write. 0 or an errno; EOPNOTSUPP where the
// file system or the system reserves no blocks (the caller then only sets
// the length).
int posix_reserve_blocks(int fd, off_t offset, off_t len);

// The extended attributes of the file behind `fd`: the list of their names
// (each NUL-terminated) into `buf` (room for `size`; size 0 asks for the
// length), one's value, and setting one. As the system's calls: a length,
// or -1 with errno set (ENOTSUP where the system or file system has none).
ssize_t posix_list_attributes(int fd, char *buf, size_t size);
ssize_t posix_get_attribute(int fd, const char *name, void *buf, size_t size);
int posix_set_attribute(int fd, const char *name, const void *value, size_t len);

// True when `err` says that an extended attribute is not there (it was
// removed meanwhile).
bool posix_attribute_absent(int err);

#endif  // QG_PLATFORM_POSIX_SYSTEM_H
