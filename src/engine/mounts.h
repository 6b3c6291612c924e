// Mounted folder sets and archives: the resolver's lookup step that finds a bare name in
// sources other than loose files, plus the name rules and checksums those sources use.
//
// The name rules, the checksums and the index file format live in their own files
// (names.h, checksums.h, mount_index.h), included here for the lookup's users.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/checksums.h"
#include "engine/mount_index.h"
#include "engine/names.h"

namespace talven {

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
// True when the keys are strictly ascending (sorted, one entry per key), as the binary search
// needs; kind 2 entries are hash_entry, the others crc32_entry.
bool mount_keys_ascending(int32_t kind, const void* index, int32_t count);
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
