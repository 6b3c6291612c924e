// The Windows side of talven-pack's platform seam: every name goes to the system as
// UTF-16 through the wide-character API, and CP932 is the system's own code page 932
// conversion with no best-fit substitutes.
#include "platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace talven::pack {

namespace {

constexpr UINT cp932 = 932;

bool to_wide(UINT code_page, const std::string& in, std::wstring* out) {
  out->clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), &(*out)[0],
                             n) == n;
}

bool from_wide(UINT code_page, const std::wstring& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  // Code page 932 with no best fit: a character without a CP932 form is refused, never
  // replaced by a look-alike or "?". CP_UTF8 takes neither flag nor the default-used check.
  DWORD flags = code_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* check = code_page == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), nullptr, 0, nullptr, check);
  if (n <= 0 || used_default) return false;
  out->resize(static_cast<size_t>(n));
  return WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), &(*out)[0], n, nullptr,
                             check) == n &&
         !used_default;
}

std::wstring wide(const char* utf8) {
  std::wstring w;
  if (!to_wide(CP_UTF8, utf8, &w)) w.clear();
  return w;
}

void set_errno_from_last_error() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

uint64_t filetime_of(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

int look(const char* utf8, file_info* info, bool at_link) {
  std::wstring w = wide(utf8);
  if (w.empty()) {
    errno = ENOENT;
    return -1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &data)) {
    set_errno_from_last_error();
    return -1;
  }
  bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (reparse && !at_link) {
    // Follow the link (or junction) to what it points at, as stat does.
    HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION target;
    bool ok = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &target);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) {
      set_errno_from_last_error();
      return -1;
    }
    data.dwFileAttributes = target.dwFileAttributes;
    data.nFileSizeHigh = target.nFileSizeHigh;
    data.nFileSizeLow = target.nFileSizeLow;
    data.ftLastWriteTime = target.ftLastWriteTime;
    reparse = false;
  }
  info->link = reparse;
  info->folder = !reparse && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->regular = !reparse && !info->folder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  info->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info->filetime = filetime_of(data.ftLastWriteTime);
  return 0;
}

HANDLE console_of(DWORD which) {
  HANDLE h = GetStdHandle(which);
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h && GetConsoleMode(h, &mode) ? h : nullptr;
}

UINT console_code_page_before = 0;

void restore_console() {
  if (console_code_page_before) SetConsoleOutputCP(console_code_page_before);
}

// Output is UTF-8 bytes, as on Linux: into files and pipes unchanged (and without CR LF
// translation), and on a console shown as UTF-8 for the run, with the escape sequences
// of the progress line understood.
void prepare_output() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (console_of(STD_OUTPUT_HANDLE) || console_of(STD_ERROR_HANDLE)) {
    console_code_page_before = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    std::atexit(restore_console);
  }
  if (HANDLE h = console_of(STD_ERROR_HANDLE)) {
    DWORD mode = 0;
    GetConsoleMode(h, &mode);
    SetConsoleMode(h, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
  }
}

}  // namespace

std::filesystem::path path_of(const std::string& utf8) {
  std::wstring w;
  if (!to_wide(CP_UTF8, utf8, &w)) return std::filesystem::path(utf8);  // never found, as on Linux
  return std::filesystem::path(w);
}

std::string text_of(const std::filesystem::path& path) {
  std::string s;
  if (!from_wide(CP_UTF8, path.generic_wstring(), &s)) s = path.generic_string();
  return s;
}

