// Growable arrays of plain records on malloc: grow_array, whose push fails
// (false) when out of memory or past 2^32 - 1 items and leaves the array as
// it was; and grow_push, the same growth for an array kept as three fields of
// a record that other code reads as a pointer and a count. Owned by one
// thread.
#ifndef QG_GROW_ARRAY_H
#define QG_GROW_ARRAY_H

#include <stddef.h>
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

  // Makes room for `n` items in all; false (the array as it was) when out of
  // memory or past 2^32 - 1 items.
  bool reserve(size_t n) {
    if (n <= capacity) return true;
    if (n > UINT32_MAX) return false;
    auto *block = static_cast<T *>(realloc(items, sizeof(T) * n));
    if (block == nullptr) return false;
    items = block;
    capacity = static_cast<uint32_t>(n);
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

// Appends `item` to the array of `*count` items at `*items` (room for
// `*capacity`), doubling it when full; false, with the array unchanged, when
// out of memory or past INT32_MAX items.
template <typename T>
bool grow_push(T **items, int32_t *count, int32_t *capacity, const T &item) {
  if (*count == *capacity) {
    if (*capacity > INT32_MAX / 2) return false;
    const int32_t grown = *capacity == 0 ? 8 : *capacity * 2;
    auto *block = static_cast<T *>(realloc(*items, static_cast<size_t>(grown) * sizeof(T)));
    if (block == nullptr) return false;
    *items = block;
    *capacity = grown;
  }
  (*items)[(*count)++] = item;
  return true;
}

#endif  // QG_GROW_ARRAY_H
