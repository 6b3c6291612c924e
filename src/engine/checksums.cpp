#include "engine/checksums.h"

#include <zlib.h>

#include <cstring>

namespace talven {

namespace {

uint64_t hash64_table[256];
bool hash64_table_built = false;

void build_hash64_table() {
  for (uint64_t n = 0; n < 256; ++n) {
    uint64_t c = n;
    for (int k = 0; k < 8; ++k) {
      if (c & 1) c ^= 0x85E1C3D753D46D27ull;
      c >>= 1;
    }
    hash64_table[n] = c;
  }
  hash64_table_built = true;
}

}  // namespace

// zlib is linked for the package anyway, and its crc32 is this very checksum; its table
// is fixed at build time, so there is nothing to build under the resolver's lock.
uint32_t name_crc32(const char* text) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(text), static_cast<uInt>(std::strlen(text))));
}

uint64_t name_hash64(const char* text) {
  if (!hash64_table_built) build_hash64_table();
  uint64_t h = ~0ull;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    h = (h >> 8) ^ hash64_table[(h ^ *p) & 0xFF];
  return ~h;
}

uint32_t crc32_table_entry(unsigned n) { return static_cast<uint32_t>(get_crc_table()[n & 0xFF]); }

uint64_t hash64_table_entry(unsigned n) {
  if (!hash64_table_built) build_hash64_table();
  return hash64_table[n & 0xFF];
}

}  // namespace talven
