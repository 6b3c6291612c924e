// An RCT file as the installer loads it: the header from a stream (the loader's path) and
// from memory (the tool's path) must agree, then unscrambling, decoding into packed rows
// and spacing the rows out to the bitmap's stride.
#include <cstring>
#include <vector>

#include "engine/rct.h"
#include "fuzz_support.h"

using namespace talven;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rct_header header;
  const int parsed = rct_parse_header(data, size, &header);

  FILE* stream = memory_stream(data, size);
  if (stream) {
    rct_header streamed;
    const int read = rct_read_header(stream, &streamed);
    if (read == rct_ok) {
      // The stream reader does not look at the data, so only a missing data part differs.
      FUZZ_CHECK(parsed == rct_ok || parsed == rct_truncated);
      FUZZ_CHECK(streamed.width == header.width && streamed.height == header.height &&
                 streamed.data_size == header.data_size && streamed.data_offset == header.data_offset &&
                 streamed.name_length == header.name_length);
      FUZZ_CHECK(static_cast<size_t>(std::ftell(stream)) == streamed.data_offset);
    } else if (read != rct_truncated) {
      FUZZ_CHECK(read == parsed);
    }
    std::fclose(stream);
  }
  if (parsed != rct_ok) return 0;

  // The header has bounded the picture by its data; what is left is a real allocation.
  const size_t packed = rct_packed_size(header.width, header.height);
  FUZZ_CHECK(packed > 0 && packed / 3 <= rct_max_pixels(header.data_size));
  const int stride = rct_stride(header.width);
  const size_t bitmap = static_cast<size_t>(stride) * static_cast<size_t>(header.height);
  // Bigger pictures only cost time: kept to 1 MB, so that a run tries many streams rather
  // than a few huge fills.
  if (bitmap > (1u << 20)) return 0;

  std::vector<unsigned char> copy(data + header.data_offset, data + header.data_offset + header.data_size);
  std::vector<unsigned char> pixels(bitmap, 0);
  const int result = rct_decode_data(header, copy.data(), copy.size(), pixels.data(), pixels.size());
  FUZZ_CHECK(result == rct_ok || result == rct_corrupt || result == rct_no_trailer);
  if (result != rct_no_trailer)
    FUZZ_CHECK(rct_space_rows(pixels.data(), pixels.size(), header.width, header.height, stride) == 0);
  return 0;
}
