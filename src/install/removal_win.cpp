#include "install/removal.h"

#include "install/name_rules.h"
#include "base/wide.h"

namespace talven {

namespace {

int is_dot_name(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Opens a folder itself: a link is opened as the link, not as what it points at.
HANDLE open_folder(const wchar_t* path, DWORD share) {
  return CreateFileW(path, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

int is_plain_folder(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

int scan_open(disk_scan* scan, const char* pattern) {
  scan->handle = INVALID_HANDLE_VALUE;
  scan->pending = 0;
  scan->refused = 0;
  wchar_t wide[wide_path_size];
  if (cp932_to_wide(pattern, wide, wide_path_size) != 0) return -1;
  scan->handle = FindFirstFileW(wide, &scan->data);
  if (scan->handle == INVALID_HANDLE_VALUE) return -1;
  scan->pending = 1;
  return 0;
}

int scan_next(disk_scan* scan, char* name, size_t size, DWORD* attributes) {
  while (scan->handle != INVALID_HANDLE_VALUE) {
    if (!scan->pending && !FindNextFileW(scan->handle, &scan->data)) break;
    scan->pending = 0;
    if (is_dot_name(scan->data.cFileName)) continue;
    if (disk_name_to_cp932(scan->data.cFileName, name, size) != 0) {
      ++scan->refused;
      continue;
    }
    *attributes = scan->data.dwFileAttributes;
    return 1;
  }
  return 0;
}

void scan_close(disk_scan* scan) {
  if (scan->handle != INVALID_HANDLE_VALUE) FindClose(scan->handle);
  scan->handle = INVALID_HANDLE_VALUE;
}

int delete_file_inside(const char* folder, const char* path) {
  wchar_t wide[wide_path_size];
  if (!inside_in_full_form(folder, path) || cp932_to_wide(path, wide, wide_path_size) != 0) return 0;
  DWORD attributes = GetFileAttributesW(wide);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(wide, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return DeleteFileW(wide) ? 1 : 0;
}

int remove_folder_inside(const char* folder, const char* path) {
  wchar_t wide[wide_path_size];
  if (!inside_in_full_form(folder, path) || cp932_to_wide(path, wide, wide_path_size) != 0) return 0;
  return RemoveDirectoryW(wide) ? 1 : 0;
}

int hold_folder(folder_hold* hold, const char* folder) {
  hold->handle = INVALID_HANDLE_VALUE;
  wchar_t wide[wide_path_size];
  if (cp932_to_wide(folder, wide, wide_path_size) != 0) return -1;
  HANDLE h = open_folder(wide, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (h == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) || !is_plain_folder(info)) {
    CloseHandle(h);
    return -1;
  }
  hold->handle = h;
  hold->volume = info.dwVolumeSerialNumber;
  hold->index_high = info.nFileIndexHigh;
  hold->index_low = info.nFileIndexLow;
  return 0;
}

int still_same_folder(const folder_hold* hold, const char* folder) {
  wchar_t wide[wide_path_size];
  if (hold->handle == INVALID_HANDLE_VALUE || cp932_to_wide(folder, wide, wide_path_size) != 0) return 0;
  HANDLE h = open_folder(wide, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (h == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int same = GetFileInformationByHandle(h, &info) && is_plain_folder(info) &&
             info.dwVolumeSerialNumber == hold->volume && info.nFileIndexHigh == hold->index_high &&
             info.nFileIndexLow == hold->index_low;
  CloseHandle(h);
  // The attributes by path as well: a link shows there even where the open follows it.
  DWORD attributes = GetFileAttributesW(wide);
  return same && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void release_folder(folder_hold* hold) {
  if (hold->handle != INVALID_HANDLE_VALUE) CloseHandle(hold->handle);
  hold->handle = INVALID_HANDLE_VALUE;
}

}  // namespace talven
