#include "package/package_format.h"

#include <zlib.h>

#include <cstring>

#include "base/byte_order.h"
#include "pe/pe_image.h"

namespace talven {

namespace {

bool read_exact(FILE* f, void* data, size_t size) { return std::fread(data, 1, size, f) == size; }
bool write_exact(FILE* f, const void* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, f) == size;
}

}  // namespace

int locate_appended_package(FILE* exe, long* start, int32_t* length) {
  if (std::fseek(exe, 0, SEEK_END) != 0) return -1;
  long size = std::ftell(exe);
  if (size < 0) return -1;
  // A signer appends its certificate table after everything else: the trailer then
  // stands just before the table. A table elsewhere must lie before the package.
  long end = size, package_floor = 0;
  uint32_t table_at = 0, table_size = 0;
  int table = find_certificate_table_in(exe, static_cast<uint64_t>(size), &table_at, &table_size);
  if (table == certificate_hostile) return -1;
  if (table == certificate_present) {
    if (static_cast<long>(table_at) + static_cast<long>(table_size) == size)
      end = static_cast<long>(table_at);
    else
      package_floor = static_cast<long>(table_at) + static_cast<long>(table_size);
  }
  if (end < 4 || std::fseek(exe, end - 4, SEEK_SET) != 0) return -1;
  unsigned char raw[4];
  if (!read_exact(exe, raw, 4)) return -1;
  uint32_t offset = get_u32(raw);
  long trailer = end - 4;
  // The package must at least hold its 2-byte terminator before the trailer; an offset
  // pointing past it (or at it) is a damaged file, not an empty package.
  if (offset > static_cast<uint32_t>(trailer) || trailer - static_cast<long>(offset) < 2) return -1;
  if (static_cast<long>(offset) < package_floor) return -1;
  if (trailer - static_cast<long>(offset) > 0x7FFFFFFFL) return -1;
  if (std::fseek(exe, static_cast<long>(offset), SEEK_SET) != 0) return -1;
  *start = static_cast<long>(offset);
  *length = static_cast<int32_t>(trailer - static_cast<long>(offset));
  return 0;
}

int pe_image_end(FILE* exe, long* end) {
  unsigned char head[pe_head_bytes];
  if (std::fseek(exe, 0, SEEK_SET) != 0) return -1;
  size_t got = std::fread(head, 1, sizeof head, exe);
  pe_headers h;
  if (parse_pe_headers(head, got, &h) != 0) return -1;
  if (h.section_count == 0 || h.section_count > 96) return -1;  // the loader's own limit
  uint64_t furthest = 0;
  for (unsigned i = 0; i < h.section_count; ++i) {
    const unsigned char* section = head + h.sections_at + 40 * i;
    uint64_t stop = static_cast<uint64_t>(get_u32(section + 20)) + get_u32(section + 16);
    if (stop > furthest) furthest = stop;
  }
  // An unstripped program keeps its symbols and their names after the sections.
  const unsigned char* file_header = head + h.optional_at - 20;
  uint32_t symbols_at = get_u32(file_header + 8);
  uint32_t symbols = get_u32(file_header + 12);
  if (symbols_at != 0 && symbols < 0x1000000u) {
    uint64_t names_at = static_cast<uint64_t>(symbols_at) + static_cast<uint64_t>(symbols) * 18;
    unsigned char size[4];
    if (names_at < 0x7FFFFFFFu && std::fseek(exe, static_cast<long>(names_at), SEEK_SET) == 0 &&
        read_exact(exe, size, 4)) {
      uint64_t stop = names_at + get_u32(size);
      if (stop > furthest) furthest = stop;
    }
  }
  if (furthest > 0x7FFFFFFFu) return -1;
  *end = static_cast<long>(furthest);
  return 0;
}

