// Marker replacement and the split of [ini] and registry entry lines. Every search steps
// over double-byte characters, so a second byte never passes for "=", a quote, a backslash
// or the start of a marker.
#include "install/markers.h"

#include <cstring>

#include "base/cp932.h"

namespace talven {

namespace {

char ini_expanded[marker_line_size];
char reg_expanded[marker_line_size];
char unescaped[marker_line_size];

inline size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

const char* expand_into(char* buffer, const char* line, const char* cd_marker, const char* install_folder,
                        const char* cd_root) {
  if (copy_text(buffer, marker_line_size, line) != 0) return nullptr;
  if (replace_first_marker(buffer, marker_line_size, cd_marker, cd_root) != 0) return nullptr;
  if (replace_first_marker(buffer, marker_line_size, "REP_INSTALL", install_folder ? install_folder : "") != 0)
    return nullptr;
  return buffer;
}

// Copies `length` bytes of text into out (size bytes) with its NUL; -1 when it would not fit.
int copy_part(char* out, size_t size, const char* text, size_t length) {
  if (length + 1 > size) return -1;
  std::memcpy(out, text, length);
  out[length] = '\0';
  return 0;
}

}  // namespace

int replace_first_marker(char* text, size_t size, const char* marker, const char* replacement) {
  char* at = const_cast<char*>(mb_find_text(text, marker));
  size_t marker_length = std::strlen(marker);
  if (!at || marker_length == 0) return 0;
  size_t length = std::strlen(text);
  size_t replacement_length = std::strlen(replacement);
  if (length - marker_length + replacement_length + 1 > size) return -1;
  char* tail = at + marker_length;
  std::memmove(at + replacement_length, tail, std::strlen(tail) + 1);
  std::memcpy(at, replacement, replacement_length);
  return 0;
}

const char* expand_ini_markers_with(const char* line, const char* install_folder, const char* cd_root) {
  return expand_into(ini_expanded, line, "REP_CDROMDRIVE", install_folder, cd_root);
}

// "REP_CDROM" here, so a registry line holding "REP_CDROMDRIVE" keeps the letters DRIVE
// behind the root.
const char* expand_reg_markers_with(const char* line, const char* install_folder, const char* cd_root) {
  return expand_into(reg_expanded, line, "REP_CDROM", install_folder, cd_root);
}

// Each backslash escapes the character behind it, which stays as it is. The search goes on
// behind that whole character: a double-byte one escaped this way keeps its second byte even
// when that byte is 0x5C.
const char* unescape_backslashes(const char* line) {
  if (copy_text(unescaped, sizeof unescaped, line) != 0) return nullptr;
  char* p = const_cast<char*>(mb_find_char(unescaped, '\\'));
  while (p) {
    std::memmove(p, p + 1, std::strlen(p + 1) + 1);
    if (*p == '\0') break;
    p += char_length(p);
    p = const_cast<char*>(mb_find_char(p, '\\'));
  }
  return unescaped;
}

int parse_ini_entry_with(const char* line, const char* install_folder, const char* cd_root, char* key,
                         char* value) {
  if (!mb_find_char(line, '=')) return -1;
  const char* expanded = expand_ini_markers_with(line, install_folder, cd_root);
  if (!expanded) return -1;
  // The install folder may itself hold "=", so the split is made on the expanded text.
  const char* equals = mb_find_char(expanded, '=');
  if (!equals) return -1;
  size_t key_length = static_cast<size_t>(equals - expanded);
  const char* rest = equals + 1;
  if (key_length + 1 > ini_key_size || std::strlen(rest) + 1 > ini_value_size) return -1;
  copy_part(key, ini_key_size, expanded, key_length);
  copy_text(value, ini_value_size, rest);
  return 0;
}

int parse_reg_entry_with(const char* line, const char* install_folder, const char* cd_root, char* name,
                         char* value) {
  if (!mb_find_text(line, "\"=\"")) return -1;
  // Unescaped first, so the backslashes of the inserted folder and root stay.
  const char* plain = unescape_backslashes(line);
  if (!plain) return -1;
  const char* expanded = expand_reg_markers_with(plain, install_folder, cd_root);
  if (!expanded) return -1;
  const char* separator = mb_find_text(expanded, "\"=\"");
  if (!separator) return -1;
  // The first byte (the opening quote) is dropped; a separator at the very start leaves an
  // empty name rather than a negative length.
  const char* name_start = separator > expanded ? expanded + 1 : separator;
  size_t name_length = static_cast<size_t>(separator - name_start);
  const char* rest = separator + 3;
  size_t value_length = std::strlen(rest);
  // Only a closing quote is dropped: taking any last byte could leave half of a double-byte
  // character behind.
  if (value_length > 0 && rest[value_length - 1] == '"') --value_length;
  if (name_length + 1 > reg_name_size || value_length + 1 > reg_value_size) return -1;
  copy_part(name, reg_name_size, name_start, name_length);
  copy_part(value, reg_value_size, rest, value_length);
  return 0;
}

}  // namespace talven
