// Picture records as the menu uses them: DIB sections with a top-down header, the list of
// live records, and RCT files loaded through the resolver from the current folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/dib_image.h"
#include "engine/rct.h"
#include "engine/resolver.h"

using namespace talven;

namespace {

using bytes = std::vector<unsigned char>;

bytes test_picture(int width, int height) {
  bytes p(3 * static_cast<size_t>(width) * height);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(i * 29 + (i / 7) * 3 + 11);
  return p;
}

bytes encode(const bytes& picture, int width, int height, int variant) {
  bytes out(rct_encode_bound(width, height, 4));
  const unsigned char name[] = {'m', 'e', 'n', 'u'};
  const bool named = variant == rct_tc01 || variant == rct_ts01;
  out.resize(rct_encode(picture.data(), width, height, variant, name, named ? 4 : 0, out.data(), out.size()));
  return out;
}

void write_file(const char* name, const bytes& b) {
  FILE* f = std::fopen(name, "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
  std::fclose(f);
}

// Runs each test in a fresh folder of its own, made current, as the work folder is.
class LoadRct : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::snprintf(folder, sizeof folder, "%srct_test_%lu", temp, GetTickCount());
    CreateDirectoryA(folder, nullptr);
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    set_open_as_given(1);
  }
  void TearDown() override {
    for (const std::string& f : files) DeleteFileA(f.c_str());
    SetCurrentDirectoryA(previous);
    RemoveDirectoryA(folder);
  }
  void put(const char* name, const bytes& b) {
    files.push_back(name);
    write_file(name, b);
  }
  char folder[MAX_PATH];
  char previous[MAX_PATH];
  std::vector<std::string> files;
};

// The picture as GDI draws it: StretchDIBits onto a 32-bit target, read back as BGR.
bytes painted(const dib_image* image) {
  BITMAPINFOHEADER target = {};
  target.biSize = sizeof target;
  target.biWidth = image->width;
  target.biHeight = -image->height;
  target.biPlanes = 1;
  target.biBitCount = 32;
  target.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&target), DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  StretchDIBits(dc, 0, 0, image->width, image->height, 0, 0, image->width, image->height, image->bits,
                reinterpret_cast<const BITMAPINFO*>(image->header), DIB_RGB_COLORS, SRCCOPY);
  GdiFlush();
  bytes out;
  const unsigned char* p = static_cast<const unsigned char*>(bits);
  for (int i = 0; i < image->width * image->height; ++i) out.insert(out.end(), p + 4 * i, p + 4 * i + 3);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return out;
}

}  // namespace

