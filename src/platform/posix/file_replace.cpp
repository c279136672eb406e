// Replacing a file's contents so that a failure never leaves it half written,
// in the steps that let a batch of files pay for durability once: stage,
// flush, commit, settle.
#include "platform/platform.h"
#include "platform/posix/system.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <sys/resource.h>
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

// Attempts at reading a list or value that another process may be growing
// meanwhile, before giving up with ERANGE.
constexpr int kAttributeReadAttempts = 8;

// The list of extended attribute names (for a null `name`) or the value of
// the attribute `name` of the file behind `fd`, in a new block the caller
// frees; its length goes to *len. Null with errno set on failure.
char *read_attribute(int fd, const char *name, size_t *len) {
  for (int attempt = 0; attempt < kAttributeReadAttempts; ++attempt) {
    const ssize_t size =
        name == nullptr ? posix_list_attributes(fd, nullptr, 0) : posix_get_attribute(fd, name, nullptr, 0);
    if (size < 0) return nullptr;
    auto *block = static_cast<char *>(malloc(static_cast<size_t>(size) + 1));
    if (block == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    const ssize_t got = name == nullptr
                            ? posix_list_attributes(fd, block, static_cast<size_t>(size))
                            : posix_get_attribute(fd, name, block, static_cast<size_t>(size));
    if (got >= 0) {
      *len = static_cast<size_t>(got);
      return block;
    }
    free(block);
    if (errno != ERANGE) return nullptr;
  }
  errno = ERANGE;
  return nullptr;
}

// True when the file behind `fd` holds `value` as its attribute `name`
// already (a security label the system gave a new file, say).
bool holds_attribute(int fd, const char *name, const char *value, size_t len) {
  size_t have = 0;
  char *now = read_attribute(fd, name, &have);
  const bool same = now != nullptr && have == len && memcmp(now, value, len) == 0;
  free(now);
  return same;
}

// Gives the file behind `to` every extended attribute of the file behind
// `from` (user attributes, and with them ACLs and security labels, which the
// system keeps as attributes). Returns 0, or the errno of the first one that
// cannot be read or set; a file system without attributes has none to copy.
int copy_attributes(int from, int to) {
  size_t list_len = 0;
  char *names = read_attribute(from, nullptr, &list_len);
  if (names == nullptr) return errno == ENOTSUP || errno == ENOSYS ? 0 : errno;
  int err = 0;
  for (size_t at = 0; at < list_len && err == 0; at += strlen(names + at) + 1) {
    const char *name = names + at;
    size_t len = 0;
    char *value = read_attribute(from, name, &len);
    if (value == nullptr) {
      err = posix_attribute_absent(errno) ? 0 : errno;  // removed meanwhile: nothing to keep
      continue;
    }
    if (posix_set_attribute(to, name, value, len) != 0 && !holds_attribute(to, name, value, len)) {
      err = errno != 0 ? errno : EPERM;
    }
    free(value);
  }
  free(names);
  return err;
}

// Gives the file behind `fd` the owner, extended attributes and permission
// bits of `original` (behind `original_fd`). The owner is kept where the
// process may set it (root, or a group it belongs to); the attributes after
// it, as the new owner may set them; the permission bits last, since a
// change of owner may clear the set-id bits. Returns 0 or the errno of the
// permission bits; *attributes_err is that of the attributes.
int copy_metadata(int fd, int original_fd, const struct stat &original, int *attributes_err) {
  if (fchown(fd, original.st_uid, original.st_gid) != 0) {
    (void)!fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  }
  *attributes_err = copy_attributes(original_fd, fd);
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

// True when `st` is still the regular file `expected` describes.
bool still_the_file(const struct stat &st, const plat_file_meta &expected) {
  const plat_file_meta now = posix_meta_of(st);
  return S_ISREG(st.st_mode) && now.id.volume == expected.id.volume &&
         now.id.index == expected.id.index && now.size == expected.size &&
         now.mtime_ns == expected.mtime_ns;
}

// Fails with EFBIG when `total` bytes pass the process's file size limit:
// writing past it would kill the process (SIGXFSZ) or stop a write half way.
int check_size_limit(uint64_t total) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return total > static_cast<uint64_t>(limit.rlim_cur) ? EFBIG : 0;
}

// Grows the regular file behind `fd` from `old_len` to `new_len` bytes with
// real blocks, so that a full disk or a quota shows up before any old byte is
// overwritten. On failure the file keeps its old length. Returns 0 or an
// errno.
int reserve_room(int fd, uint64_t old_len, uint64_t new_len) {
  int err = posix_reserve_blocks(fd, static_cast<off_t>(old_len),
                                 static_cast<off_t>(new_len - old_len));
  if (err == EOPNOTSUPP) {
    // No block reservation on this file system: at least claim the length.
    err = ftruncate(fd, static_cast<off_t>(new_len)) == 0 ? 0 : errno;
  }
  if (err != 0) (void)!ftruncate(fd, static_cast<off_t>(old_len));
  return err;
}

// Overwrites the file behind `fd` (described by `st`) with the pieces,
// flushes and closes `fd`. Used where replacing the file by another would
// break what shares it: hard links, devices, pipes.
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

// The directory part of `path` as a path of its own ("." for none), in
// `out` (kMaxPathBytes).
void directory_of(const char *path, char *out) {
  const size_t len = directory_length(path);
  if (len == 0) {
    memcpy(out, ".", 2);
  } else {
    memcpy(out, path, len);
    out[len] = '\0';
  }
}

}  // namespace

