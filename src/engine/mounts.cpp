#include "engine/mounts.h"

#include <cstdlib>
#include <cstring>

#include "base/alloc.h"
#include "base/cp932.h"

namespace talven {

namespace {

mount_node* mount_head = nullptr;
mount_node* mount_tail = nullptr;
bool mount_exit_registered = false;

size_t entry_size_of(int32_t kind) {
  return kind == mount_hash_archive ? sizeof(hash_entry) : sizeof(crc32_entry);
}

size_t round_up8(size_t n) { return (n + 7) & ~size_t(7); }

template <typename Entry>
bool entries_ascending(const Entry* e, int32_t count) {
  for (int32_t i = 1; i < count; ++i)
    if (!(e[i - 1].key < e[i].key)) return false;
  return true;
}

// Binary search over entries sorted by key; the keys are unsigned, so 64-bit keys
// compare high word first and keys above 2^31 or 2^63 sort after the smaller ones.
template <typename Entry, typename Key>
const Entry* find_entry(const Entry* index, int32_t count, Key key) {
  int32_t low = 0, high = count - 1;
  while (low <= high) {
    int32_t mid = low + (high - low) / 2;
    if (index[mid].key == key) return &index[mid];
    if (index[mid].key < key) low = mid + 1; else high = mid - 1;
  }
  return nullptr;
}

// Archive offsets are unsigned 32-bit: use the wide seek so offsets past 2 GiB work.
int seek_to(FILE* stream, uint32_t offset) {
#ifdef _WIN32
  return _fseeki64(stream, static_cast<long long>(offset), SEEK_SET);
#else
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
#endif
}

// The name's checksums for one search: computed at most once, only when a node needs them.
struct search_keys {
  const char* name;
  char normalised[engine_path_size];
  bool have_normalised = false;
  bool normalise_failed = false;
  bool have_crc = false, have_hash = false;
  uint32_t crc = 0;
  uint64_t hash = 0;