TEST(DibImage, CreateGivesATopDownBlackSection) {
  for (int width : {1, 3, 4, 5, 640}) {
    dib_image* image = create_dib_image(width, 7, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, 7);
    EXPECT_EQ(image->stride % 4, 0);
    EXPECT_GE(image->stride, 3 * width);
    EXPECT_LT(image->stride, 3 * width + 4);
    EXPECT_EQ(image->keep, 0);
    EXPECT_EQ(image->paletted, 0);
    EXPECT_EQ(image->palette, nullptr);
    ASSERT_NE(image->header, nullptr);
    EXPECT_EQ(image->header->biSize, 40u);
    EXPECT_EQ(image->header->biWidth, width);
    EXPECT_EQ(image->header->biHeight, -7);
    EXPECT_EQ(image->header->biPlanes, 1);
    EXPECT_EQ(image->header->biBitCount, 24);
    EXPECT_EQ(image->header->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(image->header->biSizeImage, 0u);
    EXPECT_EQ(image->header->biClrUsed, 0u);
    ASSERT_NE(image->bitmap, nullptr);
    ASSERT_NE(image->bits, nullptr);
    BITMAP info = {};
    ASSERT_NE(GetObjectA(image->bitmap, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidthBytes, image->stride);
    EXPECT_EQ(info.bmBitsPixel, 24);
    EXPECT_EQ(info.bmBits, image->bits);
    for (int i = 0; i < image->stride * 7; ++i) ASSERT_EQ(image->bits[i], 0) << i;
    EXPECT_EQ(release_image(image, 0), 0);
  }
  // A negative height is taken by its size; sizes that describe no picture give none.
  dib_image* image = create_dib_image(2, -3, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->height, 3);
  EXPECT_EQ(image->header->biHeight, -3);
  release_image(image, 1);
  EXPECT_EQ(create_dib_image(0, 3, 0), nullptr);
  EXPECT_EQ(create_dib_image(3, 0, 0), nullptr);
  EXPECT_EQ(create_dib_image(-4, 3, 0), nullptr);
  EXPECT_EQ(create_dib_image(40000, 40000, 0), nullptr);
}

TEST(DibImage, ListIsNewestFirstAndReleaseHonoursKeep) {
  dib_image* before = state().image_list;
  dib_image* a = create_dib_image(1, 1, 0);
  dib_image* b = create_dib_image(2, 2, 1);
  dib_image* c = create_dib_image(3, 3, 0);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(state().image_list, c);
  EXPECT_EQ(c->newer, nullptr);
  EXPECT_EQ(c->older, b);
  EXPECT_EQ(b->newer, c);
  EXPECT_EQ(b->older, a);
  EXPECT_EQ(a->newer, b);
  EXPECT_EQ(a->older, before);

  // Kept without force: refused, still linked.
  EXPECT_EQ(release_image(b, 0), 1);
  EXPECT_EQ(c->older, b);
  EXPECT_EQ(a->newer, b);
  // The middle one with force: its neighbours meet.
  EXPECT_EQ(release_image(b, 1), 0);
  EXPECT_EQ(c->older, a);
  EXPECT_EQ(a->newer, c);
  // The head: the list starts at the next older one.
  EXPECT_EQ(release_image(c, 0), 0);
  EXPECT_EQ(state().image_list, a);
  EXPECT_EQ(a->newer, nullptr);
  EXPECT_EQ(release_image(a, 0), 0);
  EXPECT_EQ(state().image_list, before);
  EXPECT_EQ(release_image(nullptr, 0), 0);
  EXPECT_EQ(release_image(nullptr, 1), 0);
}

TEST_F(LoadRct, DecodesIntoTheSectionWithItsStride) {
  for (int width : {1, 3, 4, 5, 7}) {
    const int height = 4;
    const bytes picture = test_picture(width, height);
    for (int variant : {rct_tc00, rct_ts00, rct_tc01, rct_ts01}) {
      put("insttscr.rct", encode(picture, width, height, variant));
      dib_image* image = load_rct_image("insttscr.rct");
      ASSERT_NE(image, nullptr) << width << " v" << variant;
      EXPECT_EQ(state().image_list, image);
      EXPECT_EQ(image->keep, 0);
      ASSERT_EQ(image->width, width);
      ASSERT_EQ(image->height, height);
      for (int y = 0; y < height; ++y) {
        EXPECT_EQ(std::memcmp(image->bits + y * image->stride, &picture[3 * y * width], 3 * width), 0)
            << width << " v" << variant << " row " << y;
        for (int pad = 3 * width; pad < image->stride; ++pad) EXPECT_EQ(image->bits[y * image->stride + pad], 0);
      }
      EXPECT_EQ(painted(image), picture) << width << " v" << variant;
      EXPECT_EQ(release_image(image, 0), 0);
    }
  }
}

TEST_F(LoadRct, FilesThatAreNoPictureGiveNone) {
  const bytes picture = test_picture(4, 2);
  bytes file = encode(picture, 4, 2, rct_tc00);
  const char wrong[] = "六丁8_00";  // CP932 bytes, like the real magics
  std::memcpy(file.data(), wrong, 8);
  put("wrong.rct", file);
  dib_image* before = state().image_list;
  EXPECT_EQ(load_rct_image("wrong.rct"), nullptr);

  // Cut short: every bounded attempt reads too little, and the data is freed each time.
  file = encode(picture, 4, 2, rct_tc00);
  file.resize(file.size() - 2);
  put("short.rct", file);
  EXPECT_EQ(load_rct_image("short.rct"), nullptr);
  // A data size far beyond the file (within the cap for its picture) is a short read,
  // found before the 1.5 GB block is asked for (which would end the program).
  bytes claims = file;
  const int32_t fields[3] = {20000, 20000, 1500000000};  // no room for that in 32 bits
  for (int f = 0; f < 3; ++f)
    for (int k = 0; k < 4; ++k) claims[8 + 4 * f + k] = static_cast<unsigned char>(fields[f] >> (8 * k));
  put("claims.rct", claims);
  EXPECT_EQ(load_rct_image("claims.rct"), nullptr);
  put("tiny.rct", bytes(file.begin(), file.begin() + 12));
  EXPECT_EQ(load_rct_image("tiny.rct"), nullptr);

  // A header without a picture: zero width.
  file = encode(picture, 4, 2, rct_tc00);
  std::memset(&file[8], 0, 4);
  put("zero.rct", file);
  EXPECT_EQ(load_rct_image("zero.rct"), nullptr);
  EXPECT_EQ(state().image_list, before);
}

TEST_F(LoadRct, MissingTrailerGivesBlackAndDamageKeepsWhatDecoded) {
  const int width = 5, height = 3;
  const bytes picture = test_picture(width, height);
  bytes file = encode(picture, width, height, rct_ts00);
  file.back() = 'X';
  put("notrailer.rct", file);
  dib_image* image = load_rct_image("notrailer.rct");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, width);
  EXPECT_EQ(image->height, height);
  for (int i = 0; i < image->stride * height; ++i) ASSERT_EQ(image->bits[i], 0);
  release_image(image, 0);

  // First pixel, a literal of the rest of row 0, then a copy from a row above row 0.
  bytes data(picture.begin(), picture.begin() + 3);
  data.push_back(static_cast<unsigned char>(width - 2));
  data.insert(data.end(), picture.begin() + 3, picture.begin() + 3 * width);
  data.push_back(0x80 | 13 << 2);  // selector 13: two rows up
  bytes damaged(rct_magic(rct_tc00), rct_magic(rct_tc00) + 8);
  for (int32_t v : {width, height, static_cast<int32_t>(data.size())})
    for (int k = 0; k < 4; ++k) damaged.push_back(static_cast<unsigned char>(v >> (8 * k)));
  damaged.insert(damaged.end(), data.begin(), data.end());
  put("damaged.rct", damaged);
  image = load_rct_image("damaged.rct");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::memcmp(image->bits, picture.data(), 3 * width), 0);
  for (int i = image->stride; i < image->stride * height; ++i) ASSERT_EQ(image->bits[i], 0) << i;
  release_image(image, 0);
}

TEST(DibImage, CopyOffsetsOfVeryWidePicturesKeep64Bits) {
  // Four rows up in a 700-million-pixel row is beyond a 32-bit long on this target.
  EXPECT_EQ(rct_copy_offset(29, 700000000), -2800000000LL);
  EXPECT_EQ(rct_copy_offset(27, 700000000), 2 - 2800000000LL);
}
