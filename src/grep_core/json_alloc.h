// An allocator for yyjson documents that can grow large (batch
// instructions): small blocks come from malloc, large ones from
// plat_alloc_large, which fills them at a fraction of the cost of ordinary
// pages where the system offers huge pages. Stateless; any thread.
#ifndef QG_JSON_ALLOC_H
#define QG_JSON_ALLOC_H

#include <yyjson.h>

#ifdef __cplusplus
extern "C" {
#endif

// The allocator; a static record that lives as long as the library.
const yyjson_alc *qg_json_large_alc(void);

#ifdef __cplusplus
}
#endif

#endif  // QG_JSON_ALLOC_H
