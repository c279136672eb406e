// The operating-system services the core needs, behind one C interface.
//
// Core modules include only this header; each platform provides it in its own
// folder (posix/, win32/), what is built from its other calls alone sits in
// src/platform/ itself, and nothing outside src/platform/ tests for the
// platform. Paths are NUL-terminated UTF-8 everywhere: a platform that
// names files in another form converts them here. Every operation is safe to
// call from several threads at once; none keeps state between calls except
// where a handle says so. Failures set errno to a value whose strerror() text
// describes them.
#ifndef QG_PLATFORM_H
#define QG_PLATFORM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Files ----

// An open file, read with plat_read and closed with plat_close. One thread
// uses a handle at a time.
typedef struct plat_file {
  intptr_t handle;
  intptr_t guard;  // what else an edit holds until plat_close (Windows); 0 if nothing
} plat_file;

// The error code of a path that names something other than a regular file or
// a directory (a named pipe, a socket, a device). Outside the errno range;
// plat_error_text gives its text.
#define PLAT_ENOTREG 0x51470001

// The error code of a file that an edit finds changed between its read and
// its write (another identity, size or modification time, or no longer a
// regular file). Outside the errno range; plat_error_text gives its text.
#define PLAT_ECHANGED 0x51470002

// The text of an error code of this layer: strerror() of an errno value,
// "Not a regular file" for PLAT_ENOTREG and "Changed since it was read" for
// PLAT_ECHANGED. Static text; any thread.
const char *plat_error_text(int error);

// Opens the regular file at `path` for reading, in binary form, and writes its
// size in bytes. Returns 0, or an error code with nothing left open: EISDIR
// for a directory, PLAT_ENOTREG for anything else that is not a regular file
// (never opened in a way that could block, as a named pipe would),
// ENAMETOOLONG for a path that the platform cannot represent whole, so no file
// is ever opened under a cut name.
int plat_open_read(const char *path, plat_file *out, uint64_t *out_size);

// Reads up to `n` bytes into `buf` at the file's position, riding out
// interruptions; `*got` is 0 only at the end of the file. Returns 0, or the
// error code of a failed read (an input/output error, say), which is never
// taken for the end of the file.
int plat_read(plat_file file, void *buf, size_t n, size_t *got);

// Closes a file opened by plat_open_read or plat_open_for_edit (releasing
// the latter's lock).
void plat_close(plat_file file);

// Identity of a file system object: equal identities are the same file or
// directory, whatever path or link reached it.
typedef struct plat_file_id {
  uint64_t volume;
  uint64_t index;
} plat_file_id;

// What an edit remembers of the file it read, to find out whether it is
// still that file when it writes.
typedef struct plat_file_meta {
  plat_file_id id;
  uint64_t size;
  int64_t mtime_ns;  // last modification, in the system's own units scaled to ns
} plat_file_meta;

// The identity of what `path` names, links followed. Returns 0 or an errno.
int plat_path_identity(const char *path, plat_file_id *out);

// The last modification time of what `path` names, links followed, in the
// units of plat_file_meta's mtime_ns; 0 when it cannot be read.
int64_t plat_path_mtime_ns(const char *path);

// Opens the regular file at `path` for reading as plat_open_read does (the
// same refusals), for an edit: the file is locked for editing (an exclusive
// advisory lock that only other editors of this library take and wait for;
// readers and programs that take no lock are not held up), and only once
// `path` still names the locked file (a file replaced meanwhile is opened
// again). Writes its meta. The lock lasts until plat_close. Where replacing
// an open file leaves its path empty for a moment (Windows), editors of one
// path also hold a lock named after the path, so that none opens it while
// another puts its new file in place.
int plat_open_for_edit(const char *path, plat_file *out, plat_file_meta *out_meta);

// ---- Memory ----

// A block of `n` bytes that is about to be filled whole (a file's text, say),
// released with free() like any other block. Where the platform backs large
// blocks with huge pages when asked, it asks, since touching a large block
// page by page can cost more than filling it. Null when out of memory.
void *plat_alloc_large(size_t n);

