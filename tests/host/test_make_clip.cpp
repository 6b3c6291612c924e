// The file-copy clip: its RIFF/AVI structure as the animation control reads it, and its
// RLE8 frames, decoded here by an independent strict decoder.
#define MAKE_CLIP_NO_MAIN
#include "../../tools/make-clip/make_clip.cpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

uint32_t read32(const bytes& data, size_t at) {
  return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}
uint16_t read16(const bytes& data, size_t at) { return static_cast<uint16_t>(data[at] | data[at + 1] << 8); }
std::string fourcc(const bytes& data, size_t at) { return std::string(data.begin() + at, data.begin() + at + 4); }

struct chunk {
  std::string id;
  std::string type;  // LIST/RIFF only
  size_t header;     // offset of the id
  size_t data;       // offset of the data (after the type for lists)
  uint32_t size;     // size field
};

// The chunks directly inside [begin, end); fails the test on a chunk that overruns.
std::vector<chunk> children(const bytes& data, size_t begin, size_t end) {
  std::vector<chunk> list;
  size_t at = begin;
  while (at + 8 <= end) {
    chunk c;
    c.id = fourcc(data, at);
    c.size = read32(data, at + 4);
    c.header = at;
    c.data = at + 8;
    EXPECT_LE(at + 8 + c.size, end) << "chunk " << c.id << " overruns its parent";
    if (at + 8 + c.size > end) break;
    if (c.id == "LIST" || c.id == "RIFF") {
      c.type = fourcc(data, at + 8);
      c.data = at + 12;
    }
    list.push_back(c);
    at += 8 + c.size + (c.size & 1);
  }
  EXPECT_EQ(at, end) << "trailing bytes after the last chunk";
  return list;
}

const chunk* find(const std::vector<chunk>& list, const std::string& id, const std::string& type = "") {
  for (const chunk& c : list)
    if (c.id == id && c.type == type) return &c;
  return nullptr;
}

// Strict RLE8 decoder of a bottom-up frame into top-down rows. Returns false on any overrun,
// on a row left short, or on data missing its end-of-bitmap code.
bool decode_rle8(const uint8_t* in, size_t size, int width, int height, bytes& out) {
  out.assign(static_cast<size_t>(width) * height, 0xEE);
  std::vector<bool> written(out.size(), false);
  int x = 0, y = height - 1;  // y is the top-down row index
  size_t at = 0;
  auto put = [&](uint8_t ink) {
    if (x >= width || y < 0) return false;
    size_t index = static_cast<size_t>(y) * width + x;
    out[index] = ink;
    written[index] = true;
    ++x;
    return true;
  };
  while (at < size) {
    if (at + 2 > size) return false;
    uint8_t count = in[at], value = in[at + 1];
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i)
        if (!put(value)) return false;
    } else if (value == 0) {  // end of line
      if (x != width) return false;
      x = 0;
      --y;
    } else if (value == 1) {  // end of bitmap
      if (x != width || y != 0) return false;
      for (bool w : written)
        if (!w) return false;
      return at == size;
    } else if (value == 2) {
      return false;  // the clip never skips pixels: every frame is complete
    } else {
      if (at + value > size) return false;
      for (int i = 0; i < value; ++i)
        if (!put(in[at + i])) return false;
      at += value + (value & 1);
    }
  }
  return false;
}

bytes round_trip_row(const bytes& row) {
  bytes encoded;
  make_clip::encode_row(row.data(), static_cast<int>(row.size()), encoded);
  encoded.push_back(0);
  encoded.push_back(1);
  bytes decoded;
  EXPECT_TRUE(decode_rle8(encoded.data(), encoded.size(), static_cast<int>(row.size()), 1, decoded));
  return decoded;
}

