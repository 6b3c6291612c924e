#include "install/name_rules.h"

#include <cstring>

#include "config/settings.h"
#include "base/cp932.h"
#include "package/entry_names.h"

namespace talven {

namespace {
// The parts full_form keeps track of: as many as a 260-byte path can hold.
constexpr size_t max_kept_parts = 260;
}  // namespace

const char* const single_name_settings[single_name_setting_count] = {"INI_FILE", "REG_GLOBAL", "REG_LOCAL",
                                                                     "INST_GROUP", "TITLEBAR"};

int check_setting_name(const char* value) {
  if (!value || !*value) return 0;
  if (mb_find_char(value, '\\') || mb_find_char(value, '/') || mb_find_char(value, ':')) return -1;
  return only_dots_and_spaces(value, std::strlen(value)) ? -1 : 0;
}

const char* refused_setting_name(const char** value) {
  const char* values[single_name_setting_count] = {get_ini_file(), get_reg_global(), get_reg_local(),
                                                   get_inst_group(), get_titlebar()};
  for (int i = 0; i < single_name_setting_count; ++i) {
    if (check_setting_name(values[i]) != 0) {
      if (value) *value = values[i];
      return single_name_settings[i];
    }
  }
  return nullptr;
}

int full_form(const char* path, char* out, size_t size) {
  if (size < 4 || is_lead_byte(static_cast<unsigned char>(path[0])) || path[0] == '\0' || path[1] != ':' ||
      (path[2] != '\\' && path[2] != '/'))
    return -1;
  out[0] = path[0];
  out[1] = ':';
  size_t length = 2;  // out holds "X:" and then "\part" for each part kept
  size_t starts[max_kept_parts];  // where each kept part's separator stands
  size_t depth = 0;
  const char* p = path + 3;
  while (*p) {
    // One part: up to the next real separator.
    const char* start = p;
    while (*p && *p != '\\' && *p != '/') p += (is_lead_byte(static_cast<unsigned char>(*p)) && p[1]) ? 2 : 1;
    size_t n = static_cast<size_t>(p - start);
    if (*p) ++p;
    if (n == 0 || (n == 1 && start[0] == '.')) continue;
    if (n == 2 && start[0] == '.' && start[1] == '.') {
      if (depth == 0) return -1;  // above the root
      length = starts[--depth];
      continue;
    }
    if (only_dots_and_spaces(start, n)) return -1;
    while (start[n - 1] == '.' || start[n - 1] == ' ') --n;  // a trail byte is never . or space
    if (length + 1 + n + 1 > size || depth == max_kept_parts) return -1;
    starts[depth++] = length;
    out[length++] = '\\';
    std::memcpy(out + length, start, n);
    length += n;
  }
  if (length == 2) out[length++] = '\\';  // the root keeps its separator
  out[length] = '\0';
  return 0;
}

int inside_in_full_form(const char* folder, const char* path) {
  char full_folder[520], full_path[520];
  if (full_form(folder, full_folder, sizeof full_folder) != 0 || full_form(path, full_path, sizeof full_path) != 0)
    return 0;
  return path_inside(full_folder, full_path, nullptr);
}

}  // namespace talven
