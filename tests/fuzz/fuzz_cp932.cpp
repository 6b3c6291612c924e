// CP932 path rules: trailing separators, double-byte-aware searches, lower-casing, the
// bounded copies and the full form of a path, on any bytes. Checks the rules' own promises, not just memory safety.
#include <cstring>

#include "fuzz_support.h"
#include "base/cp932.h"
#include "install/name_rules.h"

using namespace talven;

namespace {

// Where the characters of a text start, as the rules walk it.
bool is_char_start(const char* text, const char* at) {
  if (at == text) return true;
  for (const char* p = text; *p; p += (is_lead_byte(static_cast<unsigned char>(*p)) && p[1]) ? 2 : 1)
    if (p == at) return true;
  return false;
}

bool ends_in_lone_lead_byte(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p; p += (is_lead_byte(static_cast<unsigned char>(*p)) && p[1]) ? 2 : 1) last = p;
  return last && last[1] == '\0' && is_lead_byte(static_cast<unsigned char>(*last));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_input in(data, size);
  const unsigned room = in.byte() % 300;  // buffer size, sometimes too small on purpose
  std::string text = in.field(400);
  std::string needle = in.field(16);
  const char c = static_cast<char>(in.byte());

  for (int b = 0; b < 256; ++b)
    FUZZ_CHECK(is_lead_byte(static_cast<unsigned char>(b)) == ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)));

  const char* found = mb_find_char(text.c_str(), c);
  if (found) FUZZ_CHECK(*found == c && is_char_start(text.c_str(), found));
  const char* last = mb_find_last_char(text.c_str(), c);
  FUZZ_CHECK((found == nullptr) == (last == nullptr));
  if (last) FUZZ_CHECK(last >= found && *last == c && is_char_start(text.c_str(), last));
  const char* at = mb_find_text(text.c_str(), needle.c_str());
  if (at) FUZZ_CHECK(std::strncmp(at, needle.c_str(), needle.size()) == 0 && is_char_start(text.c_str(), at));

  // ensure + strip: adding a separator and taking it away gives the text without one.
  char path[512];
  std::memset(path, 0x7E, sizeof path);
  if (copy_text(path, room, text.c_str()) == 0) {
    FUZZ_CHECK(std::strcmp(path, text.c_str()) == 0);
    char stripped[512];
    std::strcpy(stripped, path);
    strip_trailing_separator(stripped);
    size_t cut = text.size() - std::strlen(stripped);
    FUZZ_CHECK(cut <= 1);
    if (ensure_trailing_separator(path, room)) {
      FUZZ_CHECK(std::strlen(path) < room);
      strip_trailing_separator(path);
      // A text that ends in a lone lead byte takes the appended 0x5C as its second byte, so
      // there is no separator to strip; such a text is no CP932 path to begin with.
      if (!ends_in_lone_lead_byte(text.c_str())) FUZZ_CHECK(std::strcmp(path, stripped) == 0);
    } else {
      FUZZ_CHECK(std::strcmp(path, text.c_str()) == 0);  // refused: unchanged
    }
    // Nothing written past the area.
    if (room < sizeof path) FUZZ_CHECK(static_cast<unsigned char>(path[room]) == 0x7E);
  } else {
    FUZZ_CHECK(room == 0 || text.size() + 1 > room);
  }

  char appended[1024];
  if (copy_text(appended, sizeof appended, text.c_str()) == 0 && append_text(appended, room, needle.c_str()) == 0)
    FUZZ_CHECK(std::strlen(appended) < room);

  // Lower-casing and replacing keep the length and the double-byte characters.
  std::string lowered = text;
  mb_lower(&lowered[0]);
  FUZZ_CHECK(std::strlen(lowered.c_str()) == std::strlen(text.c_str()));
  std::string once = lowered;
  mb_lower(&once[0]);
  FUZZ_CHECK(once == lowered);
  std::string replaced = text;
  mb_replace_char(&replaced[0], c ? c : '/', '\\');
  FUZZ_CHECK(std::strlen(replaced.c_str()) == std::strlen(text.c_str()));

  // The full form stays in its area, is its own full form, and keeps no "." or ".." part;
  // what lies inside a folder in full form starts with that folder.
  char full[512];
  std::memset(full, 0x7E, sizeof full);
  if (full_form(text.c_str(), full, room) == 0) {
    FUZZ_CHECK(std::strlen(full) < room && full[1] == ':' && full[2] == '\\');
    char again[512];
    FUZZ_CHECK(full_form(full, again, sizeof again) == 0 && std::strcmp(again, full) == 0);
    FUZZ_CHECK(!mb_find_text(full, "\\.\\") && !mb_find_text(full, "\\..\\"));
  }
  if (room < sizeof full) FUZZ_CHECK(static_cast<unsigned char>(full[room]) == 0x7E);
  if (inside_in_full_form(needle.c_str(), text.c_str())) {
    char folder[512];
    FUZZ_CHECK(full_form(needle.c_str(), folder, sizeof folder) == 0 && full_form(text.c_str(), full, sizeof full) == 0);
    FUZZ_CHECK(std::strlen(full) > std::strlen(folder));
  }
  FUZZ_CHECK(check_disk_name(text.c_str()) != 0 || !mb_find_char(text.c_str(), '\\'));
  return 0;
}
