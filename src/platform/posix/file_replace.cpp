// Replacing a file's contents so that a failure never leaves it half written.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

// Longest path handled, terminator included; the same bound as opening files.
constexpr size_t kMaxPathBytes = 4096;
// Symbolic links followed before giving up with ELOOP (the kernel's own bound).
constexpr int kMaxLinkHops = 40;
// Names tried for the temporary file before giving up with the last EEXIST.
constexpr int kTempNameAttempts = 64;
// Bytes of the file's own name kept in the temporary name, so that it stays
// well inside the 255-byte limit of a name while still telling a person whose
// leftover it is after a crash.
constexpr size_t kTempNameBaseBytes = 64;
// Room for "/." + base + ".qgtmp-" + 16 hex digits on top of the directory.
constexpr size_t kTempPathBytes = kMaxPathBytes + kTempNameBaseBytes + 32;
// Pieces handed to one writev call: within every system's IOV_MAX (1024 on
// Linux, at least 16 by POSIX; 1024 is the common value).
constexpr int kPiecesPerWrite = IOV_MAX < 1024 ? IOV_MAX : 1024;

plat_replace_result failed(plat_replace_step step, int error) { return {step, error}; }

// Copies `src` into `dst` (of kMaxPathBytes); false when it does not fit.
bool copy_path(char *dst, const char *src) {
  size_t n = strnlen(src, kMaxPathBytes);
  if (n >= kMaxPathBytes) return false;
  memcpy(dst, src, n + 1);
  return true;
}

// Length of the directory part of `path`, its last '/' included; 0 when the
// path has no '/'.
size_t directory_length(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// Follows `path` through symbolic links into `out` (kMaxPathBytes): the name
// of the file that writing through `path` reaches. A missing final name is no
// failure: that is where a new file will be created. Returns 0 or an errno.
int resolve_links(const char *path, char *out) {
  if (!copy_path(out, path)) return ENAMETOOLONG;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(out, &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st.st_mode)) return 0;
    if (hops == kMaxLinkHops) return ELOOP;
    char link[kMaxPathBytes];
    ssize_t n = readlink(out, link, sizeof link);
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= sizeof link) return ENAMETOOLONG;
    link[n] = '\0';
    if (link[0] == '/') {
      memcpy(out, link, static_cast<size_t>(n) + 1);
      continue;
    }
    // A relative link counts from the directory that holds the link.
    size_t dir = directory_length(out);
    if (dir + static_cast<size_t>(n) >= kMaxPathBytes) return ENAMETOOLONG;
    memcpy(out + dir, link, static_cast<size_t>(n) + 1);
  }
}

// 64 bits that differ between calls, threads and processes: only to make a
// clash of temporary names unlikely, since O_EXCL guarantees they never mix.
uint64_t temp_name_salt() {
  static std::atomic<uint64_t> counter{0};
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t x = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 30) ^
               (static_cast<uint64_t>(getpid()) << 40) ^
               (counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 29);
}

