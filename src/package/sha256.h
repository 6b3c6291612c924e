// SHA-256 (FIPS 180-4), for the package digest a signed setup.exe carries. Streaming:
// init, any number of updates, final.
#pragma once
#include <cstddef>
#include <cstdint>

namespace talven {

constexpr size_t sha256_bytes = 32;

struct sha256_state {
  uint32_t h[8];
  uint64_t length;  // bytes so far
  unsigned char block[64];
  size_t used;
};

void sha256_init(sha256_state* s);
void sha256_update(sha256_state* s, const void* data, size_t size);
void sha256_final(sha256_state* s, unsigned char digest[sha256_bytes]);

}  // namespace talven
