// Whole-buffer compression with libdeflate: the tool's builds where the library is at
// hand (Linux). compress_zlib.cpp is the same interface on zlib alone.
#include <libdeflate.h>

#include <vector>

#include "compress.h"

namespace talven::pack {

namespace {

constexpr size_t trial_size = 128 * 1024;

libdeflate_compressor* compressor(compressor_cache* cache, int level) {
  if (!cache->by_level[level]) cache->by_level[level] = libdeflate_alloc_compressor(level);
  return cache->by_level[level];
}

}  // namespace

compressor_cache::~compressor_cache() {
  for (libdeflate_compressor* c : by_level)
    if (c) libdeflate_free_compressor(c);
}

bool looks_incompressible(compressor_cache* cache, const unsigned char* data, size_t size) {
  if (size < 4096) return false;
  size_t n = size < trial_size ? size : trial_size;
  libdeflate_compressor* c = compressor(cache, 1);
  if (!c) return false;
  std::vector<unsigned char> out(libdeflate_zlib_compress_bound(c, n));
  size_t got = libdeflate_zlib_compress(c, data, n, out.data(), out.size());
  // Less than 2 % saved at the fastest level: what the best level would save is not
  // worth a full pass.
  return got == 0 || got * 50 >= n * 49;
}

int compress_buffer(compressor_cache* cache, const unsigned char* data, size_t size, int level,
                    std::vector<unsigned char>* packed) {
  if (level < 0 || level > best_level) return -1;
  if (level > 0 && looks_incompressible(cache, data, size)) level = 0;
  libdeflate_compressor* c = compressor(cache, level);
  if (!c) return -1;
  packed->resize(libdeflate_zlib_compress_bound(c, size));
  static const unsigned char nothing = 0;
  size_t got = libdeflate_zlib_compress(c, size ? data : &nothing, size, packed->data(), packed->size());
  if (got == 0) return -1;
  packed->resize(got);
  return 0;
}

}  // namespace talven::pack
