// SHA-256 of a byte string, as lowercase hex: how an edit names the exact
// version of a file that a host has seen. The processor's SHA instructions
// where it has them (chosen once), portable rounds elsewhere. Pure
// computation; any thread.
#ifndef QG_SHA256_H
#define QG_SHA256_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Writes the 64 hex digits of the SHA-256 of the `len` bytes at `data` and
// a NUL to `out` (65 bytes).
void qg_sha256_hex(const void *data, size_t len, char out[65]);

// qg_sha256_hex on the portable rounds alone, never the processor's own
// instructions: for tests that hold the two against each other.
void qg_sha256_hex_portable(const void *data, size_t len, char out[65]);

#ifdef __cplusplus
}
#endif

#endif  // QG_SHA256_H
