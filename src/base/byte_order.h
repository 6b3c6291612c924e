// Little-endian fields of the file formats (package, RCT, mount index) and a bounded
// reader over bytes already in memory: every take checks what is left first, so a
// short or hostile file can never be read past its end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talven {

inline uint16_t get_u16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t get_i32(const unsigned char* p) { return static_cast<int32_t>(get_u32(p)); }
inline void put_u16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A cursor over [data, data + size). A take that does not fit leaves the cursor where it
// was and returns 0; the caller decides what a short field means.
struct byte_reader {
  const unsigned char* data;
  size_t size;
  size_t at;
};

inline byte_reader make_byte_reader(const void* data, size_t size) {
  return byte_reader{static_cast<const unsigned char*>(data), size, 0};
}
inline size_t bytes_left(const byte_reader* r) { return r->size - r->at; }
inline int take_bytes(byte_reader* r, void* out, size_t n) {
  if (bytes_left(r) < n) return 0;
  if (n) std::memcpy(out, r->data + r->at, n);
  r->at += n;
  return 1;
}
inline int skip_bytes(byte_reader* r, size_t n) {
  if (bytes_left(r) < n) return 0;
  r->at += n;
  return 1;
}
inline int take_u16(byte_reader* r, uint16_t* v) {
  if (bytes_left(r) < 2) return 0;
  *v = get_u16(r->data + r->at);
  r->at += 2;
  return 1;
}
inline int take_u32(byte_reader* r, uint32_t* v) {
  if (bytes_left(r) < 4) return 0;
  *v = get_u32(r->data + r->at);
  r->at += 4;
  return 1;
}
inline int take_i32(byte_reader* r, int32_t* v) {
  uint32_t u;
  if (!take_u32(r, &u)) return 0;
  *v = static_cast<int32_t>(u);
  return 1;
}

}  // namespace talven