TEST(make_clip, riff_structure_is_what_the_animation_control_reads) {
  bytes clip = make_clip::build_clip();
  ASSERT_GE(clip.size(), 12u);
  ASSERT_EQ(fourcc(clip, 0), "RIFF");
  ASSERT_EQ(fourcc(clip, 8), "AVI ");
  ASSERT_EQ(read32(clip, 4), clip.size() - 8);

  std::vector<chunk> top = children(clip, 12, clip.size());
  const chunk* hdrl = find(top, "LIST", "hdrl");
  const chunk* movi = find(top, "LIST", "movi");
  const chunk* idx1 = find(top, "idx1");
  ASSERT_TRUE(hdrl && movi && idx1);
  EXPECT_LT(hdrl->header, movi->header);
  EXPECT_LT(movi->header, idx1->header);

  std::vector<chunk> header = children(clip, hdrl->data, hdrl->header + 8 + hdrl->size);
  const chunk* avih = find(header, "avih");
  const chunk* strl = find(header, "LIST", "strl");
  ASSERT_TRUE(avih && strl);
  ASSERT_EQ(avih->size, 56u);
  EXPECT_EQ(read32(clip, avih->data + 0), 100000u);  // microseconds a frame
  EXPECT_EQ(read32(clip, avih->data + 12) & 0x10, 0x10u);  // has an index
  EXPECT_EQ(read32(clip, avih->data + 16), 17u);
  EXPECT_EQ(read32(clip, avih->data + 24), 1u);  // one stream: no sound
  EXPECT_EQ(read32(clip, avih->data + 32), 260u);
  EXPECT_EQ(read32(clip, avih->data + 36), 40u);

  std::vector<chunk> stream = children(clip, strl->data, strl->header + 8 + strl->size);
  const chunk* strh = find(stream, "strh");
  const chunk* strf = find(stream, "strf");
  ASSERT_TRUE(strh && strf);
  ASSERT_EQ(strh->size, 56u);
  EXPECT_EQ(fourcc(clip, strh->data), "vids");
  EXPECT_EQ(fourcc(clip, strh->data + 4), "mrle");
  uint32_t scale = read32(clip, strh->data + 20), rate = read32(clip, strh->data + 24);
  ASSERT_NE(scale, 0u);
  EXPECT_EQ(rate / scale, 10u);  // 10 frames a second = 100 ms a frame
  EXPECT_EQ(rate % scale, 0u);
  EXPECT_EQ(read32(clip, strh->data + 32), 17u);  // length in frames
  uint32_t suggested = read32(clip, strh->data + 36);

  ASSERT_EQ(strf->size, 40u + 256u * 4u);
  EXPECT_EQ(read32(clip, strf->data), 40u);
  EXPECT_EQ(static_cast<int32_t>(read32(clip, strf->data + 4)), 260);
  EXPECT_EQ(static_cast<int32_t>(read32(clip, strf->data + 8)), 40);
  EXPECT_EQ(read16(clip, strf->data + 12), 1);
  EXPECT_EQ(read16(clip, strf->data + 14), 8);
  EXPECT_EQ(read32(clip, strf->data + 16), 1u);  // BI_RLE8
  EXPECT_EQ(read32(clip, strf->data + 32), 256u);

  std::vector<chunk> frames = children(clip, movi->data, movi->header + 8 + movi->size);
  ASSERT_EQ(frames.size(), 17u);
  for (const chunk& frame : frames) {
    EXPECT_EQ(frame.id, "00dc");
    EXPECT_LE(frame.size, suggested) << "the control reads at most the suggested size a frame";
  }

  // One key-frame entry per frame, its offset counted from the movi list's type field.
  ASSERT_EQ(idx1->size, 17u * 16u);
  for (size_t i = 0; i < 17; ++i) {
    size_t entry = idx1->data + i * 16;
    EXPECT_EQ(fourcc(clip, entry), "00dc");
    EXPECT_EQ(read32(clip, entry + 4) & 0x10, 0x10u);
    EXPECT_EQ(movi->header + 8 + read32(clip, entry + 8), frames[i].header);
    EXPECT_EQ(read32(clip, entry + 12), frames[i].size);
  }
}

TEST(make_clip, every_frame_decodes_to_the_drawing_and_the_sheet_travels) {
  bytes clip = make_clip::build_clip();
  std::vector<chunk> top = children(clip, 12, clip.size());
  const chunk* movi = find(top, "LIST", "movi");
  ASSERT_TRUE(movi);
  std::vector<chunk> frames = children(clip, movi->data, movi->header + 8 + movi->size);
  ASSERT_EQ(frames.size(), 17u);

  std::vector<bytes> decoded(17);
  for (size_t i = 0; i < 17; ++i) {
    ASSERT_TRUE(decode_rle8(&clip[frames[i].data], frames[i].size, 260, 40, decoded[i])) << "frame " << i;
    EXPECT_EQ(decoded[i], make_clip::draw_frame(static_cast<int>(i))) << "frame " << i;
    EXPECT_EQ(decoded[i][0], make_clip::ink_background) << "top-left pixel is the transparent colour";
  }
  int previous_left = -1;
  for (int i = 0; i < 17; ++i) {
    if (i > 0) {
      EXPECT_NE(decoded[i], decoded[i - 1]) << "frame " << i << " repeats the one before";
    }
    int left, top_y;
    make_clip::sheet_position(i, &left, &top_y);
    EXPECT_GT(left, previous_left);
    EXPECT_GE(top_y, 0);
    previous_left = left;
  }
  // The sheet starts over the left half and ends over the right half of the clip.
  int first_left, last_left, y;
  make_clip::sheet_position(0, &first_left, &y);
  make_clip::sheet_position(16, &last_left, &y);
  EXPECT_LT(first_left, 130);
  EXPECT_GT(last_left, 130);
}

TEST(make_clip, row_encoder_round_trips_long_runs_odd_literals_and_noise) {
  bytes same(260, 7);  // longer than one run can say
  EXPECT_EQ(round_trip_row(same), same);

  bytes alternating(259);  // one long absolute stretch of odd length, padded
  for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = static_cast<uint8_t>(i & 1);
  EXPECT_EQ(round_trip_row(alternating), alternating);

  bytes short_literals = {1, 2, 3, 3, 3, 4, 5, 5, 6};
  EXPECT_EQ(round_trip_row(short_literals), short_literals);

  bytes single = {9};
  EXPECT_EQ(round_trip_row(single), single);

  std::mt19937 random(12345);
  for (int trial = 0; trial < 200; ++trial) {
    bytes row(1 + random() % 600);
    int inks = 1 + static_cast<int>(random() % 4);  // few inks: runs and literals mixed
    for (uint8_t& b : row) b = static_cast<uint8_t>(random() % inks * 60);
    ASSERT_EQ(round_trip_row(row), row) << "trial " << trial;
  }
}

TEST(make_clip, strict_decoder_rejects_damaged_frames) {
  // Guards the decoder used above: a frame cut short or overlong must not pass.
  bytes frame = make_clip::encode_frame(make_clip::draw_frame(3), 260, 40);
  bytes out;
  ASSERT_TRUE(decode_rle8(frame.data(), frame.size(), 260, 40, out));
  EXPECT_FALSE(decode_rle8(frame.data(), frame.size() - 2, 260, 40, out));
  bytes wider = frame;
  wider.insert(wider.begin(), {1, 0});
  EXPECT_FALSE(decode_rle8(wider.data(), wider.size(), 260, 40, out));
}

}  // namespace
