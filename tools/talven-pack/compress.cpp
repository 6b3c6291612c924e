#include "compress.h"
#include "platform.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace talven::pack {

namespace {

constexpr size_t stream_block = 1 << 20;

}  // namespace

int stream_file(const char* path, FILE* out, int level, uint64_t packed_limit, uint64_t* size, uint64_t* packed,
                std::string* error) {
  *size = 0;
  *packed = 0;
  FILE* in = open_file(path, "rb");
  if (!in) {
    *error = std::string("cannot read: ") + std::strerror(errno);
    return -1;
  }
  std::unique_ptr<unsigned char[]> input(new unsigned char[stream_block]);
  std::unique_ptr<unsigned char[]> output(new unsigned char[stream_block]);
  size_t got = std::fread(input.get(), 1, stream_block, in);
  if (level > 9) level = 9;
  if (level > 0) {
    compressor_cache trial;
    if (looks_incompressible(&trial, input.get(), got)) level = 0;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit(&z, level) != Z_OK) {
    std::fclose(in);
    *error = "compression failed (out of memory)";
    return -1;
  }
  int status = 0;
  for (;;) {
    if (std::ferror(in)) {
      *error = std::string("cannot read: ") + std::strerror(errno);
      status = -1;
      break;
    }
    *size += got;
    if (*size > 0x7FFFFFFFull) {
      *error = "2 GiB or more; a package entry holds less";
      status = -1;
      break;
    }
    bool last = got < stream_block && (std::feof(in) || got == 0);
    z.next_in = input.get();
    z.avail_in = static_cast<uInt>(got);
    int r;
    do {
      z.next_out = output.get();
      z.avail_out = stream_block;
      r = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      size_t have = stream_block - z.avail_out;
      *packed += have;
      if (*packed > packed_limit) {
        *error = "the package would pass 2 GiB";
        status = -1;
        break;
      }
      if (have && std::fwrite(output.get(), 1, have, out) != have) {
        *error = std::string("cannot write the package: ") + std::strerror(errno);
        status = -1;
        break;
      }
    } while (z.avail_out == 0 || (last && r != Z_STREAM_END));
    if (status != 0 || last) break;
    got = std::fread(input.get(), 1, stream_block, in);
  }
  deflateEnd(&z);
  std::fclose(in);
  return status;
}

}  // namespace talven::pack
