// The install sequence: every step in its fixed order, each relying on what the earlier
// ones left behind (the folder exists and is writable, the package is in it, the current
// directory is the destination for the last steps).
#include <windows.h>

#include <cstring>

#include "config/sections.h"
#include "config/settings.h"
#include "base/cp932.h"
#include "install/install.h"
#include "install/install_steps.h"
#include "install/markers.h"
#include "install/name_rules.h"
#include "base/process_state.h"
#include "base/wide.h"
#include "package/extract.h"
#include "package/progress.h"
#include "base/services.h"
#include "base/messages.h"

namespace talven {

install_preparation::install_preparation() : system_{}, thread_(nullptr) {
  thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
  if (!thread_) list_system_folders(&system_);  // no second thread: asked here
}

install_preparation::~install_preparation() { system_folders(); }

const system_folder_list& install_preparation::system_folders() {
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  return system_;
}

DWORD WINAPI install_preparation::run(void* self) {
  list_system_folders(&static_cast<install_preparation*>(self)->system_);
  return 0;
}

int enter_exe_folder() {
  char folder[MAX_PATH + 1];
  if (module_path(folder, sizeof folder) != 0) return -1;
  char* last = const_cast<char*>(mb_find_last_char(folder, '\\'));
  if (!last) return -1;
  // A drive root keeps its backslash: "X:" alone would name the drive's current folder.
  if (last > folder && last[-1] == ':')
    last[1] = '\0';
  else
    *last = '\0';
  return enter_folder(folder);
}

int run_install(void (*clean_up)()) {
  char destination[260];
  char short_entry[260];
  char long_entry[512];
  destination[0] = '\0';

  // Once per run, before anything is asked or written: the install itself is right on any
  // code page, the game is not.
  static int foreign_notice_shown = 0;
  if (!foreign_notice_shown && foreign_code_page()) {
    foreign_notice_shown = 1;
    show_notice(msg_foreign_code_page);
  }

  // A record may name only its own keys, INI file and Start-menu group: one that reaches
  // elsewhere is refused before anything is written.
  const char* refused_value = nullptr;
  if (const char* key = refused_setting_name(&refused_value)) {
    show_error("設定ファイルの[%s]の値[%s]は、フォルダやドライブを含むため使えません。\nインストールを中止しました", key,
               refused_value);
    return -1;
  }

  // 1. The HKLM application key doubles as the administrator test.
  if (probe_app_key(get_reg_global(), get_reg_local()) != 0) {
    show_error("インストールにはAdministrator権限が必要です。");
    return -1;
  }
  // 2. and 3. The folder, chosen and created level by level.
  install_preparation prepared;
  if (choose_destination(destination, prepared) != 0) {
    show_error("インストールを中止しました");
    return -1;
  }
  int created = 0;
  if (make_folder_chain(destination, &created) != 0) {
    show_error("インストール先フォルダは無効又は作成できません\nインストールにはAdministrator権限が必要です。");
    return -1;
  }
  // 4. and 5. Writable for us, then for every player: only a folder made here gets the
  // players' right, so a folder the player already had keeps its own.
  if (probe_write_access(destination) != 0) {
    show_error("指定された場所には書き込み出来ません。\nインストールにはAdministrator権限が必要です。");
    return -1;
  }
  grant_users_write_access(destination, created, prepared.system_folders());

  // 6. Returns only on success; a bad package ends the program inside. Its dialog stays
  // for the bin copy of step 7.
  int immediate = setting_int("FORCEINSTALL", 0) != 0;
  state().keep_extract_dialog = immediate;
  extract_install_package(destination, full_pass, clean_up);
  state().keep_extract_dialog = 0;

  // 7. The bin folder beside the executable, only in immediate-install mode.
  if (immediate) {
    {
      current_folder_keeper keeper;
      enter_exe_folder();
      copy_bin_files(destination);
    }
    close_progress_dialog();  // also when there was no bin folder to copy
  }

  // The elevated uninstaller and the record it trusts: no player may change them.
  protect_install_files(destination);

  // 8. to 10.
  make_start_menu_shortcuts(destination);
  ask_desktop_shortcut(destination);
  write_uninstall_entry(destination);

  // 11. to 13. The entry passes, with the install folder for the REP_INSTALL marker.
  // Finding the CD drive asks the system about every drive letter: only for entries.
  const bool any_entry = state().ini_lines || state().reg_lines || state().regall_lines;
  const char* cd_root = any_entry ? cdrom_root() : "";
  const char* ini_section = get_ini_section();
  const char* ini_file = get_ini_file();
  int ini_in_utf16 = state().ini_lines ? begin_ini_writes(ini_file) : 0;
  for (line_entry* line = state().ini_lines; line; line = line->next) {
    if (parse_ini_entry_with(line->text, destination, cd_root, short_entry, long_entry) == 0)
      write_ini_value(ini_section, short_entry, long_entry, ini_file);
  }
  if (ini_in_utf16) end_ini_writes(ini_file);
  const char* global = get_reg_global();
  const char* local = get_reg_local();
  if (global[0] != '-') {
    for (line_entry* line = state().reg_lines; line; line = line->next) {
      if (parse_reg_entry_with(line->text, destination, cd_root, long_entry, short_entry) == 0)
        write_user_value(global, local, long_entry, short_entry);
    }
    for (line_entry* line = state().regall_lines; line; line = line->next) {
      if (parse_reg_entry_with(line->text, destination, cd_root, long_entry, short_entry) == 0)
        write_machine_value(global, local, long_entry, short_entry);
    }
  }

  // 14. to 17.
  int readme_chosen = show_end_dialog();
  enter_folder(destination);
  if (readme_chosen) {
    setting_string("INSTREADMEFL", long_entry, sizeof long_entry, "readme.txt");
    open_inside(destination, long_entry);
  }
  return 0;
}

}  // namespace talven
