#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>

namespace {

// Huge pages are 2 MiB where the system offers them; a block is asked to
// use them from twice that size on, where the rounding wastes at most a third.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeThreshold = 2 * kHugePage;

}  // namespace

void *plat_alloc_large(size_t n) {
  if (n < kHugeThreshold || n > SIZE_MAX - kHugePage) return malloc(n);
  // Aligned to the huge page and a whole number of them, so that every page
  // of the block can be one; free() releases it like any other block.
  const size_t rounded = (n + kHugePage - 1) & ~(kHugePage - 1);
  void *block = aligned_alloc(kHugePage, rounded);
  if (block == nullptr) return malloc(n);
#ifdef MADV_HUGEPAGE
  // Advice only: where it is refused the block works with ordinary pages.
  (void)madvise(block, rounded, MADV_HUGEPAGE);
#endif
  return block;
}
