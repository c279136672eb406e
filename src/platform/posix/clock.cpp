#include "platform/platform.h"

#include <time.h>

int64_t plat_counter(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t plat_counter_frequency(void) { return 1000000000; }
