// The CD-ROM root for the CD markers, from the drive types the system reports.
#include <windows.h>

#include <cstdio>

#include "install/markers.h"

namespace talven {

// The first CD-ROM drive of the machine, not necessarily the one the installer runs from.
const char* cdrom_root() {
  static char root[4];
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::snprintf(root, sizeof root, "%c:\\", letter);
    const wchar_t wide_root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
    if (GetDriveTypeW(wide_root) == DRIVE_CDROM) return root;
  }
  return "E:\\";
}

}  // namespace talven
