#include "package/package_format.h"

#include <zlib.h>

#include <cstring>

#include "config/alloc.h"
#include "install/cp932.h"

namespace talven {

namespace {

uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_u16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool read_exact(FILE* f, void* data, size_t size) { return std::fread(data, 1, size, f) == size; }
bool write_exact(FILE* f, const void* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, f) == size;
}

// Windows drops trailing dots and spaces from a path component, so "..", "... " and
// ". ." all name the parent or the folder itself there; a component made only of dots
// and spaces is never a real name.
bool only_dots_and_spaces(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p)
    if (*p != '.' && *p != ' ') return false;
  return true;
}

inline const char* next_char(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? p + 2 : p + 1;
}

}  // namespace

int locate_appended_package(FILE* exe, long* start, int32_t* length) {
  if (std::fseek(exe, 0, SEEK_END) != 0) return -1;
  long size = std::ftell(exe);
  if (size < 4 || std::fseek(exe, size - 4, SEEK_SET) != 0) return -1;
  unsigned char raw[4];
  if (!read_exact(exe, raw, 4)) return -1;
  uint32_t offset = get_u32(raw);
  long trailer = size - 4;
  // The package must at least hold its 2-byte terminator before the trailer; an offset
  // pointing past it (or at it) is a damaged file, not an empty package.
  if (offset > static_cast<uint32_t>(trailer) || trailer - static_cast<long>(offset) < 2) return -1;
  if (trailer - static_cast<long>(offset) > 0x7FFFFFFFL) return -1;
  if (std::fseek(exe, static_cast<long>(offset), SEEK_SET) != 0) return -1;
  *start = static_cast<long>(offset);
  *length = static_cast<int32_t>(trailer - static_cast<long>(offset));
  return 0;
}

int read_entry_header(FILE* package, package_entry* entry, int32_t* position) {
  unsigned char raw[4];
  if (*position > INT32_MAX - static_cast<int32_t>(max_entry_name + 10)) return entry_damaged;
  if (!read_exact(package, raw, 2)) return entry_damaged;
  unsigned n = static_cast<unsigned>(raw[0]) | static_cast<unsigned>(raw[1]) << 8;
  entry->name_length = n;
  entry->name[0] = '\0';
  entry->size = entry->packed_size = 0;
  entry->time_low = entry->time_high = 0;
  if (n == 0) {
    *position += 2;
    return entry_terminator;
  }
  if (n > max_entry_name) return entry_damaged;
  // The extra byte of the buffer keeps even a damaged or short name terminated for
  // whoever reports it; the name itself must carry its NUL within its N bytes.
  entry->name[n] = '\0';
  if (!read_exact(package, entry->name, n)) return entry_damaged;
  if (std::memchr(entry->name, '\0', n) == nullptr) return entry_damaged;
  if (!read_exact(package, raw, 4)) return entry_damaged;
  entry->size = static_cast<int32_t>(get_u32(raw));
  if (!read_exact(package, raw, 4)) return entry_damaged;
  entry->packed_size = static_cast<int32_t>(get_u32(raw));
  *position += static_cast<int32_t>(n) + 10;
  if (entry->packed_size < 0 || entry->size < folder_entry_size) return entry_damaged;
  return entry_read;
}

int read_entry_time(FILE* package, package_entry* entry, int32_t* position) {
  unsigned char raw[8];
  if (*position > INT32_MAX - 8) return -1;
  *position += 8;
  if (!read_exact(package, raw, 8)) return -1;
  entry->time_low = get_u32(raw);
  entry->time_high = get_u32(raw + 4);
  return 0;
}

int check_entry_name(const char* name) {
  if (name[0] == '\0' || name[0] == '\\' || name[0] == '/') return -1;
  const char* component = name;
  for (const char* p = name;; p = next_char(p)) {
    bool single = next_char(p) == p + 1;
    if (*p == ':' && single) return -1;  // drive letters and alternate data streams
    bool separator = *p == '\0' || (single && (*p == '\\' || *p == '/'));
    if (!separator) continue;
    if (p == component) {
      // An empty component is only allowed as the end of a folder name ("DATA\").
      if (*p != '\0' || p == name) return -1;
    } else if (only_dots_and_spaces(component, p)) {
      return -1;
    }
    if (*p == '\0') return 0;
    component = p + 1;
    if (*component == '\0') return 0;
  }
}

int compose_output_path(char* out, size_t size, const char* destination, const char* name) {
  if (size == 0) return -1;
  if (size > output_path_size) size = output_path_size;
  size_t dl = std::strlen(destination), nl = std::strlen(name);
  if (dl + 1 + nl + 1 > size) {
    out[0] = '\0';
    return -1;
  }
  std::memcpy(out, destination, dl);
  out[dl] = '\\';
  std::memcpy(out + dl + 1, name, nl + 1);
  return 0;
}

