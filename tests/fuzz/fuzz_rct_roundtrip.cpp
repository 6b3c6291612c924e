// Pictures through the maker's encoder and back through the decoder: every variant, any
// name, any pixels. The decoded picture must equal the one encoded, byte for byte.
#include <cstring>
#include <vector>

#include "engine/rct.h"
#include "fuzz_support.h"

using namespace talven;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_input in(data, size);
  const int variant = static_cast<int>(in.byte() % 4);
  const int width = 1 + static_cast<int>(in.byte() % 64);
  const int height = 1 + static_cast<int>(in.byte() % 64);
  const bool named = variant == rct_tc01 || variant == rct_ts01;
  const std::string name = named ? in.field(rct_name_max) : std::string();

  // Pixels from the rest of the input, repeated to fill the picture: repeats make the long
  // copies that the encoder looks for.
  const size_t packed = rct_packed_size(width, height);
  std::vector<unsigned char> pixels(packed);
  if (in.left() == 0) {
    std::memset(pixels.data(), 0, packed);
  } else {
    for (size_t i = 0; i < packed; ++i) pixels[i] = in.data[in.at + i % in.left()];
  }

  std::vector<unsigned char> file(rct_encode_bound(width, height, name.size()));
  const size_t n = rct_encode(pixels.data(), width, height, variant,
                              reinterpret_cast<const unsigned char*>(name.data()), name.size(), file.data(),
                              file.size());
  FUZZ_CHECK(n > 0 && n <= file.size());

  rct_header header;
  FUZZ_CHECK(rct_parse_header(file.data(), n, &header) == rct_ok);
  FUZZ_CHECK(header.variant == variant && header.width == width && header.height == height);
  FUZZ_CHECK(header.data_offset + header.data_size == n);
  FUZZ_CHECK(header.name_length == name.size() && std::memcmp(header.name, name.data(), name.size()) == 0);

  std::vector<unsigned char> decoded(packed, 0xCD);
  FUZZ_CHECK(rct_decode_data(header, file.data() + header.data_offset, header.data_size, decoded.data(),
                             decoded.size()) == rct_ok);
  FUZZ_CHECK(decoded == pixels);
  return 0;
}
