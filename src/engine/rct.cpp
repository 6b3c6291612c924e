#include "engine/rct.h"

#include <climits>
#include <cstring>

#include "base/byte_order.h"

namespace talven {

unsigned char image_xor_key[rct_key_size];

namespace {

const unsigned char magics[4][rct_magic_size] = {
    {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x30},  // TC00
    {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x53, 0x30, 0x30},  // TS00
    {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x43, 0x30, 0x31},  // TC01
    {0x98, 0x5A, 0x92, 0x9A, 0x54, 0x53, 0x30, 0x31},  // TS01
};

// Copy selectors as (dx, dy): the source lies dx columns right of and dy rows above the
// current pixel in the packed buffer.
const signed char copy_dx[32] = {-1, -2, -3, -4, -5, -6, 3, 2, 1, 0, -1, -2, -3, 3, 2, 1,
                                 0,  -1, -2, -3, 3,  2,  1, 0, -1, -2, -3, 2, 1, 0, -1, -2};
const signed char copy_dy[32] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4};

int has_name_field(int variant) { return variant == rct_tc01 || variant == rct_ts01; }

// The one header parser, for a file image and (through rct_read_header) for a stream. It
// looks at the header's own bytes only: rct_truncated when `size` holds fewer of them than
// the header has, with *needed set to how many it needs as far as it can tell yet (20, then
// 22 + the name length for the named variants).
int parse_header(const unsigned char* file, size_t size, rct_header* out, size_t* needed) {
  std::memset(out, 0, sizeof *out);
  byte_reader r = make_byte_reader(file, size);
  *needed = rct_magic_size;
  if (size < rct_magic_size) return rct_truncated;
  const int variant = rct_identify(file);
  if (variant < 0) return rct_not_rct;
  skip_bytes(&r, rct_magic_size);
  *needed = rct_fixed_header_size;
  if (!take_i32(&r, &out->width) || !take_i32(&r, &out->height) || !take_u32(&r, &out->data_size))
    return rct_truncated;
  out->variant = variant;
  out->scrambled = (variant == rct_ts00 || variant == rct_ts01);
  if (rct_packed_size(out->width, out->height) == 0) return rct_corrupt;
  // At least the first pixel, and the trailer for the scrambled kinds.
  const uint32_t least = out->scrambled ? 5 : 3;
  if (out->data_size < least || out->data_size > rct_max_data_size(out->width, out->height))
    return rct_corrupt;
  if (static_cast<uint64_t>(out->width) * static_cast<uint64_t>(out->height) > rct_max_pixels(out->data_size))
    return rct_corrupt;
  if (has_name_field(variant)) {
    *needed = rct_fixed_header_size + 2;
    if (!take_u16(&r, &out->name_length)) return rct_truncated;
    if (out->name_length > rct_name_max) return rct_corrupt;
    *needed += out->name_length;
    if (!take_bytes(&r, out->name, out->name_length)) return rct_truncated;
  }
  out->data_offset = r.at;
  return rct_ok;
}

}  // namespace

const unsigned char* rct_magic(int variant) {
  return (variant >= 0 && variant < 4) ? magics[variant] : nullptr;
}

size_t rct_packed_size(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  uint64_t bytes = 3ull * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (bytes > static_cast<uint64_t>(INT32_MAX)) return 0;
  return static_cast<size_t>(bytes);
}

int rct_stride(int width) {
  if (width <= 0 || width > (INT32_MAX - 3) / 3) return 0;
  return (3 * width + 3) / 4 * 4;
}

uint64_t rct_max_pixels(uint32_t data_size) {
  if (data_size < 3) return 0;
  const uint64_t rest = data_size - 3u;
  return 1 + rest / 3 * rct_max_copy_run + rest % 3 * 3;
}

uint64_t rct_max_data_size(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  return 4ull * static_cast<uint64_t>(width) * static_cast<uint64_t>(height) + 64;
}

int rct_identify(const unsigned char* magic) {
  for (int v = 0; v < 4; ++v)
    if (std::memcmp(magic, magics[v], rct_magic_size) == 0) return v;
  return rct_not_rct;
}

int rct_parse_header(const unsigned char* file, size_t size, rct_header* out) {
  size_t needed = 0;
  const int result = parse_header(file, size, out, &needed);
  if (result != rct_ok) return result;
  if (size - out->data_offset < out->data_size) return rct_truncated;
  return rct_ok;
}

// Reads exactly the bytes the parser asks for, so the stream ends up at the first data byte.
int rct_read_header(FILE* stream, rct_header* out) {
  unsigned char bytes[rct_fixed_header_size + 2 + rct_name_max];
  size_t have = 0;
  size_t needed = rct_fixed_header_size;
  for (;;) {
    if (std::fread(bytes + have, 1, needed - have, stream) != needed - have) {
      // A short file whose first bytes are no magic is still not a picture.
      std::memset(out, 0, sizeof *out);
      return rct_truncated;
    }
    have = needed;
    const int result = parse_header(bytes, have, out, &needed);
    if (result != rct_truncated || needed <= have || needed > sizeof bytes) return result;
  }
}

