// The few PE (Windows executable) header fields the package location, the signing
// commands and the resource rewriter need, read from bytes in memory with every offset
// checked against what is there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talven {

// The head of an executable read for its headers: the PE header must lie inside it.
constexpr size_t pe_head_bytes = 4096;

constexpr unsigned pe_directory_resources = 2;
constexpr unsigned pe_directory_security = 4;

// RT_RCDATA resource number of the 32-byte SHA-256 of a separate package (instdat.arc)
// that a signed setup.exe carries.
constexpr unsigned package_digest_resource = 7001;

struct pe_headers {
  uint32_t optional_at;     // file offset of the optional header
  bool plus;                // PE32+ (x86_64)
  uint32_t sections_at;     // file offset of the section table
  unsigned section_count;
  uint32_t headers_end;     // the larger of SizeOfHeaders and the section table's end
  uint32_t directories_at;  // file offset of the data directory table
  unsigned directory_count;
  uint32_t checksum_at;     // file offset of the optional header's CheckSum
  uint32_t file_alignment;
  uint32_t section_alignment;
};

// 0 when data begins with an MZ header pointing at a PE header whose optional header
// and section table lie within size bytes; -1 otherwise.
int parse_pe_headers(const unsigned char* data, size_t size, pe_headers* h);

// The directory entry `index` (0 and 0 when the table is shorter).
void pe_directory(const unsigned char* data, const pe_headers* h, unsigned index, uint32_t* address, uint32_t* size);

enum { certificate_none = 0, certificate_present = 1, certificate_hostile = -1 };

// The certificate table of an executable of file_size bytes whose first head_size bytes
// are in head: certificate_none for a file that is not a PE or whose security directory
// is empty; certificate_present with its file offset and size when it lies after the
// headers, 8-aligned as signers write it, inside the file, and its first record's length
// fits it; certificate_hostile for any other non-empty directory.
int find_certificate_table(const unsigned char* head, size_t head_size, uint64_t file_size, uint32_t* offset,
                           uint32_t* size);

// The same from an open file (read from its start; the position is left undefined).
int find_certificate_table_in(FILE* exe, uint64_t file_size, uint32_t* offset, uint32_t* size);

// The PE checksum of the image (the 16-bit folded sum of its words with the CheckSum
// field counted as zero, plus the file's length), as the system's loader checks it.
uint32_t pe_checksum(const unsigned char* data, size_t size, uint32_t checksum_at);

}  // namespace talven
