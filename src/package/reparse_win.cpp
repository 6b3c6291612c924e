#include <windows.h>

#include <cstring>

#include "base/cp932.h"
#include "base/wide.h"
#include "package/reparse.h"

namespace talven {

namespace {

int is_reparse_point(const char* path) {
  DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

}  // namespace

int path_has_reparse_point(const char* destination, const char* path) {
  char part[260];
  if (copy_text(part, sizeof part, destination) != 0) return 1;  // cannot be checked: refused
  strip_trailing_separator(part);
  if (is_reparse_point(part)) return 1;
  size_t base = std::strlen(part);
  size_t length = std::strlen(path);
  if (length >= sizeof part || std::strncmp(part, path, base) != 0) return 1;
  // Each level below the destination, the whole path last; a 0x5C that closes a
  // double-byte character is no separator.
  std::memcpy(part, path, length + 1);
  for (size_t i = base + 1; i <= length; ++i) {
    if (i < length && is_lead_byte(static_cast<unsigned char>(path[i])) && path[i + 1]) {
      ++i;
      continue;
    }
    if (path[i] != '\\' && path[i] != '\0') continue;
    part[i] = '\0';
    int linked = is_reparse_point(part);
    part[i] = path[i];
    if (linked) return 1;
  }
  return 0;
}

}  // namespace talven
