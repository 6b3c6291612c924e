#include "install/destination.h"

#include <cstring>

#include "base/cp932.h"

namespace talven {

namespace {

bool is_set(const char* text) { return text && *text; }

// Length of the character at p, as the path rules count it.
size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

// The first real backslash that is directly followed by another 0x5C byte, wherever it
// stands. A 0x5C that is the second byte of a double-byte character is never the first of
// the pair, so a folder such as "表\sub" (0x95 0x5C, then a separator) passes.
const char* find_double_separator(const char* path) {
  for (const char* p = path; *p; p += char_length(p))
    if (*p == '\\' && char_length(p) == 1 && p[1] == '\\') return p;
  return nullptr;
}

// True when the last character of the text is a single-byte backslash.
bool ends_in_separator(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p; p += char_length(p)) last = p;
  return last && *last == '\\' && char_length(last) == 1;
}

// Inserts text at position `at`; -1 (unchanged) when the result would not fit.
int insert_text(char* path, size_t size, size_t at, const char* text) {
  size_t length = std::strlen(path);
  size_t n = std::strlen(text);
  if (length + n + 1 > size) return -1;
  std::memmove(path + at + n, path + at, length - at + 1);
  std::memcpy(path + at, text, n);
  return 0;
}

// "X:" or "X:\" alone.
bool is_drive_root(const char* path) {
  if (path[0] == '\0' || path[1] != ':') return false;
  return path[2] == '\0' || (path[2] == '\\' && path[3] == '\0');
}

}  // namespace

int copy_text_cut(char* out, size_t size, const char* text) {
  if (size == 0) return 1;
  size_t i = 0;
  while (text[i]) {
    size_t n = char_length(text + i);
    if (i + n > size - 1) break;
    i += n;
  }
  std::memmove(out, text, i);
  out[i] = '\0';
  return text[i] ? 1 : 0;
}

void windows_dir_head(char* out, size_t size, const char* windows_dir, char stop) {
  if (size == 0) return;
  out[0] = '\0';
  const char* found = mb_find_char(windows_dir, stop);
  if (!found) return;
  size_t n = static_cast<size_t>(found - windows_dir) + 1;
  if (n + 1 > size) return;  // a Windows folder this long has no usable drive part
  std::memcpy(out, windows_dir, n);
  out[n] = '\0';
}

int build_default_destination(char* out, size_t size, const char* windows_dir, int program_files,
                              const char* instfol, const char* instto) {
  // Composed in a buffer with room for every part at its largest, then cut to fit.
  char work[1024];
  windows_dir_head(work, sizeof work, windows_dir, '\\');
  int cut = 0;
  if (program_files) cut |= append_text(work, sizeof work, "Program Files\\");
  if (is_set(instfol)) {
    cut |= append_text(work, sizeof work, instfol);
    cut |= append_text(work, sizeof work, "\\");
  }
  if (instto) cut |= append_text(work, sizeof work, instto);
  if (copy_text_cut(out, size, work)) cut = 1;
  return cut ? 1 : 0;
}

int normalise_destination(char* path, size_t size, const char* windows_dir, int make_folder,
                          const char* instfol, const char* instto) {
  mb_replace_char(path, '/', '\\');
  if (find_double_separator(path)) return destination_network;
  strip_trailing_separator(path);
  if (make_folder && is_set(instto) && !mb_find_text(path, instto)) {
    char work[1024];
    if (copy_text(work, sizeof work, path) != 0) return destination_too_long;
    if (is_set(instfol)) {
      append_text(work, sizeof work, "\\");
      append_text(work, sizeof work, instfol);
    }
    append_text(work, sizeof work, "\\");
    append_text(work, sizeof work, instto);
    if (copy_text(path, size, work) != 0) return destination_too_long;
  }
  if (!mb_find_char(path, ':')) {
    char drive[8];
    windows_dir_head(drive, sizeof drive, windows_dir, ':');
    if (insert_text(path, size, 0, drive) != 0) return destination_too_long;
  }
  const char* colon = mb_find_char(path, ':');
  if (colon && colon[1] != '\\') {
    if (insert_text(path, size, static_cast<size_t>(colon - path) + 1, "\\") != 0)
      return destination_too_long;
  }
  // A path that is not "X:\..." (a colon further on) is left to the folder creation,
  // which cannot make it.
  resolve_dot_parts(path, size);
  if (ends_in_separator(path)) return destination_root;
  return destination_ok;
}

