// RCT decoder and encoder. Buffers are sized exactly, so that a build with
// -fsanitize=address turns any read or write outside them into a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/wait.h>
#include <string>
#include <vector>

#include "engine/rct.h"
#include "package_kit.h"

using namespace talven;

namespace {

using bytes = std::vector<unsigned char>;

// Copy selectors (dx, dy) as the format defines them, typed in independently of the decoder.
const int table_dx[32] = {-1, -2, -3, -4, -5, -6, +3, +2, +1, 0,  -1, -2, -3, +3, +2, +1,
                          0,  -1, -2, -3, +3, +2, +1, 0,  -1, -2, -3, +2, +1, 0,  -1, -2};
const int table_dy[32] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                          2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4};

// A distinct colour for each small index.
void put_color(bytes& b, int i) {
  b.push_back(static_cast<unsigned char>(i * 37 + 1));
  b.push_back(static_cast<unsigned char>(i * 91 + 7));
  b.push_back(static_cast<unsigned char>(i * 13 + 200));
}

// A stream that starts with colour i as its first pixel.
bytes first_pixel(int i) {
  bytes b;
  put_color(b, i);
  return b;
}

bool pixel_is(const bytes& pixels, size_t index, int color) {
  bytes c = first_pixel(color);
  return std::memcmp(pixels.data() + 3 * index, c.data(), 3) == 0;
}

// A literal command of `count` pixels with colours first..first+count-1 (count <= 127).
void put_literal(bytes& b, int first, int count) {
  b.push_back(static_cast<unsigned char>(count - 1));
  for (int i = 0; i < count; ++i) put_color(b, first + i);
}

void put16(bytes& b, unsigned v) {
  b.push_back(static_cast<unsigned char>(v & 0xFF));
  b.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A whole file around a command stream.
bytes make_file(const char* magic, int32_t width, int32_t height, const bytes& data,
                const bytes* name = nullptr, uint32_t* data_size = nullptr) {
  bytes f(magic, magic + 8);
  put32(f, static_cast<uint32_t>(width));
  put32(f, static_cast<uint32_t>(height));
  put32(f, data_size ? *data_size : static_cast<uint32_t>(data.size()));
  if (name) {
    put16(f, static_cast<unsigned>(name->size()));
    f.insert(f.end(), name->begin(), name->end());
  }
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// Decodes a stream into an exactly sized buffer pre-filled with a sentinel.
struct decoded_picture {
  int result;
  size_t done;
  bytes pixels;
};

decoded_picture decode(const bytes& data, int width, int height) {
  decoded_picture d;
  d.pixels.assign(3 * static_cast<size_t>(width) * height, 0xCD);
  bytes exact(data);  // exact size: reading past it trips the sanitizer
  d.result = rct_decode(exact.data(), exact.size(), width, height, d.pixels.data(), d.pixels.size(), &d.done);
  return d;
}

bool untouched_from(const bytes& pixels, size_t from) {
  for (size_t i = from; i < pixels.size(); ++i)
    if (pixels[i] != 0xCD) return false;
  return true;
}

// The decoder refuses the stream after `done` pixel bytes and writes nothing past them.
::testing::AssertionResult refused_at(const bytes& data, int width, int height, size_t done) {
  decoded_picture d = decode(data, width, height);
  if (d.result == rct_corrupt && d.done == done && untouched_from(d.pixels, done))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "result " << d.result << " after " << d.done << " bytes, want "
                                       << rct_corrupt << " after " << done;
}

bytes encode_file(const bytes& pixels, int width, int height, int variant,
                  const bytes& name = bytes()) {
  bytes out(rct_encode_bound(width, height, name.size()));
  size_t n = rct_encode(pixels.data(), width, height, variant, name.data(), name.size(), out.data(), out.size());
  out.resize(n);
  return out;
}

// An unnamed temporary file holding b, rewound for reading.
FILE* temp_file(const bytes& b) {
  FILE* f = std::tmpfile();
  if (f) {
    std::fwrite(b.data(), 1, b.size(), f);
    std::rewind(f);
  }
  return f;
}

int parse(const bytes& file) {
  rct_header h;
  return rct_parse_header(file.data(), file.size(), &h);
}

// Full path of a file: header, unscrambling, decoding.
int decode_file(bytes file, rct_header* header, bytes* pixels) {
  int r = rct_parse_header(file.data(), file.size(), header);
  if (r != rct_ok) return r;
  pixels->assign(rct_packed_size(header->width, header->height), 0xCD);
  bytes data(file.begin() + header->data_offset, file.begin() + header->data_offset + header->data_size);
  return rct_decode_data(*header, data.data(), data.size(), pixels->data(), pixels->size());
}

bytes random_picture(int width, int height, unsigned seed, int colours) {
  std::mt19937 rng(seed);
  bytes p(3 * static_cast<size_t>(width) * height);
  if (colours <= 0) {
    for (auto& b : p) b = static_cast<unsigned char>(rng());
  } else {
    // A small palette makes repeats, so copies get used at all distances.
    for (size_t i = 0; i < p.size(); i += 3) {
      int c = static_cast<int>(rng() % colours);
      p[i] = static_cast<unsigned char>(c * 50);
      p[i + 1] = static_cast<unsigned char>(c * 20 + 3);
      p[i + 2] = static_cast<unsigned char>(255 - c);
    }
  }
  return p;
}

bytes structured_picture(int width, int height) {
  bytes p(3 * static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned char* q = &p[3 * (static_cast<size_t>(y) * width + x)];
      q[0] = static_cast<unsigned char>(x * 255 / (width > 1 ? width - 1 : 1));  // gradient
      q[1] = static_cast<unsigned char>((y / 7) % 2 ? 200 : 30);                   // bands
      q[2] = static_cast<unsigned char>(((x / 5) + (y / 5)) % 2 ? 255 : 0);        // checks
    }
  return p;
}

}  // namespace

// ---------------------------------------------------------------- header

TEST(RctHeader, FourMagicsAreTheCp932BytesOfTheirNames) {
  // The literals are compiled to CP932, the format's own encoding of the first two characters.
  const char* names[4] = {"六丁TC00", "六丁TS00", "六丁TC01", "六丁TS01"};
  const int variants[4] = {rct_tc00, rct_ts00, rct_tc01, rct_ts01};
  const unsigned char prefix[4] = {0x98, 0x5A, 0x92, 0x9A};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(std::strlen(names[i]), 8u);
    EXPECT_EQ(std::memcmp(names[i], prefix, 4), 0);
    EXPECT_EQ(rct_identify(reinterpret_cast<const unsigned char*>(names[i])), variants[i]) << i;
    EXPECT_EQ(std::memcmp(rct_magic(variants[i]), names[i], 8), 0);

    bytes data = first_pixel(0);
    if (i % 2) { data.push_back('T'); data.push_back('S'); }
    bytes name;
    bytes file = make_file(names[i], 1, 1, data, i >= 2 ? &name : nullptr);
    rct_header h;
    bytes pixels;
    ASSERT_EQ(decode_file(file, &h, &pixels), rct_ok) << i;
    EXPECT_EQ(h.variant, variants[i]);
    EXPECT_EQ(h.scrambled, i % 2);
    EXPECT_EQ(h.data_offset, i >= 2 ? 22u : 20u);
    EXPECT_TRUE(pixel_is(pixels, 0, 0));
  }
}

