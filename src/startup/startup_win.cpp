// Process start-up, the single-instance gate and the work folder of this run.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/sections.h"
#include "config/settings.h"
#include "engine/resolver.h"
#include "install/cp932.h"
#include "install/install.h"
#include "package/extract.h"
#include "startup/menu.h"
#include "startup/services.h"
#include "startup/startup.h"
#include "ui/messages.h"

namespace talven {

char work_folder[260];
char start_directory[260];

namespace {

// The one file enumeration behind delete_matching_files; not re-entrant.
enum scan_state { scan_none, scan_first_pending, scan_continue };

HANDLE scan_handle = INVALID_HANDLE_VALUE;
scan_state scan = scan_none;
char scan_pattern[260];
WIN32_FIND_DATAA scan_data;
char scan_result[260];

void close_scan() {
  if (scan_handle != INVALID_HANDLE_VALUE) FindClose(scan_handle);
  scan_handle = INVALID_HANDLE_VALUE;
  scan = scan_none;
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
int compose_scan_result() {
  size_t folder = folder_part_length(scan_pattern);
  size_t name = std::strlen(scan_data.cFileName);
  if (folder + name + 1 > sizeof scan_result) return -1;
  std::memcpy(scan_result, scan_pattern, folder);
  std::memcpy(scan_result + folder, scan_data.cFileName, name + 1);
  return 0;
}

bool is_folder_entry() { return (scan_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

void uninitialize_com() { CoUninitialize(); }

const char missing_files_text[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";

}  // namespace

int file_scan_begin(const char* pattern) {
  close_scan();
  if (copy_text(scan_pattern, sizeof scan_pattern, pattern) != 0) {
    scan_pattern[0] = '\0';
    return 1;
  }
  scan_handle = FindFirstFileA(scan_pattern, &scan_data);
  if (scan_handle == INVALID_HANDLE_VALUE) return 1;
  scan = scan_first_pending;
  return 0;
}

const char* file_scan_next() {
  if (scan_handle == INVALID_HANDLE_VALUE || scan == scan_none) return nullptr;
  for (;;) {
    if (scan == scan_first_pending) {
      scan = scan_continue;
    } else if (!FindNextFileA(scan_handle, &scan_data)) {
      close_scan();
      return nullptr;
    }
    if (!is_folder_entry() && compose_scan_result() == 0) return scan_result;
  }
}

void delete_matching_files(const char* folder, const char* pattern) {
  char saved[260];
  DWORD n = GetCurrentDirectoryA(sizeof saved, saved);
  if (n == 0 || n >= sizeof saved) saved[0] = '\0';
  if (SetCurrentDirectoryA(folder)) {
    if (file_scan_begin(pattern) == 0) {
      while (const char* path = file_scan_next()) DeleteFileA(path);
    }
  }
  if (saved[0] != '\0') SetCurrentDirectoryA(saved);
}

void create_work_folder() {
  DWORD n = GetCurrentDirectoryA(259, start_directory);
  if (n == 0 || n >= 259) start_directory[0] = '\0';

  char name[128];
  // A tick count above 2147483647 prints with a minus sign, as the folder name has always done.
  std::snprintf(name, sizeof name, "DireVEZiriruvOdador_%09d", static_cast<int>(GetTickCount()));

  // A work folder that cannot be named stays empty: the start-up pass refuses an empty
  // destination (damaged-package end), and remove_work_folder then touches nothing,
  // rather than working on the bare temp folder or a drive root.
  n = GetTempPathA(259, work_folder);
  if (n == 0 || n >= 259 || !ensure_trailing_separator(work_folder, sizeof work_folder) ||
      append_text(work_folder, sizeof work_folder, name) != 0) {
    work_folder[0] = '\0';
    return;
  }
  CreateDirectoryA(work_folder, nullptr);
  SetCurrentDirectoryA(work_folder);
}

void remove_work_folder() {
  if (start_directory[0] != '\0') SetCurrentDirectoryA(start_directory);
  if (work_folder[0] == '\0') return;
  delete_matching_files(work_folder, "*.*");
  RemoveDirectoryA(work_folder);
}

int run_startup(void* instance) {
  CoInitialize(nullptr);
  std::atexit(uninitialize_com);
  set_open_as_given(1);
  create_work_folder();
  extract_install_package(work_folder, startup_pass);

  char settings_file[128];
  copy_text(settings_file, sizeof settings_file, "install.env");
  if (!engine_file_exists(settings_file)) {
    show_error(missing_files_text);
    remove_work_folder();
    std::exit(-1);
  }
  load_settings(settings_file);
  load_uninstall_sections(settings_file);

  // A second copy says so and ends; a gate that cannot be had (the name squatted by
  // another kind of object) does not keep the installer from starting.
  if (open_instance_gate(get_caption()) == instance_running) {
    char text[512];
    std::snprintf(text, sizeof text, "[ %s ] は既に起動中です", get_caption());
    MessageBoxA(nullptr, text, get_titlebar(), MB_TOPMOST | MB_ICONHAND);
    remove_work_folder();
    std::exit(0);
  }

  for (;;) {
    if (setting_int("FORCEINSTALL", 0) != 0) {
      int result = run_install();
      remove_work_folder();
      return result;
    }
    INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(instance), "MAINDIALOG", nullptr,
                                     menu_dialog_proc, 0);
    if (result == 0) return 0;
    // The menu could not be created at all (missing template, no window resources):
    // showing it again would fail the same way for ever, so end like a damaged start.
    if (result == -1) {
      remove_work_folder();
      return -1;
    }
  }
}

}  // namespace talven