// ---- Directories ----

// The separator the walk writes between a directory's path and an entry's
// name: '/' on POSIX, a backslash on Windows, where the root D:\src\ gives
// D:\src\\a.c and the root D:/src gives D:/src\a.c (the directory's path is
// used as the caller gave it).
char plat_path_separator(void);

// One directory entry. `name` is UTF-8 and valid until the next call of
// plat_dir_next or plat_dir_close on the same listing. `is_dir` and
// `is_regular` follow symbolic links (a link to a directory counts as a
// directory); an entry that is neither (a named pipe, a socket, a device, a
// dangling link) has both false. `is_link` tells that the entry itself is a
// link (a symbolic link, or a reparse point where the platform has them).
typedef struct plat_dir_entry {
  const char *name;
  bool is_dir;
  bool is_regular;
  bool is_link;
} plat_dir_entry;

typedef struct plat_dir plat_dir;

// Opens a listing of the directory at `path`; null, with errno saying why,
// when it cannot be listed.
// The caller closes it with plat_dir_close. One thread uses a listing at a time.
plat_dir *plat_dir_open(const char *path);

// Fetches the next entry into `out`, in the order the platform lists them
// (unsorted; "." and ".." may appear). False when none is left or listing fails.
bool plat_dir_next(plat_dir *dir, plat_dir_entry *out);

// The identity of the listed directory itself.
plat_file_id plat_dir_id(const plat_dir *dir);

// Ends a listing; null is accepted.
void plat_dir_close(plat_dir *dir);

// True when `path` names a directory (following links); false for anything
// else, a path that does not exist included.
bool plat_is_directory(const char *path);

// What a path names, following links.
typedef enum plat_path_kind {
  PLAT_PATH_MISSING = 0,  // nothing, or nothing that can be looked at
  PLAT_PATH_DIRECTORY,
  PLAT_PATH_FILE,   // a regular file
  PLAT_PATH_OTHER,  // a named pipe, a socket, a device
} plat_path_kind;

plat_path_kind plat_path_kind_of(const char *path);

// The absolute form of `path` with every link resolved and no "." or ".."
// left, in UTF-8 with the platform's separators (on Windows in the drive or
// server form, without the long-path prefix): a malloc'd text the caller
// frees. Null with errno set when the path does not exist or cannot be
// resolved.
char *plat_real_path(const char *path);

// ---- Threads ----
//
// For the opt-in parallel search only: nothing else in the library starts a
// thread or takes a lock. Every object is made with its _new/_start call and
// released with its _free/_join call; a failure to make one is reported by
// null (the caller then does the work on fewer threads).

typedef struct plat_thread plat_thread;
typedef struct plat_mutex plat_mutex;
typedef struct plat_cond plat_cond;

// Runs fn(arg) on a new thread; null when no thread can be started.
plat_thread *plat_thread_start(void (*fn)(void *), void *arg);

// Waits for the thread's function to return, then releases the thread.
void plat_thread_join(plat_thread *thread);

plat_mutex *plat_mutex_new(void);
void plat_mutex_free(plat_mutex *mutex);
void plat_mutex_lock(plat_mutex *mutex);
void plat_mutex_unlock(plat_mutex *mutex);

plat_cond *plat_cond_new(void);
void plat_cond_free(plat_cond *cond);
// Releases `mutex` (held by the caller) while waiting, and holds it again on
// return; may return without a signal, so callers wait in a loop.
void plat_cond_wait(plat_cond *cond, plat_mutex *mutex);
void plat_cond_broadcast(plat_cond *cond);

// ---- Clock ----

// A monotonic counter and its frequency in counts per second (never 0).
int64_t plat_counter(void);
int64_t plat_counter_frequency(void);

// ---- Replacing a file's contents ----

// One piece of a file's new contents; `data` may be null when `len` is 0.
typedef struct plat_bytes {
  const void *data;
  size_t len;
} plat_bytes;