TEST(RctHeader, OtherMagicsAreNotPictures) {
  bytes data = first_pixel(0);
  for (const char* magic : {"六丁8_00", "六丁TC02", "六丁TX00", "RCT TC00"})
    EXPECT_EQ(parse(make_file(magic, 1, 1, data)), rct_not_rct) << magic;
  // Too short to hold a magic, and a magic with a header cut short.
  bytes file = make_file("六丁TC00", 1, 1, data);
  rct_header h;
  for (size_t cut : {size_t(7), size_t(19), file.size() - 1})
    EXPECT_EQ(rct_parse_header(file.data(), cut, &h), rct_truncated) << cut;
}

TEST(RctHeader, NamedVariantSkipsTheName) {
  bytes data = first_pixel(4);
  put_literal(data, 5, 1);
  bytes name = {'a', 'b', 0x83, 0x65, 'z'};
  bytes file = make_file("六丁TC01", 2, 1, data, &name);
  rct_header h;
  bytes pixels;
  ASSERT_EQ(decode_file(file, &h, &pixels), rct_ok);
  EXPECT_EQ(h.name_length, 5);
  EXPECT_EQ(std::memcmp(h.name, name.data(), 5), 0);
  EXPECT_EQ(h.data_offset, 27u);
  EXPECT_TRUE(pixel_is(pixels, 0, 4));
  EXPECT_TRUE(pixel_is(pixels, 1, 5));
}

TEST(RctHeader, NameLongerThan264IsRefusedAnd264IsRead) {
  bytes data = first_pixel(1);
  bytes name(264, 'n');
  EXPECT_EQ(parse(make_file("六丁TC01", 1, 1, data, &name)), rct_ok);
  name.push_back('n');
  EXPECT_EQ(parse(make_file("六丁TS01", 1, 1, data, &name)), rct_corrupt);
  // A name length that claims more than the file holds.
  uint32_t three = 3;
  bytes file = make_file("六丁TC01", 1, 1, bytes(), nullptr, &three);
  put16(file, 200);
  file.insert(file.end(), 100, 'n');
  EXPECT_EQ(parse(file), rct_truncated);
}

TEST(RctHeader, SizesThatDescribeNoPictureAreRefused) {
  bytes data = first_pixel(1);
  const int32_t bad[][2] = {{0, 1}, {1, 0}, {-1, 5}, {5, -1}, {INT32_MIN, 1},
                            {65536, 32768}, {INT32_MAX, INT32_MAX}, {715827883, 1}};
  for (auto& s : bad) EXPECT_EQ(parse(make_file("六丁TC00", s[0], s[1], data)), rct_corrupt) << s[0] << "x" << s[1];
  // The largest picture that fits 31 bits is still accepted, given data that could fill it.
  EXPECT_EQ(parse(make_file("六丁TC00", 715827882, 1, bytes(40000, 0))), rct_ok);
  // Data smaller than one pixel, or a scrambled one without room for the trailer.
  EXPECT_EQ(parse(make_file("六丁TC00", 1, 1, bytes(2, 0))), rct_corrupt);
  EXPECT_EQ(parse(make_file("六丁TS00", 1, 1, bytes(4, 0))), rct_corrupt);
  // A data size beyond any meaningful stream for the picture is refused before reading.
  uint32_t huge = 0xFFFFFFF0u;
  EXPECT_EQ(parse(make_file("六丁TC00", 2, 2, data, nullptr, &huge)), rct_corrupt);
  uint32_t limit = static_cast<uint32_t>(rct_max_data_size(2, 2));
  EXPECT_GE(limit, 4u * 4 + 2);
  EXPECT_EQ(parse(make_file("六丁TC00", 2, 2, bytes(limit, 0))), rct_ok);
  EXPECT_EQ(parse(make_file("六丁TC00", 2, 2, bytes(limit + 1, 0))), rct_corrupt);
}

