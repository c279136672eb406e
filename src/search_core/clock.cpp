#include "search_core/clock.h"

#include "platform/platform.h"

#include <mutex>

namespace {

// The counter's frequency, read by the first reading in the process and kept
// for its life; call_once publishes it to every thread that reads it later.
int64_t freq;
std::once_flag initialized;

}  // namespace

int64_t search_clock_ms(void) {
  std::call_once(initialized, [] { freq = plat_counter_frequency(); });
  int64_t counts = plat_counter();
  // counts * 1000 / freq, split so that no product overflows: a nanosecond
  // counter times 1000 would leave 64 bits after about 106 days of uptime.
  return counts / freq * 1000 + counts % freq * 1000 / freq;
}
