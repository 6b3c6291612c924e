// make-clip OUT.avi: draws the file-copy clip of the progress dialogs.
//
// The clip is an RLE8 AVI of 17 frames of 260 x 40 pixels at 100 ms a frame: a sheet of
// paper leaves the left folder, travels over an arc and drops into the right folder. The
// animation control plays only uncompressed or RLE8 video without sound, so that is what
// is written. Drawn here rather than committed so that no binary of unknown origin sits in
// the repository. Standalone: the build compiles it with the host compiler alone.
//
// With MAKE_CLIP_NO_MAIN defined the file is a library for the host tests.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace make_clip {

constexpr int clip_width = 260;
constexpr int clip_height = 40;
constexpr int clip_frames = 17;
constexpr uint32_t frame_microseconds = 100000;

// Palette indices. Index 0 is the top-left pixel of every frame, which the animation
// control takes as the transparent colour.
enum : uint8_t {
  ink_background = 0,
  ink_outline = 1,
  ink_folder = 2,
  ink_folder_front = 3,
  ink_folder_shadow = 4,
  ink_paper = 5,
  ink_paper_line = 6,
  ink_paper_fold = 7,
  ink_count
};

using frame_pixels = std::vector<uint8_t>;  // top-down rows of clip_width bytes

// 256 BGRX entries: the named inks first, then a grey ramp so that every index is defined.
std::vector<uint8_t> clip_palette() {
  static const uint8_t inks[ink_count][3] = {
      {240, 240, 240},  // background (RGB)
      {64, 48, 16},     // outline
      {232, 192, 80},   // folder back
      {248, 216, 112},  // folder front
      {176, 136, 40},   // folder shadow
      {255, 255, 255},  // paper
      {56, 88, 200},    // text lines on the paper
      {200, 200, 208},  // folded corner
  };
  std::vector<uint8_t> palette(256 * 4, 0);
  for (int i = 0; i < 256; ++i) {
    uint8_t r, g, b;
    if (i < ink_count) {
      r = inks[i][0];
      g = inks[i][1];
      b = inks[i][2];
    } else {
      r = g = b = static_cast<uint8_t>(i);
    }
    palette[i * 4 + 0] = b;
    palette[i * 4 + 1] = g;
    palette[i * 4 + 2] = r;
  }
  return palette;
}

namespace {

void fill_rect(frame_pixels& pixels, int left, int top, int right, int bottom, uint8_t ink) {
  // Clipped to the frame: the sheet's path may touch the edges.
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > clip_width) right = clip_width;
  if (bottom > clip_height) bottom = clip_height;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) pixels[static_cast<size_t>(y) * clip_width + x] = ink;
}

void frame_rect(frame_pixels& pixels, int left, int top, int right, int bottom, uint8_t fill,
                uint8_t edge) {
  fill_rect(pixels, left, top, right, bottom, edge);
  fill_rect(pixels, left + 1, top + 1, right - 1, bottom - 1, fill);
}

constexpr int folder_width = 52;
constexpr int folder_top = 12;
constexpr int folder_bottom = 38;
constexpr int left_folder_x = 8;
constexpr int right_folder_x = clip_width - 8 - folder_width;
constexpr int sheet_width = 16;
constexpr int sheet_height = 20;

// The back of a folder: tab and body, drawn behind the sheet.
void draw_folder_back(frame_pixels& pixels, int x) {
  frame_rect(pixels, x, folder_top - 5, x + 20, folder_top + 1, ink_folder, ink_outline);
  frame_rect(pixels, x, folder_top, x + folder_width, folder_bottom, ink_folder, ink_outline);
  fill_rect(pixels, x + 1, folder_top + 1, x + folder_width - 1, folder_top + 3, ink_folder_shadow);
}

// The front flap, drawn over the sheet so that the sheet seems to sit inside the folder.
void draw_folder_front(frame_pixels& pixels, int x) {
  frame_rect(pixels, x, folder_top + 9, x + folder_width, folder_bottom, ink_folder_front,
             ink_outline);
}