// A header may not declare more pixels than its data can describe: 8192 x 8192 in a 23-byte
// file used to cost 200 MB and seconds of work. The edge is real decoding: one counted copy
// (3 bytes) after the first pixel fills exactly 1 + 65539 pixels.
TEST(RctHeader, PictureIsBoundedByWhatItsDataCanDescribe) {
  bytes first = first_pixel(1);
  rct_header h;
  bytes file = make_file("六丁TC00", 8192, 8192, first);
  EXPECT_EQ(file.size(), 23u);
  EXPECT_EQ(parse(file), rct_corrupt);
  FILE* f = temp_file(file);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rct_read_header(f, &h), rct_corrupt);
  std::fclose(f);
  EXPECT_EQ(rct_parse_header(make_file("六丁TC00", 2, 1, first).data(), 23, &h), rct_corrupt);

  bytes data = first;
  data.push_back(0x83);  // selector 0, counted
  put16(data, 65535);
  ASSERT_EQ(parse(make_file("六丁TC00", 65540, 1, data)), rct_ok);
  bytes pixels(rct_packed_size(65540, 1), 0xCD);
  EXPECT_EQ(rct_decode(data.data(), data.size(), 65540, 1, pixels.data(), pixels.size()), rct_ok);
  EXPECT_EQ(pixels.back(), pixels[2]);
  EXPECT_EQ(parse(make_file("六丁TC00", 65541, 1, data)), rct_corrupt);
  // A scrambled file without its trailer is black at most the size its bytes could hold.
  bytes scrambled = first;
  scrambled.insert(scrambled.end(), {'X', 'Y'});
  EXPECT_EQ(parse(make_file("六丁TS00", 7, 1, scrambled)), rct_ok);
  EXPECT_EQ(parse(make_file("六丁TS00", 8192, 8192, scrambled)), rct_corrupt);
}

TEST(RctHeader, StreamReaderMatchesTheMemoryParser) {
  bytes data = first_pixel(2);
  put_literal(data, 3, 2);
  bytes name = {'x', 'y', 'z'};
  bytes file = make_file("六丁TS01", 3, 1, data, &name);
  FILE* f = temp_file(file);
  ASSERT_NE(f, nullptr);
  rct_header a, b;
  ASSERT_EQ(rct_read_header(f, &a), rct_ok);
  EXPECT_EQ(std::ftell(f), 25);
  ASSERT_EQ(rct_parse_header(file.data(), file.size(), &b), rct_ok);
  EXPECT_EQ(a.variant, b.variant);
  EXPECT_EQ(a.width, 3);
  EXPECT_EQ(a.height, 1);
  EXPECT_EQ(a.data_size, b.data_size);
  EXPECT_EQ(a.data_offset, b.data_offset);
  EXPECT_EQ(std::memcmp(a.name, name.data(), 3), 0);

  // Short reads inside the fixed part and inside the name.
  for (long cut : {10L, 21L, 23L}) {
    FILE* g = temp_file(bytes(file.begin(), file.begin() + cut));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(rct_read_header(g, &a), rct_truncated) << cut;
    std::fclose(g);
  }
  std::fclose(f);
}

// ---------------------------------------------------------------- commands

TEST(RctCommands, OnePixelPictureIsItsFirstThreeBytes) {
  bytes data = first_pixel(9);
  decoded_picture d = decode(data, 1, 1);
  EXPECT_EQ(d.result, rct_ok);
  EXPECT_EQ(d.done, 3u);
  EXPECT_TRUE(pixel_is(d.pixels, 0, 9));
  // Bytes after a complete picture are never read as commands.
  data.push_back(0xFF);
  EXPECT_EQ(decode(data, 1, 1).result, rct_ok);
}

TEST(RctCommands, ShortLiteralRunsOfEveryLength) {
  for (int c = 0; c <= 0x7E; ++c) {
    bytes data = first_pixel(0);
    put_literal(data, 1, c + 1);
    decoded_picture d = decode(data, c + 2, 1);
    ASSERT_EQ(d.result, rct_ok) << c;
    for (int i = 0; i <= c + 1; ++i) ASSERT_TRUE(pixel_is(d.pixels, i, i)) << c << " " << i;
  }
}

TEST(RctCommands, LongLiteralRunsWithTheCountForm) {
  for (unsigned n : {0u, 1u, 300u, 65535u}) {
    const int run = static_cast<int>(n) + 128;
    bytes data = first_pixel(0);
    data.push_back(0x7F);
    put16(data, n);
    for (int i = 0; i < run; ++i) put_color(data, i + 1);
    decoded_picture d = decode(data, run + 1, 1);
    ASSERT_EQ(d.result, rct_ok) << n;
    EXPECT_EQ(d.done, 3u * (run + 1));
    EXPECT_TRUE(pixel_is(d.pixels, 1, 1));
    EXPECT_TRUE(pixel_is(d.pixels, run, run));
    EXPECT_TRUE(pixel_is(d.pixels, 128, 128));
  }
}

