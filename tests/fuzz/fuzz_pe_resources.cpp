// Fuzzing harness: raw bytes as the executable whose resources medium --icon and
// --version-info rewrite. Whatever the headers and the resource tree claim, the rewrite
// either refuses (leaving the bytes as they were) or gives an executable that the same
// rewrite accepts again and maps to the same bytes.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "pe/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const std::vector<unsigned char> ico = {0, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 22, 0, 0, 0,
                                                 1, 2, 3, 4};
  static std::vector<unsigned char> version;
  if (version.empty()) {
    talven::version_values v = {"月影", "1.2.3.4", "maker"};
    FUZZ_CHECK(talven::build_version_resource(&v, &version) == 0);
  }
  const std::vector<unsigned char> input(data, data + size);
  std::vector<unsigned char> exe = input;
  talven::resource_changes changes = {&ico, &version, nullptr};
  const char* why = nullptr;
  if (talven::replace_resources(&exe, &changes, &why) != 0) {
    FUZZ_CHECK(why != nullptr);
    FUZZ_CHECK(exe == input);
    return 0;
  }
  std::vector<unsigned char> again = exe;
  FUZZ_CHECK(talven::replace_resources(&again, &changes, &why) == 0);
  FUZZ_CHECK(again == exe);
  return 0;
}
