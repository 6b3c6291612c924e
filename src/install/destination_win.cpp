// The SETUP dialog, the folder browser and the folder creation.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "install/access.h"
#include "base/cp932.h"
#include "install/destination.h"
#include "install/install_steps.h"
#include "install/removal.h"
#include "base/wide.h"
#include "base/services.h"
#include "base/messages.h"
#include "resource_ids.h"

namespace talven {

namespace {

int is_listed_system_folder(const char* path, const system_folder_list& system) {
  if (is_system_folder(path, system.list, system.count)) return 1;
  // A short (8.3) spelling of an existing folder names the same folder.
  wchar_t longer[MAX_PATH];
  char longer_name[MAX_PATH];
  DWORD n = GetLongPathNameW(wide_name(path).text, longer, MAX_PATH);
  return n > 0 && n < MAX_PATH && wide_to_cp932(longer, longer_name, sizeof longer_name) == 0 &&
         is_system_folder(longer_name, system.list, system.count);
}

// Empty when the system's answer does not fit or has no CP932 form.
void windows_directory(char* out, UINT size) {
  wchar_t wide[MAX_PATH];
  UINT n = GetWindowsDirectoryW(wide, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || wide_to_cp932(wide, out, size) != 0) out[0] = '\0';
}

// A special folder in CP932; 0, or -1 (none, or no CP932 form: it then names no folder
// a CP932 destination could be).
int special_folder(int csidl, char* out) {
  wchar_t wide[MAX_PATH];
  if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, wide) != S_OK) return -1;
  return wide_to_cp932(wide, out, MAX_PATH);
}

// The destination the player typed or browsed to, in CP932; -1 after saying why not.
// Too long for out, it is cut as the edit box's A text was; normalise_destination judges.
int take_player_folder(const wchar_t* folder, char* out, size_t size) {
  char candidate[wide_path_size * 2];
  if (wide_to_cp932(folder, candidate, sizeof candidate) != 0) {
    shown_to_cp932(folder, candidate, 260);
    show_error(msg_destination_not_cp932, candidate);
    return -1;
  }
  copy_text_cut(out, size, candidate);
  return 0;
}

// The settings' title of the install.env in folder, or null without one.
const char* recorded_title(const char* folder, char* out, size_t size) {
  char record[260];
  if (std::snprintf(record, sizeof record, "%s\\install.env", folder) >= static_cast<int>(sizeof record))
    return nullptr;
  FILE* stream = open_stream(record, "rt");
  if (!stream) return nullptr;
  // A record without TITLEBAR belongs to a game of the default title.
  if (read_setting_from_stream(stream, "TITLEBAR", out, size) != 0)
    copy_text(out, size, default_titlebar);
  std::fclose(stream);
  return out;
}

// Through the shared wide scan: a best-fit name could otherwise pass for "." or "..", and a
// folder holding only that for empty. A name the scan refuses is still something there.
int folder_has_entries(const char* folder) {
  char pattern[260];
  if (std::snprintf(pattern, sizeof pattern, "%s\\*", folder) >= static_cast<int>(sizeof pattern)) return 1;
  disk_scan scan;
  if (scan_open(&scan, pattern) != 0) return 0;
  char name[260];
  DWORD attributes;
  int any = scan_next(&scan, name, sizeof name, &attributes) == 1 || scan.refused > 0;
  scan_close(&scan);
  return any;
}

// The folder's own files decide: nothing, a reinstall, another game, or the player's.
int check_existing_folder(const char* folder) {
  char title[128];
  const char* recorded = recorded_title(folder, title, sizeof title);
  switch (classify_existing_folder(folder_has_entries(folder), recorded, get_titlebar())) {
    case existing_other_title:
      show_error("[%s]には、別のゲーム「%s」がインストールされています。\n別のフォルダを指定して下さい。", folder,
                 recorded);
      return -1;
    case existing_files:
      return ask_yes_no("[%s]には既にファイルがあります。\n同じ名前のファイルは上書きされます。\nこのフォルダにインストールしますか？",
                        folder)
                 ? 0
                 : -1;
    default:
      return 0;
  }
}