TEST(RctCommands, ShortCopiesOfOneToThreePixels) {
  for (int length = 1; length <= 3; ++length) {
    bytes data = first_pixel(6);
    data.push_back(static_cast<unsigned char>(0x80 | (length - 1)));
    decoded_picture d = decode(data, 1 + length, 1);
    ASSERT_EQ(d.result, rct_ok);
    for (int i = 0; i <= length; ++i) EXPECT_TRUE(pixel_is(d.pixels, i, 6)) << length << " " << i;
  }
}

TEST(RctCommands, CountedCopyRepeatsAnOverlappingSource) {
  // 0x83 with count 6: ten copies of the previous pixel.
  bytes data = first_pixel(3);
  data.push_back(0x83);
  put16(data, 6);
  decoded_picture d = decode(data, 11, 1);
  ASSERT_EQ(d.result, rct_ok);
  for (int i = 0; i < 11; ++i) EXPECT_TRUE(pixel_is(d.pixels, i, 3)) << i;

  // Selector 1 (two back) over a two-pixel pattern repeats it: A B A B A B ...
  data = first_pixel(1);
  put_literal(data, 2, 1);
  data.push_back(0x80 | 1 << 2 | 3);
  put16(data, 1);  // 5 pixels
  d = decode(data, 7, 1);
  ASSERT_EQ(d.result, rct_ok);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(pixel_is(d.pixels, i, i % 2 ? 2 : 1)) << i;

  // The longest count, 65535 + 4.
  data = first_pixel(8);
  data.push_back(0x83);
  put16(data, 65535);
  d = decode(data, 65540, 1);
  ASSERT_EQ(d.result, rct_ok);
  EXPECT_TRUE(pixel_is(d.pixels, 65539, 8));
}

TEST(RctCommands, EverySelectorCopiesFromItsOffset) {
  const int width = 10, height = 6;
  const int pos = 4 * width + 5;  // x 5, y 4: every selector's source lies inside the picture
  for (int s = 0; s < 32; ++s) {
    bytes data = first_pixel(0);
    for (int first = 1; first < pos; first += 40) put_literal(data, first, std::min(40, pos - first));
    data.push_back(static_cast<unsigned char>(0x80 | s << 2));
    put_literal(data, pos + 1, width * height - pos - 1);
    decoded_picture d = decode(data, width, height);
    ASSERT_EQ(d.result, rct_ok) << s;
    const int source = pos + table_dx[s] - table_dy[s] * width;
    EXPECT_TRUE(pixel_is(d.pixels, pos, source)) << "selector " << s;
    EXPECT_TRUE(pixel_is(d.pixels, pos + 1, pos + 1));
  }
}

TEST(RctCommands, SelectorNineCopiesThePixelAbove) {
  bytes data = first_pixel(0);
  put_literal(data, 1, 3);
  data.push_back(0xA4);     // selector 9, one pixel
  data.push_back(0xA4 | 2); // three more
  decoded_picture d = decode(data, 4, 2);
  ASSERT_EQ(d.result, rct_ok);
  for (int x = 0; x < 4; ++x) EXPECT_TRUE(pixel_is(d.pixels, 4 + x, x)) << x;
}

// ---------------------------------------------------------------- row spacing

TEST(RctRows, PackedRowsMoveToTheirStride) {
  for (int width : {1, 2, 3, 5, 7, 4, 8}) {
    const int height = 5;
    const int stride = rct_stride(width);
    EXPECT_EQ(stride % 4, 0);
    EXPECT_GE(stride, 3 * width);
    EXPECT_LT(stride, 3 * width + 4);
    bytes packed = random_picture(width, height, static_cast<unsigned>(width), 0);
    bytes buffer(static_cast<size_t>(stride) * height, 0xEE);
    std::memcpy(buffer.data(), packed.data(), packed.size());
    ASSERT_EQ(rct_space_rows(buffer.data(), buffer.size(), width, height, stride), 0);
    for (int y = 0; y < height; ++y) {
      EXPECT_EQ(std::memcmp(&buffer[static_cast<size_t>(y) * stride], &packed[3 * static_cast<size_t>(y) * width], 3 * width), 0)
          << width << " row " << y;
      for (int pad = 3 * width; pad < stride; ++pad)
        EXPECT_EQ(buffer[static_cast<size_t>(y) * stride + pad], 0) << width << " row " << y;
    }
  }
}

TEST(RctRows, RefusesStridesAndBuffersThatDoNotFit) {
  bytes buffer(64, 1);
  EXPECT_EQ(rct_space_rows(buffer.data(), buffer.size(), 3, 2, 8), -1);   // stride < 9
  EXPECT_EQ(rct_space_rows(buffer.data(), 23, 3, 2, 12), -1);             // 24 bytes needed
  EXPECT_EQ(rct_space_rows(buffer.data(), buffer.size(), 0, 2, 12), -1);
  EXPECT_EQ(rct_space_rows(buffer.data(), buffer.size(), 3, -1, 12), -1);
  for (unsigned char b : buffer) EXPECT_EQ(b, 1);
  EXPECT_EQ(rct_stride(3), 12);
  EXPECT_EQ(rct_stride(640), 1920);
}

