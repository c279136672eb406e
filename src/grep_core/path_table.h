// Values (0 or more) by a path's bytes, open addressing on malloc, so that
// looking paths up costs time linear in their number: which batch group
// holds a path, which "expect" entry names a walked file. Insertions fail
// (false, the table as it was) when memory runs out. Owned by one thread.
#ifndef QG_PATH_TABLE_H
#define QG_PATH_TABLE_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct path_table {
  struct slot {
    uint64_t hash;
    const char *key;
    size_t key_len;
    int32_t group;  // the value; -1: free
  };
  slot *slots = nullptr;
  size_t capacity = 0;
  size_t count = 0;

  path_table() = default;
  path_table(const path_table &) = delete;
  path_table &operator=(const path_table &) = delete;
  ~path_table() { free(slots); }

  static uint64_t hash_bytes(const char *p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
    return h ^ (h >> 29);
  }

  // The slot of the `n` bytes at `p` (with their `hash`), or the free one
  // where they would go; capacity > 0.
  size_t place(uint64_t hash, const char *p, size_t n) const {
    size_t j = hash & (capacity - 1);
    for (; slots[j].group >= 0; j = (j + 1) & (capacity - 1)) {
      const slot &s = slots[j];
      if (s.hash == hash && s.key_len == n && memcmp(s.key, p, n) == 0) break;
    }
    return j;
  }

  // The value of the path, or -1.
  int32_t find(const char *p, size_t n) const {
    return capacity == 0 ? -1 : slots[place(hash_bytes(p, n), p, n)].group;
  }

  bool grow() {
    const size_t grown = capacity == 0 ? 64 : capacity * 2;
    auto *fresh = static_cast<slot *>(malloc(grown * sizeof(slot)));
    if (fresh == nullptr) return false;
    for (size_t i = 0; i < grown; ++i) fresh[i].group = -1;
    slot *old = slots;
    const size_t old_capacity = capacity;
    slots = fresh;
    capacity = grown;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old[i].group >= 0) slots[place(old[i].hash, old[i].key, old[i].key_len)] = old[i];
    }
    free(old);
    return true;
  }

  // Records the path's value (0 or more), unless the path has one already.
  // The table keeps the pointer, not a copy: the path must outlive it.
  bool insert(const char *p, size_t n, int32_t group) {
    if ((count + 1) * 2 > capacity && !grow()) return false;
    const uint64_t hash = hash_bytes(p, n);
    slot &s = slots[place(hash, p, n)];
    if (s.group >= 0) return true;
    s = {hash, p, n, group};
    ++count;
    return true;
  }
};

#endif  // QG_PATH_TABLE_H