// Creates a new file beside `target` (same directory, so that a rename can
// replace it) with `mode` less the umask, its name written to `temp`
// (kTempPathBytes). Returns the descriptor, or -1 with errno set.
int create_temp_beside(const char *target, char *temp, mode_t mode) {
  size_t dir = directory_length(target);
  const char *base = target + dir;
  int base_len = static_cast<int>(strnlen(base, kTempNameBaseBytes));
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    int n = snprintf(temp, kTempPathBytes, "%.*s.%.*s.qgtmp-%016llx", static_cast<int>(dir), target,
                     base_len, base, static_cast<unsigned long long>(temp_name_salt()));
    if (n < 0 || static_cast<size_t>(n) >= kTempPathBytes) {
      errno = ENAMETOOLONG;
      return -1;
    }
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the file behind `fd` the owner and permission bits of `original`. The
// owner is kept where the process may set it (root, or a group it belongs
// to); the permission bits always, after the owner, since a change of owner
// may clear the set-id bits. Returns 0 or an errno.
int copy_owner_and_mode(int fd, const struct stat &original) {
  if (fchown(fd, original.st_uid, original.st_gid) != 0) {
    (void)!fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  }
  return fchmod(fd, original.st_mode & 07777) == 0 ? 0 : errno;
}

// Writes every piece at the descriptor's position, riding out short writes
// and interruptions. Returns 0 or an errno.
int write_pieces(int fd, const plat_bytes *pieces, size_t count) {
  // As many pieces per call as the system takes, so that a text made of many
  // pieces costs few calls; a short write resumes inside the piece it cut.
  struct iovec batch[kPiecesPerWrite];
  size_t next = 0;     // first piece not yet handed to a call
  size_t skipped = 0;  // bytes of pieces[next] written already
  while (next < count) {
    int n = 0;
    for (size_t i = next; i < count && n < kPiecesPerWrite; ++i) {
      const size_t offset = i == next ? skipped : 0;
      if (pieces[i].len == offset) continue;
      batch[n].iov_base = const_cast<char *>(static_cast<const char *>(pieces[i].data)) + offset;
      batch[n].iov_len = pieces[i].len - offset;
      ++n;
    }
    if (n == 0) break;
    ssize_t written = writev(fd, batch, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    // Step over what was written: whole pieces, then part of the next.
    size_t left = static_cast<size_t>(written);
    while (next < count && left >= pieces[next].len - skipped) {
      left -= pieces[next].len - skipped;
      skipped = 0;
      ++next;
    }
    skipped += left;
  }
  return 0;
}

uint64_t total_length(const plat_bytes *pieces, size_t count) {
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].len;
  return total;
}

// Makes sure a rename into the directory of `target` survives a crash. Best
// effort: the new contents are already safe, and some file systems refuse to
// sync a directory.
void sync_directory_of(const char *target) {
  char dir[kMaxPathBytes];
  size_t len = directory_length(target);
  if (len == 0) {
    memcpy(dir, ".", 2);
  } else {
    memcpy(dir, target, len);
    dir[len] = '\0';
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

// Writes the pieces to a new file beside `target` and renames it over
// `target`. `original` is the stat of the file being replaced, or null when
// `target` does not exist yet. On failure the temporary file is removed and
// `target` is as it was.
plat_replace_result replace_by_rename(const char *target, const plat_bytes *pieces, size_t count,
                                      const struct stat *original) {
  char temp[kTempPathBytes];
  int fd = create_temp_beside(target, temp, original != nullptr ? 0600 : 0666);
  if (fd < 0) {
    // For a new file this is the creation of the file itself.
    return failed(original != nullptr ? PLAT_REPLACE_CREATE_TEMP : PLAT_REPLACE_OPEN, errno);
  }
  plat_replace_result result = {PLAT_REPLACE_DONE, 0};
  int err = original != nullptr ? copy_owner_and_mode(fd, *original) : 0;
  if (err != 0) {
    result = failed(PLAT_REPLACE_CREATE_TEMP, err);
  } else if ((err = write_pieces(fd, pieces, count)) != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  } else if (fsync(fd) != 0) {
    result = failed(PLAT_REPLACE_SYNC, errno);
  }
  // The descriptor is closed exactly once, whatever happened before.
  if (close(fd) != 0 && result.step == PLAT_REPLACE_DONE)
    result = failed(PLAT_REPLACE_CLOSE, errno);
  if (result.step == PLAT_REPLACE_DONE && rename(temp, target) != 0) {
    result = failed(PLAT_REPLACE_RENAME, errno);
  }
  if (result.step != PLAT_REPLACE_DONE) {
    unlink(temp);
    return result;
  }
  sync_directory_of(target);
  return result;
}

// Grows the regular file behind `fd` from `old_len` to `new_len` bytes with
// real blocks, so that a full disk, a quota or a size limit shows up before
// any old byte is overwritten. On failure the file keeps its old length.
// Returns 0 or an errno.
int reserve_room(int fd, uint64_t old_len, uint64_t new_len) {
  int err = posix_fallocate(fd, static_cast<off_t>(old_len), static_cast<off_t>(new_len - old_len));
  if (err == EOPNOTSUPP || err == EINVAL) {
    // No block reservation on this file system: at least claim the length.
    err = ftruncate(fd, static_cast<off_t>(new_len)) == 0 ? 0 : errno;
  }
  if (err != 0) (void)!ftruncate(fd, static_cast<off_t>(old_len));
  return err;
}

// Overwrites the file behind `fd` (described by `st`) with the pieces and
// closes `fd`. Used where replacing the file by another would break what
// shares it: hard links, devices, pipes.
plat_replace_result write_in_place(int fd, const struct stat &st, const plat_bytes *pieces,
                                   size_t count) {
  const bool regular = S_ISREG(st.st_mode);
  const uint64_t old_len = static_cast<uint64_t>(st.st_size);
  const uint64_t new_len = total_length(pieces, count);
  plat_replace_result result = {PLAT_REPLACE_DONE, 0};
  int err = 0;
  if (regular && new_len > old_len && (err = reserve_room(fd, old_len, new_len)) != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  } else if ((err = write_pieces(fd, pieces, count)) != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  } else if (regular && new_len < old_len && ftruncate(fd, static_cast<off_t>(new_len)) != 0) {
    result = failed(PLAT_REPLACE_WRITE, errno);
  } else if (fsync(fd) != 0 && regular) {
    // Devices and pipes may not support syncing; their data is gone already.
    result = failed(PLAT_REPLACE_SYNC, errno);
  }
  if (close(fd) != 0 && result.step == PLAT_REPLACE_DONE)
    result = failed(PLAT_REPLACE_CLOSE, errno);
  return result;
}

}  // namespace

plat_replace_result plat_replace_file_contents(const char *path, const plat_bytes *pieces,
                                               size_t count) {
  if (path == nullptr || (pieces == nullptr && count > 0)) return failed(PLAT_REPLACE_OPEN, EINVAL);
  char target[kMaxPathBytes];
  int err = resolve_links(path, target);
  if (err != 0) return failed(PLAT_REPLACE_OPEN, err);

  // Opening for writing refuses exactly what a plain overwrite would refuse
  // (no write permission, a directory, a read-only file system), even where
  // the directory would let a rename through.
  int fd = open(target, O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno != ENOENT) return failed(PLAT_REPLACE_OPEN, errno);
    return replace_by_rename(target, pieces, count, nullptr);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    err = errno;
    close(fd);
    return failed(PLAT_REPLACE_OPEN, err);
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return write_in_place(fd, st, pieces, count);
  close(fd);
  return replace_by_rename(target, pieces, count, &st);
}
