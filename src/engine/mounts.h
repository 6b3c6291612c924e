// Mounted folder sets and archives: the resolver's lookup step that finds a bare name in
// sources other than loose files, plus the name rules and checksums those sources use.
//
// Index file (written by `talven-pack archive`, read by mount_archive_index), all
// numbers little-endian:
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
#include <cstdio>

namespace talven {

// Every path the resolver composes lives in an area of this many bytes, NUL included.
constexpr size_t engine_path_size = 260;

// An engine name split by the resolver's rules: an optional drive ("X:"), a folder part
// up to the last "\" or "/" (searched in CP932, so a second byte never counts), then the
// base name and the extension (from the last dot to the end, dot included; empty without
// a dot). Both pointers point into the name.
struct name_parts {
  const char* base;
  size_t base_length;
  const char* extension;
  size_t extension_length;
};
// 0, or -1 when base name and extension together exceed 259 bytes.
int split_engine_name(const char* name, name_parts* parts);

// Lower-cases a CP932 text in place: single-byte A..Z to a..z and the full-width Ａ..Ｚ
// (0x82 0x60..0x79) to ａ..ｚ (0x82 0x81..0x9A). That is all the Windows ANSI lower-case
// mapping changes for code page 932 names, and doing it here keeps the index keys the
// same on every platform that builds them.
char* lower_cp932(char* text);

// Base name + extension of the name, lower-cased, into out (size bytes). 0, or -1 when the
// name is too long by the split rule or the result does not fit (out is then emptied).
int normalise_name(const char* name, char* out, size_t size);

// Checksums over the bytes of a text up to its NUL. The tables are built on first use.
uint32_t name_crc32(const char* text);
uint64_t name_hash64(const char* text);
uint32_t crc32_table_entry(unsigned n);  // n in 0..255
uint64_t hash64_table_entry(unsigned n);

enum : int32_t { mount_folder_set = 0, mount_crc32_archive = 1, mount_hash_archive = 2 };

struct crc32_entry {
  uint32_t key;
  uint32_t offset;
  uint32_t size;  // not read by the lookup
};
struct hash_entry {
  uint64_t key;
  uint32_t offset;
  uint32_t size;  // not read by the lookup
};
// A folder that holds the name with this key; the folder text has no trailing backslash.
// 16 bytes on the 32-bit target (the pointer is wider on a 64-bit host).
struct folder_entry {
  uint64_t key;
  const char* folder;
  uint32_t reserved;
};
static_assert(sizeof(crc32_entry) == 12, "CRC-32 index entries are 12 bytes");
static_assert(sizeof(hash_entry) == 16, "hash index entries are 16 bytes");

struct mount_node {
  const char* path;  // archive file, opened unchanged
  int32_t entry_count;
  const crc32_entry* crc32_index;  // null when absent
  const hash_entry* hash_index;    // null when absent
  const folder_entry* folder_table;  // null when absent
  int32_t folder_count;
  int32_t kind;
  mount_node* next;
};

// Adds a node at the END of the mount list, so nodes are searched in the order they were
// added. Everything is copied into the list's own memory (path, index, folder texts).
//   kind 0 (folder set): folders/folder_count give the table; it may instead (with no
//          table) carry a CRC-32 index, which is then searched like kind 1.
//   kind 1: index points at entry_count crc32_entry; kind 2: at entry_count hash_entry.
// Returns 0, or -1 (nothing added) for an unknown kind, a negative count, a path that does
// not fit the 260-byte area, a folder entry without a folder text, or an index whose keys
// are not strictly ascending (the search is a binary search with one entry per key).
// Not guarded by the resolver's lock: mount before other threads start looking up.
int mount_add(const char* path, int32_t kind, const void* index, int32_t entry_count,
              const folder_entry* folders, int32_t folder_count);
// Reads an index file of the layout above and mounts archive_path with it.
// 0, or -1 (nothing added) for a missing, short, damaged or unsorted index.
int mount_archive_index(const char* archive_path, const char* index_path);
// Writes an index file of the layout above; the entries must already be sorted.
// 0, or -1 (on a write failure the file is removed).
int write_mount_index(const char* index_path, int32_t kind, const void* entries,
                      int32_t entry_count);
// Empties the mount list (also registered to run at exit once a node was added).
void mount_clear();
const mount_node* mount_list_front();

// The resolver's step 5, run with its lock held, for a name without a backslash.
// Open form: the stream of the first node that holds the name, opened in mode and
// positioned at the member's offset (the whole archive file; the caller knows the length).
FILE* search_mounts(const char* name, const char* mode);
// Locate form: writes the path of the file that holds the name into out (260 bytes) and
// returns out; an archive hit gives the archive's path without opening it, a folder-set
// candidate is probed in mode "rb". Null when not found (out then empty).
char* search_mounts_locate(const char* name, char* out);

}  // namespace talven
