// Whole-buffer compression with zlib alone, for builds without libdeflate (Windows):
// the same streams the installer reads, levels above 9 counting as 9. The packages
// are somewhat larger and slower to make than libdeflate's at the same level.
#include <zlib.h>

#include <vector>

#include "compress.h"

namespace talven::pack {

namespace {

constexpr size_t trial_size = 128 * 1024;

int zlib_pack(const unsigned char* data, size_t size, int level, std::vector<unsigned char>* packed) {
  uLongf got = compressBound(static_cast<uLong>(size));
  packed->resize(got);
  if (compress2(packed->data(), &got, data, static_cast<uLong>(size), level) != Z_OK) return -1;
  packed->resize(got);
  return 0;
}

}  // namespace

compressor_cache::~compressor_cache() = default;

bool looks_incompressible(compressor_cache*, const unsigned char* data, size_t size) {
  if (size < 4096) return false;
  size_t n = size < trial_size ? size : trial_size;
  std::vector<unsigned char> out;
  if (zlib_pack(data, n, 1, &out) != 0) return false;
  // Less than 2 % saved at the fastest level: what the best level would save is not
  // worth a full pass.
  return out.size() * 50 >= n * 49;
}

int compress_buffer(compressor_cache* cache, const unsigned char* data, size_t size, int level,
                    std::vector<unsigned char>* packed) {
  if (level < 0 || level > best_level) return -1;
  if (level > 0 && looks_incompressible(cache, data, size)) level = 0;
  return zlib_pack(data, size, level > 9 ? 9 : level, packed);
}

}  // namespace talven::pack