const char* instfol_or_null() {
  const char* value = get_instfol();
  return (value && *value) ? value : nullptr;
}

// The dialog edits the caller's folder buffer (destination_size bytes), given at creation.
INT_PTR CALLBACK setup_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    center_on_top(dialog);
    SetDlgItemTextW(dialog, IDC_PATH_EDIT, wide_shown(reinterpret_cast<char*>(lparam)).text);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  char* folder = reinterpret_cast<char*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (wparam == 1) {
    // Longer than the 260-byte path can be is cut as before; a name without a CP932
    // form keeps the dialog open, so the player can choose another.
    wchar_t typed[destination_size];
    GetDlgItemTextW(dialog, IDC_PATH_EDIT, typed, destination_size);
    if (take_player_folder(typed, folder, destination_size) == 0) EndDialog(dialog, 1);
    return TRUE;
  }
  if (wparam == 2) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (wparam == IDC_BROWSE) {
    browse_for_destination(dialog, folder, destination_size);
    SetDlgItemTextW(dialog, IDC_PATH_EDIT, wide_shown(folder).text);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void list_system_folders(system_folder_list* out) {
  char (*folders)[MAX_PATH] = out->folders;
  static const int csidls[] = {
      CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
      CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROFILE, CSIDL_PERSONAL,
      CSIDL_DESKTOPDIRECTORY, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA,
      CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS,
  };
  int count = 0;
  for (int csidl : csidls) {
    if (count >= system_folder_count - 4) break;
    if (special_folder(csidl, folders[count]) == 0) ++count;
  }
  // The folder above the user's profile (the profiles' root) and above the shared
  // documents (the shared profile), and the native Program Files of a 64-bit system.
  char profile[MAX_PATH];
  if (special_folder(CSIDL_PROFILE, profile) == 0 && folder_of(folders[count], profile)) ++count;
  if (special_folder(CSIDL_COMMON_DOCUMENTS, profile) == 0 && folder_of(folders[count], profile)) ++count;
  wchar_t native[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
  if (n > 0 && n < MAX_PATH && wide_to_cp932(native, folders[count], MAX_PATH) == 0) ++count;
  for (int i = 0; i < count; ++i) out->list[i] = folders[i];
  out->count = count;
}

int choose_destination(char* out, install_preparation& prepared) {
  current_folder_keeper keeper;
  char setup_path[destination_size];
  char windows_dir[MAX_PATH];
  windows_directory(windows_dir, sizeof windows_dir);

  // The proposal: an over-long composition is cut, since the user sees and confirms it.
  build_default_destination(setup_path, sizeof setup_path, windows_dir,
                            setting_int("INSTTOPROGRAM", 1), instfol_or_null(), get_instto());
  const char* global = get_reg_global();
  const char* local = get_reg_local();
  if (read_app_int(global, local, "IsInst", 0) != 0) {
    char fallback[260];
    copy_text(fallback, sizeof fallback, setup_path);
    read_app_string(global, local, "InstTo", fallback, setup_path, sizeof setup_path);
  }

  INT_PTR shown = DialogBoxParamW(owner_instance(), L"SETUP", main_window(), setup_dialog_proc,
                                  reinterpret_cast<LPARAM>(setup_path));
  if (shown != 1) return -1;

  int verdict = normalise_destination(setup_path, sizeof setup_path, windows_dir, get_instmakefol(),
                                      instfol_or_null(), get_instto());
  if (verdict == destination_ok && is_listed_system_folder(setup_path, prepared.system_folders()))
    verdict = destination_system;
  switch (verdict) {
    case destination_network:
      show_error("ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。");
      return -1;
    case destination_root:
      show_error_retry("ルートにはインストールできません");
      return -1;
    case destination_system:
      show_error("[%s]はシステムのフォルダです。\nこのフォルダそのものにはインストールできません。", setup_path);
      return -1;
    case destination_too_long:
      // Refused rather than cut: a cut folder name is not the folder the user asked for.
      show_error("インストール先フォルダは無効又は作成できません");
      return -1;
    default:
      break;
  }
  if (!ask_yes_no("[%s]にインストールします", setup_path)) return -1;
  if (check_existing_folder(setup_path) != 0) return -1;
  copy_text(out, destination_size, setup_path);
  return 0;
}

void browse_for_destination(HWND owner, char* folder, size_t size) {
  BROWSEINFOW info;
  std::memset(&info, 0, sizeof info);
  wchar_t display[MAX_PATH];
  wide_text title = wide_shown("フォルダを作成する場所を選択してください");
  info.hwndOwner = owner;
  info.pszDisplayName = display;
  info.lpszTitle = title.text;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  LPITEMIDLIST item = SHBrowseForFolderW(&info);
  if (!item) return;
  wchar_t wide_chosen[MAX_PATH];
  char chosen[MAX_PATH];
  // A folder without a CP932 form is refused with its reason; the edit keeps its text.
  if (SHGetPathFromIDListW(item, wide_chosen) && take_player_folder(wide_chosen, chosen, sizeof chosen) == 0) {
    // A composition that does not fit leaves the chosen folder itself in the edit.
    if (compose_browse_result(folder, size, chosen, instfol_or_null(), get_instto()) != 0)
      copy_text(folder, size, chosen);
  }
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(item);
    allocator->Release();
  }
}

int make_folder_chain(const char* path, int* created) {
  if (created) *created = 0;
  char folder[260];
  if (prepare_folder_chain(folder, sizeof folder, path) != 0) return 1;
  current_folder_keeper keeper;
  char prefix[260];
  for (int level = 1; level <= 998; ++level) {
    int whole = folder_chain_prefix(prefix, sizeof prefix, folder, level);
    wide_text wide_prefix = wide_name(prefix);
    if (!wide_prefix.ok) return 1;
    if (!SetCurrentDirectoryW(wide_prefix.text)) {
      if (!CreateDirectoryW(wide_prefix.text, nullptr)) return 1;
      if (whole && created) *created = 1;
    }
    if (whole) return 0;
  }
  return 0;
}

int read_app_string(const char* global, const char* local, const char* value_name,
                    const char* default_value, char* out, int size) {
  if (size <= 0) return -1;
  if (out != default_value) copy_text_cut(out, static_cast<size_t>(size), default_value);
  char key_name[512];
  int n = std::snprintf(key_name, sizeof key_name, "Software\\%s\\%s", global, local);
  if (n < 0 || n >= static_cast<int>(sizeof key_name)) return -1;
  wide_text wide_key = wide_name(key_name);
  wide_text wide_value_name = wide_name(value_name);
  if (!wide_key.ok || !wide_value_name.ok) return -1;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_key.text, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return -1;
  wchar_t wide_value[513];
  DWORD type = 0;
  DWORD length = 512 * sizeof(wchar_t);
  LONG rc = RegQueryValueExW(key, wide_value_name.text, nullptr, &type, reinterpret_cast<BYTE*>(wide_value), &length);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return -1;
  length /= sizeof(wchar_t);
  wide_value[length < 512 ? length : 512] = L'\0';  // a stored text need not carry its NUL
  // A value without a CP932 form (written by something else) names no folder of ours.
  char value[1025];
  if (wide_to_cp932(wide_value, value, sizeof value) != 0) return -1;
  // A value too long for the caller keeps the default: a cut folder is another folder.
  if (std::strlen(value) + 1 > static_cast<size_t>(size)) return -1;
  copy_text(out, static_cast<size_t>(size), value);
  return 0;
}

int read_app_int(const char* global, const char* local, const char* value_name, int default_value) {
  char text[512];
  char fallback[16];
  std::snprintf(fallback, sizeof fallback, "%d", default_value);
  read_app_string(global, local, value_name, fallback, text, sizeof text);
  return parse_leading_int(text);
}

}  // namespace talven