void draw_sheet(frame_pixels& pixels, int left, int top) {
  frame_rect(pixels, left, top, left + sheet_width, top + sheet_height, ink_paper, ink_outline);
  for (int line = 0; line < 4; ++line)
    fill_rect(pixels, left + 3, top + 5 + line * 3, left + sheet_width - 3, top + 6 + line * 3,
              ink_paper_line);
  // Folded top-right corner.
  for (int i = 0; i < 4; ++i)
    fill_rect(pixels, left + sheet_width - 5 + i, top + 1, left + sheet_width - 1, top + 2 + i,
              ink_paper_fold);
}

}  // namespace

// Left edge and top of the sheet in frame `index`: a half-sine arc from the middle of the
// left folder to the middle of the right one.
void sheet_position(int index, int* left, int* top) {
  const double pi = 3.14159265358979323846;
  double t = static_cast<double>(index) / (clip_frames - 1);
  int start = left_folder_x + (folder_width - sheet_width) / 2;
  int end = right_folder_x + (folder_width - sheet_width) / 2;
  *left = start + static_cast<int>(std::lround((end - start) * t));
  *top = folder_top + 2 - static_cast<int>(std::lround(13.0 * std::sin(pi * t)));
}

frame_pixels draw_frame(int index) {
  frame_pixels pixels(static_cast<size_t>(clip_width) * clip_height, ink_background);
  draw_folder_back(pixels, left_folder_x);
  draw_folder_back(pixels, right_folder_x);
  int left, top;
  sheet_position(index, &left, &top);
  draw_sheet(pixels, left, top);
  draw_folder_front(pixels, left_folder_x);
  draw_folder_front(pixels, right_folder_x);
  return pixels;
}

// One row in RLE8: runs of two or more equal pixels as (count, index) pairs, other stretches
// of three or more pixels in absolute mode (0, n, n bytes, padded to a 16-bit boundary),
// shorter stretches as runs of one. No row end is written here.
void encode_row(const uint8_t* row, int width, std::vector<uint8_t>& out) {
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(run));
      out.push_back(row[x]);
      x += run;
      continue;
    }
    // A literal stretch ends where a run of three equal pixels begins.
    int length = 0;
    while (x + length < width && length < 255) {
      int at = x + length;
      if (at + 2 < width && row[at] == row[at + 1] && row[at] == row[at + 2]) break;
      ++length;
    }
    if (length < 3) {
      for (int i = 0; i < length; ++i) {
        out.push_back(1);
        out.push_back(row[x + i]);
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<uint8_t>(length));
      out.insert(out.end(), row + x, row + x + length);
      if (length & 1) out.push_back(0);
    }
    x += length;
  }
}

// A whole frame, bottom row first as a bottom-up DIB stores it: each row ends with the
// end-of-line code (0, 0) except the last, which ends with end-of-bitmap (0, 1).
std::vector<uint8_t> encode_frame(const frame_pixels& pixels, int width, int height) {
  std::vector<uint8_t> out;
  for (int y = height - 1; y >= 0; --y) {
    encode_row(&pixels[static_cast<size_t>(y) * width], width, out);
    out.push_back(0);
    out.push_back(y == 0 ? 1 : 0);
  }
  return out;
}

namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

void put_fourcc(std::vector<uint8_t>& out, const char* code) { out.insert(out.end(), code, code + 4); }

void patch32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Starts a chunk (or a RIFF/LIST with its type) and returns where its size goes.
size_t begin_chunk(std::vector<uint8_t>& out, const char* id, const char* type = nullptr) {
  put_fourcc(out, id);
  size_t size_at = out.size();
  put32(out, 0);
  if (type) put_fourcc(out, type);
  return size_at;
}

void end_chunk(std::vector<uint8_t>& out, size_t size_at) {
  patch32(out, size_at, static_cast<uint32_t>(out.size() - size_at - 4));
  if (out.size() & 1) out.push_back(0);  // chunks start on even offsets
}

}  // namespace

