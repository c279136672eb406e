// Chooses AVX2 where the processor and the system support it, SSE2 elsewhere.
#include "grep_core/simd/x86_64/x86.h"

#include <cpuid.h>

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

qg_sha256_blocks_fn qg_sha256_blocks_select(void) {
  // SHA is bit 29 of EBX in leaf 7; its code also needs SSSE3 and SSE4.1
  // (bits 9 and 19 of ECX in leaf 1).
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0 || (ebx & (1u << 29)) == 0) {
    return nullptr;
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & (1u << 9)) == 0 ||
      (ecx & (1u << 19)) == 0) {
    return nullptr;
  }
  return qg_sha256_blocks_shani;
}
