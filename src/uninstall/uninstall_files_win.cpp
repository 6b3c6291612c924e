// The install folder's files: the planned deletions, what is left, and the program's own
// removal after it has ended.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "install/removal.h"
#include "base/wide.h"
#include "uninstall/uninstall.h"

namespace talven {

namespace {

struct removal {
  const char* folder;  // the install folder, no trailing backslash
  const delete_plan* plan;
  int keep_user;
};

int join(char* out, const char* folder, const char* relative) {
  int n = std::snprintf(out, uninstall_path_size, "%s\\%s", folder, relative);
  return (n < 0 || n >= static_cast<int>(uninstall_path_size)) ? -1 : 0;
}

// 1 when a folder on the way to relative is a link (junction, symbolic link): what lies
// behind it may be anywhere, so nothing there is touched.
int passes_link(const char* folder, const char* relative) {
  char path[uninstall_path_size];
  if (join(path, folder, relative) != 0) return 1;
  char* p = path + std::strlen(folder) + 1;
  while ((p = const_cast<char*>(mb_find_char(p, '\\'))) != nullptr) {
    *p = '\0';
    DWORD attributes = attributes_of(path);
    *p = '\\';
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 1;
    ++p;
  }
  return 0;
}

void delete_one_file(const removal& r, const char* relative) {
  if (is_own_file(relative) || plan_keeps(r.plan, relative, r.keep_user)) return;
  char path[uninstall_path_size];
  if (join(path, r.folder, relative) == 0) delete_file_inside(r.folder, path);
}

void remove_tree(const removal& r, const char* relative) {
  char path[uninstall_path_size];
  if (join(path, r.folder, relative) != 0) return;
  DWORD attributes = attributes_of(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || plan_keeps(r.plan, relative, r.keep_user)) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    delete_one_file(r, relative);
    return;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    remove_folder_inside(r.folder, path);  // the link itself, never what it points at
    return;
  }
  char pattern[uninstall_path_size];
  if (join(pattern, path, "*") != 0) return;
  disk_scan scan;
  if (scan_open(&scan, pattern) == 0) {
    char name[uninstall_path_size];
    DWORD found = 0;
    while (scan_next(&scan, name, sizeof name, &found)) {
      char child[uninstall_path_size];
      if (join(child, relative, name) != 0) continue;  // too long to name: left
      if (found & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(r, child);
      else
        delete_one_file(r, child);
    }
    scan_close(&scan);
  }
  remove_folder_inside(r.folder, path);  // only when empty: kept and unnamed files keep it
}

void remove_matching(const removal& r, const delete_item& item) {
  char search[uninstall_path_size];
  if (join(search, r.folder, item.relative) != 0) return;
  const char* slash = mb_find_last_char(item.relative, '\\');
  size_t folder_length = slash ? static_cast<size_t>(slash - item.relative) : 0;
  const char* pattern = slash ? slash + 1 : item.relative;
  disk_scan scan;
  if (scan_open(&scan, search) != 0) return;
  char name[uninstall_path_size];
  DWORD found = 0;
  while (scan_next(&scan, name, sizeof name, &found)) {
    if (found & FILE_ATTRIBUTE_DIRECTORY) continue;
    // The system also matches short 8.3 names ("*.sav" finds "a.save"): only long names count.
    if (!wildcard_match(pattern, name)) continue;
    char child[uninstall_path_size];
    int n = folder_length ? std::snprintf(child, sizeof child, "%.*s\\%s", static_cast<int>(folder_length),
                                          item.relative, name)
                          : std::snprintf(child, sizeof child, "%s", name);
    if (n > 0 && n < static_cast<int>(sizeof child)) delete_one_file(r, child);
  }
  scan_close(&scan);
}

// Folders that a removal emptied go too, up to (not including) the install folder.
void prune_parents(const char* folder, const char* relative) {
  char parent[uninstall_path_size];
  if (copy_text(parent, sizeof parent, relative) != 0) return;
  char* slash;
  while ((slash = const_cast<char*>(mb_find_last_char(parent, '\\'))) != nullptr) {
    *slash = '\0';
    char path[uninstall_path_size];
    if (join(path, folder, parent) != 0 || !remove_folder_inside(folder, path)) return;
  }
}

}  // namespace

void remove_planned_files(const delete_plan* plan, const char* folder, int keep_user) {
  removal r = {folder, plan, keep_user};
  for (int i = 0; i < plan->count; ++i) {
    const delete_item& item = plan->items[i];
    if ((item.user && keep_user) || passes_link(folder, item.relative)) continue;
    if (item.kind == delete_file)
      delete_one_file(r, item.relative);
    else if (item.kind == delete_folder)
      remove_tree(r, item.relative);
    else
      remove_matching(r, item);
    prune_parents(folder, item.relative);
  }
}

int list_left_over(const char* folder, const char* program_name, char (*names)[uninstall_path_size], int most) {
  char pattern[uninstall_path_size];
  disk_scan scan;
  if (join(pattern, folder, "*") != 0 || scan_open(&scan, pattern) != 0) return 0;
  int count = 0;
  char name[uninstall_path_size];
  DWORD found = 0;
  while (scan_next(&scan, name, sizeof name, &found)) {
    if (same_path(name, program_name)) continue;
    if (count < most) {
      copy_text(names[count], uninstall_path_size, name);
      if (found & FILE_ATTRIBUTE_DIRECTORY) ensure_trailing_separator(names[count], uninstall_path_size);
    }
    ++count;
  }
  // A name that has no CP932 form is still left over; it is counted, not shown.
  count += scan.refused;
  scan_close(&scan);
  return count;
}

namespace {

// The folder part of a wide path (the last backslash and what follows it cut off).
void cut_last_name(wchar_t* path) {
  wchar_t* slash = nullptr;
  for (wchar_t* p = path; *p; ++p)
    if (*p == L'\\') slash = p;
  if (slash) *slash = L'\0';
}

// A copy of the program in the temporary folder under a name that nobody had: the copy
// refuses to replace an existing file, so a file or link planted under a predictable
// name is never run or overwritten; another name is tried instead. 0 or -1.
int copy_to_new_name(const wchar_t* program, const wchar_t* temp, wchar_t* copy, size_t count) {
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (unsigned attempt = 0; attempt < 64; ++attempt) {
    int n = _snwprintf(copy, count, L"%lsUnInst_%08lx.exe", temp, static_cast<unsigned long>(seed + attempt * 7919u));
    if (n < 0 || static_cast<size_t>(n) >= count) return -1;
    if (CopyFileW(program, copy, TRUE)) return 0;
    DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) return -1;
  }
  return -1;
}

}  // namespace