// The complete AVI file.
std::vector<uint8_t> build_clip() {
  std::vector<std::vector<uint8_t>> frames;
  uint32_t largest = 0;
  for (int i = 0; i < clip_frames; ++i) {
    frames.push_back(encode_frame(draw_frame(i), clip_width, clip_height));
    if (frames.back().size() > largest) largest = static_cast<uint32_t>(frames.back().size());
  }
  const uint32_t frames_per_second = 1000000 / frame_microseconds;

  std::vector<uint8_t> out;
  size_t riff = begin_chunk(out, "RIFF", "AVI ");
  size_t hdrl = begin_chunk(out, "LIST", "hdrl");

  size_t avih = begin_chunk(out, "avih");
  put32(out, frame_microseconds);
  put32(out, largest * frames_per_second);  // max bytes per second
  put32(out, 0);                            // padding granularity
  put32(out, 0x10);                         // AVIF_HASINDEX
  put32(out, clip_frames);
  put32(out, 0);  // initial frames
  put32(out, 1);  // streams
  put32(out, largest);
  put32(out, clip_width);
  put32(out, clip_height);
  for (int i = 0; i < 4; ++i) put32(out, 0);
  end_chunk(out, avih);

  size_t strl = begin_chunk(out, "LIST", "strl");
  size_t strh = begin_chunk(out, "strh");
  put_fourcc(out, "vids");
  put_fourcc(out, "mrle");
  put32(out, 0);  // flags
  put16(out, 0);  // priority
  put16(out, 0);  // language
  put32(out, 0);  // initial frames
  put32(out, 1);  // scale
  put32(out, frames_per_second);  // rate: rate / scale frames a second
  put32(out, 0);  // start
  put32(out, clip_frames);
  put32(out, largest);
  put32(out, 0xFFFFFFFFu);  // quality: default
  put32(out, 0);            // sample size: varies
  put16(out, 0);
  put16(out, 0);
  put16(out, clip_width);
  put16(out, clip_height);
  end_chunk(out, strh);

  size_t strf = begin_chunk(out, "strf");
  put32(out, 40);  // BITMAPINFOHEADER
  put32(out, clip_width);
  put32(out, clip_height);  // positive: bottom-up
  put16(out, 1);            // planes
  put16(out, 8);            // bits per pixel
  put32(out, 1);            // BI_RLE8
  put32(out, largest);      // image size
  put32(out, 0);
  put32(out, 0);
  put32(out, 256);  // colours used
  put32(out, 0);    // colours important: all
  std::vector<uint8_t> palette = clip_palette();
  out.insert(out.end(), palette.begin(), palette.end());
  end_chunk(out, strf);
  end_chunk(out, strl);
  end_chunk(out, hdrl);

  size_t movi = begin_chunk(out, "LIST", "movi");
  size_t movi_type = movi + 4;  // index offsets count from the list's type field
  std::vector<uint32_t> offsets;
  for (const std::vector<uint8_t>& frame : frames) {
    offsets.push_back(static_cast<uint32_t>(out.size() - movi_type));
    size_t chunk = begin_chunk(out, "00dc");
    out.insert(out.end(), frame.begin(), frame.end());
    end_chunk(out, chunk);
  }
  end_chunk(out, movi);

  size_t idx1 = begin_chunk(out, "idx1");
  for (size_t i = 0; i < frames.size(); ++i) {
    put_fourcc(out, "00dc");
    put32(out, 0x10);  // AVIIF_KEYFRAME: every frame is complete
    put32(out, offsets[i]);
    put32(out, static_cast<uint32_t>(frames[i].size()));
  }
  end_chunk(out, idx1);
  end_chunk(out, riff);
  return out;
}

}  // namespace make_clip

#ifndef MAKE_CLIP_NO_MAIN
int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-clip OUT.avi\n");
    return 2;
  }
  std::vector<uint8_t> clip = make_clip::build_clip();
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::fprintf(stderr, "make-clip: cannot create %s\n", argv[1]);
    return 1;
  }
  size_t written = std::fwrite(clip.data(), 1, clip.size(), file);
  int closed = std::fclose(file);
  if (written != clip.size() || closed != 0) {
    std::fprintf(stderr, "make-clip: cannot write %s\n", argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
#endif