int64_t rct_copy_offset(int selector, int width) {
  if (selector < 0 || selector > 31) return 0;
  return copy_dx[selector] - static_cast<int64_t>(copy_dy[selector]) * width;
}

int rct_decode(const unsigned char* data, size_t size, int width, int height,
               unsigned char* pixels, size_t pixels_size, size_t* decoded) {
  if (decoded) *decoded = 0;
  const size_t total = rct_packed_size(width, height);
  if (total == 0 || pixels_size < total) return rct_corrupt;
  if (size < 3) return rct_corrupt;

  // Byte offsets of the 32 selectors for this width (all negative when valid).
  int64_t offsets[32];
  for (int s = 0; s < 32; ++s) offsets[s] = 3 * rct_copy_offset(s, width);

  std::memcpy(pixels, data, 3);
  size_t in = 3;
  size_t out = 3;
  int result = rct_ok;
  while (out < total) {
    if (in >= size) { result = rct_corrupt; break; }
    const unsigned c = data[in];
    size_t used = 1;
    if (c < 0x80) {
      size_t run;
      if (c == 0x7F) {
        if (size - in < 3) { result = rct_corrupt; break; }
        run = get_u16(data + in + 1) + 128u;
        used = 3;
      } else {
        run = c + 1u;
      }
      const size_t bytes = 3 * run;
      if (bytes > total - out || bytes > size - in - used) { result = rct_corrupt; break; }
      std::memcpy(pixels + out, data + in + used, bytes);
      in += used + bytes;
      out += bytes;
    } else {
      size_t run = (c & 3u) + 1;
      if ((c & 3u) == 3) {
        if (size - in < 3) { result = rct_corrupt; break; }
        run = get_u16(data + in + 1) + 4u;
        used = 3;
      }
      const size_t bytes = 3 * run;
      const int64_t offset = offsets[(c >> 2) & 0x1F];
      // The source must be a pixel already decoded: strictly before, not before the first.
      if (offset >= 0 || static_cast<uint64_t>(-offset) > out || bytes > total - out) {
        result = rct_corrupt;
        break;
      }
      const size_t distance = static_cast<size_t>(-offset);
      unsigned char* dst = pixels + out;
      const unsigned char* src = dst - distance;
      if (distance >= bytes) {
        std::memcpy(dst, src, bytes);
      } else {
        // The source runs into the bytes being written, so the output repeats with a
        // period of `distance` bytes: the same result as a byte-by-byte copy, made by
        // doubling an already written stretch.
        std::memcpy(dst, src, distance);
        size_t done = distance;
        while (done < bytes) {
          const size_t step = (bytes - done < done) ? bytes - done : done;
          std::memcpy(dst + done, dst, step);
          done += step;
        }
      }
      in += used;
      out += bytes;
    }
  }
  if (decoded) *decoded = out;
  return result;
}

int rct_unscramble(const rct_header& header, unsigned char* data, size_t size) {
  if (!header.scrambled) return rct_ok;
  for (size_t i = 0; i < size; ++i) data[i] ^= image_xor_key[i % rct_key_size];
  if (size < 2 || data[size - 2] != 0x54 || data[size - 1] != 0x53) return rct_no_trailer;
  return rct_ok;
}

int rct_decode_data(const rct_header& header, unsigned char* data, size_t size,
                    unsigned char* pixels, size_t pixels_size) {
  const size_t total = rct_packed_size(header.width, header.height);
  if (total == 0 || pixels_size < total) return rct_corrupt;
  if (rct_unscramble(header, data, size) != rct_ok) {
    std::memset(pixels, 0, total);
    return rct_no_trailer;
  }
  // The trailer is a check only; the commands never reach it.
  const size_t stream_size = header.scrambled ? size - 2 : size;
  return rct_decode(data, stream_size, header.width, header.height, pixels, pixels_size);
}

int rct_space_rows(unsigned char* pixels, size_t pixels_size, int width, int height, int stride) {
  const size_t total = rct_packed_size(width, height);
  if (total == 0) return -1;
  const size_t row = 3 * static_cast<size_t>(width);
  if (stride < 0 || static_cast<size_t>(stride) < row) return -1;
  const uint64_t spaced = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  if (spaced > pixels_size) return -1;
  const size_t pad = static_cast<size_t>(stride) - row;
  for (size_t r = static_cast<size_t>(height); r-- > 0;) {
    unsigned char* dst = pixels + r * static_cast<size_t>(stride);
    if (pad) std::memmove(dst, pixels + r * row, row);
    // Rows not moved yet all lie before r x row, so this padding is free to clear.
    std::memset(dst + row, 0, pad);
  }
  return 0;
}

}  // namespace talven
