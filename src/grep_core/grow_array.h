// A growable array of plain records on malloc, for the pattern compilers:
// push fails (false) when out of memory or past 2^32 - 1 items, and leaves
// the array as it was. Owned by one thread.
#ifndef QG_GROW_ARRAY_H
#define QG_GROW_ARRAY_H

#include <stdint.h>
#include <stdlib.h>

template <typename T>
struct grow_array {
  T *items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;

  grow_array() = default;
  grow_array(const grow_array &) = delete;
  grow_array &operator=(const grow_array &) = delete;
  ~grow_array() { free(items); }

  bool push(const T &item) {
    if (count == capacity) {
      if (capacity > (UINT32_MAX - 1) / 2) return false;
      const uint32_t grown = capacity == 0 ? 64 : capacity * 2;
      auto *block = static_cast<T *>(realloc(items, sizeof(T) * grown));
      if (block == nullptr) return false;
      items = block;
      capacity = grown;
    }
    items[count++] = item;
    return true;
  }

  T &back() { return items[count - 1]; }

  // Hands the block over; the array is empty afterwards.
  T *release() {
    T *block = items;
    items = nullptr;
    count = capacity = 0;
    return block;
  }
};

#endif  // QG_GROW_ARRAY_H
