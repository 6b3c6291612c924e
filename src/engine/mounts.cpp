#include "engine/mounts.h"

#include <cstdlib>
#include <cstring>

#include "config/alloc.h"
#include "install/cp932.h"

namespace talven {

namespace {

mount_node* mount_head = nullptr;
mount_node* mount_tail = nullptr;
bool mount_exit_registered = false;

uint32_t crc32_table[256];
uint64_t hash64_table[256];
bool crc32_table_built = false;
bool hash64_table_built = false;

void build_crc32_table() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    crc32_table[n] = c;
  }
  crc32_table_built = true;
}

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

// Length of the character at p: 2 for a lead byte followed by a non-NUL byte.
inline size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

void put_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get_u32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

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

// Strictly ascending keys: sorted and one entry per key, as the binary search needs.
bool keys_ascending(int32_t kind, const void* index, int32_t count) {
  if (kind == mount_hash_archive)
    return entries_ascending(static_cast<const hash_entry*>(index), count);
  return entries_ascending(static_cast<const crc32_entry*>(index), count);
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

int split_engine_name(const char* name, name_parts* parts) {
  const char* rest = name;
  if (name[0] != '\0' && name[1] == ':') rest = name + 2;
  // Folder part: up to and including the last real "\" or "/".
  for (const char* p = rest; *p; p += char_length(p))
    if (char_length(p) == 1 && (*p == '\\' || *p == '/')) rest = p + 1;
  const char* dot = mb_find_last_char(rest, '.');
  size_t total = std::strlen(rest);
  if (total > engine_path_size - 1) return -1;
  parts->base = rest;
  parts->base_length = dot ? static_cast<size_t>(dot - rest) : total;
  parts->extension = dot ? dot : rest + total;
  parts->extension_length = total - parts->base_length;
  return 0;
}

char* lower_cp932(char* text) {
  for (char* p = text; *p; p += char_length(p)) {
    unsigned char b = static_cast<unsigned char>(p[0]);
    if (char_length(p) == 1) {
      if (b >= 'A' && b <= 'Z') p[0] = static_cast<char>(b - 'A' + 'a');
    } else if (b == 0x82) {
      unsigned char t = static_cast<unsigned char>(p[1]);
      if (t >= 0x60 && t <= 0x79) p[1] = static_cast<char>(t + 0x21);
    }
  }
  return text;
}

int normalise_name(const char* name, char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  name_parts parts;
  if (split_engine_name(name, &parts) != 0) return -1;
  // Base name and extension are adjacent in the name, so they are one run of bytes.
  size_t n = parts.base_length + parts.extension_length;
  if (n + 1 > size) return -1;
  std::memcpy(out, parts.base, n);
  out[n] = '\0';
  lower_cp932(out);
  return 0;
}

uint32_t name_crc32(const char* text) {
  if (!crc32_table_built) build_crc32_table();
  uint32_t c = 0xFFFFFFFFu;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    c = crc32_table[(c ^ *p) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint64_t name_hash64(const char* text) {
  if (!hash64_table_built) build_hash64_table();
  uint64_t h = ~0ull;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    h = (h >> 8) ^ hash64_table[(h ^ *p) & 0xFF];
  return ~h;
}

uint32_t crc32_table_entry(unsigned n) {
  if (!crc32_table_built) build_crc32_table();
  return crc32_table[n & 0xFF];
}

uint64_t hash64_table_entry(unsigned n) {
  if (!hash64_table_built) build_hash64_table();
  return hash64_table[n & 0xFF];
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
  if (index && !keys_ascending(kind, index, entry_count)) return -1;
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

int mount_archive_index(const char* archive_path, const char* index_path) {
  FILE* f = std::fopen(index_path, "rb");
  if (!f) return -1;
  unsigned char header[16];
  int result = -1;
  void* entries = nullptr;
  if (std::fread(header, 1, sizeof header, f) == sizeof header &&
      std::memcmp(header, "TVIX", 4) == 0) {
    uint32_t kind = get_u32(header + 4);
    uint32_t count = get_u32(header + 8);
    uint32_t size = get_u32(header + 12);
    bool kind_ok = (kind == uint32_t(mount_crc32_archive) && size == 12) ||
                   (kind == uint32_t(mount_hash_archive) && size == 16);
    // The file must hold exactly the entries it announces: a short or padded file is damaged.
    if (kind_ok && count <= 0x7FFFFFFFu && count <= (SIZE_MAX - 16) / size) {
      size_t bytes = static_cast<size_t>(count) * size;
      unsigned char* raw = static_cast<unsigned char*>(checked_alloc(bytes));
      if (std::fread(raw, 1, bytes, f) == bytes && std::fgetc(f) == EOF) {
        entries = checked_alloc(count * entry_size_of(int32_t(kind)));
        for (uint32_t i = 0; i < count; ++i) {
          const unsigned char* r = raw + static_cast<size_t>(i) * size;
          if (kind == uint32_t(mount_hash_archive)) {
            hash_entry& e = static_cast<hash_entry*>(entries)[i];
            e.key = uint64_t(get_u32(r)) | uint64_t(get_u32(r + 4)) << 32;
            e.offset = get_u32(r + 8);
            e.size = get_u32(r + 12);
          } else {
            crc32_entry& e = static_cast<crc32_entry*>(entries)[i];
            e.key = get_u32(r);
            e.offset = get_u32(r + 4);
            e.size = get_u32(r + 8);
          }
        }
        result = mount_add(archive_path, int32_t(kind), entries, int32_t(count), nullptr, 0);
      }
      checked_free(raw);
    }
  }
  std::fclose(f);
  if (entries) checked_free(entries);
  return result;
}

int write_mount_index(const char* index_path, int32_t kind, const void* entries,
                      int32_t entry_count) {
  if ((kind != mount_crc32_archive && kind != mount_hash_archive) || entry_count < 0) return -1;
  if (entry_count > 0 && !entries) return -1;
  if (!keys_ascending(kind, entries, entry_count)) return -1;
  FILE* f = std::fopen(index_path, "wb");
  if (!f) return -1;
  unsigned char header[16];
  std::memcpy(header, "TVIX", 4);
  put_u32(header + 4, uint32_t(kind));
  put_u32(header + 8, uint32_t(entry_count));
  put_u32(header + 12, uint32_t(entry_size_of(kind)));
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
  for (int32_t i = 0; ok && i < entry_count; ++i) {
    unsigned char r[16];
    size_t n;
    if (kind == mount_hash_archive) {
      const hash_entry& e = static_cast<const hash_entry*>(entries)[i];
      put_u32(r, uint32_t(e.key));
      put_u32(r + 4, uint32_t(e.key >> 32));
      put_u32(r + 8, e.offset);
      put_u32(r + 12, e.size);
      n = 16;
    } else {
      const crc32_entry& e = static_cast<const crc32_entry*>(entries)[i];
      put_u32(r, e.key);
      put_u32(r + 4, e.offset);
      put_u32(r + 8, e.size);
      n = 12;
    }
    ok = std::fwrite(r, 1, n, f) == n;
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::remove(index_path);
    return -1;
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
