// An open-addressing map from 64-bit keys to 32-bit values on malloc, for
// the pattern compilers. QG_KEY_MAP_NONE is never a value: find returns it
// for a missing key. insert fails (false) when out of memory; a key inserted
// twice is held twice (find gives one). Owned by one thread.
#ifndef QG_KEY_MAP_H
#define QG_KEY_MAP_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define QG_KEY_MAP_NONE UINT32_MAX

struct key_map {
  uint64_t *keys = nullptr;
  uint32_t *values = nullptr;
  size_t capacity = 0;  // a power of two, or 0
  size_t count = 0;

  key_map() = default;
  key_map(const key_map &) = delete;
  key_map &operator=(const key_map &) = delete;
  ~key_map() {
    free(keys);
    free(values);
  }

  static size_t hash(uint64_t key) {
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDull;
    key ^= key >> 33;
    return static_cast<size_t>(key);
  }

  // The value of `key`, or QG_KEY_MAP_NONE.
  uint32_t find(uint64_t key) const {
    if (capacity == 0) return QG_KEY_MAP_NONE;
    for (size_t i = hash(key) & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
      if (values[i] == QG_KEY_MAP_NONE) return QG_KEY_MAP_NONE;
      if (keys[i] == key) return values[i];
    }
  }

  bool insert(uint64_t key, uint32_t value) {
    if ((count + 1) * 2 > capacity && !grow()) return false;
    size_t i = hash(key) & (capacity - 1);
    while (values[i] != QG_KEY_MAP_NONE) i = (i + 1) & (capacity - 1);
    keys[i] = key;
    values[i] = value;
    ++count;
    return true;
  }

  bool grow() {
    const size_t grown = capacity == 0 ? 256 : capacity * 2;
    auto *new_keys = static_cast<uint64_t *>(malloc(grown * sizeof(uint64_t)));
    auto *new_values = static_cast<uint32_t *>(malloc(grown * sizeof(uint32_t)));
    if (new_keys == nullptr || new_values == nullptr) {
      free(new_keys);
      free(new_values);
      return false;
    }
    memset(new_values, 0xFF, grown * sizeof(uint32_t));
    for (size_t i = 0; i < capacity; ++i) {
      if (values[i] == QG_KEY_MAP_NONE) continue;
      size_t j = hash(keys[i]) & (grown - 1);
      while (new_values[j] != QG_KEY_MAP_NONE) j = (j + 1) & (grown - 1);
      new_keys[j] = keys[i];
      new_values[j] = values[i];
    }
    free(keys);
    free(values);
    keys = new_keys;
    values = new_values;
    capacity = grown;
    return true;
  }
};

#endif  // QG_KEY_MAP_H
