// SHA-256's block function on the x86 SHA extensions, for crypto::Sha: the
// same chaining state as the portable code, about four times its rate.
// Stateless; any thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace crypto {

// Whether this CPU has the SHA extensions and SSE4.1 (asked with cpuid, once).
// Always false off x86.
bool haveSha256Ni();

// Compresses n whole 64-byte blocks into state (host-order words). Only
// where haveSha256Ni() is true.
void sha256BlocksNi(uint32_t state[8], const unsigned char* blocks, size_t n);

} // namespace crypto