// ---------------------------------------------------------------- scrambling

TEST(RctScrambled, TrailerRule) {
  bytes data = first_pixel(1);
  put_literal(data, 2, 3);
  bytes with = data;
  with.insert(with.end(), {'T', 'S'});
  rct_header h;
  bytes pixels;
  ASSERT_EQ(decode_file(make_file("六丁TS00", 2, 2, with), &h, &pixels), rct_ok);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(pixel_is(pixels, i, i + 1));

  // Without the trailer: a black picture of the header's size.
  bytes without = data;
  without.insert(without.end(), {'T', 'X'});
  ASSERT_EQ(decode_file(make_file("六丁TS00", 2, 2, without), &h, &pixels), rct_no_trailer);
  ASSERT_EQ(pixels.size(), 12u);
  for (unsigned char b : pixels) EXPECT_EQ(b, 0);

  // The same bytes in an unscrambled variant are simply a stream with trailing bytes.
  ASSERT_EQ(decode_file(make_file("六丁TC00", 2, 2, without), &h, &pixels), rct_ok);
  EXPECT_TRUE(pixel_is(pixels, 3, 4));

  // The trailer is never decoded: a stream one pixel short does not borrow "TS" as data.
  bytes short_stream = data;
  short_stream.resize(short_stream.size() - 3);
  short_stream.insert(short_stream.end(), {'T', 'S'});
  EXPECT_EQ(decode_file(make_file("六丁TS00", 2, 2, short_stream), &h, &pixels), rct_corrupt);
}

TEST(RctScrambled, KeyIsAppliedByteByByteModulo1024) {
  for (unsigned char k : image_xor_key) ASSERT_EQ(k, 0);  // all zero at start
  const int width = 40, height = 30;
  bytes picture = random_picture(width, height, 7, 0);  // > 1024 data bytes
  bytes plain = encode_file(picture, width, height, rct_tc00);
  for (size_t i = 0; i < rct_key_size; ++i) image_xor_key[i] = static_cast<unsigned char>(i * 7 + 1);
  bytes scrambled = encode_file(picture, width, height, rct_ts00);
  rct_header h;
  bytes pixels;
  int r = decode_file(scrambled, &h, &pixels);
  std::memset(image_xor_key, 0, sizeof image_xor_key);
  bool differs = false;
  ASSERT_EQ(scrambled.size(), plain.size() + 2);
  ASSERT_GT(plain.size(), 20u + 1024u + 10u);
  for (size_t i = 20; i < plain.size(); ++i) {
    const size_t k = (i - 20) % 1024;
    if ((plain[i] ^ static_cast<unsigned char>(k * 7 + 1)) != scrambled[i]) differs = true;
  }
  EXPECT_FALSE(differs);
  EXPECT_EQ(r, rct_ok);
  EXPECT_EQ(pixels, picture);
}

// ---------------------------------------------------------------- corrupt streams

TEST(RctCorrupt, RunsPastTheEndOfThePictureWriteNothing) {
  bytes data = first_pixel(0);
  put_literal(data, 1, 2);
  put_literal(data, 3, 3);  // one pixel too many for a 5-pixel picture
  decoded_picture d = decode(data, 5, 1);
  EXPECT_EQ(d.result, rct_corrupt);
  EXPECT_EQ(d.done, 9u);
  EXPECT_TRUE(pixel_is(d.pixels, 2, 2));
  EXPECT_TRUE(untouched_from(d.pixels, 9));

  data = first_pixel(0);
  data.push_back(0x83);
  put16(data, 2);  // 6 pixels into 4 free
  EXPECT_TRUE(refused_at(data, 5, 1, 3));

  data = first_pixel(0);
  data.push_back(0x7F);
  put16(data, 0);
  data.insert(data.end(), 3 * 128, 0x11);
  EXPECT_TRUE(refused_at(data, 100, 1, 3));
}

TEST(RctCorrupt, CopySourcesBeforeTheFirstPixelOrNotYetDecoded) {
  for (int s = 0; s < 32; ++s) {
    const int width = 8;
    const int pos = 1;  // row 0, column 1: only selector 0 has a source
    bytes data = first_pixel(0);
    data.push_back(static_cast<unsigned char>(0x80 | s << 2));
    decoded_picture d = decode(data, width, 2);
    if (s == 0) {
      EXPECT_TRUE(pixel_is(d.pixels, pos, 0));
      EXPECT_EQ(d.done, 6u);
    } else {
      EXPECT_TRUE(refused_at(data, width, 2, 3)) << s;
    }
  }
  // Width 1: selector 6 (+3, 1 up) points two pixels ahead, into undecoded memory and,
  // at the last pixel, past the picture.
  bytes data = first_pixel(0);
  data.push_back(0x80 | 6 << 2);
  EXPECT_TRUE(refused_at(data, 1, 2, 3));
  // Width 3: selector 6 points at the current pixel itself.
  data = first_pixel(0);
  put_literal(data, 1, 2);
  data.push_back(0x80 | 6 << 2);
  EXPECT_TRUE(refused_at(data, 3, 2, 9));
}

