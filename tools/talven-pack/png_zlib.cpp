// PNG files on zlib alone, for builds without libpng (Windows): reads every colour type,
// depth and the interlaced layout into 8-bit RGBA (16-bit samples rounded, a tRNS colour
// made transparent), and writes 8-bit RGB with no filter. Chunk CRCs are checked.
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/rct.h"
#include "pack_common.h"
#include "platform.h"
#include "png_file.h"

namespace talven::pack {

namespace {

const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t be32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct png_header {
  uint32_t width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  int channels = 0;
};

int channels_of(int colour) {
  switch (colour) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
  }
}

bool depth_allowed(int colour, int depth) {
  switch (colour) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

// One sample of a row (any depth) as read from the file.
unsigned sample_at(const unsigned char* row, size_t index, int depth) {
  if (depth == 8) return row[index];
  if (depth == 16) return (unsigned{row[2 * index]} << 8) | row[2 * index + 1];
  size_t bit = index * static_cast<size_t>(depth);
  unsigned byte = row[bit / 8];
  unsigned shift = 8 - static_cast<unsigned>(depth) - static_cast<unsigned>(bit % 8);
  return (byte >> shift) & ((1u << depth) - 1);
}

// A sample scaled to 8 bits: 16-bit ones rounded, as libpng's scaling does.
unsigned char to_8bit(unsigned v, int depth) {
  if (depth == 8) return static_cast<unsigned char>(v);
  if (depth == 16) return static_cast<unsigned char>((v * 255u + 32895u) >> 16);
  return static_cast<unsigned char>(v * 255u / ((1u << depth) - 1));
}

unsigned char paeth(int a, int b, int c) {
  int p = a + b - c, pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the row filters of one (sub-)image in place; false on an unknown filter.
bool unfilter(unsigned char* data, size_t rows, size_t row_bytes, size_t bpp) {
  const unsigned char* prior = nullptr;
  for (size_t y = 0; y < rows; ++y) {
    unsigned char filter = data[0];
    unsigned char* row = data + 1;
    for (size_t x = 0; x < row_bytes; ++x) {
      int a = x >= bpp ? row[x - bpp] : 0, b = prior ? prior[x] : 0, c = prior && x >= bpp ? prior[x - bpp] : 0;
      switch (filter) {
        case 0: break;
        case 1: row[x] = static_cast<unsigned char>(row[x] + a); break;
        case 2: row[x] = static_cast<unsigned char>(row[x] + b); break;
        case 3: row[x] = static_cast<unsigned char>(row[x] + ((a + b) >> 1)); break;
        case 4: row[x] = static_cast<unsigned char>(row[x] + paeth(a, b, c)); break;
        default: return false;
      }
    }
    prior = row;
    data += 1 + row_bytes;
  }
  return true;
}

struct colours {
  std::vector<unsigned char> palette;  // RGBA, 4 bytes an entry
  bool has_key = false;
  unsigned key[3] = {0, 0, 0};  // the tRNS colour of gray or RGB pictures
};

void to_rgba(const png_header& h, const colours& c, const unsigned char* row, size_t count, unsigned char* out) {
  for (size_t i = 0; i < count; ++i, out += 4) {
    size_t s = i * static_cast<size_t>(h.channels);
    if (h.colour == 3) {
      unsigned index = sample_at(row, s, h.depth);
      if (4 * index + 3 < c.palette.size()) std::memcpy(out, &c.palette[4 * index], 4);
      else std::memset(out, 0, 4), out[3] = 0xFF;
      continue;
    }
    unsigned v[4] = {0, 0, 0, 0};
    for (int k = 0; k < h.channels; ++k) v[k] = sample_at(row, s + static_cast<size_t>(k), h.depth);
    bool gray = h.colour == 0 || h.colour == 4;
    out[0] = to_8bit(v[0], h.depth);
    out[1] = to_8bit(gray ? v[0] : v[1], h.depth);
    out[2] = to_8bit(gray ? v[0] : v[2], h.depth);
    if (h.colour == 4) out[3] = to_8bit(v[1], h.depth);
    else if (h.colour == 6) out[3] = to_8bit(v[3], h.depth);
    else if (c.has_key && (gray ? v[0] == c.key[0] : v[0] == c.key[0] && v[1] == c.key[1] && v[2] == c.key[2]))
      out[3] = 0;
    else out[3] = 0xFF;
  }
}

struct pass_layout {
  size_t x0, y0, dx, dy;
};
const pass_layout adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The chunks into header, colours and the joined image data; null, or why not.
const char* read_chunks(const std::vector<unsigned char>& file, png_header* h, colours* c,
                        std::vector<unsigned char>* idat) {
  size_t at = 8;
  bool seen_header = false, seen_end = false;
  std::vector<unsigned char> trns;
  while (!seen_end) {
    if (file.size() - at < 12) return "the file is cut short";
    uint32_t length = be32(&file[at]);
    if (length > file.size() - at - 12) return "a chunk runs past the end of the file";
    const unsigned char* type = &file[at + 4];
    const unsigned char* data = type + 4;
    if (crc32(crc32(0, nullptr, 0), type, length + 4) != be32(data + length)) return "a chunk's CRC is wrong";
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (length != 13) return "a damaged IHDR";
      h->width = be32(data);
      h->height = be32(data + 4);
      h->depth = data[8];
      h->colour = data[9];
      h->interlace = data[12];
      h->channels = channels_of(h->colour);
      if (!h->channels || !depth_allowed(h->colour, h->depth) || data[10] != 0 || data[11] != 0 || h->interlace > 1)
        return "an IHDR this reader does not know";
      seen_header = true;
    } else if (!seen_header) {
      return "no IHDR first";
    } else if (std::memcmp(type, "PLTE", 4) == 0) {
      if (length % 3 || length > 768) return "a damaged palette";
      for (uint32_t i = 0; i < length; i += 3) c->palette.insert(c->palette.end(), {data[i], data[i + 1], data[i + 2], 0xFF});
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      trns.assign(data, data + length);
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat->insert(idat->end(), data, data + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      seen_end = true;
    } else if (!(type[0] & 0x20)) {
      return "an unknown critical chunk";
    }
    at += 12 + length;
  }
  if (h->colour == 3) {
    if (c->palette.empty()) return "no palette";
    for (size_t i = 0; i < trns.size() && i < c->palette.size() / 4; ++i) c->palette[4 * i + 3] = trns[i];
  } else if (h->colour == 0 && trns.size() >= 2) {
    c->has_key = true;
    c->key[0] = be32(&trns[0]) >> 16;
  } else if (h->colour == 2 && trns.size() >= 6) {
    c->has_key = true;
    for (int k = 0; k < 3; ++k) c->key[k] = (unsigned{trns[2 * k]} << 8) | trns[2 * k + 1];
  }
  return nullptr;
}

bool inflate_all(const std::vector<unsigned char>& in, std::vector<unsigned char>* out) {
  uLongf size = static_cast<uLongf>(out->size());
  int r = uncompress(out->data(), &size, in.data(), static_cast<uLong>(in.size()));
  return r == Z_OK && size == out->size();
}

}  // namespace

int read_png(const char* path, std::vector<unsigned char>* bgr, int* width, int* height) {
  std::vector<unsigned char> file;
  std::string error;
  if (!read_whole_file(path, &file, &error)) {
    fail("cannot open %s: %s", path, error.c_str());
    return -1;
  }
  if (file.size() < 8 || std::memcmp(file.data(), png_signature, 8) != 0) {
    fail("%s is not a PNG picture", path);
    return -1;
  }
  png_header h;
  colours c;
  std::vector<unsigned char> idat;
  if (const char* why = read_chunks(file, &h, &c, &idat)) {
    fail("%s: %s", path, why);
    return -1;
  }
  const uint32_t w = h.width, ht = h.height;
  if (w == 0 || ht == 0 || w > 0x7FFFFFFFu || ht > 0x7FFFFFFFu ||
      rct_packed_size(static_cast<int>(w), static_cast<int>(ht)) == 0) {
    fail("%s: %ux%u is too large for an RCT picture", path, static_cast<unsigned>(w), static_cast<unsigned>(ht));
    return -1;
  }
  const size_t bits = static_cast<size_t>(h.channels) * static_cast<size_t>(h.depth);
  const size_t bpp = bits >= 8 ? bits / 8 : 1;
  // The raw size of every (sub-)image: rows of a filter byte and the packed samples.
  std::vector<pass_layout> passes;
  if (h.interlace) passes.assign(adam7, adam7 + 7);
  else passes.push_back({0, 0, 1, 1});
  size_t raw_size = 0;
  for (const pass_layout& p : passes) {
    size_t pw = w > p.x0 ? (w - p.x0 + p.dx - 1) / p.dx : 0, ph = ht > p.y0 ? (ht - p.y0 + p.dy - 1) / p.dy : 0;
    if (pw && ph) raw_size += ph * (1 + (pw * bits + 7) / 8);
  }
  std::vector<unsigned char> raw(raw_size);
  if (!inflate_all(idat, &raw)) {
    fail("%s: the image data does not inflate to its size", path);
    return -1;
  }
  std::vector<unsigned char> rgba(static_cast<size_t>(w) * ht * 4), line;
  unsigned char* data = raw.data();
  for (const pass_layout& p : passes) {
    size_t pw = w > p.x0 ? (w - p.x0 + p.dx - 1) / p.dx : 0, ph = ht > p.y0 ? (ht - p.y0 + p.dy - 1) / p.dy : 0;
    if (!pw || !ph) continue;
    size_t row_bytes = (pw * bits + 7) / 8;
    if (!unfilter(data, ph, row_bytes, bpp)) {
      fail("%s: a row with an unknown filter", path);
      return -1;
    }
    line.resize(pw * 4);
    for (size_t y = 0; y < ph; ++y) {
      to_rgba(h, c, data + y * (1 + row_bytes) + 1, pw, line.data());
      for (size_t x = 0; x < pw; ++x)
        std::memcpy(&rgba[((p.y0 + y * p.dy) * w + p.x0 + x * p.dx) * 4], &line[4 * x], 4);
    }
    data += ph * (1 + row_bytes);
  }
  bgr->resize(static_cast<size_t>(w) * ht * 3);
  rgba_over_black(rgba.data(), static_cast<size_t>(w) * ht, bgr->data());
  *width = static_cast<int>(w);
  *height = static_cast<int>(ht);
  return 0;
}

int write_png_file(const char* path, const unsigned char* bgr, int width, int height) {
  const size_t row = 3 * static_cast<size_t>(width);
  std::vector<unsigned char> raw((row + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    unsigned char* out = &raw[static_cast<size_t>(y) * (row + 1)];
    out[0] = 0;  // no filter
    for (size_t x = 0; x < row; x += 3) {
      out[1 + x] = bgr[y * row + x + 2];
      out[2 + x] = bgr[y * row + x + 1];
      out[3 + x] = bgr[y * row + x];
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) {
    fail("out of memory writing %s", path);
    return -1;
  }
  packed.resize(packed_size);
  std::vector<unsigned char> file(png_signature, png_signature + 8);
  auto chunk = [&file](const char* type, const unsigned char* data, size_t length) {
    size_t at = file.size();
    for (int i = 3; i >= 0; --i) file.push_back(static_cast<unsigned char>(length >> (8 * i)));
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data, data + length);
    uLong crc = crc32(crc32(0, nullptr, 0), &file[at + 4], static_cast<uInt>(length + 4));
    for (int i = 3; i >= 0; --i) file.push_back(static_cast<unsigned char>(crc >> (8 * i)));
  };
  unsigned char ihdr[13] = {0};
  for (int i = 0; i < 4; ++i) {
    ihdr[i] = static_cast<unsigned char>(static_cast<uint32_t>(width) >> (24 - 8 * i));
    ihdr[4 + i] = static_cast<unsigned char>(static_cast<uint32_t>(height) >> (24 - 8 * i));
  }
  ihdr[8] = 8;  // depth
  ihdr[9] = 2;  // RGB
  chunk("IHDR", ihdr, sizeof ihdr);
  chunk("IDAT", packed.data(), packed.size());
  chunk("IEND", nullptr, 0);
  FILE* out = open_file(path, "wb");
  if (!out) {
    fail("cannot create %s: %s", path, std::strerror(errno));
    return -1;
  }
  bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  int saved = errno;
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    fail("cannot write %s: %s", path, std::strerror(saved));
    return -1;
  }
  return 0;
}

}  // namespace talven::pack
