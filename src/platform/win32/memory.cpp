#include "platform/platform.h"

#include <stdlib.h>

// Large pages on Windows need a privilege few processes hold; an ordinary
// block serves.
void *plat_alloc_large(size_t n) { return malloc(n); }