int resolve_dot_parts(char* path, size_t size) {
  if (path[0] == '\0' || is_lead_byte(static_cast<unsigned char>(path[0])) || path[1] != ':' ||
      path[2] != '\\')
    return -1;
  char work[1024];
  if (std::strlen(path) + 1 > sizeof work) return -1;
  // Rebuilt part by part behind the drive's "X:\"; `length` is where the next part goes.
  std::memcpy(work, path, 3);
  size_t length = 3;
  const char* p = path + 3;
  while (*p) {
    const char* start = p;
    while (*p && !(*p == '\\' && char_length(p) == 1)) p += char_length(p);
    size_t n = static_cast<size_t>(p - start);
    if (*p) ++p;  // over the separator
    // Trailing dots and spaces go, as the system drops them when it opens the name.
    size_t kept = n;
    while (kept > 0) {
      // The last byte is a single-byte character unless it closes a double-byte one.
      size_t last = 0;
      for (size_t i = 0; i < kept; i += char_length(start + i)) last = i;
      if (kept - last != 1 || (start[last] != '.' && start[last] != ' ')) break;
      kept = last;
    }
    // ".." followed by nothing but blanks names the parent; "..." names nothing.
    bool parent = kept == 0 && n >= 2 && start[0] == '.' && start[1] == '.';
    for (size_t i = 2; parent && i < n; ++i)
      if (start[i] != ' ') parent = false;
    if (parent) {
      // Back to just after the separator before the last part (each kept part ends in
      // one), never past the root's.
      if (length > 3) {
        size_t cut = 3;
        for (size_t i = 3; i + 1 < length; i += char_length(work + i))
          if (work[i] == '\\' && char_length(work + i) == 1) cut = i + 1;
        length = cut;
      }
      continue;
    }
    if (kept == 0) continue;
    std::memcpy(work + length, start, kept);
    length += kept;
    work[length++] = '\\';
  }
  if (length > 3) --length;  // the separator after the last part
  work[length] = '\0';
  if (length + 1 > size) return -1;
  std::memcpy(path, work, length + 1);
  return 0;
}

int is_system_folder(const char* path, const char* const* system_folders, int count) {
  if (is_drive_root(path)) return 1;
  for (int i = 0; i < count; ++i)
    if (system_folders[i] && system_folders[i][0] && same_path(path, system_folders[i])) return 1;
  return 0;
}

int classify_existing_folder(int has_entries, const char* env_title, const char* own_title) {
  if (env_title) return std::strcmp(env_title, own_title) == 0 ? existing_same_title : existing_other_title;
  return has_entries ? existing_files : existing_none;
}

int compose_browse_result(char* out, size_t size, const char* chosen, const char* instfol,
                          const char* instto) {
  char work[1024];
  if (copy_text(work, sizeof work, chosen) != 0) return -1;
  if (is_set(instfol) && !mb_find_text(work, instfol)) {
    if (!ensure_trailing_separator(work, sizeof work)) return -1;
    if (append_text(work, sizeof work, instfol) != 0) return -1;
  }
  if (!ensure_trailing_separator(work, sizeof work)) return -1;
  if (instto && append_text(work, sizeof work, instto) != 0) return -1;
  return copy_text(out, size, work);
}

int prepare_folder_chain(char* out, size_t size, const char* path) {
  size_t length = std::strlen(path);
  if (length <= 2) return -1;
  if (copy_text(out, size, path) != 0) return -1;
  if (ends_in_separator(out) && out[length - 2] != ':') out[length - 1] = '\0';
  return 0;
}

int folder_chain_prefix(char* out, size_t size, const char* path, int level) {
  int seen = 0;
  const char* p = path;
  if (*p) p += char_length(p);
  for (; *p; p += char_length(p)) {
    if (*p == '\\' && char_length(p) == 1 && ++seen == level) {
      size_t n = static_cast<size_t>(p - path);
      if (n + 1 > size) n = size - 1;
      std::memcpy(out, path, n);
      out[n] = '\0';
      return 0;
    }
  }
  copy_text_cut(out, size, path);
  return 1;
}

}  // namespace talven