int inflate_entry_data(FILE* package, int32_t packed_size, FILE* out, int32_t* position,
                       int32_t* written, const inflate_progress* progress) {
  if (written) *written = 0;
  // A package stays below 2 GiB, so the counted position can never pass INT32_MAX.
  if (packed_size < 0 || packed_size > INT32_MAX - *position) return 1;
  auto* in_buffer = static_cast<unsigned char*>(checked_alloc(package_block));
  auto* out_buffer = static_cast<unsigned char*>(checked_alloc(package_block));
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  stream.zalloc = Z_NULL;
  stream.zfree = Z_NULL;
  stream.opaque = Z_NULL;
  stream.next_in = Z_NULL;
  stream.avail_in = 0;
  if (inflateInit(&stream) != Z_OK) {
    checked_free(in_buffer);
    checked_free(out_buffer);
    return 1;
  }
  stream.next_out = out_buffer;
  stream.avail_out = package_block;
  int32_t done = 0;
  int32_t remaining = packed_size;
  for (;;) {
    if (stream.avail_in == 0 && remaining > 0) {
      int32_t request = remaining < package_block ? remaining : package_block;
      size_t got = std::fread(in_buffer, 1, static_cast<size_t>(request), package);
      stream.next_in = in_buffer;
      stream.avail_in = static_cast<uInt>(got);
      remaining -= request;
      *position += request;
    }
    int z = inflate(&stream, Z_NO_FLUSH);
    if (z == Z_STREAM_END) {
      int32_t pending = package_block - static_cast<int32_t>(stream.avail_out);
      if (pending > 0) {
        if (out && !write_exact(out, out_buffer, static_cast<size_t>(pending))) break;
        done += pending;
        if (progress && progress->block) progress->block(progress->context, done, *position);
      }
      // A stream that ends before its packed bytes do would leave the package stream
      // inside this entry and the next header would be read from compressed data.
      if (stream.avail_in != 0 || remaining != 0) break;
      int end = inflateEnd(&stream);
      if (written) *written = done;
      checked_free(in_buffer);
      checked_free(out_buffer);
      return end == Z_OK ? 0 : 1;
    }
    // Z_BUF_ERROR here means no progress was possible: the compressed bytes ran out.
    if (z != Z_OK) break;
    if (stream.avail_out != 0) continue;
    if (out && !write_exact(out, out_buffer, package_block)) break;
    stream.next_out = out_buffer;
    stream.avail_out = package_block;
    done += package_block;
    if (progress && progress->block) progress->block(progress->context, done, *position);
  }
  inflateEnd(&stream);
  if (written) *written = done;
  checked_free(in_buffer);
  checked_free(out_buffer);
  return 1;
}

namespace {

int write_header(FILE* out, const char* name, int32_t size, int32_t packed_size) {
  size_t n = std::strlen(name) + 1;
  if (n > max_entry_name) return -1;
  unsigned char raw[2 + max_entry_name + 8];
  put_u16(raw, static_cast<unsigned>(n));
  std::memcpy(raw + 2, name, n);
  put_u32(raw + 2 + n, static_cast<uint32_t>(size));
  put_u32(raw + 6 + n, static_cast<uint32_t>(packed_size));
  return write_exact(out, raw, n + 10) ? 0 : -1;
}

}  // namespace

int write_folder_entry(FILE* out, const char* name) {
  return write_header(out, name, folder_entry_size, 0);
}

int write_file_entry(FILE* out, const char* name, int32_t size, uint64_t filetime,
                     const unsigned char* packed, size_t packed_size) {
  if (size < 0 || packed_size > 0x7FFFFFFFu) return -1;
  if (write_header(out, name, size, static_cast<int32_t>(packed_size)) != 0) return -1;
  unsigned char raw[8];
  put_u32(raw, static_cast<uint32_t>(filetime));
  put_u32(raw + 4, static_cast<uint32_t>(filetime >> 32));
  if (!write_exact(out, raw, 8)) return -1;
  return write_exact(out, packed, packed_size) ? 0 : -1;
}

int write_terminator(FILE* out) {
  unsigned char raw[2] = {0, 0};
  return write_exact(out, raw, 2) ? 0 : -1;
}

int compress_data(const unsigned char* data, size_t size, int level, std::vector<unsigned char>* packed) {
  if (size > 0x7FFFFFFFu || level < Z_DEFAULT_COMPRESSION || level > Z_BEST_COMPRESSION) return -1;
  uLongf bound = compressBound(static_cast<uLong>(size));
  packed->resize(bound);
  // An empty file still gets a complete (header, empty block, checksum) stream.
  static const unsigned char nothing = 0;
  int z = compress2(packed->data(), &bound, size ? data : &nothing, static_cast<uLong>(size), level);
  if (z != Z_OK) {
    packed->clear();
    return -1;
  }
  packed->resize(bound);
  return 0;
}

}  // namespace talven
