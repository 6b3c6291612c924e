// Entry lines of [ini], [reg] and [regall]: the form tests, unescaping, marker replacement
// and the split, with any install folder and CD-ROM root.
#include <cstring>

#include "fuzz_support.h"
#include "base/cp932.h"
#include "install/markers.h"

using namespace talven;

namespace {

void check_split(const char* line, const char* folder, const char* root) {
  char key[ini_key_size + 1];
  char value[ini_value_size + 1];
  if (parse_ini_entry_with(line, folder, root, key, value) == 0) {
    FUZZ_CHECK(std::strlen(key) < ini_key_size && std::strlen(value) < ini_value_size);
    FUZZ_CHECK(mb_find_char(line, '=') != nullptr);
  }
  char name[reg_name_size + 1];
  char reg_value[reg_value_size + 1];
  if (parse_reg_entry_with(line, folder, root, name, reg_value) == 0) {
    FUZZ_CHECK(std::strlen(name) < reg_name_size && std::strlen(reg_value) < reg_value_size);
    FUZZ_CHECK(mb_find_text(line, "\"=\"") != nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_input in(data, size);
  std::string folder = in.field(300);
  std::string root = in.field(8);
  std::string line = in.field(700);  // entry lines are read into 512 bytes; longer ones too

  check_split(line.c_str(), folder.c_str(), root.c_str());
  check_split(line.c_str(), nullptr, root.c_str());

  const char* expanded = expand_ini_markers_with(line.c_str(), folder.c_str(), root.c_str());
  if (expanded) {
    FUZZ_CHECK(std::strlen(expanded) < marker_line_size);
    // Only the first of each marker goes; without markers the line comes back unchanged.
    if (!mb_find_text(line.c_str(), "REP_CDROMDRIVE") && !mb_find_text(line.c_str(), "REP_INSTALL"))
      FUZZ_CHECK(std::strcmp(expanded, line.c_str()) == 0);
  } else {
    FUZZ_CHECK(line.size() + 1 > marker_line_size || folder.size() + line.size() + 1 > marker_line_size ||
               root.size() + line.size() + 1 > marker_line_size);
  }
  expanded = expand_reg_markers_with(line.c_str(), folder.c_str(), root.c_str());
  if (expanded) FUZZ_CHECK(std::strlen(expanded) < marker_line_size);

  const char* plain = unescape_backslashes(line.c_str());
  if (plain) {
    // Each backslash escapes the character behind it: the text can only get shorter, and
    // a line without backslashes stays as it is.
    FUZZ_CHECK(std::strlen(plain) <= line.size());
    if (!mb_find_char(line.c_str(), '\\')) FUZZ_CHECK(std::strcmp(plain, line.c_str()) == 0);
  }

  char buffer[marker_line_size];
  if (copy_text(buffer, sizeof buffer, line.c_str()) == 0) {
    std::string before = buffer;
    if (replace_first_marker(buffer, sizeof buffer, "REP_INSTALL", folder.c_str()) == 0)
      FUZZ_CHECK(std::strlen(buffer) < sizeof buffer);
    else
      FUZZ_CHECK(before == buffer);  // refused: unchanged
  }
  return 0;
}
