// RCT pictures: the engine's compressed true-colour format. One portable decoder (used by
// the installer, straight into its DIB section, and by the host tools into a plain buffer)
// and the maker's encoder.
//
// File: 8-byte magic, width (int32), height (int32), data size (uint32), then for the "01"
// variants a uint16 name length and the name bytes, then the compressed data. All
// little-endian. The scrambled "TS" variants store the data XORed with image_xor_key and
// end it in the two-byte check trailer "TS".
//
// What a damaged file gives:
// - A header that cannot describe a picture (unknown magic, width or height <= 0,
//   3 x width x height beyond 31 bits, a name longer than rct_name_max, a data size that
//   is too small or larger than rct_max_data_size allows, more pixels than the data can
//   describe by rct_max_pixels): no picture at all.
// - A command stream that goes wrong (a run past the end of the picture, a copy source
//   before the first pixel or not yet decoded, a command or count that needs bytes past
//   the end of the data): decoding stops at the faulty command, which writes nothing.
//   The pixels decoded before it stay; the rest keep what the caller put there (black in
//   a fresh DIB section). The result is rct_corrupt and the installer shows that picture.
// - A scrambled file whose unscrambled data does not end in "TS": a black picture.
// Nothing ever reads outside the data or the name area or writes outside the picture.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talven {

enum rct_result {
  rct_ok = 0,
  rct_not_rct = -1,     // the first 8 bytes are none of the four magics
  rct_corrupt = -2,     // a header or a command stream that cannot be right (see above)
  rct_truncated = -3,   // fewer bytes than the header or its data size asks for
  rct_no_trailer = -4,  // scrambled data without the "TS" trailer: picture left black
};

enum rct_variant { rct_tc00 = 0, rct_ts00 = 1, rct_tc01 = 2, rct_ts01 = 3 };

constexpr size_t rct_magic_size = 8;
constexpr size_t rct_fixed_header_size = 20;  // magic, width, height, data size
constexpr size_t rct_name_max = 264;
constexpr size_t rct_key_size = 1024;
// Commands carry at most 65535 + 128 literal pixels and copy at most 65535 + 4 pixels.
constexpr size_t rct_max_literal_run = 65535 + 128;
constexpr size_t rct_max_copy_run = 65535 + 4;

// Process-wide scrambling key; all zero, and nothing in this system changes it.
extern unsigned char image_xor_key[rct_key_size];

// The 8 magic bytes of a variant.
const unsigned char* rct_magic(int variant);

struct rct_header {
  int variant;             // rct_variant
  int scrambled;           // TS variants
  int32_t width;
  int32_t height;
  uint32_t data_size;      // bytes of compressed data (with the trailer when scrambled)
  uint16_t name_length;    // 0 for the "00" variants
  unsigned char name[rct_name_max];  // name bytes; not used by the installer
  size_t data_offset;      // where the data starts in the file
};

// Byte counts of the packed picture (3 x width x height) and of one packed row.
size_t rct_packed_size(int width, int height);
// 3 x width rounded up to a multiple of 4, as a 24-bit DIB stores its rows.
int rct_stride(int width);

// A cap on the data size: the longest stream that could still be meaningful is one
// literal command per pixel (4 bytes a pixel), plus the trailer and a little slack.
// Anything larger is refused before memory is allocated for it.
uint64_t rct_max_data_size(int width, int height);

// The most pixels a data block of this size can describe: the first pixel, then the
// densest command, a counted copy, gives 65539 pixels for 3 bytes (1-byte commands give
// at most 3 pixels a byte). A header that declares more is refused before the picture is
// allocated, so the work of a load is bounded by the bytes really there (a 23-byte file
// cannot ask for 8192 x 8192). The scrambled kinds count their trailer too, which bounds
// the black picture of a file without its trailer the same way.
uint64_t rct_max_pixels(uint32_t data_size);

// Variant from the first 8 bytes, or rct_not_rct.
int rct_identify(const unsigned char* magic);

// Parses and checks the header at the start of a file image. rct_truncated when `size`
// holds less than the header or its data; rct_not_rct / rct_corrupt as above.
int rct_parse_header(const unsigned char* file, size_t size, rct_header* out);

// The same from a stream positioned at the file's start; leaves it at the first data byte.
// A short read gives rct_truncated.
int rct_read_header(FILE* stream, rct_header* out);

// Decodes a command stream into `pixels` as packed rows of 3 x width bytes, top row
// first, blue-green-red. `pixels_size` must hold rct_packed_size (else rct_corrupt and
// nothing written). Stops as soon as the picture is complete; later bytes are ignored.
// `decoded`, when given, receives the number of pixel bytes written.
int rct_decode(const unsigned char* data, size_t size, int width, int height,
               unsigned char* pixels, size_t pixels_size, size_t* decoded = nullptr);

// For a scrambled header: XORs `data` in place with image_xor_key and checks the trailer
// (0, or rct_no_trailer). Unscrambled headers: nothing, 0.
int rct_unscramble(const rct_header& header, unsigned char* data, size_t size);

// Unscrambles (in place) and decodes the data of a parsed header into packed rows.
// rct_no_trailer clears the packed picture to black.
int rct_decode_data(const rct_header& header, unsigned char* data, size_t size,
                    unsigned char* pixels, size_t pixels_size);

// Spaces packed rows out to `stride` bytes a row in place, last row first so that no row
// is overwritten before it has moved; the padding bytes become zero. -1 (nothing moved)
// when stride < 3 x width or the buffer cannot hold height rows of stride bytes.
int rct_space_rows(unsigned char* pixels, size_t pixels_size, int width, int height, int stride);

// Encoder. Room enough for any picture of this size encoded by rct_encode.
size_t rct_encode_bound(int width, int height, size_t name_length);

// Encodes packed BGR rows into a complete file of the given variant; the name (at most
// rct_name_max bytes) goes into the "01" variants and must be empty for the others.
// Scrambled variants get the trailer and are XORed with image_xor_key. Returns the file
// size, or 0 when the arguments are refused or `out_size` is too small.
size_t rct_encode(const unsigned char* pixels, int width, int height, int variant,
                  const unsigned char* name, size_t name_length,
                  unsigned char* out, size_t out_size);

// Encodes only the command stream (what follows the header). Returns its size or 0.
size_t rct_encode_stream(const unsigned char* pixels, int width, int height,
                         unsigned char* out, size_t out_size);

// Offset of a copy selector in pixels: dx - dy x width (64-bit: four rows of a very wide
// picture do not fit a 32-bit long).
int64_t rct_copy_offset(int selector, int width);

}  // namespace talven
