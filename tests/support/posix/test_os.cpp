#include "support/test_os.h"

#include <errno.h>
#include <pthread.h>
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

}  // namespace qg_test
