#include "grep_core/json_alloc.h"

#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>

namespace {

void *large_malloc(void *, size_t size) { return plat_alloc_large(size); }

// Blocks of either kind are released with free(), so a block may move between
// them; a grown block is copied into a fresh large one rather than realloc'd,
// which would give it ordinary pages.
void *large_realloc(void *, void *block, size_t old_size, size_t size) {
  void *grown = plat_alloc_large(size);
  if (grown == nullptr) return nullptr;
  if (block != nullptr) {
    memcpy(grown, block, old_size < size ? old_size : size);
    free(block);
  }
  return grown;
}

void large_free(void *, void *block) { free(block); }

constexpr yyjson_alc kLargeAlc = {large_malloc, large_realloc, large_free, nullptr};

}  // namespace

const yyjson_alc *qg_json_large_alc(void) { return &kLargeAlc; }
