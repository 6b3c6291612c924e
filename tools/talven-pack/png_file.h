// PNG pictures for `rct encode` and `rct decode`: png_libpng.cpp where libpng is at hand,
// png_zlib.cpp (the same pictures on zlib alone) where it is not.
#pragma once
#include <cstddef>
#include <vector>

namespace talven::pack {

// Reads any PNG (every colour type and depth, interlaced or not) into packed BGR rows, an
// alpha channel composited over black. 0, or -1 after printing why.
int read_png(const char* path, std::vector<unsigned char>* bgr, int* width, int* height);

// Writes packed BGR rows as an 8-bit RGB PNG into the file at path. 0, or -1 after
// printing why.
int write_png_file(const char* path, const unsigned char* bgr, int width, int height);

// 8-bit RGBA pixels over black into BGR: each channel scaled by its coverage, rounded.
inline void rgba_over_black(const unsigned char* rgba, size_t pixels, unsigned char* bgr) {
  for (size_t i = 0; i < pixels; ++i) {
    const unsigned char* p = &rgba[4 * i];
    const unsigned a = p[3];
    bgr[3 * i] = static_cast<unsigned char>((p[2] * a + 127) / 255);
    bgr[3 * i + 1] = static_cast<unsigned char>((p[1] * a + 127) / 255);
    bgr[3 * i + 2] = static_cast<unsigned char>((p[0] * a + 127) / 255);
  }
}

}  // namespace talven::pack