// The step at which replacing a file's contents failed.
typedef enum plat_replace_step {
  PLAT_REPLACE_DONE = 0,     // nothing failed
  PLAT_REPLACE_OPEN,         // the file cannot be opened or created for writing
  PLAT_REPLACE_CREATE_TEMP,  // no temporary file can be set up beside it
  PLAT_REPLACE_WRITE,        // writing the contents, or reserving room for them
  PLAT_REPLACE_SYNC,         // flushing the contents to the disk
  PLAT_REPLACE_CLOSE,        // closing the written file
  PLAT_REPLACE_RENAME        // putting the new file in the old one's place
} plat_replace_step;

// What a replacement did: `step` is PLAT_REPLACE_DONE and `error` 0 on
// success; otherwise the failed step and the errno value (or PLAT_ECHANGED)
// it failed with.
typedef struct plat_replace_result {
  plat_replace_step step;
  int error;
} plat_replace_result;

// A replacement of one file's contents in three steps, so that a batch of
// files pays for durability once rather than per file: stage (the new
// contents written beside the file), flush (made durable, every staged file
// at once), commit (put in place), then settle (the renames made durable).
// A staged replacement belongs to one thread.
typedef struct plat_replacement plat_replacement;

// Stages the replacement of the file at `path` by the `count` pieces, one
// after another. A file that exists is replaced whole: the new contents go to
// a temporary file in its directory, which takes the file's permission bits,
// owner (where the process may set it), extended attributes, ACLs and
// security labels (where the platform keeps them with the file) and which
// commit renames over it, so a failure at any step leaves the old contents
// byte for byte and removes the temporary file. A symbolic link is followed:
// the file it points to is replaced and the link kept. A file with several
// hard links, one that is not a regular file, and one whose extended
// attributes the new file cannot take, is written in place here, at once,
// so that every name keeps sharing it and nothing of it is dropped (nothing
// is left for commit but to count it done). A
// missing file is created, with mode 0666 less the umask. Before a byte is
// written anywhere, the room is made sure of: the process's file size limit
// is checked and, in place, the space is reserved; a refused write leaves
// the file byte for byte and no temporary file. The file is opened for
// writing without blocking (a named pipe never holds a write up), and a file
// the process may not open for writing is refused, whatever its directory
// allows. With `expected`, the file must still be the regular file it
// describes (same identity, size and modification time), else PLAT_ECHANGED
// at PLAT_REPLACE_OPEN. On success *out is the staged replacement (free it
// with plat_replacement_free); on failure *out is null.
plat_replace_result plat_replacement_stage(const char *path, const plat_bytes *pieces,
                                           size_t count, const plat_file_meta *expected,
                                           plat_replacement **out);

// Flushes every staged replacement of `list` to the disk, with as few flushes
// as the platform allows (on Linux one per file system holding two or more
// of them). Writes each one's outcome to `results` (a failed flush fails
// every replacement it covered).
void plat_replacements_flush(plat_replacement *const *list, size_t count,
                             plat_replace_result *results);

// Puts a flushed replacement in place: the file must still be what its stage
// found (PLAT_ECHANGED otherwise, the file left as it is), then the
// temporary file is renamed over it.
plat_replace_result plat_replacement_commit(plat_replacement *r);

// Makes the renames of the committed replacements of `list` durable: each
// directory holding one is flushed once (on Linux, once per file system
// holding two or more such directories). Best effort: the contents are
// durable already, and some file systems refuse to flush a directory.
void plat_replacements_settle(plat_replacement *const *list, size_t count);

// Releases a replacement; an uncommitted temporary file is removed.
void plat_replacement_free(plat_replacement *r);

// Stage, flush, commit and settle for one file. A null `path` fails with
// EINVAL at PLAT_REPLACE_OPEN.
plat_replace_result plat_replace_file_contents(const char *path, const plat_bytes *pieces,
                                               size_t count, const plat_file_meta *expected);

#ifdef __cplusplus
}
#endif

#endif  // QG_PLATFORM_H
