// The application keys under both hives and the uninstall entry.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "config/settings.h"
#include "install/install_steps.h"
#include "install/name_rules.h"
#include "base/wide.h"

namespace talven {

namespace {

// "Software\<global>\<local>"; settings are at most 127 bytes each, so 512 always fits,
// but a caller's longer text is refused rather than cut into another key's name, and so
// is a part that would name another key (a backslash, "..").
int format_app_key(char* out, size_t size, const char* global, const char* local) {
  if (check_setting_name(global) != 0 || check_setting_name(local) != 0) return -1;
  int n = std::snprintf(out, size, "Software\\%s\\%s", global, local);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : 0;
}

// Names and values go through code page 932 whatever the system's: a trail byte 0x5C read
// as a separator would make more key levels. A name without a CP932 form is refused (an
// empty one would be the hive itself).
int open_or_create(HKEY hive, const char* name, HKEY* key) {
  *key = nullptr;
  wide_text wide = wide_name(name);
  if (!wide.ok) return -1;
  LONG rc = RegCreateKeyExW(hive, wide.text, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, key, nullptr);
  return rc == ERROR_SUCCESS ? 0 : -1;
}

int set_string(HKEY key, const char* name, const char* value) {
  wide_text wide_value_name = wide_name(name);
  wide_text wide_value = wide_name(value);
  if (!wide_value_name.ok || !wide_value.ok) return -1;
  DWORD length = static_cast<DWORD>((std::wcslen(wide_value.text) + 1) * sizeof(wchar_t));
  LONG rc = RegSetValueExW(key, wide_value_name.text, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide_value.text), length);
  return rc == ERROR_SUCCESS ? 0 : -1;
}

int write_app_value(HKEY hive, const char* global, const char* local, const char* name,
                    const char* value) {
  char key_name[512];
  if (format_app_key(key_name, sizeof key_name, global, local) != 0) return -1;
  HKEY key;
  int result = open_or_create(hive, key_name, &key);
  if (result == 0) result = set_string(key, name, value);
  if (key) RegCloseKey(key);
  return result;
}

}  // namespace

int probe_app_key(const char* global, const char* local) {
  char key_name[512];
  if (format_app_key(key_name, sizeof key_name, global, local) != 0) return -1;
  HKEY key;
  int result = open_or_create(HKEY_LOCAL_MACHINE, key_name, &key);
  if (key) RegCloseKey(key);
  return result;
}

int write_user_value(const char* global, const char* local, const char* name, const char* value) {
  return write_app_value(HKEY_CURRENT_USER, global, local, name, value);
}

int write_machine_value(const char* global, const char* local, const char* name,
                        const char* value) {
  return write_app_value(HKEY_LOCAL_MACHINE, global, local, name, value);
}

int profile_path(const char* file, char* windows, char* out, size_t size) {
  if (!file || !*file || check_setting_name(file) != 0) return -1;
  wchar_t wide[MAX_PATH];
  UINT n = GetWindowsDirectoryW(wide, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || wide_to_cp932(wide, windows, MAX_PATH) != 0) return -1;
  int m = std::snprintf(out, size, "%s\\%s", windows, file);
  return (m < 0 || static_cast<size_t>(m) >= size) ? -1 : 0;
}

namespace {

// The INI file's own path, for the calls that take it whole. 0 or -1.
int ini_file_path(const char* file, wchar_t* out) {
  char windows[MAX_PATH], path[MAX_PATH];
  return profile_path(file, windows, path, sizeof path) == 0 && cp932_to_wide(path, out, MAX_PATH) == 0 ? 0 : -1;
}

// The whole file, or null (absent, unreadable, over 1 MiB). Freed with HeapFree.
char* read_whole_file(const wchar_t* path, DWORD* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD length = GetFileSize(file, nullptr);
  char* data = length <= (1u << 20) ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 2)) : nullptr;
  DWORD got = 0;
  if (data && (!ReadFile(file, data, length, &got, nullptr) || got != length)) {
    HeapFree(GetProcessHeap(), 0, data);
    data = nullptr;
  }
  CloseHandle(file);
  if (data) {
    data[length] = '\0';
    data[length + 1] = '\0';
    *size = length;
  }
  return data;
}

