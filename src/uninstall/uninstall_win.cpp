// The uninstall sequence: prove the install from its record and the uninstall entry,
// check every line before anything goes, ask, then remove shortcuts, registry and INI
// values, files, the record, the entry, and last the program itself.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "config/sections.h"
#include "config/settings.h"
#include "base/cp932.h"
#include "install/install_steps.h"
#include "install/markers.h"
#include "install/name_rules.h"
#include "install/removal.h"
#include "base/wide.h"
#include "base/messages.h"
#include "uninstall/uninstall.h"

namespace talven {

namespace {

const char* const text_nothing_left = "\n削除するものはありません。";
const char* const text_nothing_removed = "\nアンインストールを中止しました。何も削除していません。";

// A box of its own, through the W function, for texts that must read the same whatever
// the system's code page: the notice of a foreign code page and the second-copy box.
void show_box(const char* text, const char* title, UINT style) { message_box(nullptr, text, title, style); }

// A registry key named in CP932, opened through the W function. ERROR_* as RegOpenKeyEx.
LONG open_key(HKEY hive, const char* name, REGSAM access, HKEY* key) {
  wchar_t wide[512];
  if (cp932_to_wide(name, wide, sizeof wide / sizeof wide[0]) != 0) return ERROR_INVALID_NAME;
  return RegOpenKeyExW(hive, wide, 0, access, key);
}

void delete_key(HKEY hive, const char* name) {
  wchar_t wide[512];
  if (cp932_to_wide(name, wide, sizeof wide / sizeof wide[0]) == 0) RegDeleteKeyW(hive, wide);
}

// The long form of a path, so that a short 8.3 spelling compares equal to the long one.
// -1 (path unchanged) when it has no exact CP932 form.
int long_form(char* path, size_t size) {
  wchar_t wide[MAX_PATH], full[MAX_PATH], longer[MAX_PATH];
  if (cp932_to_wide(path, wide, MAX_PATH) != 0) return -1;
  DWORD n = GetFullPathNameW(wide, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) return -1;
  n = GetLongPathNameW(full, longer, MAX_PATH);
  return wide_to_cp932((n > 0 && n < MAX_PATH) ? longer : full, path, size);
}

// The uninstall entry's command, or -1 when there is no entry.
int registered_command(const char* title, char* out, DWORD size) {
  char key_name[512];
  if (compose_uninstall_key(key_name, sizeof key_name, title) != 0) return -1;
  HKEY key;
  if (open_key(HKEY_LOCAL_MACHINE, key_name, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
  wchar_t value[uninstall_path_size];
  DWORD type = 0, length = sizeof value - sizeof value[0];
  LONG rc = RegQueryValueExW(key, L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(value), &length);
  RegCloseKey(key);
  value[length / sizeof value[0]] = L'\0';
  // An entry without its command, or one with no CP932 form: still the game's, but the
  // folder is unknown.
  if (rc != ERROR_SUCCESS || type != REG_SZ || wide_to_cp932(value, out, size) != 0) {
    out[0] = '\0';
    return 0;
  }
  // The installer writes the command unquoted; a quoted one names the same program.
  size_t n = std::strlen(out);
  if (n >= 2 && out[0] == '"' && out[n - 1] == '"') {
    std::memmove(out, out + 1, n - 2);
    out[n - 2] = '\0';
  }
  return 0;
}

void remove_key_if_empty(HKEY hive, const char* name) {
  HKEY key;
  if (open_key(hive, name, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (rc == ERROR_SUCCESS && subkeys == 0 && values == 0) delete_key(hive, name);
}

void remove_app_values(HKEY hive, const char* key_name, const line_entry* lines, const char* folder,
                       const char* cd_root) {
  HKEY key;
  if (!lines || open_key(hive, key_name, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  for (const line_entry* e = lines; e; e = e->next) {
    char name[reg_name_size], value[reg_value_size];
    wchar_t wide[reg_name_size];
    if (parse_reg_entry_with(e->text, folder, cd_root, name, value) == 0 &&
        cp932_to_wide(name, wide, sizeof wide / sizeof wide[0]) == 0)
      RegDeleteValueW(key, wide);
  }
  RegCloseKey(key);
}

// [reg] under the user's key, [regall] under the machine's, then the keys that are left
// empty: the machine's key also when no value was written, as the install's probe made it.
void remove_registry_values(const char* folder, const char* cd_root) {
  char global[128], local[128], key_name[512], parent_name[512];
  copy_text(global, sizeof global, get_reg_global());
  copy_text(local, sizeof local, get_reg_local());
  if (compose_app_key(key_name, sizeof key_name, global, local) != 0 ||
      compose_app_parent_key(parent_name, sizeof parent_name, global) != 0)
    return;
  if (global[0] != '-') {
    remove_app_values(HKEY_CURRENT_USER, key_name, state().reg_lines, folder, cd_root);
    remove_app_values(HKEY_LOCAL_MACHINE, key_name, state().regall_lines, folder, cd_root);
    remove_key_if_empty(HKEY_CURRENT_USER, key_name);
    remove_key_if_empty(HKEY_CURRENT_USER, parent_name);
  }
  remove_key_if_empty(HKEY_LOCAL_MACHINE, key_name);
  remove_key_if_empty(HKEY_LOCAL_MACHINE, parent_name);
}

// An INI file larger than this is no game's settings: it is left as it is.
constexpr size_t ini_file_limit = 256 * 1024;

// The [ini] keys go from the file's own bytes (see ini_remove_keys), the section when
// nothing is left in it, and the file when nothing but blanks is left.
void remove_ini_values(const char* folder, const char* cd_root) {
  if (!state().ini_lines) return;
  char section[128], file[128];
  copy_text(section, sizeof section, get_ini_section());
  copy_text(file, sizeof file, get_ini_file());
  char windows[MAX_PATH], path[uninstall_path_size];
  wchar_t wide[wide_path_size];
  if (profile_path(file, windows, path, sizeof path) != 0 || cp932_to_wide(path, wide, wide_path_size) != 0) return;
  static char text[ini_file_limit + 1];
  FILE* f = _wfopen(wide, L"rb");
  if (!f) return;
  size_t size = std::fread(text, 1, sizeof text, f);
  std::fclose(f);
  if (size > ini_file_limit) return;
  size_t left = size;
  for (const line_entry* e = state().ini_lines; e; e = e->next) {
    char key[ini_key_size], value[ini_value_size];
    const char* keys[1] = {key};
    if (parse_ini_entry_with(e->text, folder, cd_root, key, value) == 0) left = ini_remove_keys(text, left, section, keys, 1);
  }
  int blank = 1;
  for (size_t i = 0; i < left && blank; ++i) blank = static_cast<unsigned char>(text[i]) <= 0x20;
  if (blank) {
    delete_file_inside(windows, path);
  } else if (left != size && (f = _wfopen(wide, L"wb")) != nullptr) {
    std::fwrite(text, 1, left, f);
    std::fclose(f);
  }
}

// A shortcut goes only when it still points into the install folder: a later install of
// the same title elsewhere owns one of the same name.
void remove_link_into(const char* link_file, const char* folder, const char* proved_folder) {
  if (!link_file[0]) return;
  WCHAR wide[MAX_PATH];
  if (cp932_to_wide(link_file, wide, MAX_PATH) != 0) return;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return;
  WCHAR wide_target[MAX_PATH] = L"";
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    // The item list holds the target's names in UTF-16; the path the link also stores is
    // in the code page of the system that wrote it, unreadable under another one.
    LPITEMIDLIST item = nullptr;
    if (SUCCEEDED(file->Load(wide, STGM_READ)) &&
        !(SUCCEEDED(link->GetIDList(&item)) && item && SHGetPathFromIDListW(item, wide_target)))
      link->GetPath(wide_target, MAX_PATH, nullptr, SLGP_RAWPATH);
    if (item) CoTaskMemFree(item);
    file->Release();
  }
  link->Release();
  // A target with no CP932 form was not written by the installer: the link stays.
  char target[MAX_PATH] = "";
  if (wide_to_cp932(wide_target, target, sizeof target) != 0) return;
  if (target[0] && path_inside(folder, target, nullptr)) delete_file_inside(proved_folder, link_file);
}

void remove_shortcuts(const char* folder) {
  int vista = is_vista_or_later();
  char programs[MAX_PATH] = "", desktop[MAX_PATH] = "";
  if (!get_special_folder(nullptr, vista ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, programs)) programs[0] = '\0';
  if (!get_special_folder(nullptr, vista ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY, desktop))
    desktop[0] = '\0';
  // The readme link's name, chosen as the installer chose it.
  char label[260], readme[260];
  setting_string("INSTREADME", label, sizeof label, "お読みください");
  setting_string(setting_exists("INSTREADMEFL") ? "INSTREADMEFL" : "HELP_FILE", readme, sizeof readme, "");
  const char* group = get_inst_group();
  char title[128];
  copy_text(title, sizeof title, get_titlebar());

  static shortcut_set set;
  if (compose_shortcut_set(&set, programs[0] ? programs : "?", group, title, label, readme, desktop) != 0) return;
  if (programs[0]) {
    for (int i = 0; i < set.link_count; ++i) remove_link_into(set.links[i], folder, programs);
    remove_folder_inside(programs, set.program_folder);  // both only when empty
    if (set.group_folder[0]) remove_folder_inside(programs, set.group_folder);
  }
  remove_link_into(set.desktop_link, folder, desktop);
}

// At most this many names are listed in the closing text.
constexpr int listed_left_over = 12;

int uninstall(const char* program) {
  char folder[uninstall_path_size];
  char record[uninstall_path_size];
  if (!folder_of(folder, program) ||
      std::snprintf(record, sizeof record, "%s\\install.env", folder) >= static_cast<int>(sizeof record)) {
    show_error("このプログラムのフォルダの名前を扱えません。%s", text_nothing_removed);  // never end without a word
    return -1;
  }

  wchar_t wide_record[wide_path_size];
  FILE* stream = cp932_to_wide(record, wide_record, wide_path_size) == 0 ? _wfopen(wide_record, L"rt") : nullptr;
  if (!stream) {
    show_notice("アンインストールの記録[%s]が見つかりません。%s", record, text_nothing_left);
    return 1;
  }
  load_settings_stream(stream);
  std::rewind(stream);
  const char* open_section = nullptr;
  int sections = load_sections_stream(stream, &open_section);
  std::fclose(stream);
  if (sections != 0) {
    show_error("[設定.env]の[%s]が終了していません%s", open_section, text_nothing_removed);
    return -1;
  }
  char title[128];
  copy_text(title, sizeof title, get_titlebar());

  // One uninstaller per game at a time, as one installer; held until the process ends.
  char mutex_name[160];
  std::snprintf(mutex_name, sizeof mutex_name, "%s アンインストール", title);
  wchar_t wide_mutex[160];
  if (cp932_to_wide(mutex_name, wide_mutex, sizeof wide_mutex / sizeof wide_mutex[0]) != 0) {
    show_error("アンインストールの記録のタイトル[%s]を扱えません。%s", title, text_nothing_removed);
    return -1;
  }
  HANDLE mutex = CreateMutexW(nullptr, TRUE, wide_mutex);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    char text[256];
    std::snprintf(text, sizeof text, "[ %s ] は既に起動中です", mutex_name);
    show_box(text, title, MB_TOPMOST | MB_ICONHAND);
    return 0;
  }

  // The uninstall entry proves that this folder holds an install of this game.
  char command[uninstall_path_size];
  if (registered_command(title, command, sizeof command) != 0) {
    show_notice("「%s」はインストールされていません。%s", title, text_nothing_left);
    return 1;
  }
  long_form(command, sizeof command);
  if (!same_path(command, program)) {
    char registered[uninstall_path_size] = "";
    if (!folder_of(registered, command)) copy_text(registered, sizeof registered, command);
    show_error("インストールしたフォルダ[%s]と、このプログラムのフォルダ[%s]が違います。\nフォルダが移動された可能性があります。%s",
               registered, folder, text_nothing_removed);
    return -1;
  }

  // Every line is checked before the first question: a refused line stops it all.
  static delete_plan plan;
  const char* cd = cdrom_root();
  const char* bad_line = nullptr;
  int planned = build_delete_plan(&plan, state().delfiles_lines, state().delfiles_user_lines, folder, cd, &bad_line);
  if (planned == delete_line_too_long && plan.count >= max_delete_items) {
    show_error("アンインストールの記録の行が多すぎます（%d行まで）。%s", max_delete_items, text_nothing_removed);
    return -1;
  }
  if (planned != 0) {
    show_error("アンインストールの記録の行[%s]は、インストール先の外を指すか、使えない名前です。%s", bad_line,
               text_nothing_removed);
    return -1;
  }

  // A record may touch only its own keys, its own INI file and its own Start-menu group.
  const char* refused_value = nullptr;
  if (const char* key = refused_setting_name(&refused_value)) {
    show_error("アンインストールの記録の[%s]の値[%s]は、フォルダやドライブを含むため使えません。%s", key, refused_value,
               text_nothing_removed);
    return -1;
  }

  // The folder is held from here to the end, and must still be the same one after the
  // questions: one swapped for a link meanwhile would lead the removal elsewhere.
  static folder_hold hold;
  if (hold_folder(&hold, folder) != 0) {
    show_error("インストールしたフォルダ[%s]を確かめられません。%s", folder, text_nothing_removed);
    return -1;
  }
  if (!ask_yes_no("「%s」をアンインストールします。よろしいですか？", title)) return -1;
  int keep_user = 1;
  if (plan.user_count > 0)
    keep_user = !ask_yes_no_default_no("セーブデータなど、遊んで作られたデータも削除しますか？\n［いいえ］を選ぶと残します。");
  if (!still_same_folder(&hold, folder)) {
    show_error("インストールしたフォルダ[%s]が、確認の間に別のものに置き換えられました。%s", folder, text_nothing_removed);
    return -1;
  }

  remove_shortcuts(folder);
  remove_registry_values(folder, cd);
  remove_ini_values(folder, cd);
  remove_planned_files(&plan, folder, keep_user);
  delete_file_inside(folder, record);
  char key_name[512];
  if (compose_uninstall_key(key_name, sizeof key_name, title) == 0) delete_key(HKEY_LOCAL_MACHINE, key_name);

  static char left[listed_left_over][uninstall_path_size];
  const char* program_name = mb_find_last_char(program, '\\') + 1;
  int left_count = list_left_over(folder, program_name, left, listed_left_over);
  const char* names[listed_left_over];
  for (int i = 0; i < listed_left_over; ++i) names[i] = left[i];
  char message[1000];  // the boxes format at most 1023 bytes
  compose_end_message(message, sizeof message, title, folder, names,
                      left_count < listed_left_over ? left_count : listed_left_over, left_count);
  // The helper starts after the box: however long the player reads it, the helper then
  // only waits for this process to end.
  show_notice("%s", message);
  release_folder(&hold);
  start_self_removal(program);
  return 0;
}

}  // namespace

int run_uninstall() {
  // The arguments and the program's own path as the system holds them (UTF-16): the ANSI
  // forms could carry best-fit look-alikes of a backslash.
  char args[uninstall_path_size + 64] = "";
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    for (++line; *line && *line != L'"'; ++line) {
    }
    if (*line) ++line;
  } else {
    while (*line && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  if (wide_to_cp932(line, args, sizeof args) != 0) args[0] = '\0';
  if (std::strncmp(args, "/cleanup ", 9) == 0) return run_cleanup(args);

  wchar_t wide[MAX_PATH];
  char program[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || wide_to_cp932(wide, program, sizeof program) != 0 ||
      long_form(program, sizeof program) != 0) {
    show_error("このプログラムのフォルダの名前を扱えません。%s", text_nothing_removed);
    return -1;
  }
  // Away from the install folder, which is to be removed.
  wchar_t temp[MAX_PATH];
  n = GetTempPathW(MAX_PATH, temp);
  if (n > 0 && n < MAX_PATH) SetCurrentDirectoryW(temp);

  // The install goes on as on a Japanese system; the player is told once that the game
  // itself needs the Japanese settings to run.
  if (foreign_code_page()) show_box(msg_foreign_code_page, owner_title(), MB_OK | MB_ICONINFORMATION);

  CoInitialize(nullptr);
  int result = uninstall(program);
  CoUninitialize();
  return result;
}

}  // namespace talven
