// Removing what lies in a folder the program has proved to be its own (the install
// folder, the work folder): names read from the disk are used only after an exact CP932
// round trip, and every path is checked in full form to lie inside that folder right
// before it goes. Links are removed as links, never followed. Win32 only.
#pragma once
#include <windows.h>

#include <cstddef>

namespace talven {

// An enumeration through FindFirstFileW. A name that does not survive the round trip
// (or is ".", "..", or holds a separator or colon) is passed over and counted.
struct disk_scan {
  HANDLE handle;
  WIN32_FIND_DATAW data;
  int pending;  // data holds an entry not yet handed out
  int refused;  // names passed over
};
// pattern: a CP932 path whose last part may hold * and ?. 0, or -1 (nothing to scan).
int scan_open(disk_scan* scan, const char* pattern);
// The next entry: 1 with its CP932 name and attributes, 0 at the end.
int scan_next(disk_scan* scan, char* name, size_t size, DWORD* attributes);
void scan_close(disk_scan* scan);

// Each only when path lies inside folder in full form; 1 when done. A file (or a link to
// one) is deleted, read-only or not; a folder is removed when empty, a link to a folder
// always (the link alone).
int delete_file_inside(const char* folder, const char* path);
int remove_folder_inside(const char* folder, const char* path);

// A folder opened once without following a link and held open (without delete sharing,
// so it cannot be renamed or replaced through the system meanwhile), to be compared with
// what its path names later.
struct folder_hold {
  HANDLE handle;
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
};
// 0, or -1 when folder is missing, not a folder, or a link or other reparse point.
int hold_folder(folder_hold* hold, const char* folder);
// 1 when the path still names the held folder and it is still no link.
int still_same_folder(const folder_hold* hold, const char* folder);
void release_folder(folder_hold* hold);

}  // namespace talven
