// The archive index file (written by `talven-pack archive`, read by mount_archive_index).
// All numbers little-endian:
//   offset  0  4 bytes  magic "TVIX"
//   offset  4  u32      kind: 1 = CRC-32 index, 2 = hash64 index
//   offset  8  u32      entry count (at most 0x7FFFFFFF)
//   offset 12  u32      entry size: 12 for kind 1, 16 for kind 2
//   offset 16  entries, sorted ascending by key as unsigned numbers, one entry per key:
//     kind 1: key u32 (name_crc32), offset u32, size u32
//     kind 2: key u64 (name_hash64, low word first), offset u32, size u32
// The offset is the member's first byte counted from the start of the archive file; the
// size is the member's length, which the lookup does not read but a caller may.
// The archive itself is the members' bytes one after another, nothing else.
#pragma once
#include <cstddef>
#include <cstdint>

namespace talven {

constexpr size_t mount_index_header_size = 16;

struct mount_index_header {
  int32_t kind;         // mount_crc32_archive or mount_hash_archive
  int32_t entry_count;
  size_t entry_size;    // 12 or 16, as stored
};

// Checks an index image of `size` bytes: magic, kind, entry size, and a length of exactly
// the header and the entries it announces (so the count is bounded by the bytes there).
// 0, or -1 for a damaged image.
int check_mount_index(const unsigned char* file, size_t size, mount_index_header* out);
// Decodes the entries of a checked image into crc32_entry or hash_entry records
// (entry_count of them); the keys are not checked here.
void decode_mount_index(const unsigned char* file, const mount_index_header& header, void* entries);

// Reads an index file of the layout above and mounts archive_path with it. 0, or -1
// (nothing added) for a missing, short, damaged or unsorted index. Nothing is allocated
// before the file's length has been found to hold exactly the entries it announces.
int mount_archive_index(const char* archive_path, const char* index_path);
// Writes an index file of the layout above; the entries must already be sorted.
// 0, or -1 (on a write failure the file is removed).
int write_mount_index(const char* index_path, int32_t kind, const void* entries,
                      int32_t entry_count);

}  // namespace talven
