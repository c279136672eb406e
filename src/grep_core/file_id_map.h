// File identities (a volume and an index: device and inode, or volume and
// file index on Windows) mapped to 32-bit values, by open addressing on
// malloc: the one record of "this file was seen already" for the walk (each
// directory listed once) and the batch (each file edited once, whatever
// path names it). Insertions fail (no_memory, the map as it was) when
// memory runs out. Owned by one thread.
#ifndef QG_FILE_ID_MAP_H
#define QG_FILE_ID_MAP_H

#include "platform/platform.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

struct file_id_map {
  struct slot {
    plat_file_id id;
    int32_t value;
    bool used;
  };
  slot *slots = nullptr;
  size_t capacity = 0;  // a power of two, or 0
  size_t count = 0;

  file_id_map() = default;
  file_id_map(const file_id_map &) = delete;
  file_id_map &operator=(const file_id_map &) = delete;
  ~file_id_map() { free(slots); }

  static size_t hash(plat_file_id id) {
    uint64_t h = id.index * 0x9E3779B97F4A7C15ull ^ (id.volume + 0x632BE59BD9B4E019ull);
    h ^= h >> 29;
    return static_cast<size_t>(h * 0xBF58476D1CE4E5B9ull);
  }

  static bool same(plat_file_id a, plat_file_id b) {
    return a.volume == b.volume && a.index == b.index;
  }

  // The slot of `id`, or the free slot where it would go; capacity > 0.
  size_t place(plat_file_id id) const {
    size_t i = hash(id) & (capacity - 1);
    while (slots[i].used && !same(slots[i].id, id)) i = (i + 1) & (capacity - 1);
    return i;
  }

  // The value of `id`, or -1 when it is not in the map.
  int32_t find(plat_file_id id) const {
    if (capacity == 0) return -1;
    const slot &s = slots[place(id)];
    return s.used ? s.value : -1;
  }

  enum class added { yes, already, no_memory };

  // Adds `id` with `value`, unless it is there already (its value stays).
  added insert(plat_file_id id, int32_t value) {
    if ((count + 1) * 2 > capacity && !grow()) return added::no_memory;
    slot &s = slots[place(id)];
    if (s.used) return added::already;
    s = {id, value, true};
    ++count;
    return added::yes;
  }

  bool grow() {
    const size_t grown = capacity == 0 ? 64 : capacity * 2;
    auto *fresh = static_cast<slot *>(calloc(grown, sizeof(slot)));
    if (fresh == nullptr) return false;
    slot *old = slots;
    const size_t old_capacity = capacity;
    slots = fresh;
    capacity = grown;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old[i].used) slots[place(old[i].id)] = old[i];
    }
    free(old);
    return true;
  }
};

#endif  // QG_FILE_ID_MAP_H
