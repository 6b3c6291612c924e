// Encode and decode speed of RCT pictures at the menu's largest likely size, 1920 x 1080,
// against a plain copy of the same bytes as the baseline of this machine.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "engine/rct.h"

using namespace talven;
using bytes = std::vector<unsigned char>;

namespace {

const int width = 1920, height = 1080;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What a menu background looks like: smooth gradients, flat panels, a little noise.
bytes drawn_picture() {
  bytes p(3 * static_cast<size_t>(width) * height);
  std::mt19937 rng(5);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned char* q = &p[3 * (static_cast<size_t>(y) * width + x)];
      const bool panel = x > 1200 && x < 1800 && y > 600 && y < 1000;
      q[0] = static_cast<unsigned char>(panel ? 40 : 80 + y * 120 / height);
      q[1] = static_cast<unsigned char>(panel ? 40 : 30 + x * 60 / width);
      q[2] = static_cast<unsigned char>(panel ? 60 : 20 + ((x / 64 + y / 64) % 2) * 30);
      if (!panel && rng() % 16 == 0) q[1] = static_cast<unsigned char>(q[1] + 1);
    }
  return p;
}

bytes noise_picture() {
  bytes p(3 * static_cast<size_t>(width) * height);
  std::mt19937 rng(9);
  for (auto& b : p) b = static_cast<unsigned char>(rng());
  return p;
}

void run(const char* label, const bytes& picture, double copy_mb_s) {
  const double raw_mb = picture.size() / 1e6;
  bytes file(rct_encode_bound(width, height, 0));
  auto start = std::chrono::steady_clock::now();
  const size_t size = rct_encode(picture.data(), width, height, rct_tc00, nullptr, 0, file.data(), file.size());
  const double encode_s = seconds_since(start);
  if (size == 0) {
    std::printf("%s: encoding failed\n", label);
    return;
  }
  rct_header header;
  rct_parse_header(file.data(), size, &header);
  bytes pixels(static_cast<size_t>(rct_stride(width)) * height);
  const int rounds = 10;
  int result = rct_ok;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    result |= rct_decode_data(header, file.data() + header.data_offset, header.data_size, pixels.data(), pixels.size());
    result |= rct_space_rows(pixels.data(), pixels.size(), width, height, rct_stride(width));
  }
  const double decode_s = seconds_since(start) / rounds;
  const bool same = result == 0 && std::memcmp(pixels.data(), picture.data(), 3 * width) == 0;
  std::printf("%-8s encode %7.3f s %8.1f MB/s | decode %7.4f s %8.1f MB/s (%.2fx a plain copy) | "
              "size %9zu bytes, %5.1f%% of raw%s\n",
              label, encode_s, raw_mb / encode_s, decode_s, raw_mb / decode_s,
              (raw_mb / decode_s) / copy_mb_s, size, 100.0 * size / picture.size(), same ? "" : "  MISMATCH");
}

}  // namespace

int main() {
  const bytes drawn = drawn_picture();
  const bytes noise = noise_picture();
  const bytes flat(3 * static_cast<size_t>(width) * height, 0x30);

  bytes target(drawn.size());
  const int rounds = 20;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    std::memcpy(target.data(), drawn.data(), drawn.size());
    target[i] ^= 1;
  }
  const double copy_mb_s = drawn.size() / 1e6 / (seconds_since(start) / rounds);
  std::printf("rct %dx%d (%.1f MB raw), plain copy %.1f MB/s\n", width, height, drawn.size() / 1e6, copy_mb_s);
  run("drawn", drawn, copy_mb_s);
  run("noise", noise, copy_mb_s);
  run("flat", flat, copy_mb_s);
  return 0;
}
