// Compression of package entries. Files up to whole_file_limit are compressed in memory
// with libdeflate (an ordinary zlib stream, which the installer's zlib inflates); larger
// files are streamed through zlib in fixed buffers, so memory never grows with a file's
// size. Data that does not compress is stored (a zlib stream of stored blocks) without
// spending a full compression on it. The result depends only on the bytes and the level.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct libdeflate_compressor;

namespace talven::pack {

constexpr int default_level = 8;
constexpr int best_level = 12;
constexpr uint64_t whole_file_limit = 8ull << 20;

// One per thread: the libdeflate compressors it has used, by level.
struct compressor_cache {
  libdeflate_compressor* by_level[best_level + 1] = {};
  compressor_cache() = default;
  compressor_cache(const compressor_cache&) = delete;
  compressor_cache& operator=(const compressor_cache&) = delete;
  ~compressor_cache();
};

// True when a fast trial on the first bytes shows that the data does not compress.
bool looks_incompressible(compressor_cache* cache, const unsigned char* data, size_t size);

// The zlib stream of data at level 0..12 into *packed. 0, or -1 when out of memory.
int compress_buffer(compressor_cache* cache, const unsigned char* data, size_t size, int level,
                    std::vector<unsigned char>* packed);

// Streams the file at path through zlib (level above 9 counts as 9) into out, at its
// current position. Stops with -1 as soon as *packed would pass packed_limit (error says
// so), or on a read or write failure (error holds strerror). *size is the bytes read.
int stream_file(const char* path, FILE* out, int level, uint64_t packed_limit, uint64_t* size, uint64_t* packed,
                std::string* error);

}  // namespace talven::pack