entry_result parse_entry_header(FILE* package, package_entry* entry, int32_t* position, const char** why,
                                int32_t* at) {
  entry->name_length = 0;
  entry->name[0] = '\0';
  entry->size = entry->packed_size = 0;
  entry->time_low = entry->time_high = 0;
  const int32_t start = *position;
  *why = nullptr;
  *at = start;
  if (start > INT32_MAX - static_cast<int32_t>(entry_header_bytes(max_entry_name))) {
    *why = "the package passes 2 GiB";
    return entry_damaged;
  }
  // Name length, name, size and packed size arrive in two reads: the length, then the rest.
  unsigned char raw[max_entry_name + 8];
  size_t got = std::fread(raw, 1, 2, package);
  if (got != 2) {
    *at = start + static_cast<int32_t>(got);
    *why = "the package ends inside the name length";
    return entry_damaged;
  }
  unsigned n = get_u16(raw);
  entry->name_length = n;
  if (n == 0) {
    *position += static_cast<int32_t>(terminator_bytes);
    return entry_terminator;
  }
  if (n > max_entry_name) {
    *why = "name length above 260";
    return entry_damaged;
  }
  got = std::fread(raw, 1, n + 8, package);
  // Whatever came of the name, kept terminated for whoever reports the damage.
  byte_reader fields = make_byte_reader(raw, got);
  size_t name_got = got < n ? got : n;
  take_bytes(&fields, entry->name, name_got);
  entry->name[name_got] = '\0';
  if (name_got < n) {
    *at = start + 2 + static_cast<int32_t>(got);
    *why = "the package ends inside the name";
    return entry_damaged;
  }
  if (std::memchr(raw, '\0', n) == nullptr) {
    *at = start + 2;
    *why = "name without its NUL";
    return entry_damaged;
  }
  if (!take_i32(&fields, &entry->size) || !take_i32(&fields, &entry->packed_size)) {
    *at = start + 2 + static_cast<int32_t>(got);
    *why = got < n + 4 ? "the package ends inside the size" : "the package ends inside the packed size";
    return entry_damaged;
  }
  if (entry->packed_size < 0) {
    *at = start + static_cast<int32_t>(packed_field_at(n));
    *why = "negative packed size";
    return entry_damaged;
  }
  if (entry->size < folder_entry_size) {
    *at = start + static_cast<int32_t>(size_field_at(n));
    *why = "size below -1";
    return entry_damaged;
  }
  *position += static_cast<int32_t>(entry_header_bytes(n));
  return entry_read;
}

int read_entry_time(FILE* package, package_entry* entry, int32_t* position) {
  unsigned char raw[entry_time_bytes];
  if (*position > INT32_MAX - entry_time_bytes) return -1;
  *position += entry_time_bytes;
  if (!read_exact(package, raw, entry_time_bytes)) return -1;
  entry->time_low = get_u32(raw);
  entry->time_high = get_u32(raw + 4);
  return 0;
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

int write_to_stream(void* file, const unsigned char* data, size_t size) {
  return write_exact(static_cast<FILE*>(file), data, size) ? 0 : 1;
}

int inflate_data(void* zstream, unsigned char* in_buffer, unsigned char* out_buffer, FILE* package,
                 int32_t packed_size, int32_t limit, const inflate_sink* sink, int32_t* position,
                 int32_t* written, const char** why) {
  *written = 0;
  // A package stays below 2 GiB, so the counted position can never pass INT32_MAX.
  if (packed_size < 0 || packed_size > INT32_MAX - *position) {
    *why = "the data runs past 2 GiB";
    return 1;
  }
  z_stream& stream = *static_cast<z_stream*>(zstream);
  if (inflateReset(&stream) != Z_OK) {
    *why = "the inflater cannot start";
    return 1;
  }
  stream.next_in = Z_NULL;
  stream.avail_in = 0;
  stream.next_out = out_buffer;
  stream.avail_out = package_block;
  const inflate_progress* progress = sink && sink->progress.block ? &sink->progress : nullptr;
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
    if (z != Z_OK && z != Z_STREAM_END) {
      // Z_BUF_ERROR means no progress was possible: the compressed bytes ran out.
      *why = z == Z_BUF_ERROR ? "its compressed data ends early" : "its compressed data does not inflate";
      return 1;
    }
    int32_t pending = package_block - static_cast<int32_t>(stream.avail_out);
    if (z == Z_OK && pending < package_block) continue;
    // Output beyond the declared size is damage (a bomb would fill the disk): stop
    // before any of it is written.
    if (pending > limit - done) {
      *why = "it inflates past its declared size";
      return 1;
    }
    if (pending > 0) {
      if (sink && sink->write && sink->write(sink->context, out_buffer, static_cast<size_t>(pending)) != 0) {
        *why = "the output could not be written";
        return 2;
      }
      done += pending;
      *written = done;
      if (progress) progress->block(progress->context, done, *position);
    }
    stream.next_out = out_buffer;
    stream.avail_out = package_block;
    if (z == Z_STREAM_END) break;
  }
  // A stream that ends before its packed bytes do would leave the package stream
  // inside this entry and the next header would be read from compressed data.
  if (stream.avail_in != 0 || remaining != 0) {
    *why = "its compressed data ends before its packed size";
    return 1;
  }
  return 0;
}

namespace {

int write_header(FILE* out, const char* name, int32_t size, int32_t packed_size) {
  size_t n = std::strlen(name) + 1;
  if (n > max_entry_name) return -1;
  unsigned char raw[2 + max_entry_name + 8];
  put_u16(raw, static_cast<uint16_t>(n));
  std::memcpy(raw + 2, name, n);
  put_u32(raw + size_field_at(static_cast<int64_t>(n)), static_cast<uint32_t>(size));
  put_u32(raw + packed_field_at(static_cast<int64_t>(n)), static_cast<uint32_t>(packed_size));
  return write_exact(out, raw, static_cast<size_t>(entry_header_bytes(static_cast<int64_t>(n)))) ? 0 : -1;
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