TEST(RctCorrupt, CommandsAndCountsThatNeedBytesPastTheData) {
  struct stream_case {
    const char* what;
    bytes tail;
  };
  std::vector<stream_case> cases = {
      {"data ends before the picture", {}},
      {"literal bytes missing", {0x02, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"0x7F without its count", {0x7F}},
      {"0x7F with half a count", {0x7F, 0x00}},
      {"0x7F count beyond data", {0x7F, 0x10, 0x00, 1, 2, 3}},
      {"counted copy without count", {0x83}},
      {"counted copy with half a count", {0x83, 0x01}},
  };
  for (auto& c : cases) {
    bytes data = first_pixel(0);
    data.insert(data.end(), c.tail.begin(), c.tail.end());
    EXPECT_TRUE(refused_at(data, 300, 1, 3)) << c.what;
  }
  // No data at all, or less than the first pixel.
  EXPECT_EQ(decode(bytes{1, 2}, 1, 1).result, rct_corrupt);
  EXPECT_EQ(decode(bytes{}, 1, 1).result, rct_corrupt);
  // A buffer smaller than the picture is refused before anything is written.
  bytes small(11, 0xCD), data = {1, 2, 3, 0x82};
  EXPECT_EQ(rct_decode(data.data(), data.size(), 2, 2, small.data(), small.size()), rct_corrupt);
  for (unsigned char b : small) EXPECT_EQ(b, 0xCD);
}

namespace {

// The command stream as the format describes it, one byte at a time and with no fast
// paths, to hold the decoder's block copies against. Returns the pixel bytes decoded
// before the first faulty command (which writes nothing).
size_t reference_decode(const bytes& data, int width, int height, bytes* out) {
  const size_t total = 3 * static_cast<size_t>(width) * height;
  out->assign(total, 0xCD);
  if (data.size() < 3) return 0;
  size_t in = 3, pos = 3;
  for (int i = 0; i < 3; ++i) (*out)[i] = data[i];
  auto count16 = [&](size_t at, size_t* n) {
    if (at + 1 >= data.size()) return false;
    *n = data[at] | data[at + 1] << 8;
    return true;
  };
  while (pos < total && in < data.size()) {
    const unsigned c = data[in];
    size_t n = 0;
    if (c <= 0x7F) {
      size_t pixels = c + 1, header = 1;
      if (c == 0x7F) {
        if (!count16(in + 1, &n)) break;
        pixels = n + 128;
        header = 3;
      }
      if (in + header + 3 * pixels > data.size() || pos + 3 * pixels > total) break;
      for (size_t i = 0; i < 3 * pixels; ++i) (*out)[pos + i] = data[in + header + i];
      in += header + 3 * pixels;
      pos += 3 * pixels;
    } else {
      size_t pixels = (c & 3) + 1, header = 1;
      if ((c & 3) == 3) {
        if (!count16(in + 1, &n)) break;
        pixels = n + 4;
        header = 3;
      }
      const int s = (c >> 2) & 31;
      const long long source = static_cast<long long>(pos / 3) + table_dx[s] - static_cast<long long>(table_dy[s]) * width;
      if (source < 0 || source >= static_cast<long long>(pos / 3) || pos + 3 * pixels > total) break;
      for (size_t i = 0; i < 3 * pixels; ++i) (*out)[pos + i] = (*out)[3 * source + i];
      in += header;
      pos += 3 * pixels;
    }
  }
  return pos;
}

}  // namespace

TEST(RctCorrupt, RandomStreamsStayInsideTheirBuffers) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 20000; ++round) {
    const int width = 1 + static_cast<int>(rng() % 9);
    const int height = 1 + static_cast<int>(rng() % 7);
    // Mostly plausible commands (copies of every selector and of short counted lengths,
    // so that overlapping runs of many periods occur), mixed with raw random bytes.
    bytes data;
    const int commands = static_cast<int>(rng() % 24);
    for (int i = 0; i < 3; ++i) data.push_back(static_cast<unsigned char>(rng()));
    for (int k = 0; k < commands; ++k) {
      const unsigned kind = rng() % 10;
      if (kind < 6) {
        const unsigned length_bits = rng() % 4;
        data.push_back(static_cast<unsigned char>(0x80 | (rng() % 32) << 2 | length_bits));
        if (length_bits == 3) put16(data, rng() % 40);
      } else if (kind < 8) {
        const int run = 1 + static_cast<int>(rng() % 4);
        data.push_back(static_cast<unsigned char>(run - 1));
        for (int i = 0; i < 3 * run; ++i) data.push_back(static_cast<unsigned char>(rng()));
      } else {
        data.push_back(static_cast<unsigned char>(rng()));
      }
    }
    decoded_picture d = decode(data, width, height);
    ASSERT_LE(d.done, d.pixels.size());
    ASSERT_TRUE(d.result == rct_ok || d.result == rct_corrupt);
    ASSERT_EQ(d.result == rct_ok, d.done == d.pixels.size());
    ASSERT_TRUE(untouched_from(d.pixels, d.done));
    bytes expected;
    ASSERT_EQ(d.done, reference_decode(data, width, height, &expected)) << round;
    ASSERT_EQ(d.pixels, expected) << round;
  }
}

