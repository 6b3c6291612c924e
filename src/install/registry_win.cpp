// The application keys under both hives and the uninstall entry.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "config/settings.h"
#include "install/install_steps.h"
#include "install/name_rules.h"
#include "install/wide.h"

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
