// A directory's listing read whole and put in the order of the options'
// "sort": by name, bytewise, or by modification time (oldest first, ties by
// name), either reversed with "sort_reverse". A walk that lists each
// directory this way visits the same files in the same order however many
// threads scan them. Owned by the walk frame that reads it; one thread.
#ifndef QG_SORTED_LISTING_H
#define QG_SORTED_LISTING_H

#include "grep_core/options.h"
#include "platform/platform.h"

#include <stddef.h>

struct sorted_listing;

// Reads every entry of `dir` (whose path is `path`, `path_len` bytes, in a
// buffer with room for SEARCH_MAX_PATH_BYTES), in the order
// `opts` asks for. Null, with errno ENOMEM, when memory runs out.
sorted_listing *sorted_listing_read(plat_dir *dir, char *path, size_t path_len,
                                    const grep_opts *opts);

// The next entry into `out` (its name valid while the listing lives); false
// when none is left.
bool sorted_listing_next(sorted_listing *listing, plat_dir_entry *out);

// Null is accepted.
void sorted_listing_free(sorted_listing *listing);

#endif  // QG_SORTED_LISTING_H
