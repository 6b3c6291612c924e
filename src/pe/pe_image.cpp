#include "pe/pe_image.h"

#include "base/byte_order.h"

namespace talven {

int parse_pe_headers(const unsigned char* data, size_t size, pe_headers* h) {
  if (size < 64 || data[0] != 'M' || data[1] != 'Z') return -1;
  uint64_t pe_at = get_u32(data + 0x3C);
  if (pe_at + 24 > size || get_u32(data + pe_at) != 0x00004550u) return -1;  // "PE\0\0"
  unsigned section_count = get_u16(data + pe_at + 6);
  uint64_t optional_size = get_u16(data + pe_at + 20);
  uint64_t optional_at = pe_at + 24;
  if (optional_at + optional_size > size || optional_size < 2) return -1;
  uint16_t magic = get_u16(data + optional_at);
  if (magic != 0x10B && magic != 0x20B) return -1;
  h->plus = magic == 0x20B;
  uint64_t fixed = h->plus ? 112 : 96;  // the optional header before its directory table
  if (optional_size < fixed) return -1;
  uint32_t count = get_u32(data + optional_at + (h->plus ? 108 : 92));
  uint64_t room = (optional_size - fixed) / 8;
  h->directory_count = static_cast<unsigned>(count < room ? count : room);
  h->optional_at = static_cast<uint32_t>(optional_at);
  h->directories_at = static_cast<uint32_t>(optional_at + fixed);
  h->checksum_at = static_cast<uint32_t>(optional_at + 64);
  h->file_alignment = get_u32(data + optional_at + 36);
  h->section_alignment = get_u32(data + optional_at + 32);
  uint64_t sections_at = optional_at + optional_size;
  uint64_t sections_end = sections_at + 40ull * section_count;
  if (sections_end > size) return -1;
  h->sections_at = static_cast<uint32_t>(sections_at);
  h->section_count = section_count;
  uint32_t size_of_headers = get_u32(data + optional_at + 60);
  h->headers_end = static_cast<uint32_t>(size_of_headers > sections_end ? size_of_headers : sections_end);
  return 0;
}

void pe_directory(const unsigned char* data, const pe_headers* h, unsigned index, uint32_t* address, uint32_t* size) {
  *address = *size = 0;
  if (index >= h->directory_count) return;
  *address = get_u32(data + h->directories_at + 8 * index);
  *size = get_u32(data + h->directories_at + 8 * index + 4);
}

int find_certificate_table(const unsigned char* head, size_t head_size, uint64_t file_size, uint32_t* offset,
                           uint32_t* size) {
  pe_headers h;
  if (head_size > file_size || parse_pe_headers(head, head_size, &h) != 0) return certificate_none;
  uint32_t at, bytes;
  pe_directory(head, &h, pe_directory_security, &at, &bytes);
  if (at == 0 && bytes == 0) return certificate_none;
  // Its "address" is a file offset, not an RVA. Each bound is checked in 64 bits, so a
  // huge size cannot wrap round to look small.
  if (at < h.headers_end || at % 8 != 0 || bytes < 8 || uint64_t{at} + bytes > file_size) return certificate_hostile;
  *offset = at;
  *size = bytes;
  return certificate_present;
}

int find_certificate_table_in(FILE* exe, uint64_t file_size, uint32_t* offset, uint32_t* size) {
  unsigned char head[pe_head_bytes];
  if (std::fseek(exe, 0, SEEK_SET) != 0) return certificate_none;
  size_t got = std::fread(head, 1, sizeof head, exe);
  int found = find_certificate_table(head, got, file_size, offset, size);
  if (found != certificate_present) return found;
  // The first record's length (WIN_CERTIFICATE.dwLength) must fit the table.
  unsigned char record[8];
  if (std::fseek(exe, static_cast<long>(*offset), SEEK_SET) != 0 || std::fread(record, 1, 8, exe) != 8)
    return certificate_hostile;
  uint32_t length = get_u32(record);
  if (length < 8 || length > *size) return certificate_hostile;
  return certificate_present;
}

uint32_t pe_checksum(const unsigned char* data, size_t size, uint32_t checksum_at) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i >= checksum_at && i < uint64_t{checksum_at} + 4) continue;
    uint32_t word = data[i] | (i + 1 < size ? data[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace talven
