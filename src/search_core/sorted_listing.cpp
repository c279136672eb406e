#include "search_core/sorted_listing.h"

#include "grep_core/grow_array.h"
#include "search_core/search.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <new>

namespace {

struct sorted_entry {
  uint32_t name_at;  // offset of the NUL-terminated name in the listing's names
  bool is_dir;
  bool is_regular;
  bool is_link;
  int64_t mtime_ns;
};

// The modification time of the entry `name` of the directory at `path`;
// 0 when it cannot be read or the joined path would not fit.
int64_t entry_mtime(char *path, size_t path_len, const char *name) {
  const size_t n = strlen(name);
  if (path_len + 1 + n >= SEARCH_MAX_PATH_BYTES) return 0;
  path[path_len] = plat_path_separator();
  memcpy(path + path_len + 1, name, n + 1);
  const int64_t t = plat_path_mtime_ns(path);
  path[path_len] = '\0';
  return t;
}

}  // namespace

struct sorted_listing {
  grow_array<sorted_entry> entries;
  grow_array<char> names;
  uint32_t next = 0;
};

sorted_listing *sorted_listing_read(plat_dir *dir, char *path, size_t path_len,
                                    const grep_opts *opts) {
  auto *listing = new (std::nothrow) sorted_listing();
  if (listing == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  const bool by_time = opts->sort == GREP_SORT_MODIFIED;
  plat_dir_entry entry;
  while (plat_dir_next(dir, &entry)) {
    const sorted_entry e = {listing->names.count, entry.is_dir, entry.is_regular, entry.is_link,
                            by_time ? entry_mtime(path, path_len, entry.name) : 0};
    const size_t n = strlen(entry.name) + 1;
    bool ok = listing->entries.push(e);
    for (size_t i = 0; ok && i < n; ++i) ok = listing->names.push(entry.name[i]);
    if (!ok) {
      sorted_listing_free(listing);
      errno = ENOMEM;
      return nullptr;
    }
  }
  const char *names = listing->names.items;
  const bool reverse = opts->sort_reverse;
  const auto before = [names, by_time, reverse](const sorted_entry &a, const sorted_entry &b) {
    const sorted_entry &x = reverse ? b : a;
    const sorted_entry &y = reverse ? a : b;
    if (by_time && x.mtime_ns != y.mtime_ns) return x.mtime_ns < y.mtime_ns;
    return strcmp(names + x.name_at, names + y.name_at) < 0;
  };
  std::sort(listing->entries.items, listing->entries.items + listing->entries.count, before);
  return listing;
}

bool sorted_listing_next(sorted_listing *listing, plat_dir_entry *out) {
  if (listing->next >= listing->entries.count) return false;
  const sorted_entry &e = listing->entries.items[listing->next++];
  out->name = listing->names.items + e.name_at;
  out->is_dir = e.is_dir;
  out->is_regular = e.is_regular;
  out->is_link = e.is_link;
  return true;
}

void sorted_listing_free(sorted_listing *listing) { delete listing; }
