#include "base/wide.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "base/cp932.h"

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

wide_text wide_name(const char* name) {
  wide_text out;
  out.ok = cp932_to_wide(name, out.text, wide_text_size) == 0;
  if (!out.ok) out.text[0] = L'\0';
  return out;
}

wide_text wide_shown(const char* text) {
  wide_text out;
  // What the A functions made of the bytes on a Japanese system: code page 932, nothing
  // refused. Every shown text is under 1024 bytes, so it fits.
  out.ok = MultiByteToWideChar(cp932, 0, text, -1, out.text, static_cast<int>(wide_text_size)) > 0;
  if (!out.ok) out.text[0] = L'\0';
  return out;
}

void shown_to_cp932(const wchar_t* text, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  if (size > 0x7fffffff) return;
  int n = WideCharToMultiByte(cp932, 0, text, -1, out, static_cast<int>(size), nullptr, nullptr);
  if (n <= 0) out[0] = '\0';
}

FILE* open_stream(const char* path, const char* mode) {
  wide_text wide = wide_name(path);
  wchar_t wide_mode[8];
  if (!wide.ok || cp932_to_wide(mode, wide_mode, 8) != 0) return nullptr;
  return _wfopen(wide.text, wide_mode);
}

int foreign_code_page() { return GetACP() != cp932 ? 1 : 0; }

int module_path(char* out, size_t size) {
  wchar_t wide[wide_path_size];
  DWORD n = GetModuleFileNameW(nullptr, wide, wide_path_size);
  if (n == 0 || n >= wide_path_size) {
    if (size > 0) out[0] = '\0';
    return -1;
  }
  return wide_to_cp932(wide, out, size);
}

int enter_folder(const char* path) {
  wide_text wide = wide_name(path);
  return wide.ok && SetCurrentDirectoryW(wide.text) ? 0 : -1;
}

current_folder_keeper::current_folder_keeper() {
  DWORD n = GetCurrentDirectoryW(wide_path_size, saved);
  valid = n > 0 && n < wide_path_size;
}

current_folder_keeper::~current_folder_keeper() {
  if (valid) SetCurrentDirectoryW(saved);
}

unsigned long attributes_of(const char* path) {
  wchar_t wide[wide_path_size];
  if (cp932_to_wide(path, wide, wide_path_size) != 0) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(wide);
}

int message_box(void* owner, const char* text, const char* title, unsigned style) {
  return MessageBoxExW(static_cast<HWND>(owner), wide_shown(text).text, wide_shown(title).text, style,
                       MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
}

}  // namespace talven
