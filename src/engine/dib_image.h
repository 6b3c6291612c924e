// Decoded pictures as 24-bit top-down DIB sections, and the process-wide list of them.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/process_state.h"  // image_list

namespace talven {

struct dib_image {
  int32_t width;              // pixels
  int32_t height;             // pixels, positive
  int32_t stride;             // bytes a row: 3 x width rounded up to a multiple of 4
  int32_t keep;               // set: release_image without force leaves the record
  int32_t paletted;           // 0 for the 24-bit records made here
  BITMAPINFOHEADER* header;   // owned by the record; height negative (top row first)
  RGBQUAD* palette;           // paletted records only; never made in this system
  unsigned char* bits;        // first pixel byte, owned by the bitmap
  HBITMAP bitmap;             // the DIB section
  dib_image* newer;           // links in image_list
  dib_image* older;
};

// A black 24-bit picture on the head of image_list. None when the size describes no
// picture (width or height <= 0, more than 2 GiB of rows) or the system refuses the
// bitmap: callers treat none as the absence of a picture.
dib_image* create_dib_image(int width, int height, int keep);

// 0 when the record was freed or was none; 1 when its keep flag is set and force is 0.
int release_image(dib_image* image, int force);

// Opens the name through the engine's resolver and decodes it into a new record.
// None for a file that is not an RCT picture, one whose header describes no picture,
// or one still cut short after rct_load_attempts reads. A damaged command stream gives
// the picture decoded up to the damage (black after it); a scrambled file without its
// check trailer gives a black picture of its size.
dib_image* load_rct_image(const char* name);

constexpr int rct_load_attempts = 3;

}  // namespace talven
