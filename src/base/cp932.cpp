#include "base/cp932.h"

#include <cstring>

namespace talven {

namespace {
struct lead_table {
  unsigned char lead[256];
  constexpr lead_table() : lead() {
    for (int b = 0; b < 256; ++b) lead[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  }
};
constexpr lead_table lead_bytes;

// Length of the character starting at p: 2 for a lead byte followed by a non-NUL byte.
inline size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

// True when the last byte of a text of `length` bytes is a single-byte backslash.
bool ends_in_real_backslash(const char* text, size_t length) {
  if (length == 0 || text[length - 1] != '\\') return false;
  // Walk from the start: only a forward scan knows where characters begin.
  size_t i = 0, last = 0;
  while (i < length) {
    last = i;
    i += char_length(text + i);
  }
  return last == length - 1;
}
}  // namespace

int is_lead_byte(unsigned char b) { return lead_bytes.lead[b]; }

int equal_nocase(const char* a, const char* b, size_t n) {
  // The two sides are walked in step, so a double-byte character is compared whole on both.
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  size_t i = 0;
  while (i < n) {
    size_t len = char_length(a + i);
    if (len == 1) {
      if (lower(a[i]) != lower(b[i])) return 0;
    } else if (i + 1 >= n || a[i] != b[i] || a[i + 1] != b[i + 1]) {
      return 0;
    }
    i += len;
  }
  return 1;
}

size_t trimmed_length(const char* path) {
  size_t length = std::strlen(path);
  return ends_in_real_backslash(path, length) ? length - 1 : length;
}

int same_path(const char* a, const char* b) {
  size_t la = trimmed_length(a), lb = trimmed_length(b);
  return la == lb && equal_nocase(a, b, la);
}

int path_inside(const char* folder, const char* path, const char** rest) {
  size_t n = trimmed_length(folder);
  if (n == 0 || std::strlen(path) <= n + 1) return 0;
  // Identical leading bytes split into the same characters, so byte n starts a character
  // in path too, and a 0x5C there is a real separator.
  if (!equal_nocase(folder, path, n) || path[n] != '\\') return 0;
  if (rest) *rest = path + n + 1;
  return 1;
}

char* ensure_trailing_separator(char* path, size_t size) {
  size_t length = std::strlen(path);
  if (ends_in_real_backslash(path, length)) return path;
  if (length + 2 > size) return nullptr;
  path[length] = '\\';
  path[length + 1] = '\0';
  return path;
}

char* strip_trailing_separator(char* path) {
  size_t length = std::strlen(path);
  if (ends_in_real_backslash(path, length)) path[length - 1] = '\0';
  return path;
}

const char* mb_find_char(const char* text, char c) {
  for (const char* p = text; *p; p += char_length(p))
    if (*p == c && char_length(p) == 1) return p;
  return nullptr;
}

const char* mb_find_last_char(const char* text, char c) {
  const char* found = nullptr;
  for (const char* p = text; *p; p += char_length(p))
    if (*p == c && char_length(p) == 1) found = p;
  return found;
}

const char* mb_find_text(const char* text, const char* needle) {
  size_t n = std::strlen(needle);
  if (n == 0) return text;
  for (const char* p = text; *p; p += char_length(p))
    if (std::strncmp(p, needle, n) == 0) return p;
  return nullptr;
}

char* mb_lower(char* text) {
  for (char* p = text; *p; p += char_length(p)) {
    const unsigned char b = static_cast<unsigned char>(p[0]);
    if (char_length(p) == 1) {
      if (b >= 'A' && b <= 'Z') p[0] = static_cast<char>(b - 'A' + 'a');
    } else if (b == 0x82) {
      const unsigned char t = static_cast<unsigned char>(p[1]);
      if (t >= 0x60 && t <= 0x79) p[1] = static_cast<char>(t + 0x21);
    }
  }
  return text;
}

char* mb_replace_char(char* text, char from, char to) {
  for (char* p = text; *p; p += char_length(p))
    if (*p == from && char_length(p) == 1) *p = to;
  return text;
}

int copy_text(char* dest, size_t size, const char* src) {
  size_t n = std::strlen(src);
  if (size == 0 || n + 1 > size) return -1;
  std::memcpy(dest, src, n + 1);
  return 0;
}

int append_text(char* dest, size_t size, const char* src) {
  size_t have = std::strlen(dest);
  size_t n = std::strlen(src);
  if (have + n + 1 > size) return -1;
  std::memcpy(dest + have, src, n + 1);
  return 0;
}

int check_disk_name(const char* name) {
  if (!name[0] || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return -1;
  return (mb_find_char(name, '\\') || mb_find_char(name, '/') || mb_find_char(name, ':')) ? -1 : 0;
}

}  // namespace talven
