#include "platform/platform.h"

#include <windows.h>

#include <stdlib.h>

struct plat_thread {
  HANDLE handle;
  void (*fn)(void *);
  void *arg;
};

struct plat_mutex {
  SRWLOCK lock;
};

struct plat_cond {
  CONDITION_VARIABLE cond;
};

static DWORD WINAPI run_thread(LPVOID self) {
  auto *t = static_cast<plat_thread *>(self);
  t->fn(t->arg);
  return 0;
}

plat_thread *plat_thread_start(void (*fn)(void *), void *arg) {
  auto *t = static_cast<plat_thread *>(malloc(sizeof(plat_thread)));
  if (t == nullptr) return nullptr;
  t->fn = fn;
  t->arg = arg;
  t->handle = CreateThread(nullptr, 0, run_thread, t, 0, nullptr);
  if (t->handle == nullptr) {
    free(t);
    return nullptr;
  }
  return t;
}

void plat_thread_join(plat_thread *thread) {
  if (thread == nullptr) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  free(thread);
}

plat_mutex *plat_mutex_new(void) {
  auto *m = static_cast<plat_mutex *>(malloc(sizeof(plat_mutex)));
  if (m != nullptr) InitializeSRWLock(&m->lock);
  return m;
}

void plat_mutex_free(plat_mutex *mutex) { free(mutex); }
void plat_mutex_lock(plat_mutex *mutex) { AcquireSRWLockExclusive(&mutex->lock); }
void plat_mutex_unlock(plat_mutex *mutex) { ReleaseSRWLockExclusive(&mutex->lock); }

plat_cond *plat_cond_new(void) {
  auto *c = static_cast<plat_cond *>(malloc(sizeof(plat_cond)));
  if (c != nullptr) InitializeConditionVariable(&c->cond);
  return c;
}

void plat_cond_free(plat_cond *cond) { free(cond); }

void plat_cond_wait(plat_cond *cond, plat_mutex *mutex) {
  SleepConditionVariableSRW(&cond->cond, &mutex->lock, INFINITE, 0);
}

void plat_cond_broadcast(plat_cond *cond) { WakeAllConditionVariable(&cond->cond); }
