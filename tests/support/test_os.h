// What tests need of the operating system beyond files and folders: one
// implementation per platform (posix/, win32/), chosen by the build. Where a
// platform lacks a thing, its helper says so by returning false and the test
// skips, naming why.
#ifndef QG_TEST_OS_H
#define QG_TEST_OS_H

#include "platform/platform.h"

#include <stddef.h>

#include <string>

namespace qg_test {

// A named pipe at `path`; false where a folder cannot hold one (Windows).
bool make_fifo(const std::string &path);

// A link at `link` to the directory `target` (a symbolic link; on Windows a
// directory symbolic link where allowed, else a junction); false when the
// system refuses or cannot make one.
bool make_dir_link(const std::string &target, const std::string &link);

// Runs fn(arg) on a new thread with a stack of `bytes`, and waits for it.
void run_on_stack(size_t bytes, void (*fn)(void *), void *arg);

// The platform's own read of an open file, for a test that puts its own
// plat_read in the library's place.
int os_read(plat_file file, void *buf, size_t n, size_t *got);

// True where a file name is any bytes (POSIX); false where names are UTF-16
// text (Windows), so a name that is not UTF-8 cannot exist.
bool names_are_bytes();

// Marks the file read-only (or writable again); and whether the system holds
// this process to it (not on POSIX for root, which may write any file).
bool set_read_only(const std::string &path, bool read_only);
bool read_only_is_enforced();

// Starts a measure of this process's peak resident memory from now; false
// where the system keeps no peak that can be started afresh (Windows).
bool peak_memory_reset();

// The process's resident bytes at their peak since peak_memory_reset, and
// now.
size_t peak_resident_bytes();
size_t resident_bytes();

}  // namespace qg_test

#endif  // QG_TEST_OS_H