TEST(RctCorrupt, MutatedFilesStayInsideTheirBuffers) {
  std::mt19937 rng(99);
  const bytes picture = random_picture(13, 9, 5, 4);
  const bytes good = encode_file(picture, 13, 9, rct_ts01, bytes{'n', 'm'});
  for (int round = 0; round < 2000; ++round) {
    bytes file = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) file[rng() % file.size()] = static_cast<unsigned char>(rng());
    if (rng() % 4 == 0) file.resize(rng() % file.size());
    rct_header h;
    bytes pixels;
    // A mutated size may ask for a picture of up to 2 GiB; such headers are checked only.
    if (rct_parse_header(file.data(), file.size(), &h) == rct_ok && rct_packed_size(h.width, h.height) > (1u << 20))
      continue;
    int r = decode_file(file, &h, &pixels);
    ASSERT_TRUE(r == rct_ok || r == rct_corrupt || r == rct_not_rct || r == rct_truncated || r == rct_no_trailer) << r;
    if (r == rct_ok) {
      ASSERT_EQ(pixels.size(), rct_packed_size(h.width, h.height));
    }
  }
}

// ---------------------------------------------------------------- round trips

TEST(RctRoundTrip, EncodeThenDecodeGivesThePixels) {
  struct shape { int width, height; };
  const shape shapes[] = {{1, 1}, {1, 37}, {41, 1}, {2, 2}, {3, 5}, {5, 3}, {7, 7},
                          {13, 11}, {64, 48}, {99, 31}, {640, 3}};
  unsigned seed = 1;
  for (const shape& s : shapes) {
    const bytes pictures[] = {random_picture(s.width, s.height, seed++, 0),
                              random_picture(s.width, s.height, seed++, 3),
                              structured_picture(s.width, s.height),
                              bytes(3 * static_cast<size_t>(s.width) * s.height, 0x42)};
    for (const bytes& picture : pictures) {
      for (int variant : {rct_tc00, rct_tc01, rct_ts00, rct_ts01}) {
        const bytes name = (variant >= rct_tc01) ? bytes{'b', 'g'} : bytes();
        bytes file = encode_file(picture, s.width, s.height, variant, name);
        ASSERT_FALSE(file.empty());
        rct_header h;
        bytes pixels;
        ASSERT_EQ(decode_file(file, &h, &pixels), rct_ok) << s.width << "x" << s.height << " v" << variant;
        ASSERT_EQ(h.width, s.width);
        ASSERT_EQ(h.height, s.height);
        ASSERT_EQ(h.variant, variant);
        ASSERT_EQ(pixels, picture) << s.width << "x" << s.height << " v" << variant;
      }
    }
  }
}

TEST(RctRoundTrip, LongLiteralRunsBeyondTheLongestCommand) {
  // 70000 distinct pixels in one row: more literal pixels than one 0x7F command carries.
  const int width = 70000;
  bytes picture(3 * static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) {
    picture[3 * i] = static_cast<unsigned char>(i);
    picture[3 * i + 1] = static_cast<unsigned char>(i >> 8);
    picture[3 * i + 2] = static_cast<unsigned char>(i >> 16 | 0x80);
  }
  bytes file = encode_file(picture, width, 1, rct_tc00);
  rct_header h;
  bytes pixels;
  ASSERT_EQ(decode_file(file, &h, &pixels), rct_ok);
  EXPECT_EQ(pixels, picture);
  EXPECT_LE(file.size(), 20u + 3u * width + 6u);  // two counted literal commands
}

TEST(RctEncoder, UsesTheLongestCopies) {
  // A solid picture is the first pixel and a few counted copies of the previous pixel.
  const int width = 300, height = 300;
  bytes solid(3 * width * height, 0x5A);
  bytes out(rct_encode_bound(width, height, 0));
  size_t n = rct_encode_stream(solid.data(), width, height, out.data(), out.size());
  const size_t copies = (width * height - 1 + 65538) / 65539;
  EXPECT_EQ(n, 3 + 3 * copies);

  // Identical random rows: one literal row, then everything is one copy from above.
  const int w = 50, hgt = 40;
  bytes row = random_picture(w, 1, 3, 0);
  bytes rows;
  for (int y = 0; y < hgt; ++y) rows.insert(rows.end(), row.begin(), row.end());
  out.assign(rct_encode_bound(w, hgt, 0), 0);
  n = rct_encode_stream(rows.data(), w, hgt, out.data(), out.size());
  EXPECT_EQ(n, 3u + 1u + 3u * (w - 1) + 3u);
  EXPECT_EQ(out[3 + 1 + 3 * (w - 1)], 0x80 | 9 << 2 | 3);

  // Lengths 4 to 6 go out as two short copies, never as a counted one.
  for (int length = 1; length <= 8; ++length) {
    bytes p(3 * (1 + length), 0x21);
    n = rct_encode_stream(p.data(), 1 + length, 1, out.data(), out.size());
    EXPECT_EQ(n, 3u + (length <= 3 ? 1u : length <= 6 ? 2u : 3u)) << length;
  }
  // A buffer too small is reported, not overrun.
  bytes tiny(10);
  bytes random = random_picture(8, 8, 11, 0);
  EXPECT_EQ(rct_encode_stream(random.data(), 8, 8, tiny.data(), tiny.size()), 0u);
  EXPECT_EQ(rct_encode(random.data(), 8, 8, rct_tc00, nullptr, 0, tiny.data(), tiny.size()), 0u);
}

