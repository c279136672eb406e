// Chooses AVX2 where the processor and the system support it, SSE2 elsewhere.
#include "grep_core/simd/x86_64/x86.h"

qg_simd_ops qg_simd_select(void) {
  // The builtin reads CPUID once and checks that the system saves the
  // 256-bit registers (XGETBV), so AVX2 code is safe to run when it says so.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    return qg_simd_ops{qg_find_avx2, qg_count_breaks_avx2, qg_find_set_avx2, "avx2"};
  return qg_simd_ops{qg_find_sse2, qg_count_breaks_sse2, nullptr, "sse2"};
}

size_t qg_simd_all(qg_simd_ops *out, size_t max) {
  size_t n = 0;
  if (n < max) out[n++] = qg_simd_ops{qg_find_sse2, qg_count_breaks_sse2, nullptr, "sse2"};
  __builtin_cpu_init();
  if (n < max && __builtin_cpu_supports("avx2")) {
    out[n++] = qg_simd_ops{qg_find_avx2, qg_count_breaks_avx2, qg_find_set_avx2, "avx2"};
  }
  return n;
}
