#include "engine/mount_index.h"

#include <cstdio>
#include <cstring>

#include "base/alloc.h"
#include "engine/mounts.h"
#include "base/byte_order.h"

namespace talven {

namespace {

// The length of an open file, or -1 when it cannot be told (on the 32-bit target also for
// an index past 2 GiB, which no archive of this engine has).
long file_length(FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long length = std::ftell(f);
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return length;
}

}  // namespace

int check_mount_index(const unsigned char* header, uint64_t length, mount_index_header* out) {
  if (length < mount_index_header_size || std::memcmp(header, "TVIX", 4) != 0) return -1;
  const uint32_t kind = get_u32(header + 4);
  const uint32_t count = get_u32(header + 8);
  const uint32_t entry_size = get_u32(header + 12);
  bool kind_ok = (kind == uint32_t(mount_crc32_archive) && entry_size == 12) ||
                 (kind == uint32_t(mount_hash_archive) && entry_size == 16);
  if (!kind_ok || count > 0x7FFFFFFFu) return -1;
  // The file must hold exactly the entries it announces: a short or padded file is damaged.
  // Divided, not multiplied, so no count can overflow the comparison.
  const uint64_t body = length - mount_index_header_size;
  if (body % entry_size != 0 || body / entry_size != count) return -1;
  out->kind = static_cast<int32_t>(kind);
  out->entry_count = static_cast<int32_t>(count);
  out->entry_size = entry_size;
  return 0;
}

void decode_mount_index(const unsigned char* stored, const mount_index_header& header, void* entries) {
  const unsigned char* r = stored;
  for (int32_t i = 0; i < header.entry_count; ++i, r += header.entry_size) {
    if (header.kind == mount_hash_archive) {
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
}

int mount_archive_index(const char* archive_path, const char* index_path) {
  FILE* f = std::fopen(index_path, "rb");
  if (!f) return -1;
  // The header is checked against the file's real length before anything is allocated, so
  // an index that announces 0x7FFFFFFF entries in 16 bytes costs nothing, not 32 GiB.
  unsigned char header[mount_index_header_size];
  mount_index_header h;
  const long length = file_length(f);
  if (length < 0 || std::fread(header, 1, sizeof header, f) != sizeof header ||
      check_mount_index(header, static_cast<uint64_t>(length), &h) != 0) {
    std::fclose(f);
    return -1;
  }
  const size_t body = static_cast<size_t>(length) - mount_index_header_size;
  unsigned char* stored = static_cast<unsigned char*>(checked_alloc(body));
  int result = -1;
  // The file may have changed since its length was taken: it must still end where it said.
  if (std::fread(stored, 1, body, f) == body && std::fgetc(f) == EOF) {
    const size_t record = h.kind == mount_hash_archive ? sizeof(hash_entry) : sizeof(crc32_entry);
    void* entries = checked_alloc(static_cast<size_t>(h.entry_count) * record);
    decode_mount_index(stored, h, entries);
    result = mount_add(archive_path, h.kind, entries, h.entry_count, nullptr, 0);
    checked_free(entries);
  }
  checked_free(stored);
  std::fclose(f);
  return result;
}

int write_mount_index(const char* index_path, int32_t kind, const void* entries,
                      int32_t entry_count) {
  if ((kind != mount_crc32_archive && kind != mount_hash_archive) || entry_count < 0) return -1;
  if (entry_count > 0 && !entries) return -1;
  if (!mount_keys_ascending(kind, entries, entry_count)) return -1;
  FILE* f = std::fopen(index_path, "wb");
  if (!f) return -1;
  const uint32_t entry_size = kind == mount_hash_archive ? 16 : 12;
  unsigned char header[mount_index_header_size];
  std::memcpy(header, "TVIX", 4);
  put_u32(header + 4, uint32_t(kind));
  put_u32(header + 8, uint32_t(entry_count));
  put_u32(header + 12, entry_size);
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
  for (int32_t i = 0; ok && i < entry_count; ++i) {
    unsigned char r[16];
    if (kind == mount_hash_archive) {
      const hash_entry& e = static_cast<const hash_entry*>(entries)[i];
      put_u32(r, uint32_t(e.key));
      put_u32(r + 4, uint32_t(e.key >> 32));
      put_u32(r + 8, e.offset);
      put_u32(r + 12, e.size);
    } else {
      const crc32_entry& e = static_cast<const crc32_entry*>(entries)[i];
      put_u32(r, e.key);
      put_u32(r + 4, e.offset);
      put_u32(r + 8, e.size);
    }
    ok = std::fwrite(r, 1, entry_size, f) == entry_size;
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::remove(index_path);
    return -1;
  }
  return 0;
}

}  // namespace talven