int write_whole_file(const wchar_t* path, const void* data, DWORD size) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD put = 0;
  int ok = WriteFile(file, data, size, &put, nullptr) && put == size;
  return CloseHandle(file) && ok ? 0 : -1;
}

// From CP932 bytes to UTF-16 with its byte-order mark, or back (from_unicode). The
// profile functions keep a file with the mark in UTF-16; without it they would write the
// system's ANSI code page, which is not 932 here. 0 or -1 (the file is then left alone).
int convert_ini_file(const wchar_t* path, int from_unicode) {
  DWORD size = 0;
  char* data = read_whole_file(path, &size);
  if (!data) return -1;
  int result = -1;
  if (from_unicode) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    if (size >= 2 && text[0] == 0xFEFF) {
      int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text + 1, static_cast<int>(size / 2 - 1), nullptr, 0,
                                  nullptr, nullptr);
      char* bytes = n > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, n)) : nullptr;
      BOOL lost = FALSE;
      if (bytes && WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text + 1, static_cast<int>(size / 2 - 1), bytes, n,
                                       nullptr, &lost) == n && !lost)
        result = write_whole_file(path, bytes, static_cast<DWORD>(n));
      if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    } else if (size == 0) {
      result = 0;
    }
  } else {
    // Bytes that are not CP932 (or a file already in UTF-16) would not come back unchanged.
    int n = size ? MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0) : 0;
    wchar_t* text = size == 0 || n > 0 ? static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (n + 1) * sizeof(wchar_t))) : nullptr;
    if (text && (size == 0 || MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), text + 1, n) == n)) {
      text[0] = 0xFEFF;
      result = write_whole_file(path, text, static_cast<DWORD>((n + 1) * sizeof(wchar_t)));
    }
    if (text) HeapFree(GetProcessHeap(), 0, text);
  }
  HeapFree(GetProcessHeap(), 0, data);
  return result;
}

}  // namespace

int begin_ini_writes(const char* file) {
  if (!foreign_code_page()) return 0;  // the profile functions write code page 932 themselves
  wchar_t path[MAX_PATH];
  if (ini_file_path(file, path) != 0) return 0;
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
    const wchar_t mark = 0xFEFF;
    return write_whole_file(path, &mark, sizeof mark) == 0 ? 1 : 0;
  }
  return convert_ini_file(path, 0) == 0 ? 1 : 0;
}

void end_ini_writes(const char* file) {
  wchar_t path[MAX_PATH];
  if (ini_file_path(file, path) != 0) return;
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path);  // the system's copy to the disk first
  convert_ini_file(path, 1);
}

int write_ini_value(const char* section, const char* key, const char* value, const char* file) {
  wide_text wide_section = wide_name(section);
  wide_text wide_key = wide_name(key);
  wide_text wide_value = wide_name(value);
  wide_text wide_file = wide_name(file);
  // An empty file name would be win.ini.
  if (!wide_section.ok || !wide_key.ok || !wide_value.ok || !wide_file.ok || !wide_file.text[0]) return -1;
  return WritePrivateProfileStringW(wide_section.text, wide_key.text, wide_value.text, wide_file.text) ? 0 : -1;
}

void write_uninstall_entry(const char* destination) {
  char key_name[512];
  char command[512];
  const char* title = get_titlebar();
  if (check_setting_name(title) != 0) return;
  int n = std::snprintf(key_name, sizeof key_name,
                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod%s", title);
  if (n < 0 || static_cast<size_t>(n) >= sizeof key_name) return;
  HKEY key;
  // The two values are written independently: a failure of one leaves the other.
  if (open_or_create(HKEY_LOCAL_MACHINE, key_name, &key) == 0) set_string(key, "DisplayName", title);
  if (key) RegCloseKey(key);
  // Quoted: a launcher that hands the command to CreateProcess would otherwise try
  // "C:\\My.exe" for a folder "C:\\My Games\\...".
  n = std::snprintf(command, sizeof command, "\"%s\\UnInst.exe\"", destination);
  if (n < 0 || static_cast<size_t>(n) >= sizeof command) return;
  if (open_or_create(HKEY_LOCAL_MACHINE, key_name, &key) == 0)
    set_string(key, "UninstallString", command);
  if (key) RegCloseKey(key);
}

}  // namespace talven