  bool ensure_normalised() {
    if (!have_normalised && !normalise_failed) {
      if (normalise_name(name, normalised, sizeof normalised) == 0) have_normalised = true;
      else normalise_failed = true;
    }
    return have_normalised;
  }
  bool ensure_crc() {
    if (!have_crc && ensure_normalised()) { crc = name_crc32(normalised); have_crc = true; }
    return have_crc;
  }
  bool ensure_hash() {
    if (!have_hash && ensure_normalised()) { hash = name_hash64(normalised); have_hash = true; }
    return have_hash;
  }
};

// Opens an archive hit (open form) or gives its path (locate form).
bool take_archive_hit(const mount_node* node, uint32_t offset, const char* mode, char* out,
                      FILE** stream) {
  if (out) return copy_text(out, engine_path_size, node->path) == 0;
  FILE* f = std::fopen(node->path, mode);
  if (!f) return false;
  // A stream that cannot reach the member would hand out the wrong bytes: pass it over.
  if (seek_to(f, offset) != 0) {
    std::fclose(f);
    return false;
  }
  *stream = f;
  return true;
}

// Tries every folder of the table whose key matches, in table order.
bool search_folder_table(const mount_node* node, uint64_t hash, const char* name,
                         const char* mode, char* out, FILE** stream) {
  for (int32_t i = 0; i < node->folder_count; ++i) {
    const folder_entry& e = node->folder_table[i];
    if (e.key != hash) continue;
    char path[engine_path_size];
    if (copy_text(path, sizeof path, e.folder) != 0 || append_text(path, sizeof path, "\\") != 0 ||
        append_text(path, sizeof path, name) != 0)
      continue;  // does not fit the path area: this candidate does not exist
    FILE* f = std::fopen(path, out ? "rb" : mode);
    if (!f) continue;
    if (out) {
      std::fclose(f);
      copy_text(out, engine_path_size, path);
    } else {
      *stream = f;
    }
    return true;
  }
  return false;
}

// One walk of the list for both forms: out is null in the open form.
bool search(const char* name, const char* mode, char* out, FILE** stream) {
  search_keys keys;
  keys.name = name;
  for (const mount_node* node = mount_head; node; node = node->next) {
    int32_t kind = node->kind;
    if (kind == mount_hash_archive) {
      if (!node->hash_index || !keys.ensure_hash()) continue;
      const hash_entry* hit = find_entry(node->hash_index, node->entry_count, keys.hash);
      if (hit && take_archive_hit(node, hit->offset, mode, out, stream)) return true;
      continue;
    }
    if (kind == mount_folder_set && node->folder_table) {
      if (!keys.ensure_hash()) continue;
      if (search_folder_table(node, keys.hash, name, mode, out, stream)) return true;
      continue;
    }
    // A folder set without a folder table is searched like a CRC-32 archive.
    if (kind == mount_crc32_archive || kind == mount_folder_set) {
      if (!node->crc32_index || !keys.ensure_crc()) continue;
      const crc32_entry* hit = find_entry(node->crc32_index, node->entry_count, keys.crc);
      if (hit && take_archive_hit(node, hit->offset, mode, out, stream)) return true;
    }
  }
  return false;
}

}  // namespace

bool mount_keys_ascending(int32_t kind, const void* index, int32_t count) {
  if (kind == mount_hash_archive)
    return entries_ascending(static_cast<const hash_entry*>(index), count);
  return entries_ascending(static_cast<const crc32_entry*>(index), count);
}

int mount_add(const char* path, int32_t kind, const void* index, int32_t entry_count,
              const folder_entry* folders, int32_t folder_count) {
  if (kind != mount_folder_set && kind != mount_crc32_archive && kind != mount_hash_archive)
    return -1;
  if (entry_count < 0 || folder_count < 0) return -1;
  if (!index) entry_count = 0;
  if (!folders) folder_count = 0;
  if (!path) path = "";
  size_t path_length = std::strlen(path);
  if (path_length + 1 > engine_path_size) return -1;
  if (index && !mount_keys_ascending(kind, index, entry_count)) return -1;
  size_t texts = 0;
  for (int32_t i = 0; i < folder_count; ++i) {
    if (!folders[i].folder) return -1;
    texts += std::strlen(folders[i].folder) + 1;
  }

  // One block per node: the node, its index, its folder table, then the texts.
  size_t index_bytes = index ? static_cast<size_t>(entry_count) * entry_size_of(kind) : 0;
  size_t at_index = round_up8(sizeof(mount_node));
  size_t at_folders = round_up8(at_index + index_bytes);
  size_t at_texts = at_folders + static_cast<size_t>(folder_count) * sizeof(folder_entry);
  char* block = static_cast<char*>(checked_alloc(at_texts + path_length + 1 + texts));

  mount_node* node = reinterpret_cast<mount_node*>(block);
  char* text = block + at_texts;
  std::memcpy(text, path, path_length + 1);
  node->path = text;
  text += path_length + 1;
  node->entry_count = entry_count;
  node->crc32_index = nullptr;
  node->hash_index = nullptr;
  if (index) {
    std::memcpy(block + at_index, index, index_bytes);
    if (kind == mount_hash_archive)
      node->hash_index = reinterpret_cast<const hash_entry*>(block + at_index);
    else
      node->crc32_index = reinterpret_cast<const crc32_entry*>(block + at_index);
  }
  node->folder_table = nullptr;
  node->folder_count = folder_count;
  if (folders) {
    folder_entry* table = reinterpret_cast<folder_entry*>(block + at_folders);
    for (int32_t i = 0; i < folder_count; ++i) {
      size_t n = std::strlen(folders[i].folder) + 1;
      std::memcpy(text, folders[i].folder, n);
      table[i] = folder_entry{folders[i].key, text, folders[i].reserved};
      text += n;
    }
    node->folder_table = table;
  }
  node->kind = kind;
  node->next = nullptr;

  if (mount_tail) mount_tail->next = node; else mount_head = node;
  mount_tail = node;
  if (!mount_exit_registered) {
    mount_exit_registered = true;
    std::atexit(mount_clear);
  }
  return 0;
}

void mount_clear() {
  mount_node* node = mount_head;
  while (node) {
    mount_node* next = node->next;
    checked_free(node);
    node = next;
  }
  mount_head = mount_tail = nullptr;
}

const mount_node* mount_list_front() { return mount_head; }

FILE* search_mounts(const char* name, const char* mode) {
  FILE* stream = nullptr;
  if (!search(name, mode, nullptr, &stream)) return nullptr;
  return stream;
}

char* search_mounts_locate(const char* name, char* out) {
  out[0] = '\0';
  FILE* unused = nullptr;
  if (!search(name, "rb", out, &unused)) {
    out[0] = '\0';
    return nullptr;
  }
  return out;
}

}  // namespace talven
