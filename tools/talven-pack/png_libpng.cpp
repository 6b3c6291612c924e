// PNG files through libpng: the tool's builds where the library is at hand (Linux).
// png_zlib.cpp reads and writes the same pictures on zlib alone.
#include <png.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/rct.h"
#include "pack_common.h"
#include "platform.h"
#include "png_file.h"

namespace talven::pack {

namespace {

struct png_failure {
  std::jmp_buf jump;
  char message[256];
};

void on_png_error(png_structp png, png_const_charp message) {
  png_failure* failure = static_cast<png_failure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s", message);
  std::longjmp(failure->jump, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

struct file_closer {
  FILE* file;
  ~file_closer() {
    if (file) std::fclose(file);
  }
};

}  // namespace

// Reads any PNG into packed BGR rows. 0, or -1 after printing why.
int read_png(const char* path, std::vector<unsigned char>* bgr, int* width, int* height) {
  file_closer in{open_file(path, "rb")};
  if (!in.file) {
    fail("cannot open %s: %s", path, std::strerror(errno));
    return -1;
  }
  unsigned char signature[8];
  if (std::fread(signature, 1, 8, in.file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    fail("%s is not a PNG picture", path);
    return -1;
  }
  static png_failure failure;  // outlives the longjmp; one picture at a time
  failure.message[0] = 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    fail("out of memory reading %s", path);
    return -1;
  }
  std::vector<unsigned char> rgba;
  std::vector<png_bytep> rows;
  if (setjmp(failure.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    fail("%s: %s", path, failure.message);
    return -1;
  }
  png_init_io(png, in.file);
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  const int colour = png_get_color_type(png, info);
  // Everything becomes 8-bit RGBA, so one loop handles every colour type.
  png_set_expand(png);
#ifdef PNG_READ_SCALE_16_TO_8_SUPPORTED
  png_set_scale_16(png);  // rounds, where stripping would truncate
#else
  png_set_strip_16(png);
#endif
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (w == 0 || h == 0 || rct_packed_size(static_cast<int>(w), static_cast<int>(h)) == 0 ||
      w > static_cast<png_uint_32>(INT32_MAX) || h > static_cast<png_uint_32>(INT32_MAX)) {
    png_destroy_read_struct(&png, &info, nullptr);
    fail("%s: %ux%u is too large for an RCT picture", path, static_cast<unsigned>(w), static_cast<unsigned>(h));
    return -1;
  }
  rgba.resize(static_cast<size_t>(w) * h * 4);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = rgba.data() + static_cast<size_t>(y) * w * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);

  bgr->resize(static_cast<size_t>(w) * h * 3);
  rgba_over_black(rgba.data(), static_cast<size_t>(w) * h, bgr->data());
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return 0;
}

// Writes packed BGR rows as an 8-bit RGB PNG into the file at path. 0, or -1 after
// printing why.
int write_png_file(const char* path, const unsigned char* bgr, int width, int height) {
  file_closer out{open_file(path, "wb")};
  if (!out.file) {
    fail("cannot create %s: %s", path, std::strerror(errno));
    return -1;
  }
  static png_failure failure;
  failure.message[0] = 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    fail("out of memory writing %s", path);
    return -1;
  }
  errno = 0;
  if (setjmp(failure.jump)) {
    int saved = errno;
    png_destroy_write_struct(&png, &info);
    // libpng says only "Write Error"; the reason is in errno.
    if (saved != 0)
      fail("cannot write %s: %s (%s)", path, failure.message, std::strerror(saved));
    else
      fail("%s: %s", path, failure.message);
    return -1;
  }
  png_init_io(png, out.file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  const size_t row = 3 * static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(bgr + y * row));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  FILE* f = out.file;
  out.file = nullptr;
  if (std::fclose(f) != 0) {
    fail("cannot write %s: %s", path, std::strerror(errno));
    return -1;
  }
  return 0;
}

}  // namespace talven::pack
