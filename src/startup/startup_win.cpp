// Process start-up, the single-instance gate and the work folder of this run.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "config/sections.h"
#include "config/settings.h"
#include "engine/resolver.h"
#include "base/cp932.h"
#include "install/install.h"
#include "install/removal.h"
#include "base/wide.h"
#include "package/extract.h"
#include "startup/menu.h"
#include "base/services.h"
#include "startup/startup.h"
#include "base/messages.h"

namespace talven {

namespace {

// The one file enumeration behind delete_matching_files; not re-entrant. Names come
// through the W functions and only after an exact CP932 round trip (removal.h).
disk_scan scan;
int scanning = 0;
char scan_pattern[260];
char scan_result[260];

void close_scan() {
  if (scanning) scan_close(&scan);
  scanning = 0;
}

// Length of the drive-and-folder part of a pattern: up to and including its last real
// "\" or "/", else its "X:" drive, else nothing.
size_t folder_part_length(const char* pattern) {
  const char* back = mb_find_last_char(pattern, '\\');
  const char* slash = mb_find_last_char(pattern, '/');
  const char* last = back;
  if (slash && (!last || slash > last)) last = slash;
  if (last) return static_cast<size_t>(last - pattern) + 1;
  if (pattern[0] != '\0' && !is_lead_byte(static_cast<unsigned char>(pattern[0])) && pattern[1] == ':')
    return 2;
  return 0;
}

// Joins the pattern's drive and folder with the found name. 0, or -1 when the path
// would not fit its 260 bytes (the entry is then passed over, never cut short).
int compose_scan_result(const char* name) {
  size_t folder = folder_part_length(scan_pattern);
  size_t length = std::strlen(name);
  if (folder + length + 1 > sizeof scan_result) return -1;
  std::memcpy(scan_result, scan_pattern, folder);
  std::memcpy(scan_result + folder, name, length + 1);
  return 0;
}

void uninitialize_com() { CoUninitialize(); }

// A name of the system's without a CP932 form ends the start with its message, never
// silently: the package (beside or inside the program) and the work folder are reached
// through these names.
int refuse_foreign_name(const wchar_t* name) {
  char shown[260];
  shown_to_cp932(name, shown, sizeof shown);
  show_error(msg_name_not_cp932, shown);
  return -1;
}

const char missing_files_text[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";

}  // namespace

int file_scan_begin(const char* pattern) {
  close_scan();
  if (copy_text(scan_pattern, sizeof scan_pattern, pattern) != 0) {
    scan_pattern[0] = '\0';
    return 1;
  }
  if (scan_open(&scan, scan_pattern) != 0) return 1;
  scanning = 1;
  return 0;
}

const char* file_scan_next() {
  char name[260];
  DWORD attributes = 0;
  while (scanning && scan_next(&scan, name, sizeof name, &attributes)) {
    // Folders are passed over; a link to one is handed out, to be removed as a link.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (compose_scan_result(name) == 0) return scan_result;
  }
  close_scan();
  return nullptr;
}

void delete_matching_files(const char* folder, const char* pattern) {
  char full[260];
  int n = std::snprintf(full, sizeof full, "%s\\%s", folder, pattern);
  if (n < 0 || n >= static_cast<int>(sizeof full) || file_scan_begin(full) != 0) return;
  while (const char* path = file_scan_next()) {
    DWORD attributes = attributes_of(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      remove_folder_inside(folder, path);  // a link dropped in: the link alone
    else
      delete_file_inside(folder, path);
  }
}

int create_work_folder(wchar_t* foreign_temp, size_t size) {
  // A start folder without a CP932 form is not gone back to; nothing relies on it.
  wchar_t wide_start[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, wide_start);
  if (n == 0 || n >= MAX_PATH || wide_to_cp932(wide_start, state().start_directory, sizeof state().start_directory) != 0)
    state().start_directory[0] = '\0';
  state().work_folder[0] = '\0';

  // A work folder that cannot be named stays empty: the start-up pass refuses an empty
  // destination (damaged-package end), and remove_work_folder then touches nothing,
  // rather than working on the bare temp folder or a drive root.
  wchar_t wide_temp[MAX_PATH];
  char temp[260];
  n = GetTempPathW(MAX_PATH, wide_temp);
  if (n == 0 || n >= MAX_PATH) return 0;
  if (wide_to_cp932(wide_temp, temp, sizeof temp) != 0) {
    if (foreign_temp && size > 0) {
      size_t kept = n < size ? n : size - 1;
      std::wmemcpy(foreign_temp, wide_temp, kept);
      foreign_temp[kept] = L'\0';
    }
    return -1;
  }
  if (!ensure_trailing_separator(temp, sizeof temp)) return 0;
  // The folder is created, never taken over: a name already there (a folder, a file or a
  // link someone planted) makes the next number be tried.
  int tick = static_cast<int>(GetTickCount());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char path[260];
    wchar_t wide[MAX_PATH];
    // A tick count above 2147483647 prints with a minus sign, as the folder name has always done.
    int m = std::snprintf(path, sizeof path, "%sDireVEZiriruvOdador_%09d", temp, tick + attempt);
    if (m < 0 || m >= static_cast<int>(sizeof path) || cp932_to_wide(path, wide, MAX_PATH) != 0) return 0;
    if (CreateDirectoryW(wide, nullptr)) {
      copy_text(state().work_folder, sizeof state().work_folder, path);
      SetCurrentDirectoryW(wide);
      return 0;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;
  }
  return 0;
}

void remove_work_folder() {
  if (state().start_directory[0] != '\0') SetCurrentDirectoryW(wide_name(state().start_directory).text);
  if (state().work_folder[0] == '\0') return;
  delete_matching_files(state().work_folder, "*");
  wchar_t wide[MAX_PATH];
  if (cp932_to_wide(state().work_folder, wide, MAX_PATH) == 0) RemoveDirectoryW(wide);
}

int run_startup(void* instance) {
  CoInitialize(nullptr);
  std::atexit(uninitialize_com);
  set_open_as_given(1);
  wchar_t module[MAX_PATH];
  char module_name[260];
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (length > 0 && length < MAX_PATH && wide_to_cp932(module, module_name, sizeof module_name) != 0)
    return refuse_foreign_name(module);
  wchar_t foreign_temp[MAX_PATH];
  if (create_work_folder(foreign_temp, MAX_PATH) != 0) return refuse_foreign_name(foreign_temp);
  extract_install_package(state().work_folder, startup_pass, remove_work_folder);

  char settings_file[128];
  copy_text(settings_file, sizeof settings_file, "install.env");
  if (!engine_file_exists(settings_file)) {
    show_error(missing_files_text);
    remove_work_folder();
    std::exit(-1);
  }
  load_settings(settings_file, open_engine_file);
  load_uninstall_sections(settings_file);

  // A second copy says so and ends; a gate that cannot be had (the name squatted by
  // another kind of object) does not keep the installer from starting.
  if (open_instance_gate(get_caption()) == instance_running) {
    char text[512];
    std::snprintf(text, sizeof text, "[ %s ] は既に起動中です", get_caption());
    message_box(nullptr, text, get_titlebar(), MB_TOPMOST | MB_ICONHAND);
    remove_work_folder();
    std::exit(0);
  }

  for (;;) {
    if (setting_int("FORCEINSTALL", 0) != 0) {
      int result = run_install(remove_work_folder);
      remove_work_folder();
      return result;
    }
    INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(instance), L"MAINDIALOG", nullptr,
                                     menu_dialog_proc, 0);
    if (result == 0) return 0;
    // The menu could not be created at all (missing template, no window resources):
    // showing it again would fail the same way for ever, so end like a damaged start.
    if (result == -1) {
      show_error("メニュー画面を表示できませんでした。");
      remove_work_folder();
      return -1;
    }
  }
}

}  // namespace talven
