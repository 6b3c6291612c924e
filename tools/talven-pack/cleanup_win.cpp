// The Windows side of cleanup.h: Ctrl+C, Ctrl+Break and a closed console window end the
// tool through the console's control handler, which removes the pending file first. The
// files it may remove are opened shared for deletion, so that removing one still open
// works (it goes when the process ends).
#include "cleanup.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace talven::pack {

namespace {

wchar_t pending[32768];
volatile LONG armed = 0;

BOOL WINAPI on_control(DWORD) {
  if (armed) DeleteFileW(pending);
  // Ends the run as the default handler would, with the status that says so, on every
  // system the tool runs on (Wine's default reports success).
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool widen(const char* utf8, wchar_t* out, int size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, size) > 0;
}

}  // namespace

void remove_on_signal(const char* path) {
  static bool installed = false;
  InterlockedExchange(&armed, 0);
  if (!path || !widen(path, pending, static_cast<int>(sizeof pending / sizeof pending[0]))) return;
  InterlockedExchange(&armed, 1);
  if (!installed) {
    installed = true;
    SetConsoleCtrlHandler(on_control, TRUE);
  }
}

int make_temporary_beside(const char* target, char* name, unsigned long size) {
  // Suffixes tried until one is free.
  static unsigned long counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long tag = (GetCurrentProcessId() * 7919ul + GetTickCount() + ++counter * 104729ul) % 1000000ul;
    int n = std::snprintf(name, size, "%s.tmp-%06lu", target, tag);
    if (n < 0 || static_cast<unsigned long>(n) >= size) {
      errno = ENAMETOOLONG;
      return -1;
    }
    wchar_t wide[32768];
    if (!widen(name, wide, static_cast<int>(sizeof wide / sizeof wide[0]))) {
      errno = EINVAL;
      return -1;
    }
    // CREATE_NEW never takes over an existing file. Shared for deletion, so that the
    // control handler's DeleteFileW works while the file is open (it goes at the close).
    HANDLE h = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
      if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(wide);
        return -1;
      }
      // Registered once made: a file of that name that was there already is never removed.
      remove_on_signal(name);
      return fd;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) {
      errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace talven::pack
