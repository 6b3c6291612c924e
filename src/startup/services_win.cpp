#include "base/services.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "base/wide.h"
#include "install/name_rules.h"

namespace talven {

namespace {
HWND owner_window = nullptr;
}

HWND main_window() { return owner_window; }
void set_main_window(HWND window) { owner_window = window; }

void center_on_top(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  // One move for place and order: under Wine each move of a window costs the server a
  // round of display checks, and a device context only to read the screen's size more.
  int screen_width = GetSystemMetrics(SM_CXSCREEN);
  int screen_height = GetSystemMetrics(SM_CYSCREEN);
  SetWindowPos(window, HWND_TOPMOST, (screen_width - width) / 2, (screen_height - height) / 2, 0, 0, SWP_NOSIZE);
}

int open_with_shell(const char* path) {
  wide_text file = wide_name(path);
  if (!file.ok) return 0;
  SHELLEXECUTEINFOW info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.hwnd = owner_window;
  info.lpVerb = L"open";
  info.lpFile = file.text;
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info);
}

int open_inside(const char* folder, const char* name) {
  char path[520];
  if (!folder[0] || name[0] == '\\' || name[0] == '/' || mb_find_char(name, ':')) return 0;
  if (copy_text(path, sizeof path, folder) != 0 || append_text(path, sizeof path, "\\") != 0 ||
      append_text(path, sizeof path, name) != 0 || !inside_in_full_form(folder, path))
    return 0;
  return open_with_shell(path);
}

int start_program(const char* path, int hidden_idle) {
  // Quoted, so that a path with blanks cannot start a program named after its first word.
  char command[264];
  int n = std::snprintf(command, sizeof command, "\"%s\"", path);
  if (n < 0 || n >= static_cast<int>(sizeof command)) return 0;  // refuse a cut command line
  wide_text wide_command = wide_name(command);  // CreateProcessW may write into it
  if (!wide_command.ok) return 0;
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (hidden_idle) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, wide_command.text, nullptr, nullptr, FALSE, hidden_idle ? IDLE_PRIORITY_CLASS : 0, nullptr,
                      nullptr, &startup, &process))
    return 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}

int launch_program(const char* path) { return start_program(path, 0); }

void restrict_dll_search() {
  typedef BOOL(WINAPI * set_dirs_fn)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  set_dirs_fn set_dirs = reinterpret_cast<set_dirs_fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  const DWORD search_system32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (set_dirs) set_dirs(search_system32);
}

int open_instance_gate(const char* name) {
  char local_name[300];
  int n = std::snprintf(local_name, sizeof local_name, "Local\\%s", name);
  if (n < 0 || n >= static_cast<int>(sizeof local_name)) return instance_gate_unusable;
  // Through code page 932 whatever the system's: a trail byte 0x5C read as a separator
  // would make the system refuse the name.
  wide_text wide_local = wide_name(local_name);
  wide_text wide_plain = wide_name(name);
  if (!wide_local.ok || !wide_plain.ok) return instance_gate_unusable;
  // Systems without the Local\ namespace refuse the prefix; the plain name is the same
  // session-wide name there.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, wide_local.text);
  if (!mutex && GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_INVALID_HANDLE)
    mutex = CreateMutexW(nullptr, TRUE, wide_plain.text);
  if (!mutex) return instance_gate_unusable;  // held until the process ends otherwise
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return instance_running;
  }
  return instance_first;
}

HINSTANCE owner_instance() {
  if (!owner_window) return nullptr;
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner_window, GWLP_HINSTANCE));
}

}  // namespace talven
