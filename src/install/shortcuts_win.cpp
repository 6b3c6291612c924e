// Start-menu and desktop shortcuts through the shell's link object.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "config/settings.h"
#include "base/cp932.h"
#include "install/install_steps.h"
#include "install/name_rules.h"
#include "base/services.h"
#include "base/wide.h"

namespace talven {

namespace {

int vista_answer = -1;

// Every shortcut path and target lives in 260 bytes. A composition that would not fit is
// refused: that shortcut is not made and counts as failed (the others are still made).
struct path_builder {
  char text[260];
  int ok;
  explicit path_builder(const char* start) : ok(copy_text(text, sizeof text, start) == 0) {
    if (!ok) text[0] = '\0';
  }
  path_builder& add(const char* part) {
    if (ok && append_text(text, sizeof text, part) != 0) ok = 0;
    return *this;
  }
  path_builder& separator() {
    if (ok && !ensure_trailing_separator(text, sizeof text)) ok = 0;
    return *this;
  }
};

HRESULT shortcut_in(const char* folder, const char* name_tail, const char* destination,
                    const char* target_name, const char* description) {
  path_builder link(folder);
  link.add(get_titlebar()).add(name_tail).add(".LNK");
  path_builder target(destination);
  target.separator().add(target_name);
  if (!link.ok || !target.ok) return E_FAIL;
  return create_shortcut(target.text, link.text, description);
}

}  // namespace

int is_vista_or_later() {
  if (vista_answer >= 0) return vista_answer;
  if (GetVersion() & 0x80000000u) {
    vista_answer = 0;
  } else {
    OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    vista_answer = (GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                    info.dwMajorVersion >= 6)
                       ? 1
                       : 0;
  }
  return vista_answer;
}

int folder_of(char* out, const char* path) {
  const char* last = mb_find_last_char(path, '\\');
  if (!last) return 0;
  size_t n = static_cast<size_t>(last - path);
  if (n + 1 > 260) return 0;  // never more than the 260-byte buffer
  std::memcpy(out, path, n);
  out[n] = '\0';
  return 1;
}

int get_special_folder(HWND owner, int csidl, char* out) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return 0;
  LPITEMIDLIST item = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(owner, csidl, &item)) || !item) {
    allocator->Release();
    return 0;
  }
  // A folder without a CP932 form is not used: the game could not open what is made there.
  wchar_t wide[MAX_PATH];
  int found = SHGetPathFromIDListW(item, wide) && wide_to_cp932(wide, out, 260) == 0 ? 1 : 0;
  allocator->Free(item);
  allocator->Release();
  return found;
}

HRESULT create_shortcut(const char* target, const char* link_file, const char* description) {
  // Every name through code page 932: one refused is no shortcut rather than one pointing
  // at another file. A link file name must also fit the system's 260 characters.
  char folder[260];
  int has_folder = folder_of(folder, target);
  wide_text wide_target = wide_name(target);
  wide_text wide_description = wide_shown(description);  // a text shown by the shell
  wide_text wide_folder = wide_name(has_folder ? folder : "");
  wide_text wide_link = wide_name(link_file);
  if (!wide_target.ok || !wide_description.ok || !wide_folder.ok || !wide_link.ok ||
      std::wcslen(wide_link.text) >= 260)
    return E_FAIL;
  IShellLinkW* link = nullptr;
  HRESULT rc = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link));
  if (FAILED(rc)) return rc;
  link->SetPath(wide_target.text);
  link->SetDescription(wide_description.text);
  if (has_folder) link->SetWorkingDirectory(wide_folder.text);
  IPersistFile* file = nullptr;
  rc = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(rc)) {
    rc = file->Save(wide_link.text, TRUE);
    file->Release();
  }
  link->Release();
  return rc;
}

int make_start_menu_shortcuts(const char* destination) {
  char programs[260];
  int csidl = is_vista_or_later() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
  if (!get_special_folder(main_window(), csidl, programs)) return -1;

  path_builder folder(programs);
  folder.separator();
  const char* group = get_inst_group();
  if (check_setting_name(group) != 0 || check_setting_name(get_titlebar()) != 0) return -1;  // never outside the menu
  if (group && *group) {
    folder.add(group);
    if (folder.ok) CreateDirectoryW(wide_name(folder.text).text, nullptr);
    folder.add("\\");
  }
  folder.add(get_titlebar());
  if (folder.ok) CreateDirectoryW(wide_name(folder.text).text, nullptr);
  folder.add("\\");
  if (!folder.ok) return -1;  // no program folder can be named: no shortcut could be saved

  const char* description = get_instto();
  int result = 0;
  if (FAILED(shortcut_in(folder.text, "", destination, get_exename(), description))) result = -1;

  char label[260];
  char readme[260];
  setting_string("INSTREADME", label, sizeof label, "お読みください");
  if (setting_exists("INSTREADMEFL"))
    setting_string("INSTREADMEFL", readme, sizeof readme, "");
  else
    setting_string("HELP_FILE", readme, sizeof readme, "");
  if (readme[0] && readme[0] != '-') {
    char tail[264];
    tail[0] = ' ';
    copy_text(tail + 1, sizeof tail - 1, label);
    if (FAILED(shortcut_in(folder.text, tail, destination, readme, description))) result = -1;
  }

  if (FAILED(shortcut_in(folder.text, " アンインストール", destination, "UnInst.exe", description)))
    result = -1;
  return result;
}

int make_desktop_shortcut(const char* destination) {
  char desktop[260];
  int csidl = is_vista_or_later() ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY;
  if (!get_special_folder(main_window(), csidl, desktop)) return -1;
  if (!ensure_trailing_separator(desktop, sizeof desktop)) return -1;
  HRESULT rc = shortcut_in(desktop, "", destination, get_exename(), get_instto());
  return SUCCEEDED(rc) ? 0 : -1;
}

}  // namespace talven
