// The steps of the install sequence, each in its own _win.cpp file.
#pragma once
#include <windows.h>

#include "install/access.h"
#include "install/destination.h"

namespace talven {

// Folder of the running executable made current (the backslash kept for a drive root).
int enter_exe_folder();

// The system's own folders at run time (Windows, system, Program Files, the profiles and
// their root, the shared data folders), for the refusal of a destination and the grant.
constexpr int system_folder_count = 20;
struct system_folder_list {
  char folders[system_folder_count][MAX_PATH];
  const char* list[system_folder_count];
  int count;
};
void list_system_folders(system_folder_list* out);

// The system folders, asked once per install for both the destination's refusal and the
// grant, on a second thread while the first question is on screen (the player's reading
// time, otherwise idle). The thread is joined by system_folders(), at the latest when
// the object goes.
class install_preparation {
 public:
  install_preparation();
  ~install_preparation();
  install_preparation(const install_preparation&) = delete;
  install_preparation& operator=(const install_preparation&) = delete;
  const system_folder_list& system_folders();

 private:
  static DWORD WINAPI run(void* self);
  system_folder_list system_;
  HANDLE thread_;
};

// Destination folder: out holds destination_size bytes; browsing replaces folder (size
// bytes) by the player's choice.
int choose_destination(char* out, install_preparation& prepared);
void browse_for_destination(HWND owner, char* folder, size_t size);
// created (optional): 1 when the last level did not exist and was made by this call.
int make_folder_chain(const char* path, int* created = nullptr);
int read_app_string(const char* global, const char* local, const char* value_name,
                    const char* default_value, char* out, int size);
int read_app_int(const char* global, const char* local, const char* value_name, int default_value);

// Registry.
int probe_app_key(const char* global, const char* local);
int write_user_value(const char* global, const char* local, const char* name, const char* value);
int write_machine_value(const char* global, const char* local, const char* name, const char* value);
void write_uninstall_entry(const char* destination);
// The file the profile functions use for INI_FILE: a bare name in the Windows folder (a
// name reaching elsewhere is refused); windows gets that folder (MAX_PATH bytes). 0 or -1.
int profile_path(const char* file, char* windows, char* out, size_t size);
// One INI value (WritePrivateProfileString, names through code page 932). 0 or -1.
int write_ini_value(const char* section, const char* key, const char* value, const char* file);
// Around the INI values of an install: on a system whose code page is not 932 the file is
// kept in UTF-16 meanwhile and turned back into code page 932 at the end, so it holds the
// bytes a Japanese system writes (the profile functions write the ANSI code page
// otherwise). begin: 1 when it did so and end_ini_writes must follow; 0 on a 932 system
// or when the file cannot be so kept (it is then left as it is).
int begin_ini_writes(const char* file);
void end_ini_writes(const char* file);

// Write access for all users.
int probe_write_access(const char* destination);
// Adds the players' inherited Modify right to a folder this install created (0), or
// leaves the folder as it is (1: not created here, or a system folder; -1: refused).
int grant_users_write_access(const char* destination, int created_by_install, const system_folder_list& system);
// The access list for path: the entries added to its present list (keep_present), or the
// entries alone. LocalFree the result. 0, or -1 when the system refuses.
int compose_access_list(const char* path, const access_entry* entries, int count, int keep_present, PACL* out);
// Writes the list as the object's; protect: it no longer inherits from the folder above.
int write_access_list(const char* path, PACL list, int protect);
// UnInst.exe and install.env in the folder: changeable by administrators only. 0, or -1
// when one of them present could not be given its list.
int protect_install_files(const char* destination);

// File copy.
int copy_bin_files(const char* destination);
int copy_from_bin(const char* destination, const char* name);
int copy_from_bin_or_report(const char* destination, const char* name);
int copy_file_with_progress(const char* source, const char* target);

// Shortcuts.
int make_start_menu_shortcuts(const char* destination);
int make_desktop_shortcut(const char* destination);
HRESULT create_shortcut(const char* target, const char* link_file, const char* description);
int get_special_folder(HWND owner, int csidl, char* out);
int folder_of(char* out, const char* path);
int is_vista_or_later();

// End-of-install dialogs. show_end_dialog: 1 when the player asked to open the readme.
void ask_desktop_shortcut(const char* destination);
int show_end_dialog();

}  // namespace talven
