#include "support/test_os.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qg_test {

bool make_fifo(const std::string &path) { return mkfifo(path.c_str(), 0644) == 0; }

bool make_dir_link(const std::string &target, const std::string &link) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

void run_on_stack(size_t bytes, void (*fn)(void *), void *arg) {
  struct call {
    void (*fn)(void *);
    void *arg;
  } c{fn, arg};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  auto body = [](void *p) -> void * {
    auto *x = static_cast<call *>(p);
    x->fn(x->arg);
    return nullptr;
  };
  if (pthread_create(&thread, &attr, body, &c) == 0) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

int os_read(plat_file file, void *buf, size_t n, size_t *got) {
  ssize_t r = read(static_cast<int>(file.handle), buf, n);
  if (r < 0) {
    *got = 0;
    return errno;
  }
  *got = static_cast<size_t>(r);
  return 0;
}

bool set_read_only(const std::string &path, bool read_only) {
  return chmod(path.c_str(), read_only ? 0444 : 0644) == 0;
}

bool names_are_bytes() { return true; }

bool read_only_is_enforced() { return geteuid() != 0; }

namespace {

// The kibibytes after `field` ("VmHWM:", "VmRSS:") in /proc/self/status; 0
// where there is no such file.
size_t status_kib(const char *field) {
  FILE *f = fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  size_t kib = 0;
  const size_t n = strlen(field);
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, field, n) == 0) kib = strtoull(line + n, nullptr, 10);
  }
  fclose(f);
  return kib;
}

}  // namespace

bool peak_memory_reset() {
  // "5" starts the peak afresh at the present resident size (Linux).
  FILE *f = fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  const bool ok = fputs("5", f) >= 0;
  return fclose(f) == 0 && ok && status_kib("VmHWM:") > 0;
}

size_t peak_resident_bytes() { return status_kib("VmHWM:") << 10; }

size_t resident_bytes() { return status_kib("VmRSS:") << 10; }

}  // namespace qg_test