int start_self_removal(const char* program) {
  wchar_t wide_program[wide_path_size], temp[MAX_PATH], copy[wide_path_size];
  DWORD n = GetTempPathW(MAX_PATH, temp);
  int ok = cp932_to_wide(program, wide_program, wide_path_size) == 0 && n > 0 && n < MAX_PATH &&
           copy_to_new_name(wide_program, temp, copy, wide_path_size) == 0;
  if (ok) {
    // The helper waits on this process through an inherited handle: a process id could be
    // taken by another process once this one has ended.
    HANDLE self = nullptr;
    char args[uninstall_path_size + 64];
    wchar_t wide_args[uninstall_path_size + 64];
    wchar_t command[wide_path_size * 2 + 80];
    ok = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0) &&
         compose_cleanup_args(args, sizeof args, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(self)),
                              program) == 0 &&
         cp932_to_wide(args, wide_args, sizeof wide_args / sizeof wide_args[0]) == 0;
    if (ok) {
      int m = _snwprintf(command, sizeof command / sizeof command[0], L"\"%ls\" %ls", copy, wide_args);
      ok = m > 0 && static_cast<size_t>(m) < sizeof command / sizeof command[0];
    }
    // The helper inherits this handle too: when the helper ends, its last handle closes
    // and the system deletes the copy. Where that is refused, the helper's own deferred
    // delete still removes it at the next start.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE delete_on_close = ok ? CreateFileW(copy, DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                                : INVALID_HANDLE_VALUE;
    if (ok) {
      STARTUPINFOW startup;
      std::memset(&startup, 0, sizeof startup);
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process;
      ok = CreateProcessW(copy, command, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup, &process);
      if (ok) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
      }
    }
    if (self) CloseHandle(self);
    if (delete_on_close != INVALID_HANDLE_VALUE) CloseHandle(delete_on_close);
    if (!ok) DeleteFileW(copy);
  }
  if (ok) return 0;
  // No helper: the system deletes the program, then the folder if empty, at the next start.
  if (cp932_to_wide(program, wide_program, wide_path_size) == 0) {
    MoveFileExW(wide_program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    cut_last_name(wide_program);
    MoveFileExW(wide_program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return -1;
}

int remove_after_exit(void* parent, const char* program) {
  wchar_t wide[wide_path_size];
  if (cp932_to_wide(program, wide, wide_path_size) != 0) return -1;
  // However long the program takes to end: a helper that gave up would leave it and its
  // folder for good. Only a handle this process really holds may start the deletion.
  if (WaitForSingleObject(parent, INFINITE) != WAIT_OBJECT_0) return -1;
  for (int i = 0; i < 100; ++i) {
    SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(wide) || GetLastError() == ERROR_FILE_NOT_FOUND) break;
    Sleep(100);  // the system may hold the ended program's image a moment longer
  }
  cut_last_name(wide);
  RemoveDirectoryW(wide);  // only when nothing else is left in it
  return 0;
}

int run_cleanup(const char* args) {
  unsigned long long value = 0;
  char program[uninstall_path_size];
  if (parse_cleanup_args(args, &value, program, sizeof program) != 0) return -1;
  HANDLE parent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  if (remove_after_exit(parent, program) != 0) return -1;
  CloseHandle(parent);
  // This copy cannot delete itself while it runs; the temporary folder's copy goes at the
  // next start of the system.
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n > 0 && n < MAX_PATH) MoveFileExW(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return 0;
}

}  // namespace talven
