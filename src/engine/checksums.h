// The two checksums the mount indexes are keyed by, over the bytes of a normalised name up
// to its NUL.
#pragma once
#include <cstdint>

namespace talven {

// The standard CRC-32 (reflected 0xEDB88320, start and final complement): zlib's crc32.
uint32_t name_crc32(const char* text);
// A 64-bit table-driven checksum (reflected 0x85E1C3D753D46D27 table, start and final
// complement); its table is built on first use.
uint64_t name_hash64(const char* text);
uint32_t crc32_table_entry(unsigned n);  // n in 0..255
uint64_t hash64_table_entry(unsigned n);

}  // namespace talven