FILE* open_file(const char* utf8, const char* mode) {
  std::wstring w = wide(utf8), m;
  for (const char* c = mode; *c; ++c)
    if (*c != 'b' && *c != 't') m += static_cast<wchar_t>(*c);
  m += L'b';
  if (w.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return _wfopen(w.c_str(), m.c_str());
}

int look_at(const char* utf8, file_info* info) { return look(utf8, info, false); }
int look_at_link(const char* utf8, file_info* info) { return look(utf8, info, true); }

FILE* create_file_no_link(const char* utf8) {
  file_info st;
  if (look_at_link(utf8, &st) == 0 && st.link) {
    errno = ELOOP;
    return nullptr;
  }
  // Shared for deletion, so that Ctrl+C's handler can remove the half-written file while
  // it is open (cleanup_win.cpp).
  HANDLE h = CreateFileW(wide(utf8).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, "wb");
  if (!f) _close(fd);
  return f;
}

int replace_file(const char* from, const char* to) {
  std::wstring a = wide(from), b = wide(to);
  // The target may still be held for a moment by a program that has just closed it (a
  // previous run, a virus scanner, the indexer): a sharing or access refusal is retried
  // for up to about two seconds before it is reported.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    DWORD error = GetLastError();
    bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
    if (!busy || attempt >= 40) break;
    Sleep(50);
  }
  set_errno_from_last_error();
  return -1;
}

int remove_file(const char* utf8) {
  if (!DeleteFileW(wide(utf8).c_str())) {
    set_errno_from_last_error();
    return -1;
  }
  return 0;
}

int set_write_time(const char* utf8, uint64_t filetime) {
  HANDLE h = CreateFileW(wide(utf8).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return -1;
  }
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(filetime);
  t.dwHighDateTime = static_cast<DWORD>(filetime >> 32);
  BOOL ok = SetFileTime(h, nullptr, nullptr, &t);
  if (!ok) set_errno_from_last_error();
  CloseHandle(h);
  return ok ? 0 : -1;
}

void give_default_mode(FILE*) {}
void copy_mode(const char*, const char*) {}
void make_executable(const char*) {}

std::string process_tag() { return std::to_string(GetCurrentProcessId()); }

std::string program_folder() {
  std::wstring self(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
  if (n == 0 || n >= self.size()) return "";
  self.resize(n);
  return text_of(std::filesystem::path(self).parent_path());
}

bool convert_to_cp932(const std::string& utf8, std::string* out) {
  std::wstring w;
  return to_wide(CP_UTF8, utf8, &w) && from_wide(cp932, w, out);
}

bool convert_to_utf8(const std::string& in, std::string* utf8) {
  std::wstring w;
  return to_wide(cp932, in, &w) && from_wide(CP_UTF8, w, utf8);
}

FILE* scratch_stream() {
  wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH || GetTempFileNameW(folder, L"tpk", 0, name) == 0) return nullptr;
  // "D": removed when closed, or when the process ends.
  FILE* f = _wfopen(name, L"w+bD");
  if (!f) DeleteFileW(name);
  return f;
}

bool error_is_terminal() { return console_of(STD_ERROR_HANDLE) != nullptr; }
bool output_is_terminal() { return console_of(STD_OUTPUT_HANDLE) != nullptr; }

int terminal_columns() {
  HANDLE h = console_of(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!h || !GetConsoleScreenBufferInfo(h, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

const char* iso_unavailable() {
  return "the Windows build makes no ISO image (it needs xorriso, a Linux program); burn or image the medium "
         "folder with your disc tool, or run talven-pack medium --iso on Linux";
}

int run_program(const std::vector<std::string>&, FILE*, std::string* error) {
  *error = "running other programs is not part of the Windows build";
  return -1;
}

}  // namespace talven::pack

// Arguments arrive as UTF-16 and are handed on as UTF-8, so the commands see what they
// see on Linux.
int wmain(int argc, wchar_t** wargv) {
  talven::pack::prepare_output();
  std::vector<std::string> args(static_cast<size_t>(argc));
  std::vector<char*> argv;
  for (int i = 0; i < argc; ++i) {
    std::wstring w = wargv[i];
    if (!talven::pack::from_wide(CP_UTF8, w, &args[static_cast<size_t>(i)])) {
      std::fprintf(stderr, "talven-pack: argument %d is not valid Unicode\n", i);
      return 2;
    }
    argv.push_back(&args[static_cast<size_t>(i)][0]);
  }
  argv.push_back(nullptr);
  return talven_pack_main(argc, argv.data());
}
