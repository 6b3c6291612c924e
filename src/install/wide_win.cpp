#include "install/wide.h"

#include <windows.h>

#include <cwchar>

#include "install/name_rules.h"

namespace talven {

namespace {
constexpr UINT cp932 = 932;
}

int cp932_to_wide(const char* text, wchar_t* out, size_t count) {
  if (count == 0 || count > 0x7fffffff) return -1;
  int n = MultiByteToWideChar(cp932, MB_ERR_INVALID_CHARS, text, -1, out, static_cast<int>(count));
  return n > 0 ? 0 : -1;
}

int wide_to_cp932(const wchar_t* text, char* out, size_t size) {
  if (size == 0 || size > 0x7fffffff) return -1;
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(cp932, WC_NO_BEST_FIT_CHARS, text, -1, out, static_cast<int>(size), nullptr,
                              &used_default);
  if (n <= 0 || used_default) {
    out[0] = '\0';
    return -1;
  }
  // The way back must give the same characters: what was refused above is all that could
  // differ, but a name is only trusted once both directions agree.
  wchar_t back[wide_path_size * 2];
  if (cp932_to_wide(out, back, sizeof back / sizeof back[0]) != 0 || std::wcscmp(back, text) != 0) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

int disk_name_to_cp932(const wchar_t* name, char* out, size_t size) {
  if (wide_to_cp932(name, out, size) != 0 || check_disk_name(out) != 0) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

}  // namespace talven
