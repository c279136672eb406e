#include "platform/platform.h"

#include <pthread.h>
#include <stdlib.h>

struct plat_thread {
  pthread_t handle;
  void (*fn)(void *);
  void *arg;
};

struct plat_mutex {
  pthread_mutex_t handle;
};

struct plat_cond {
  pthread_cond_t handle;
};

static void *run_thread(void *self) {
  auto *t = static_cast<plat_thread *>(self);
  t->fn(t->arg);
  return nullptr;
}

plat_thread *plat_thread_start(void (*fn)(void *), void *arg) {
  auto *t = static_cast<plat_thread *>(malloc(sizeof(plat_thread)));
  if (t == nullptr) return nullptr;
  t->fn = fn;
  t->arg = arg;
  if (pthread_create(&t->handle, nullptr, run_thread, t) != 0) {
    free(t);
    return nullptr;
  }
  return t;
}

void plat_thread_join(plat_thread *thread) {
  if (thread == nullptr) return;
  pthread_join(thread->handle, nullptr);
  free(thread);
}

plat_mutex *plat_mutex_new(void) {
  auto *m = static_cast<plat_mutex *>(malloc(sizeof(plat_mutex)));
  if (m != nullptr && pthread_mutex_init(&m->handle, nullptr) != 0) {
    free(m);
    return nullptr;
  }
  return m;
}

void plat_mutex_free(plat_mutex *mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_destroy(&mutex->handle);
  free(mutex);
}

void plat_mutex_lock(plat_mutex *mutex) { pthread_mutex_lock(&mutex->handle); }
void plat_mutex_unlock(plat_mutex *mutex) { pthread_mutex_unlock(&mutex->handle); }

plat_cond *plat_cond_new(void) {
  auto *c = static_cast<plat_cond *>(malloc(sizeof(plat_cond)));
  if (c != nullptr && pthread_cond_init(&c->handle, nullptr) != 0) {
    free(c);
    return nullptr;
  }
  return c;
}

void plat_cond_free(plat_cond *cond) {
  if (cond == nullptr) return;
  pthread_cond_destroy(&cond->handle);
  free(cond);
}

void plat_cond_wait(plat_cond *cond, plat_mutex *mutex) {
  pthread_cond_wait(&cond->handle, &mutex->handle);
}

void plat_cond_broadcast(plat_cond *cond) { pthread_cond_broadcast(&cond->handle); }
