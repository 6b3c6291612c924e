#include "package/entry_names.h"

#include <cstring>

#include "base/alloc.h"
#include "base/cp932.h"
#include "package/package_format.h"

namespace talven {

namespace {

// Trail bytes of CP932: 0x40..0x7E and 0x80..0xFC.
bool is_trail_byte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

bool is_separator(char c) { return c == '\\' || c == '/'; }

inline const char* next_char(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? p + 2 : p + 1;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices whatever follows the first dot,
// and with spaces before it.
bool is_device_name(const char* begin, const char* end) {
  const char* stem_end = begin;
  while (stem_end < end && *stem_end != '.') ++stem_end;
  while (stem_end > begin && stem_end[-1] == ' ') --stem_end;
  size_t n = static_cast<size_t>(stem_end - begin);
  char stem[5] = {0, 0, 0, 0, 0};
  if (n != 3 && n != 4) return false;
  for (size_t i = 0; i < n; ++i) stem[i] = upper(begin[i]);
  if (n == 3) return !std::strcmp(stem, "CON") || !std::strcmp(stem, "PRN") || !std::strcmp(stem, "AUX") ||
                     !std::strcmp(stem, "NUL");
  return (!std::strncmp(stem, "COM", 3) || !std::strncmp(stem, "LPT", 3)) && stem[3] >= '1' && stem[3] <= '9';
}

constexpr uint64_t fnv_offset = 1469598103934665603ull;
constexpr uint64_t fnv_prime = 1099511628211ull;

enum { implicit_folder = 1, folder_kind = 2, file_kind = 3 };

uint64_t* find_slot(seen_names* names, uint64_t key) {
  size_t mask = names->capacity - 1;
  for (size_t i = static_cast<size_t>(key >> 2) & mask;; i = (i + 1) & mask)
    if (names->slots[i] == 0 || (names->slots[i] | 3) == (key | 3)) return &names->slots[i];
}

void grow(seen_names* names) {
  size_t old_capacity = names->capacity;
  uint64_t* old = names->slots;
  names->capacity = old_capacity ? old_capacity * 2 : 256;
  names->slots = static_cast<uint64_t*>(checked_alloc(names->capacity * sizeof(uint64_t)));
  std::memset(names->slots, 0, names->capacity * sizeof(uint64_t));
  for (size_t i = 0; i < old_capacity; ++i)
    if (old[i]) *find_slot(names, old[i]) = old[i];
  if (old) checked_free(old);
}

// The kind already recorded for this name, or 0; records `kind` when there was none
// (or an implicit folder where a folder entry comes).
int record(seen_names* names, uint64_t hash, int kind) {
  if (names->used * 2 >= names->capacity) grow(names);
  uint64_t key = (hash & ~uint64_t(3)) | static_cast<uint64_t>(kind);
  uint64_t* slot = find_slot(names, key);
  int had = static_cast<int>(*slot & 3);
  if (had == 0) ++names->used;
  if (had == 0 || (had == implicit_folder && kind == folder_kind)) *slot = key;
  return had;
}

}  // namespace

int only_dots_and_spaces(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != '.' && p[i] != ' ') return 0;
  return 1;
}

int check_entry_name(const char* name) {
  if (name[0] == '\0' || name[0] == '\\' || name[0] == '/') return -1;
  const char* component = name;
  for (const char* p = name;; p = next_char(p)) {
    bool single = next_char(p) == p + 1;
    if (*p == ':' && single) return -1;  // drive letters and alternate data streams
    bool separator = *p == '\0' || (single && (*p == '\\' || *p == '/'));
    if (!separator) continue;
    if (p == component) {
      // An empty component is only allowed as the end of a folder name ("DATA\").
      if (*p != '\0' || p == name) return -1;
    } else if (only_dots_and_spaces(component, static_cast<size_t>(p - component))) {
      return -1;
    }
    if (*p == '\0') return 0;
    component = p + 1;
    if (*component == '\0') return 0;
  }
}

const char* entry_name_damage(const char* name, unsigned n) {
  if (n == 0 || std::strlen(name) != n - 1) return "a NUL inside the name";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (is_lead_byte(*p)) {
      if (!is_trail_byte(p[1])) return "the name is not CP932 (a lead byte without its trail byte)";
      ++p;
      continue;
    }
    if (*p < 0x20) return "a control character in the name";
    if (std::strchr("<>|?*\"", *p)) return "a character Windows refuses in names (< > | ? * \")";
  }
  if (check_entry_name(name) != 0) return "the name would leave the install folder";
  const char* part = name;
  for (const char* p = name;; p += (is_lead_byte(static_cast<unsigned char>(*p)) ? 2 : 1)) {
    if (*p != '\0' && !is_separator(*p)) continue;
    if (is_device_name(part, p)) return "a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) in the name";
    if (*p == '\0') return nullptr;
    part = p + 1;
  }
}

const char* entry_name_doubt(const char* name) {
  const char* previous = nullptr;  // the character before p
  for (const char* p = name;; p += (is_lead_byte(static_cast<unsigned char>(*p)) ? 2 : 1)) {
    if ((*p == '\0' || is_separator(*p)) && previous && (*previous == '.' || *previous == ' ') &&
        previous + 1 == p)
      return "a name part ends in a dot or a space, which Windows drops";
    if (*p == '\0') return nullptr;
    previous = p;
  }
}

const char* note_entry_name(seen_names* names, const char* name, int folder, const char** doubt) {
  *doubt = nullptr;
  uint64_t hash = fnv_offset;
  const char* part = name;
  for (const char* p = name;; p += (is_lead_byte(static_cast<unsigned char>(*p)) ? 2 : 1)) {
    if (*p != '\0' && !is_separator(*p)) continue;
    const char* end = p;
    while (end > part && (end[-1] == '.' || end[-1] == ' ')) --end;
    for (const char* c = part; c < end; ++c) {
      bool lead = is_lead_byte(static_cast<unsigned char>(*c));
      hash = (hash ^ static_cast<unsigned char>(lead ? *c : upper(*c))) * fnv_prime;
      if (lead && c + 1 < end) hash = (hash ^ static_cast<unsigned char>(*++c)) * fnv_prime;
    }
    bool last = *p == '\0' || p[1] == '\0';
    if (!last) {
      // A parent on the way: a folder, whether or not it had an entry of its own.
      if (record(names, hash, implicit_folder) == file_kind) return "a file and a folder of the same name";
      hash = (hash ^ '\\') * fnv_prime;
      part = p + 1;
      continue;
    }
    int had = record(names, hash, folder ? folder_kind : file_kind);
    if (had == 0) return nullptr;
    if ((had == file_kind) != (folder == 0)) return "a file and a folder of the same name";
    if (had != implicit_folder)
      *doubt = "an entry of the same name (ignoring case and trailing dots) comes earlier; the later one wins";
    return nullptr;
  }
}

void release_seen_names(seen_names* names) {
  if (names->slots) checked_free(names->slots);
  names->slots = nullptr;
  names->capacity = names->used = 0;
}

}  // namespace talven