struct plat_replacement {
  char target[kMaxPathBytes];  // the file replaced, links resolved
  char temp[kTempPathBytes];   // the new contents beside it ("" in place, or once renamed)
  int fd;                      // the temporary file until flushed, else -1
  bool has_original;           // the target existed: commit checks it is unchanged
  struct stat original;
  bool flushed;
  bool done;     // written in place, or renamed
  bool renamed;  // done by a rename, which settle makes durable
  dev_t device;  // of the temporary file, which is the target's directory's
};

namespace {

bool renamed(const plat_replacement *r) { return r != nullptr && r->renamed; }

plat_replacement *new_replacement() {
  auto *r = static_cast<plat_replacement *>(calloc(1, sizeof(plat_replacement)));
  if (r != nullptr) r->fd = -1;
  return r;
}

// Writes the pieces to a new temporary file beside r->target (created with
// `mode` less the umask), then gives it the metadata of the original (open
// as `original_fd`) when there is one: after the write, which would clear a
// file's set-id bits and capabilities. The temporary file stays open for the
// flush. *attributes_kept is false when the original's extended attributes
// cannot all be given to it.
plat_replace_result stage_temp(plat_replacement *r, const plat_bytes *pieces, size_t count,
                               mode_t mode, int original_fd, bool *attributes_kept) {
  *attributes_kept = true;
  r->fd = create_temp_beside(r->target, r->temp, mode);
  if (r->fd < 0) {
    r->temp[0] = '\0';
    // For a new file this is the creation of the file itself.
    return failed(r->has_original ? PLAT_REPLACE_CREATE_TEMP : PLAT_REPLACE_OPEN, errno);
  }
  int err = write_pieces(r->fd, pieces, count);
  if (err != 0) return failed(PLAT_REPLACE_WRITE, err);
  int attributes_err = 0;
  if (r->has_original) err = copy_metadata(r->fd, original_fd, r->original, &attributes_err);
  if (err != 0) return failed(PLAT_REPLACE_CREATE_TEMP, err);
  *attributes_kept = attributes_err == 0;
  struct stat st;
  if (fstat(r->fd, &st) != 0) return failed(PLAT_REPLACE_WRITE, errno);
  r->device = st.st_dev;
  return failed(PLAT_REPLACE_DONE, 0);
}

// Drops the staged temporary file of `r`.
void drop_temp(plat_replacement *r) {
  if (r->fd >= 0) close(r->fd);
  r->fd = -1;
  if (r->temp[0] != '\0') unlink(r->temp);
  r->temp[0] = '\0';
}

// Flushes the file behind `fd`, or the whole file system it is on.
int flush_one(int fd, bool whole_file_system) {
  if (whole_file_system && posix_can_sync_file_system()) return posix_sync_file_system(fd);
  return fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

plat_replace_result plat_replacement_stage(const char *path, const plat_bytes *pieces,
                                           size_t count, const plat_file_meta *expected,
                                           plat_replacement **out) {
  *out = nullptr;
  if (path == nullptr || (pieces == nullptr && count > 0)) return failed(PLAT_REPLACE_OPEN, EINVAL);
  plat_replacement *r = new_replacement();
  if (r == nullptr) return failed(PLAT_REPLACE_OPEN, ENOMEM);
  plat_replace_result result = {PLAT_REPLACE_DONE, 0};
  int err = resolve_links(path, r->target);
  if (err != 0) result = failed(PLAT_REPLACE_OPEN, err);
  // Opening for writing refuses exactly what a plain overwrite would refuse
  // (no write permission, a directory, a read-only file system), even where
  // the directory would let a rename through; it never waits for a reader of
  // a named pipe.
  int fd = -1;
  if (result.step == PLAT_REPLACE_DONE) {
    fd = open(r->target, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && (errno != ENOENT || expected != nullptr)) {
      // A named pipe without a reader put where the file was, or the file gone.
      err = errno;
      const bool replaced = expected != nullptr && (err == ENXIO || err == ENOENT);
      result = failed(PLAT_REPLACE_OPEN, replaced ? PLAT_ECHANGED : err);
    }
  }
  if (result.step == PLAT_REPLACE_DONE && fd >= 0) {
    r->has_original = fstat(fd, &r->original) == 0;
    if (!r->has_original) {
      result = failed(PLAT_REPLACE_OPEN, errno);
    } else if (expected != nullptr && !still_the_file(r->original, *expected)) {
      result = failed(PLAT_REPLACE_OPEN, PLAT_ECHANGED);
    }
  }
  if (result.step == PLAT_REPLACE_DONE && (err = check_size_limit(total_length(pieces, count))) != 0) {
    result = failed(PLAT_REPLACE_WRITE, err);
  }
  bool in_place = fd >= 0 && (!S_ISREG(r->original.st_mode) || r->original.st_nlink > 1);
  if (result.step == PLAT_REPLACE_DONE && !in_place) {
    bool attributes_kept = true;
    result = stage_temp(r, pieces, count, r->has_original ? 0600 : 0666, fd, &attributes_kept);
    // A new file that cannot carry the old one's attributes would drop
    // them: the file is written where it is instead, and keeps them all.
    if (result.step == PLAT_REPLACE_DONE && !attributes_kept) {
      drop_temp(r);
      in_place = true;
    }
  }
  if (result.step == PLAT_REPLACE_DONE && in_place) {
    result = write_in_place(fd, r->original, pieces, count);
    fd = -1;
    r->flushed = r->done = result.step == PLAT_REPLACE_DONE;
  }
  if (fd >= 0) close(fd);
  if (result.step != PLAT_REPLACE_DONE) {
    plat_replacement_free(r);
    return result;
  }
  *out = r;
  return result;
}

void plat_replacements_flush(plat_replacement *const *list, size_t count,
                             plat_replace_result *results) {
  for (size_t i = 0; i < count; ++i) results[i] = failed(PLAT_REPLACE_DONE, 0);
  for (size_t i = 0; i < count; ++i) {
    plat_replacement *r = list[i];
    if (r == nullptr || r->flushed) continue;
    // The others waiting on the same file system are flushed with it.
    size_t sharing = 0;
    for (size_t j = i; j < count; ++j) {
      if (list[j] != nullptr && !list[j]->flushed && list[j]->device == r->device) ++sharing;
    }
    const int err = flush_one(r->fd, sharing >= 2);
    for (size_t j = i; j < count; ++j) {
      plat_replacement *o = list[j];
      if (o == nullptr || o->flushed || o->device != r->device || (sharing < 2 && o != r)) continue;
      o->flushed = true;
      if (err != 0) results[j] = failed(PLAT_REPLACE_SYNC, err);
      if (close(o->fd) != 0 && err == 0) results[j] = failed(PLAT_REPLACE_CLOSE, errno);
      o->fd = -1;
    }
  }
}

plat_replace_result plat_replacement_commit(plat_replacement *r) {
  if (r->done) return failed(PLAT_REPLACE_DONE, 0);
  if (r->has_original) {
    // Still the file the stage found: nobody changed it meanwhile.
    const plat_file_meta found = posix_meta_of(r->original);
    struct stat now;
    if (stat(r->target, &now) != 0 || !still_the_file(now, found)) {
      return failed(PLAT_REPLACE_RENAME, PLAT_ECHANGED);
    }
  }
  if (rename(r->temp, r->target) != 0) return failed(PLAT_REPLACE_RENAME, errno);
  r->temp[0] = '\0';
  r->done = r->renamed = true;
  return failed(PLAT_REPLACE_DONE, 0);
}

void plat_replacements_settle(plat_replacement *const *list, size_t count) {
  char dir[kMaxPathBytes];
  char other[kMaxPathBytes];
  for (size_t i = 0; i < count; ++i) {
    if (!renamed(list[i])) continue;
    // The first rename on its file system settles every one there: its
    // directory when it is the only one, else the whole file system at once.
    bool first = true;
    for (size_t j = 0; j < i && first; ++j) {
      first = !(renamed(list[j]) && list[j]->device == list[i]->device);
    }
    if (!first) continue;
    directory_of(list[i]->target, dir);
    bool one_directory = true;
    for (size_t j = i + 1; j < count && one_directory; ++j) {
      if (!renamed(list[j]) || list[j]->device != list[i]->device) continue;
      directory_of(list[j]->target, other);
      one_directory = strcmp(dir, other) == 0;
    }
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    (void)(one_directory || !posix_can_sync_file_system() ? fsync(fd) : posix_sync_file_system(fd));
    close(fd);
  }
}

void plat_replacement_free(plat_replacement *r) {
  if (r == nullptr) return;
  drop_temp(r);
  free(r);
}
