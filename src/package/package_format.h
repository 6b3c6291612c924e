// The install package container: one reader and one writer, shared by the installer
// and the maker's tool. Entries: u16 name length N (0 ends the package), N name bytes
// ending in NUL, i32 size (-1 folder), i32 packed size, and for files a FILETIME (u32 low,
// u32 high) and packed-size bytes of one zlib stream. All little-endian.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace talven {

constexpr int32_t package_block = 131072;  // inflate buffers and progress step (128 KiB)
constexpr unsigned max_entry_name = 260;    // N, NUL included
constexpr size_t output_path_size = 256;    // destination + "\" + name + NUL
constexpr int32_t folder_entry_size = -1;

// The format's arithmetic, in this one place. n is the stored name length N (NUL
// included): a header is u16 N, the name, i32 size and i32 packed size; a file entry
// adds its 8-byte time stamp and packed-size bytes of data.
constexpr int32_t entry_time_bytes = 8;
constexpr int64_t name_field_at = 2;  // offsets inside an entry
constexpr int64_t size_field_at(int64_t n) { return name_field_at + n; }
constexpr int64_t packed_field_at(int64_t n) { return size_field_at(n) + 4; }
constexpr int64_t entry_header_bytes(int64_t n) { return packed_field_at(n) + 4; }
constexpr int64_t file_data_bytes(int64_t packed_size) { return entry_time_bytes + packed_size; }
constexpr int64_t folder_entry_bytes(int64_t n) { return entry_header_bytes(n); }
constexpr int64_t file_entry_bytes(int64_t n, int64_t packed_size) {
  return entry_header_bytes(n) + file_data_bytes(packed_size);
}
constexpr int64_t terminator_bytes = 2;

struct package_entry {
  unsigned name_length;  // N, NUL included
  char name[max_entry_name + 1];
  int32_t size;          // uncompressed bytes, or folder_entry_size
  int32_t packed_size;
  uint32_t time_low;     // file entries: filled by read_entry_time
  uint32_t time_high;
};

// What reading an entry gave; entry_write_failed: its output could not be written.
enum entry_result { entry_read = 0, entry_terminator = 1, entry_damaged = -1, entry_write_failed = -2 };

// Where a package appended to an executable starts: the last 4 bytes of the file hold
// the offset S of its first byte; its length is (file size - 4) - S. In a signed
// executable whose certificate table ends the file, the 4 bytes just before the table
// hold S instead and the package ends there. 0, or -1 when the file is too short, S lies
// outside it, or the certificate table is hostile (outside the file, not after the
// headers, unaligned, or overlapping the package).
int locate_appended_package(FILE* exe, long* start, int32_t* length);

// Where the executable's own image ends: the furthest end of its sections' raw data (and
// of its symbol table with the symbols' names, when it was not stripped). A
// trailer that points before it is part of the program, not an appended package. 0, or
// -1 when the file is no readable PE image. The stream position is left undefined.
int pe_image_end(FILE* exe, long* end);

// Reads the next entry's name length, name, size and packed size; adds N + 10 to
// *position (2 for the terminator). entry_damaged for a short read, N above 260, a name
// without its NUL, a negative packed size, or a size below -1, with *why the reason
// (static text) and *at the package offset of the field that is short or wrong
// (*position is left at the entry's start then). The record is always initialised (name
// empty until it is read) so that whoever reports the damage can. The package reader
// (package_reader.h) is its one user: it adds the name rules and the package's length.
entry_result parse_entry_header(FILE* package, package_entry* entry, int32_t* position, const char** why,
                                int32_t* at);

// Reads a file entry's last-write time; adds 8 to *position. 0, or -1 on a short read.
int read_entry_time(FILE* package, package_entry* entry, int32_t* position);

// out = destination "\" name, within size bytes and never more than output_path_size;
// -1 (out emptied) when it does not fit.
int compose_output_path(char* out, size_t size, const char* destination, const char* name);

// Called after each block written to the output (and at the end with pending output).
struct inflate_progress {
  void* context;
  void (*block)(void* context, int32_t written, int32_t position);
};

// Where inflated bytes go: write (null to inflate into nothing) returns 0, or non-zero
// when the bytes could not be written; block is called after each full 128 KiB of
// output and at the end with what is pending (may be null).
struct inflate_sink {
  void* context;
  int (*write)(void* context, const unsigned char* data, size_t size);
  inflate_progress progress;
};
int write_to_stream(void* file, const unsigned char* data, size_t size);  // context: FILE*

// The one inflate loop. Inflates a zlib stream of packed_size bytes from the package
// through the two given 128 KiB buffers and the initialised stream record (reset here),
// into the sink; never more than limit bytes of output: a stream that would pass it
// stops before the excess is written. Adds the bytes read to *position and the bytes
// written to *written. 0; or 1 with *why set (and 2 for a failed write).
int inflate_data(void* zstream, unsigned char* in_buffer, unsigned char* out_buffer, FILE* package,
                 int32_t packed_size, int32_t limit, const inflate_sink* sink, int32_t* position,
                 int32_t* written, const char** why);

// Writer. Folder names end in a backslash ("DATA\", "DATA\SUB\"); names are CP932.
int write_folder_entry(FILE* out, const char* name);
int write_file_entry(FILE* out, const char* name, int32_t size, uint64_t filetime,
                     const unsigned char* packed, size_t packed_size);
int write_terminator(FILE* out);
// Ordinary zlib stream at the given level (9 by default in the tool). 0 or -1.
int compress_data(const unsigned char* data, size_t size, int level, std::vector<unsigned char>* packed);

}  // namespace talven