TEST(RctEncoder, RefusesWhatNoFileCanHold) {
  bytes p(3, 1), out(64);
  bytes long_name(265, 'x');
  EXPECT_EQ(rct_encode(p.data(), 1, 1, rct_tc01, long_name.data(), long_name.size(), out.data(), out.size()), 0u);
  EXPECT_EQ(rct_encode(p.data(), 1, 1, rct_tc00, long_name.data(), 1, out.data(), out.size()), 0u);
  EXPECT_EQ(rct_encode(p.data(), 0, 1, rct_tc00, nullptr, 0, out.data(), out.size()), 0u);
  EXPECT_EQ(rct_encode(p.data(), 1, 1, 4, nullptr, 0, out.data(), out.size()), 0u);
  EXPECT_EQ(rct_encode_bound(-1, 3, 0), 0u);
}

// ---------------------------------------------------------------- the talven-pack command

namespace {

int run(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool's rct command, run in a folder of its own for each test.
class RctTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (exe.empty() || run(exe + " rct --help") != 0) GTEST_SKIP() << "talven-pack with rct not built";
  }
  const std::string exe = TALVEN_PACK_EXE;
  package_kit::scratch scratch;
  const std::string dir = scratch.dir.string();
};

}  // namespace

TEST_F(RctTool, DecodeToPngAndEncodeBackKeepsThePixels) {
  const int width = 17, height = 9;
  bytes picture = structured_picture(width, height);
  ASSERT_TRUE(package_kit::write_bytes(dir + "/a.rct", encode_file(picture, width, height, rct_tc00)));
  ASSERT_EQ(run(exe + " rct decode " + dir + "/a.rct " + dir + "/a.png"), 0);
  ASSERT_EQ(run(exe + " rct encode " + dir + "/a.png " + dir + "/b.rct --variant TC01 --name \xe8\x83\x8c\xe6\x99\xaf"), 0);
  rct_header h;
  bytes pixels;
  ASSERT_EQ(decode_file(package_kit::read_bytes(dir + "/b.rct"), &h, &pixels), rct_ok);
  EXPECT_EQ(h.variant, rct_tc01);
  // The UTF-8 name on the command line is stored as CP932 (this literal is CP932).
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h.name), h.name_length), std::string("背景"));
  EXPECT_EQ(pixels, picture);

  // Usage errors give 2, unreadable or damaged input 1.
  EXPECT_EQ(run(exe + " rct"), 2);
  EXPECT_EQ(run(exe + " rct encode " + dir + "/a.png"), 2);
  EXPECT_EQ(run(exe + " rct encode " + dir + "/a.png " + dir + "/c.rct --variant TX00"), 2);
  EXPECT_EQ(run(exe + " rct decode " + dir + "/missing.rct " + dir + "/c.png"), 1);
  EXPECT_EQ(run(exe + " rct decode " + dir + "/a.png " + dir + "/c.png"), 1);
  EXPECT_EQ(run(exe + " rct encode " + dir + "/a.rct " + dir + "/c.rct"), 1);
}

TEST_F(RctTool, EveryColourTypeBecomesBgrWithAlphaOverBlack) {
  if (run("convert -version") != 0) GTEST_SKIP() << "ImageMagick's convert is not installed";
  struct png_case {
    const char* what;
    const char* draw;    // convert arguments after the size
    const char* format;  // output format prefix, forcing the PNG colour type
    unsigned char bgr[3];
  } cases[] = {
      {"gray", "'xc:gray(102)' -define png:color-type=0 -define png:bit-depth=8", "", {102, 102, 102}},
      {"gray16", "'xc:gray(102)' -depth 16 -define png:color-type=0 -define png:bit-depth=16", "", {102, 102, 102}},
      {"palette", "xc:red -type Palette", "PNG8:", {0, 0, 255}},
      {"rgba-opaque", "'xc:rgba(200,100,50,1)' -define png:color-type=6", "PNG32:", {50, 100, 200}},
      {"rgba-half", "'xc:rgba(200,100,50,0.5)' -define png:color-type=6", "PNG32:", {25, 50, 100}},
      {"rgba-clear", "'xc:rgba(200,100,50,0)' -define png:color-type=6", "PNG32:", {0, 0, 0}},
      {"gray-alpha-clear", "'xc:graya(102,0)' -define png:color-type=4", "", {0, 0, 0}},
  };
  for (const png_case& c : cases) {
    const std::string png = dir + "/" + c.what + ".png";
    ASSERT_EQ(run("convert -size 5x3 " + std::string(c.draw) + " " + c.format + png), 0) << c.what;
    ASSERT_EQ(run(exe + " rct encode " + png + " " + dir + "/out.rct"), 0) << c.what;
    rct_header h;
    bytes pixels;
    ASSERT_EQ(decode_file(package_kit::read_bytes(dir + "/out.rct"), &h, &pixels), rct_ok) << c.what;
    ASSERT_EQ(h.width, 5);
    ASSERT_EQ(h.height, 3);
    for (size_t i = 0; i < pixels.size(); i += 3)
      ASSERT_EQ(std::memcmp(&pixels[i], c.bgr, 3), 0) << c.what << " pixel " << i / 3;
  }
}
