// The maker's RCT encoder: greedy longest match over every copy selector that is valid at
// the position, literal runs for the rest.
#include <climits>
#include <cstring>
#include <vector>

#include "engine/rct.h"
#include "base/byte_order.h"

namespace talven {

namespace {

struct writer {
  unsigned char* out;
  size_t size;
  size_t pos;
  bool failed;

  void put(unsigned char b) {
    if (pos >= size) { failed = true; return; }
    out[pos++] = b;
  }
  void put16(size_t v) {
    unsigned char b[2];
    put_u16(b, static_cast<uint16_t>(v));
    put_bytes(b, 2);
  }
  void put_bytes(const unsigned char* p, size_t n) {
    if (size - pos < n) { failed = true; return; }
    std::memcpy(out + pos, p, n);
    pos += n;
  }
};

// Literal pixels [first, first + count) of the packed picture.
void put_literals(writer& w, const unsigned char* pixels, size_t first, size_t count) {
  while (count > 0) {
    size_t run = count < rct_max_literal_run ? count : rct_max_literal_run;
    if (run >= 128) {
      w.put(0x7F);
      w.put16(run - 128);
    } else {
      w.put(static_cast<unsigned char>(run - 1));
    }
    w.put_bytes(pixels + 3 * first, 3 * run);
    first += run;
    count -= run;
  }
}

// A copy of `length` pixels (1..rct_max_copy_run) with one selector. Lengths 4 to 6 are
// cheaper as two short commands (2 bytes) than as one counted command (3 bytes).
void put_copy(writer& w, int selector, size_t length) {
  const unsigned char base = static_cast<unsigned char>(0x80 | selector << 2);
  if (length >= 7) {
    w.put(base | 3);
    w.put16(length - 4);
    return;
  }
  if (length > 3) {
    w.put(base | 2);
    length -= 3;
  }
  w.put(static_cast<unsigned char>(base | (length - 1)));
}

uint32_t pixel_at(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
}

}  // namespace

size_t rct_encode_bound(int width, int height, size_t name_length) {
  const size_t total = rct_packed_size(width, height);
  if (total == 0) return 0;
  const size_t count = total / 3;
  // All literals: one 3-byte command per 128 pixels at worst, plus header, name, trailer.
  return 22 + name_length + total + 3 * (count / 128 + 1) + 2;
}

size_t rct_encode_stream(const unsigned char* pixels, int width, int height,
                         unsigned char* out, size_t out_size) {
  const size_t total = rct_packed_size(width, height);
  if (total == 0 || !pixels || !out) return 0;
  const size_t count = total / 3;

  // Pixels as 32-bit values, so that a comparison is one load.
  std::vector<uint32_t> px(count);
  for (size_t i = 0; i < count; ++i) px[i] = pixel_at(pixels + 3 * i);

  int64_t offsets[32];
  for (int s = 0; s < 32; ++s) offsets[s] = rct_copy_offset(s, width);

  writer w{out, out_size, 0, false};
  w.put_bytes(pixels, 3);
  size_t pos = 1;
  size_t literal_start = 1;
  while (pos < count && !w.failed) {
    const size_t limit = (count - pos < rct_max_copy_run) ? count - pos : rct_max_copy_run;
    size_t best_length = 0;
    int best_selector = -1;
    for (int s = 0; s < 32; ++s) {
      const int64_t offset = offsets[s];
      if (offset >= 0 || static_cast<uint64_t>(-offset) > pos) continue;
      const uint32_t* src = px.data() + (pos - static_cast<size_t>(-offset));
      const uint32_t* dst = px.data() + pos;
      if (src[0] != dst[0]) continue;
      // A match that cannot beat the best so far is skipped at its first differing pixel.
      if (best_length > 0 && src[best_length] != dst[best_length]) continue;
      size_t length = 1;
      while (length < limit && src[length] == dst[length]) ++length;
      if (length > best_length) {
        best_length = length;
        best_selector = s;
        if (length == limit) break;
      }
    }
    if (best_length == 0) {
      ++pos;
      continue;
    }
    put_literals(w, pixels, literal_start, pos - literal_start);
    put_copy(w, best_selector, best_length);
    pos += best_length;
    literal_start = pos;
  }
  put_literals(w, pixels, literal_start, pos - literal_start);
  return w.failed ? 0 : w.pos;
}

size_t rct_encode(const unsigned char* pixels, int width, int height, int variant,
                  const unsigned char* name, size_t name_length,
                  unsigned char* out, size_t out_size) {
  if (!rct_magic(variant) || rct_packed_size(width, height) == 0) return 0;
  const bool named = (variant == rct_tc01 || variant == rct_ts01);
  const bool scrambled = (variant == rct_ts00 || variant == rct_ts01);
  if (name_length > rct_name_max || (!named && name_length > 0)) return 0;
  const size_t header = rct_fixed_header_size + (named ? 2 + name_length : 0);
  if (out_size < header + 3) return 0;

  size_t stream = rct_encode_stream(pixels, width, height, out + header, out_size - header - (scrambled ? 2 : 0));
  if (stream == 0) return 0;
  unsigned char* data = out + header;
  size_t data_size = stream;
  if (scrambled) {
    data[data_size++] = 0x54;
    data[data_size++] = 0x53;
    for (size_t i = 0; i < data_size; ++i) data[i] ^= image_xor_key[i % rct_key_size];
  }
  if (data_size > UINT32_MAX) return 0;

  std::memcpy(out, rct_magic(variant), rct_magic_size);
  put_u32(out + 8, static_cast<uint32_t>(width));
  put_u32(out + 12, static_cast<uint32_t>(height));
  put_u32(out + 16, static_cast<uint32_t>(data_size));
  if (named) {
    put_u16(out + rct_fixed_header_size, static_cast<uint16_t>(name_length));
    if (name_length) std::memcpy(out + rct_fixed_header_size + 2, name, name_length);
  }
  return header + data_size;
}

}  // namespace talven
