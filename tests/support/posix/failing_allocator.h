// An allocator that fails on purpose: the test program that includes this
// header (one source file of it, once) replaces malloc, calloc, realloc and
// free by symbol interposition, so that the Nth allocation after arming
// fails, and counts the blocks still live. Safe from several threads: the
// counters are atomic, so a search's helper threads can be made to fail too.
// AddressSanitizer's allocator cannot be replaced; a program that includes
// this under it defines QG_TEST_UNDER_ASAN and skips.
#ifndef QG_TEST_FAILING_ALLOCATOR_H
#define QG_TEST_FAILING_ALLOCATOR_H

#include <errno.h>
#include <stddef.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QG_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QG_TEST_UNDER_ASAN 1
#endif
#endif

#ifndef QG_TEST_UNDER_ASAN

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace qg_test {

// The allocator's state; its counters move only while `armed`.
struct failing_allocator {
  std::atomic<bool> armed{false};
  std::atomic<long> calls{0};     // allocation calls since arming
  std::atomic<long> fail_at{-1};  // the call that fails
  std::atomic<bool> injected{false};
  std::atomic<long> live{0};  // blocks allocated minus blocks freed since arming

  // Arms the allocator to fail its `n`th allocation from now.
  void arm(long n) {
    calls = 0;
    fail_at = n;
    injected = false;
    live = 0;
    armed = true;
  }
  void disarm() { armed = false; }
};

inline failing_allocator g_alloc;

// True when this call is the one to fail; it then sets errno as a real
// allocator does.
inline bool fail_this_call() {
  if (!g_alloc.armed.load()) return false;
  if (g_alloc.calls.fetch_add(1) != g_alloc.fail_at.load()) return false;
  g_alloc.injected = true;
  errno = ENOMEM;
  return true;
}

inline void count_block(long delta) {
  if (g_alloc.armed.load()) g_alloc.live += delta;
}

}  // namespace qg_test

extern "C" {

void *malloc(size_t size) {
  if (qg_test::fail_this_call()) return nullptr;
  void *p = __libc_malloc(size);
  if (p != nullptr) qg_test::count_block(1);
  return p;
}

void *calloc(size_t count, size_t size) {
  if (qg_test::fail_this_call()) return nullptr;
  void *p = __libc_calloc(count, size);
  if (p != nullptr) qg_test::count_block(1);
  return p;
}

void *realloc(void *block, size_t size) {
  if (qg_test::fail_this_call()) return nullptr;
  void *p = __libc_realloc(block, size);
  if (block == nullptr && p != nullptr) qg_test::count_block(1);
  if (block != nullptr && size == 0 && p == nullptr) qg_test::count_block(-1);
  return p;
}

void free(void *block) {
  if (block != nullptr) qg_test::count_block(-1);
  __libc_free(block);
}

}  // extern "C"

#endif  // QG_TEST_UNDER_ASAN

#endif  // QG_TEST_FAILING_ALLOCATOR_H
