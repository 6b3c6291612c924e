#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/alloc.h"
#include "engine/dib_image.h"
#include "engine/rct.h"
#include "engine/resolver.h"

namespace talven {


namespace {

void unlink_image(dib_image* image) {
  if (image->newer) image->newer->older = image->older;
  else if (state().image_list == image) state().image_list = image->older;
  if (image->older) image->older->newer = image->newer;
  image->newer = image->older = nullptr;
}

// One attempt at reading the file: 0 with the header and data (the caller frees it),
// rct_truncated for a short read (nothing left allocated), or another failure.
int read_rct_file(const char* name, rct_header* header, unsigned char** data) {
  *data = nullptr;
  FILE* stream = open_engine_file(name, "rb");
  int result = rct_read_header(stream, header);
  if (result != rct_ok) {
    std::fclose(stream);
    return result;
  }
  // The header check has capped the size relative to the picture; a size beyond what the
  // stream still holds is a short read, found before memory is asked for it.
  const long here = std::ftell(stream);
  long end = -1;
  if (here >= 0 && std::fseek(stream, 0, SEEK_END) == 0) end = std::ftell(stream);
  if (end < 0 || std::fseek(stream, here, SEEK_SET) != 0 ||
      static_cast<unsigned long>(end - here) < header->data_size) {
    std::fclose(stream);
    return rct_truncated;
  }
  unsigned char* block = static_cast<unsigned char*>(checked_alloc(header->data_size));
  const size_t got = std::fread(block, 1, header->data_size, stream);
  std::fclose(stream);
  if (got != header->data_size) {
    checked_free(block);
    return rct_truncated;
  }
  *data = block;
  return rct_ok;
}

}  // namespace

dib_image* create_dib_image(int width, int height, int keep) {
  if (height < 0 && height != INT32_MIN) height = -height;
  const int stride = rct_stride(width);
  if (stride == 0 || height <= 0 || static_cast<uint64_t>(stride) * static_cast<uint64_t>(height) > INT32_MAX)
    return nullptr;

  dib_image* image = static_cast<dib_image*>(checked_alloc(sizeof(dib_image)));
  std::memset(image, 0, sizeof *image);
  image->width = width;
  image->height = height;
  image->stride = stride;
  image->keep = keep;
  image->paletted = 0;

  BITMAPINFOHEADER* header = static_cast<BITMAPINFOHEADER*>(checked_alloc(sizeof(BITMAPINFOHEADER)));
  std::memset(header, 0, sizeof *header);
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = -height;  // top row first
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = BI_RGB;
  image->header = header;

  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dc) DeleteDC(dc);
  if (!bitmap || !bits) {
    // Too large for the system: no picture rather than a record without pixels.
    if (bitmap) DeleteObject(bitmap);
    checked_free(header);
    checked_free(image);
    return nullptr;
  }
  image->bitmap = bitmap;
  image->bits = static_cast<unsigned char*>(bits);
  std::memset(image->bits, 0, static_cast<size_t>(stride) * height);

  image->older = state().image_list;
  if (state().image_list) state().image_list->newer = image;
  state().image_list = image;
  return image;
}

int release_image(dib_image* image, int force) {
  if (!image) return 0;
  if (!force && image->keep) return 1;
  unlink_image(image);
  if (image->bitmap) DeleteObject(image->bitmap);
  checked_free(image->header);
  checked_free(image);
  return 0;
}

dib_image* load_rct_image(const char* name) {
  rct_header header;
  unsigned char* data = nullptr;
  int result = rct_truncated;
  // A short read starts over from the open, a bounded number of times.
  for (int attempt = 0; attempt < rct_load_attempts && result == rct_truncated; ++attempt)
    result = read_rct_file(name, &header, &data);
  if (result != rct_ok) return nullptr;

  dib_image* image = create_dib_image(header.width, header.height, 0);
  if (!image) {
    checked_free(data);
    return nullptr;
  }
  const size_t bitmap_size = static_cast<size_t>(image->stride) * image->height;
  // Decoded straight into the bitmap as packed rows, then spaced out in place. A damaged
  // stream leaves black after the damage; a missing trailer leaves it all black.
  result = rct_decode_data(header, data, header.data_size, image->bits, bitmap_size);
  checked_free(data);
  if (result != rct_no_trailer)
    rct_space_rows(image->bits, bitmap_size, image->width, image->height, image->stride);
  return image;
}

}  // namespace talven
