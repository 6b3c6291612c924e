#include "engine/names.h"

#include <cstring>

#include "base/cp932.h"

namespace talven {

namespace {

// Length of the character at p: 2 for a lead byte followed by a non-NUL byte.
inline size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

}  // namespace

int split_engine_name(const char* name, name_parts* parts) {
  const char* rest = name;
  if (name[0] != '\0' && name[1] == ':') rest = name + 2;
  // Folder part: up to and including the last real "\" or "/".
  for (const char* p = rest; *p; p += char_length(p))
    if (char_length(p) == 1 && (*p == '\\' || *p == '/')) rest = p + 1;
  const char* dot = mb_find_last_char(rest, '.');
  size_t total = std::strlen(rest);
  if (total > engine_path_size - 1) return -1;
  parts->base = rest;
  parts->base_length = dot ? static_cast<size_t>(dot - rest) : total;
  parts->extension = dot ? dot : rest + total;
  parts->extension_length = total - parts->base_length;
  return 0;
}

int normalise_name(const char* name, char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  name_parts parts;
  if (split_engine_name(name, &parts) != 0) return -1;
  // Base name and extension are adjacent in the name, so they are one run of bytes.
  size_t n = parts.base_length + parts.extension_length;
  if (n + 1 > size) return -1;
  std::memcpy(out, parts.base, n);
  out[n] = '\0';
  mb_lower(out);
  return 0;
}

}  // namespace talven
