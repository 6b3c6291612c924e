// Destination rules: the proposed default, the normalisation of a typed folder, the browse
// result and the level prefixes of the folder creation, on any texts and buffer sizes.
#include <cstring>

#include "fuzz_support.h"
#include "base/cp932.h"
#include "install/destination.h"

using namespace talven;

namespace {

// An area of `size` bytes inside a larger one filled with a guard byte: anything written
// past the area shows.
struct guarded {
  char bytes[destination_size + 64];
  explicit guarded(size_t size) : size(size) { std::memset(bytes, 0x7E, sizeof bytes); }
  size_t size;
  bool intact() const {
    for (size_t i = size; i < sizeof bytes; ++i)
      if (static_cast<unsigned char>(bytes[i]) != 0x7E) return false;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_input in(data, size);
  const unsigned flags = in.byte();
  const size_t room = 1 + in.byte() % destination_size;
  std::string typed = in.field(600);
  std::string windows_dir = in.field(300);
  std::string instfol = in.field(200);
  std::string instto = in.field(200);

  guarded proposal(room);
  build_default_destination(proposal.bytes, room, windows_dir.c_str(), flags & 1, instfol.c_str(), instto.c_str());
  FUZZ_CHECK(std::strlen(proposal.bytes) < room && proposal.intact());

  // The typed folder as the dialog hands it over: at most 259 bytes in a 260-byte buffer.
  guarded path(destination_size);
  copy_text_cut(path.bytes, destination_size, typed.c_str());
  char drive[8];
  windows_dir_head(drive, sizeof drive, windows_dir.c_str(), ':');
  const bool has_drive = mb_find_char(path.bytes, ':') || drive[0];
  int verdict = normalise_destination(path.bytes, destination_size, windows_dir.c_str(), flags & 2,
                                      instfol.c_str(), instto.c_str());
  FUZZ_CHECK(verdict >= destination_ok && verdict <= destination_too_long);
  FUZZ_CHECK(std::strlen(path.bytes) < destination_size && path.intact());
  if (verdict == destination_ok) {
    // A sound folder has a drive (when the Windows folder has one to lend), a separator
    // after its first colon, and no trailing separator, so the folder creation can walk it.
    const char* colon = mb_find_char(path.bytes, ':');
    if (has_drive) FUZZ_CHECK(colon && colon[1] == '\\');
    // Behind "X:\" every part names itself: none is empty, ".", ".." or ends in a dot
    // or a blank that the system would drop (so the root rule saw the real folder).
    if (colon == path.bytes + 1 && !is_lead_byte(static_cast<unsigned char>(path.bytes[0]))) {
      const char* last = nullptr;  // the last character of the current part
      for (const char* p = path.bytes + 3;; p += (is_lead_byte(static_cast<unsigned char>(*p)) && p[1]) ? 2 : 1) {
        if (*p != '\0' && *p != '\\') {
          last = p;
          continue;
        }
        FUZZ_CHECK(last != nullptr);
        FUZZ_CHECK(last + 1 < p || (*last != ' ' && *last != '.'));
        if (*p == '\0') break;
        last = nullptr;
      }
    }
    guarded chain(destination_size);
    if (prepare_folder_chain(chain.bytes, destination_size, path.bytes) == 0) {
      FUZZ_CHECK(chain.intact());
      char prefix[destination_size];
      int level = 1;
      while (level < 998 && folder_chain_prefix(prefix, sizeof prefix, chain.bytes, level) == 0) {
        FUZZ_CHECK(std::strncmp(prefix, chain.bytes, std::strlen(prefix)) == 0);
        ++level;
      }
      FUZZ_CHECK(std::strcmp(prefix, chain.bytes) == 0);
    }
  }

  guarded browsed(room);
  if (compose_browse_result(browsed.bytes, room, typed.c_str(), instfol.c_str(), instto.c_str()) == 0)
    FUZZ_CHECK(std::strlen(browsed.bytes) < room);
  FUZZ_CHECK(browsed.intact());

  guarded head(room);
  windows_dir_head(head.bytes, room, windows_dir.c_str(), (flags & 4) ? ':' : '\\');
  FUZZ_CHECK(std::strlen(head.bytes) < room && head.intact());

  // The registry's "IsInst" text: any leading integer, clamped, never undefined.
  parse_leading_int(typed.c_str());
  return 0;
}
