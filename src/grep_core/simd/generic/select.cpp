// Processors without a vector implementation here: the portable loops serve.
#include "grep_core/simd/simd.h"

qg_simd_ops qg_simd_select(void) { return qg_simd_ops{nullptr, nullptr, nullptr, "portable"}; }

size_t qg_simd_all(qg_simd_ops *, size_t) { return 0; }

qg_sha256_blocks_fn qg_sha256_blocks_select(void) { return nullptr; }
