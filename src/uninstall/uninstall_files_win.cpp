// The install folder's files: the planned deletions, what is left, and the program's own
// removal after it has ended.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "install/cp932.h"
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
    DWORD attributes = GetFileAttributesA(path);
    *p = '\\';
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 1;
    ++p;
  }
  return 0;
}

void delete_one_file(const removal& r, const char* relative) {
  if (is_own_file(relative) || plan_keeps(r.plan, relative, r.keep_user)) return;
  char path[uninstall_path_size];
  if (join(path, r.folder, relative) != 0) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);  // a read-only file is still the game's
  DeleteFileA(path);
}

int is_dot_name(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void remove_tree(const removal& r, const char* relative) {
  char path[uninstall_path_size];
  if (join(path, r.folder, relative) != 0) return;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || plan_keeps(r.plan, relative, r.keep_user)) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    delete_one_file(r, relative);
    return;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryA(path);  // the link itself, never what it points at
    return;
  }
  char pattern[uninstall_path_size];
  if (join(pattern, path, "*") != 0) return;
  WIN32_FIND_DATAA found;
  HANDLE scan = FindFirstFileA(pattern, &found);
  if (scan != INVALID_HANDLE_VALUE) {
    do {
      if (is_dot_name(found.cFileName)) continue;
      char child[uninstall_path_size];
      if (join(child, relative, found.cFileName) != 0) continue;  // too long to name: left
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(r, child);
      else
        delete_one_file(r, child);
    } while (FindNextFileA(scan, &found));
    FindClose(scan);
  }
  RemoveDirectoryA(path);  // only when empty: kept and unnamed files keep it
}

void remove_matching(const removal& r, const delete_item& item) {
  char search[uninstall_path_size];
  if (join(search, r.folder, item.relative) != 0) return;
  const char* slash = mb_find_last_char(item.relative, '\\');
  size_t folder_length = slash ? static_cast<size_t>(slash - item.relative) : 0;
  const char* pattern = slash ? slash + 1 : item.relative;
  WIN32_FIND_DATAA found;
  HANDLE scan = FindFirstFileA(search, &found);
  if (scan == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // The system also matches short 8.3 names ("*.sav" finds "a.save"): only long names count.
    if (!wildcard_match(pattern, found.cFileName)) continue;
    char child[uninstall_path_size];
    int n = folder_length ? std::snprintf(child, sizeof child, "%.*s\\%s", static_cast<int>(folder_length),
                                          item.relative, found.cFileName)
                          : std::snprintf(child, sizeof child, "%s", found.cFileName);
    if (n > 0 && n < static_cast<int>(sizeof child)) delete_one_file(r, child);
  } while (FindNextFileA(scan, &found));
  FindClose(scan);
}

// Folders that a removal emptied go too, up to (not including) the install folder.
void prune_parents(const char* folder, const char* relative) {
  char parent[uninstall_path_size];
  if (copy_text(parent, sizeof parent, relative) != 0) return;
  char* slash;
  while ((slash = const_cast<char*>(mb_find_last_char(parent, '\\'))) != nullptr) {
    *slash = '\0';
    char path[uninstall_path_size];
    if (join(path, folder, parent) != 0 || !RemoveDirectoryA(path)) return;
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
  if (join(pattern, folder, "*") != 0) return 0;
  WIN32_FIND_DATAA found;
  HANDLE scan = FindFirstFileA(pattern, &found);
  if (scan == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (is_dot_name(found.cFileName) || same_path(found.cFileName, program_name)) continue;
    if (count < most) {
      copy_text(names[count], uninstall_path_size, found.cFileName);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ensure_trailing_separator(names[count], uninstall_path_size);
    }
    ++count;
  } while (FindNextFileA(scan, &found));
  FindClose(scan);
  return count;
}

int start_self_removal(const char* program) {
  char temp[MAX_PATH];
  char copy[uninstall_path_size];
  DWORD n = GetTempPathA(sizeof temp, temp);
  int ok = n > 0 && n < sizeof temp &&
           std::snprintf(copy, sizeof copy, "%sUnInst_%08lx.exe", temp, GetCurrentProcessId()) <
               static_cast<int>(sizeof copy) &&
           CopyFileA(program, copy, FALSE);
  if (ok) {
    // The helper waits on this process through an inherited handle: a process id could be
    // taken by another process once this one has ended.
    HANDLE self = nullptr;
    char args[uninstall_path_size + 64];
    char command[uninstall_path_size * 2 + 80];
    ok = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0) &&
         compose_cleanup_args(args, sizeof args, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(self)),
                              program) == 0 &&
         std::snprintf(command, sizeof command, "\"%s\" %s", copy, args) < static_cast<int>(sizeof command);
    // The helper inherits this handle too: when the helper ends, its last handle closes
    // and the system deletes the copy. Where that is refused, the helper's own deferred
    // delete still removes it at the next start.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE delete_on_close = ok ? CreateFileA(copy, DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                                : INVALID_HANDLE_VALUE;
    if (ok) {
      STARTUPINFOA startup;
      std::memset(&startup, 0, sizeof startup);
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process;
      ok = CreateProcessA(copy, command, nullptr, nullptr, TRUE, 0, nullptr, temp, &startup, &process);
      if (ok) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
      }
    }
    if (self) CloseHandle(self);
    if (delete_on_close != INVALID_HANDLE_VALUE) CloseHandle(delete_on_close);
    if (!ok) DeleteFileA(copy);
  }
  if (ok) return 0;
  // No helper: the system deletes the program, then the folder if empty, at the next start.
  MoveFileExA(program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  char folder[uninstall_path_size];
  if (copy_text(folder, sizeof folder, program) == 0) {
    char* slash = const_cast<char*>(mb_find_last_char(folder, '\\'));
    if (slash) {
      *slash = '\0';
      MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  }
  return -1;
}

int run_cleanup(const char* args) {
  unsigned long long value = 0;
  char program[uninstall_path_size];
  if (parse_cleanup_args(args, &value, program, sizeof program) != 0) return -1;
  HANDLE parent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  // Only a handle this process really holds may start the deletion.
  if (WaitForSingleObject(parent, 60000) != WAIT_OBJECT_0) return -1;
  CloseHandle(parent);
  for (int i = 0; i < 100; ++i) {
    SetFileAttributesA(program, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(program) || GetLastError() == ERROR_FILE_NOT_FOUND) break;
    Sleep(100);  // the system may hold the ended program's image a moment longer
  }
  char folder[uninstall_path_size];
  copy_text(folder, sizeof folder, program);
  char* slash = const_cast<char*>(mb_find_last_char(folder, '\\'));
  if (slash) {
    *slash = '\0';
    RemoveDirectoryA(folder);  // only when nothing else is left in it
  }
  // This copy cannot delete itself while it runs; the temporary folder's copy goes at the
  // next start of the system.
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n > 0 && n < sizeof self) MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return 0;
}

}  // namespace talven
