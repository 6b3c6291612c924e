// uidriver.exe: drives setup.exe from inside the same Wine prefix and reports what it saw.
//
//   wine uidriver.exe SCENARIO     read the scenario from a file
//   wine uidriver.exe -            read it from stdin (a heredoc in the shell tests)
//
// One command per line, executed in order. Each step prints one line "[N] command: ..." on
// stdout (UTF-8). The first failed expectation prints "FAIL line N: ..." with what was
// expected and what was found, terminates every process the scenario started that is
// still running, and exits with 1. A scenario error (unknown command, bad argument) exits
// with 2. Success exits with 0; processes still running at the end are left alone.
//
// Syntax: blank lines and lines starting with '#' are ignored. Arguments are separated by
// spaces; an argument holding spaces is written in double quotes, where \n, \t, \" and
// a doubled backslash are escapes; outside quotes a backslash is literal, so Windows paths
// need no doubling.
// ${NAME} anywhere in a line is replaced by the environment variable NAME (Wine passes the
// shell's variables through), so a scenario can name paths made by its script; an unset
// variable is a scenario error. Texts are UTF-8 in the scenario; they are compared as CP932 bytes with what the windows
// hold (read as UTF-16 and converted to code page 932, under any locale). ID is a control id, decimal or 0x hex
// (a message box keeps its text in the static control 65535 = 0xFFFF; its buttons are
// 1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No). TIMEOUT is in seconds (decimals allowed); a wait
// command takes it as its last argument when that argument is a plain number, otherwise
// the default (20 s, see `timeout`) applies.
//
// Processes
//   start PATH [ARGS...]      CreateProcess PATH (Windows path) in PATH's own folder; it
//                             becomes the current process (#1, #2, ... in start order)
//   use N                     make process #N current again (its window is forgotten)
//   attach NAME [TIMEOUT]     make the newest running process whose image is NAME
//                             (e.g. setup.exe) current, started by an earlier driver run;
//                             so a test can look at the files between two scenarios; with
//                             a TIMEOUT it waits for one to start (started by someone else)
//   wait-exit CODE|any [TIMEOUT]
//                             wait for the current process to end and check its exit code
//                             (-1 and 4294967295 are the same code); "any" just prints it
//   expect-running            the current process has not ended
//   post-quit CODE            PostThreadMessage(WM_QUIT, CODE) to its main thread
//   kill-image NAME           terminate every process in the prefix whose image is NAME
//                             (e.g. setup.exe); clean-up between tests
// Windows (top-level windows of the current process only)
//   wait-window CAPTION [TIMEOUT]            a visible window with exactly this caption
//   wait-window class:NAME [CAPTION] [TIMEOUT]
//                             the same by class (#32770 is the dialog class), optionally
//                             with a caption too ("" matches an empty caption); the
//                             window found becomes the current window
//   ... with:ID               (any number, before TIMEOUT) the window must also have a
//                             child with that id: "with:65535" picks a message box out
//                             of windows of the same caption (a menu's boxes carry the
//                             menu's caption)
//   expect-window-count N     number of visible top-level windows of the process
//   wait-gone [TIMEOUT]       the current window has been destroyed
//   dismiss-box [TIMEOUT]     a message box that may come: "box: TEXT" and OK when it
//                             comes, "no box" when it does not (the scenario goes on)
//   expect-caption TEXT       the current window's caption
//   expect-topmost 0|1        whether the current window is topmost (WS_EX_TOPMOST)
//   dump                      list the current window's children: id, class, text,
//                             visible, enabled, checked, rectangle in client coordinates
// Controls of the current window
//   expect-text ID TEXT       control text equals TEXT
//   expect-text-has ID TEXT   control text contains TEXT
//   wait-text ID TEXT [TIMEOUT]
//   expect-absent ID          no child with that id exists
//   expect-visible ID 0|1     / expect-enabled ID 0|1 / expect-checked ID 0|1
//   expect-buttons ID=TEXT ...
//                             the visible Button children are exactly these (any order)
//   click ID                  post WM_COMMAND(BN_CLICKED) from the control to the window
//                             (posted: a modal loop in the target must not block us);
//                             refused when the control is disabled or hidden
//   command ID                post the same WM_COMMAND without looking at the control
//   check ID 0|1              BM_SETCHECK on a check box
//   set-text ID TEXT          WM_SETTEXT
//   key enter|esc|tab|space   WM_KEYDOWN/WM_KEYUP posted to the focused control of the
//                             current window (or to the window when the focus is
//                             elsewhere), so that the dialog's IsDialogMessage sees it
//   close                     WM_SYSCOMMAND SC_CLOSE, as the close box does
//   wm-close                  WM_CLOSE
// Clipboard
//   expect-clipboard TEXT     CF_TEXT equals TEXT (CP932 bytes)
//   expect-clipboard-empty    no CF_TEXT on the clipboard
//   clear-clipboard           empty it
// Other
//   sleep MS
//   timeout SECONDS           default timeout of the wait commands from here on
//   poll MS                   how often the wait commands look again (50 by default; the
//                             install benchmark answers dialogs with less delay)
//   echo TEXT                 print TEXT
//   screenshot FILE.bmp       the whole screen as a 24-bit BMP (GDI BitBlt); the shell
//                             side converts it to PNG
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace talven {
namespace {

// --- text conversion ------------------------------------------------------------------------

std::string convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  int wide_len = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), nullptr, 0);
  if (wide_len <= 0) return std::string();
  std::wstring wide(wide_len, L'\0');
  MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &wide[0], wide_len);
  int out_len = WideCharToMultiByte(to, 0, wide.data(), wide_len, nullptr, 0, nullptr, nullptr);
  if (out_len <= 0) return std::string();
  std::string out(out_len, '\0');
  WideCharToMultiByte(to, 0, wide.data(), wide_len, &out[0], out_len, nullptr, nullptr);
  return out;
}

std::string to_cp932(const std::string& utf8) { return convert(utf8, CP_UTF8, 932); }
std::string to_utf8(const std::string& cp932) { return convert(cp932, 932, CP_UTF8); }

// Through UTF-16, so that the driver reads and writes the same texts whatever code page it
// runs under (a scenario may run it under another locale).
std::wstring utf8_to_wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
  return wide;
}

std::string wide_to_cp932_text(const wchar_t* text) {
  int n = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(n, '\0');
  WideCharToMultiByte(932, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

// Shows a text on one line: line breaks and tabs as escapes, so a report stays readable.
std::string shown(const std::string& cp932) {
  std::string utf8 = to_utf8(cp932);
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == '"') out += "\\\"";
    else out += c;
  }
  return out + "\"";
}

// --- state of a run ----------------------------------------------------------------------------

struct started_process {
  PROCESS_INFORMATION info;
  std::string path;
};

std::vector<started_process> processes;
int current_process = -1;
HWND current_window = nullptr;
DWORD default_timeout_ms = 20000;
DWORD poll_ms = 50;
int line_number = 0;
int step_number = 0;

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}

void terminate_started() {
  for (size_t i = 0; i < processes.size(); ++i) {
    DWORD code = 0;
    if (GetExitCodeProcess(processes[i].info.hProcess, &code) && code == STILL_ACTIVE) {
      TerminateProcess(processes[i].info.hProcess, 1);
      WaitForSingleObject(processes[i].info.hProcess, 5000);
      say("  terminated process #%d (%s)\n", (int)i + 1, processes[i].path.c_str());
    }
  }
}

void dump_window(HWND window);

// Ends the run: a failed expectation (1, with the current window shown) or a scenario
// error (2). Processes the scenario started are not left running either way.
[[noreturn]] void stop_run(int code, const char* format, va_list args) {
  char text[2048];
  vsnprintf(text, sizeof text, format, args);
  say("%s line %d: %s\n", code == 1 ? "FAIL" : "SCENARIO ERROR", line_number, text);
  if (code == 1 && current_window && IsWindow(current_window)) {
    say("  current window at the failure:\n");
    dump_window(current_window);
  }
  terminate_started();
  exit(code);
}

[[noreturn]] void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  stop_run(1, format, args);
}

[[noreturn]] void scenario_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  stop_run(2, format, args);
}

// --- parsing --------------------------------------------------------------------------------------

std::string expand_variables(const std::string& line) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == '$' && i + 1 < line.size() && line[i + 1] == '{') {
      size_t end = line.find('}', i + 2);
      if (end == std::string::npos) scenario_error("unterminated ${ in the line");
      std::string name = line.substr(i + 2, end - i - 2);
      // Read as UTF-8 so that a Japanese path in a variable survives to to_cp932 below.
      std::wstring wide_name(name.begin(), name.end());
      DWORD length = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
      if (length == 0) scenario_error("environment variable %s is not set", name.c_str());
      std::wstring value(length, L'\0');
      length = GetEnvironmentVariableW(wide_name.c_str(), &value[0], length);
      value.resize(length);
      int n = WideCharToMultiByte(CP_UTF8, 0, value.data(), (int)value.size(), nullptr, 0, nullptr, nullptr);
      std::string utf8(n > 0 ? n : 0, '\0');
      if (n > 0) WideCharToMultiByte(CP_UTF8, 0, value.data(), (int)value.size(), &utf8[0], n, nullptr, nullptr);
      out += utf8;
      i = end + 1;
    } else {
      out += line[i++];
    }
  }
  return out;
}

std::vector<std::string> split_line(const std::string& raw) {
  std::string line = expand_variables(raw);
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') { closed = true; break; }
        if (c == '\\' && i < line.size()) {
          char e = line[i++];
          if (e == 'n') word += '\n';
          else if (e == 't') word += '\t';
          else if (e == 'r') word += '\r';
          else word += e;
        } else {
          word += c;
        }
      }
      if (!closed) scenario_error("unterminated quote");
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

bool is_number(const std::string& word) {
  if (word.empty()) return false;
  bool digit = false, dot = false;
  for (char c : word) {
    if (c >= '0' && c <= '9') digit = true;
    else if (c == '.' && !dot) dot = true;
    else return false;
  }
  return digit;
}

// Takes a trailing plain number off the words as a timeout in seconds.
DWORD take_timeout(std::vector<std::string>& words, size_t min_words) {
  if (words.size() > min_words && is_number(words.back())) {
    double seconds = atof(words.back().c_str());
    words.pop_back();
    return (DWORD)(seconds * 1000.0);
  }
  return default_timeout_ms;
}

long parse_long(const std::string& word, const char* what) {
  char* end = nullptr;
  long value = strtol(word.c_str(), &end, 0);
  if (word.empty() || *end != '\0') scenario_error("%s: not a number: %s", what, word.c_str());
  return value;
}

int parse_id(const std::string& word) {
  char* end = nullptr;
  unsigned long value = strtoul(word.c_str(), &end, 0);
  if (word.empty() || *end != '\0' || value > 0xFFFF) scenario_error("bad control id: %s", word.c_str());
  return (int)value;
}

int parse_flag(const std::string& word) {
  if (word == "0") return 0;
  if (word == "1") return 1;
  scenario_error("expected 0 or 1, got %s", word.c_str());
}

void need(const std::vector<std::string>& words, size_t count, const char* usage) {
  if (words.size() != count) scenario_error("usage: %s", usage);
}

// --- window helpers --------------------------------------------------------------------------------

std::string window_text(HWND window) {
  // Sent with a timeout: a window whose thread is busy must not hang the driver.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return std::string();
  std::vector<wchar_t> buffer(length + 2, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  buffer[buffer.size() - 1] = L'\0';
  return wide_to_cp932_text(buffer.data());
}

std::string class_name(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

void dump_window(HWND window) {
  say("  window %p class %s caption %s\n", (void*)window, class_name(window).c_str(),
      shown(window_text(window)).c_str());
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, (POINT*)&r, 2);
    std::string cls = class_name(child);
    int checked = -1;
    if (_stricmp(cls.c_str(), "Button") == 0) {
      DWORD_PTR state = 0;
      SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
      checked = (int)state;
    }
    say("    id %5d  %-18s %s%s%s  (%ld,%ld %ldx%ld)%s\n", GetDlgCtrlID(child), cls.c_str(),
        IsWindowVisible(child) ? "visible" : "hidden",
        IsWindowEnabled(child) ? "" : " disabled",
        checked == 1 ? " checked" : "", r.left, r.top, r.right - r.left, r.bottom - r.top,
        (" " + shown(window_text(child))).c_str());
  }
}

started_process& current() {
  if (current_process < 0) scenario_error("no process started");
  return processes[current_process];
}

struct window_query {
  DWORD pid;
  bool by_class;
  std::string class_name;  // ASCII
  bool by_caption;
  std::string caption;     // CP932
  std::vector<HWND> found;
  std::vector<int> with_ids;
};

BOOL CALLBACK collect_window(HWND window, LPARAM param) {
  window_query* q = (window_query*)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != q->pid || !IsWindowVisible(window)) return TRUE;
  if (q->by_class && _stricmp(class_name(window).c_str(), q->class_name.c_str()) != 0) return TRUE;
  if (q->by_caption && window_text(window) != q->caption) return TRUE;
  for (int id : q->with_ids)
    if (!GetDlgItem(window, id)) return TRUE;
  q->found.push_back(window);
  return TRUE;
}

std::vector<HWND> visible_windows(DWORD pid) {
  window_query q{pid, false, "", false, "", {}, {}};
  EnumWindows(collect_window, (LPARAM)&q);
  return q.found;
}

std::string describe_windows(DWORD pid) {
  std::string out;
  for (HWND w : visible_windows(pid)) {
    if (!out.empty()) out += ", ";
    out += class_name(w) + " " + shown(window_text(w));
  }
  return out.empty() ? "none" : out;
}

HWND control(int id) {
  if (!current_window || !IsWindow(current_window)) fail("no current window (wait-window first)");
  HWND child = GetDlgItem(current_window, id);
  if (!child) fail("control %d not found in the current window", id);
  return child;
}

bool process_ended(started_process& p, DWORD* code) {
  if (WaitForSingleObject(p.info.hProcess, 0) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(p.info.hProcess, code);
  return true;
}

// --- the screenshot ---------------------------------------------------------------------------------

int save_screenshot(const std::string& path) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return -1;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  int result = -1;
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    DWORD image_size = stride * (DWORD)height;
    BITMAPFILEHEADER file_header;
    ZeroMemory(&file_header, sizeof file_header);
    file_header.bfType = 0x4D42;
    file_header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file_header.bfSize = file_header.bfOffBits + image_size;
    info.bmiHeader.biSizeImage = image_size;
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
      bool ok = fwrite(&file_header, sizeof file_header, 1, f) == 1 &&
                fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
                fwrite(bits, 1, image_size, f) == image_size;
      if (fclose(f) == 0 && ok) result = 0;
    }
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return result;
}

// --- clipboard ------------------------------------------------------------------------------------

bool open_clipboard() {
  // Another process may hold it for a moment.
  for (int i = 0; i < 50; ++i) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(20);
  }
  return false;
}

// Returns false when there is no CF_TEXT.
bool clipboard_text(std::string* out) {
  if (!open_clipboard()) fail("the clipboard cannot be opened");
  bool have = false;
  HANDLE data = GetClipboardData(CF_TEXT);
  if (data) {
    const char* text = (const char*)GlobalLock(data);
    if (text) {
      size_t limit = GlobalSize(data);
      size_t n = 0;
      while (n < limit && text[n]) ++n;
      out->assign(text, n);
      have = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return have;
}

// --- keys ----------------------------------------------------------------------------------------

void post_key(WORD vk) {
  if (current_process < 0) scenario_error("no process started");
  if (!current_window || !IsWindow(current_window)) fail("no current window (wait-window first)");
  // The focused control when it lies in the current window, else the window itself: the
  // dialog's IsDialogMessage handles either (Enter as the default button, Esc as Cancel).
  DWORD thread = GetWindowThreadProcessId(current_window, nullptr);
  GUITHREADINFO gui;
  ZeroMemory(&gui, sizeof gui);
  gui.cbSize = sizeof gui;
  HWND target = current_window;
  if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus &&
      (gui.hwndFocus == current_window || IsChild(current_window, gui.hwndFocus)))
    target = gui.hwndFocus;
  UINT scan = MapVirtualKeyA(vk, 0);
  PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
  say("  to %s id %d\n", class_name(target).c_str(), GetDlgCtrlID(target));
}

// --- commands ---------------------------------------------------------------------------------------

void cmd_start(std::vector<std::string>& w) {
  if (w.size() < 2) scenario_error("usage: start PATH [ARGS...]");
  std::string path = w[1];
  std::string command_line = "\"" + path + "\"";
  for (size_t i = 2; i < w.size(); ++i) command_line += " " + w[i];
  std::string folder = path;
  size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  started_process p;
  ZeroMemory(&p.info, sizeof p.info);
  p.path = w[1];
  std::wstring line = utf8_to_wide(command_line), wide_folder = utf8_to_wide(folder);
  // Wine now and then answers a start with ERROR_INTERNAL_ERROR while its server is busy
  // (seen right after a locale switch): tried again before the scenario fails.
  DWORD error = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : wide_folder.c_str(), &si, &p.info)) {
      error = 0;
      break;
    }
    error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(500);
  }
  if (error != 0) fail("cannot start %s (error %lu)", w[1].c_str(), error);
  processes.push_back(p);
  current_process = (int)processes.size() - 1;
  current_window = nullptr;
  say("  process #%d pid %lu\n", current_process + 1, p.info.dwProcessId);
}

// The newest running process of that image, or 0: process ids are not ordered, so
// compare the creation times.
DWORD newest_process(const std::string& image) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  DWORD best_pid = 0;
  ULONGLONG best_time = 0;
  if (snap != INVALID_HANDLE_VALUE && Process32First(snap, &entry)) {
    do {
      if (_stricmp(entry.szExeFile, image.c_str()) != 0) continue;
      HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
      if (!h) continue;
      FILETIME created, exited, kernel, user;
      if (GetProcessTimes(h, &created, &exited, &kernel, &user)) {
        ULONGLONG t = ((ULONGLONG)created.dwHighDateTime << 32) | created.dwLowDateTime;
        if (!best_pid || t > best_time) {
          best_pid = entry.th32ProcessID;
          best_time = t;
        }
      }
      CloseHandle(h);
    } while (Process32Next(snap, &entry));
  }
  if (snap != INVALID_HANDLE_VALUE) CloseHandle(snap);
  return best_pid;
}

// Without a timeout the process must be running already; with one it may still come.
void cmd_attach(const std::string& image, DWORD timeout) {
  DWORD begin = GetTickCount();
  DWORD best_pid = newest_process(image);
  while (!best_pid && GetTickCount() - begin < timeout) {
    Sleep(poll_ms);
    best_pid = newest_process(image);
  }
  if (!best_pid) fail("no running process %s", image.c_str());
  started_process p;
  ZeroMemory(&p.info, sizeof p.info);
  p.path = image;
  p.info.dwProcessId = best_pid;
  p.info.hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, best_pid);
  if (!p.info.hProcess) fail("cannot open process %lu (error %lu)", best_pid, GetLastError());
  // Its main thread is the oldest of its threads.
  HANDLE threads = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 t;
  t.dwSize = sizeof t;
  if (threads != INVALID_HANDLE_VALUE && Thread32First(threads, &t)) {
    do {
      if (t.th32OwnerProcessID == best_pid) {
        p.info.dwThreadId = t.th32ThreadID;
        break;
      }
    } while (Thread32Next(threads, &t));
  }
  if (threads != INVALID_HANDLE_VALUE) CloseHandle(threads);
  processes.push_back(p);
  current_process = (int)processes.size() - 1;
  current_window = nullptr;
  say("  process #%d pid %lu\n", current_process + 1, best_pid);
}

// Polls for windows matching q until one shows (1), its process ends (-1, *code its exit
// code) or timeout ms pass (0).
// Most looks go through the windows of the process's first thread only: under Wine each
// window looked at costs the server a request, and a look over every window of the desktop
// every few milliseconds would load the server the measured program shares. Every tenth
// look takes all windows, for one that another thread shows.
int poll_windows(window_query& q, DWORD begin, DWORD timeout, DWORD* code) {
  DWORD thread = current().info.dwThreadId;
  for (unsigned look = 0;; ++look) {
    q.found.clear();
    if (thread && look % 10 != 9)
      EnumThreadWindows(thread, collect_window, (LPARAM)&q);
    else
      EnumWindows(collect_window, (LPARAM)&q);
    if (!q.found.empty()) return 1;
    if (process_ended(current(), code)) return -1;
    if (GetTickCount() - begin > timeout) return 0;
    Sleep(poll_ms);
  }
}

void cmd_wait_window(std::vector<std::string>& w) {
  DWORD timeout = take_timeout(w, 2);
  window_query q{current().info.dwProcessId, false, "", false, "", {}, {}};
  std::string with_text;
  while (w.size() > 2 && w.back().compare(0, 5, "with:") == 0) {
    q.with_ids.push_back(parse_id(w.back().substr(5)));
    with_text = " with child " + w.back().substr(5) + with_text;
    w.pop_back();
  }
  if (w.size() < 2 || w.size() > 3)
    scenario_error("usage: wait-window CAPTION|class:NAME [CAPTION] [with:ID...] [TIMEOUT]");
  std::string what;
  if (w[1].compare(0, 6, "class:") == 0) {
    q.by_class = true;
    q.class_name = w[1].substr(6);
    what = "class " + q.class_name;
    if (w.size() == 3) {
      q.by_caption = true;
      q.caption = to_cp932(w[2]);
      what += " caption " + shown(q.caption);
    }
  } else {
    if (w.size() != 2) scenario_error("usage: wait-window CAPTION [TIMEOUT]");
    q.by_caption = true;
    q.caption = to_cp932(w[1]);
    what = "caption " + shown(q.caption);
  }
  what += with_text;
  DWORD begin = GetTickCount(), code = 0;
  int found = poll_windows(q, begin, timeout, &code);
  if (found < 0)
    fail("process #%d ended with exit code %ld while waiting for a window with %s", current_process + 1,
         (long)code, what.c_str());
  if (found == 0)
    fail("no window with %s after %lu ms; visible windows: %s", what.c_str(), (unsigned long)timeout,
         describe_windows(current().info.dwProcessId).c_str());
  current_window = q.found[0];
  say("  found %s %s after %lu ms\n", class_name(current_window).c_str(),
      shown(window_text(current_window)).c_str(), (unsigned long)(GetTickCount() - begin));
}

// A message box that may or may not come (a notice some systems get): answered with OK
// when it comes within the timeout, its text reported; else the scenario goes on.
void cmd_dismiss_box(std::vector<std::string>& w) {
  DWORD timeout = take_timeout(w, 1);
  need(w, 1, "dismiss-box [TIMEOUT]");
  window_query q{current().info.dwProcessId, true, "#32770", false, "", {}, {0xFFFF}};
  DWORD begin = GetTickCount(), code = 0;
  if (poll_windows(q, begin, timeout, &code) != 1) {
    say("  no box\n");
    return;
  }
  current_window = q.found[0];
  say("  box: %s\n", shown(window_text(GetDlgItem(current_window, 0xFFFF))).c_str());
  PostMessageA(current_window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(current_window, IDOK));
  while (IsWindow(current_window) && GetTickCount() - begin < timeout + 10000) Sleep(poll_ms);
  current_window = nullptr;
}

void cmd_wait_gone(std::vector<std::string>& w) {
  DWORD timeout = take_timeout(w, 1);
  need(w, 1, "wait-gone [TIMEOUT]");
  if (!current_window) scenario_error("no current window");
  DWORD begin = GetTickCount();
  while (IsWindow(current_window)) {
    if (GetTickCount() - begin > timeout)
      fail("the window %s is still there after %lu ms", shown(window_text(current_window)).c_str(),
           (unsigned long)timeout);
    Sleep(poll_ms);
  }
  current_window = nullptr;
  say("  gone after %lu ms\n", (unsigned long)(GetTickCount() - begin));
}

void cmd_wait_exit(std::vector<std::string>& w) {
  DWORD timeout = take_timeout(w, 2);
  need(w, 2, "wait-exit CODE|any [TIMEOUT]");
  started_process& p = current();
  if (WaitForSingleObject(p.info.hProcess, timeout) != WAIT_OBJECT_0)
    fail("process #%d still running after %lu ms; visible windows: %s", current_process + 1,
         (unsigned long)timeout, describe_windows(p.info.dwProcessId).c_str());
  DWORD code = 0;
  GetExitCodeProcess(p.info.hProcess, &code);
  current_window = nullptr;
  if (w[1] == "any") {
    say("  exit code %ld\n", (long)code);
    return;
  }
  long long expected = strtoll(w[1].c_str(), nullptr, 0);
  if ((DWORD)expected != code)
    fail("exit code %ld (0x%08lx), expected %s", (long)code, (unsigned long)code, w[1].c_str());
  say("  exit code %ld\n", (long)code);
}

void cmd_expect_text(std::vector<std::string>& w, bool contains) {
  need(w, 3, contains ? "expect-text-has ID TEXT" : "expect-text ID TEXT");
  int id = parse_id(w[1]);
  std::string have = window_text(control(id));
  std::string want = to_cp932(w[2]);
  bool ok = contains ? have.find(want) != std::string::npos : have == want;
  if (!ok)
    fail("control %d holds %s, expected %s%s", id, shown(have).c_str(),
         contains ? "it to contain " : "", shown(want).c_str());
  say("  %s\n", shown(have).c_str());
}

void cmd_wait_text(std::vector<std::string>& w) {
  DWORD timeout = take_timeout(w, 3);
  need(w, 3, "wait-text ID TEXT [TIMEOUT]");
  int id = parse_id(w[1]);
  std::string want = to_cp932(w[2]);
  DWORD begin = GetTickCount();
  std::string have;
  for (;;) {
    have = window_text(control(id));
    if (have == want) break;
    if (GetTickCount() - begin > timeout)
      fail("control %d holds %s after %lu ms, expected %s", id, shown(have).c_str(),
           (unsigned long)timeout, shown(want).c_str());
    Sleep(poll_ms);
  }
  say("  %s after %lu ms\n", shown(have).c_str(), (unsigned long)(GetTickCount() - begin));
}

void cmd_expect_buttons(std::vector<std::string>& w) {
  if (w.size() < 2) scenario_error("usage: expect-buttons ID=TEXT ...");
  if (!current_window || !IsWindow(current_window)) fail("no current window");
  std::vector<std::pair<int, std::string>> want;
  for (size_t i = 1; i < w.size(); ++i) {
    size_t eq = w[i].find('=');
    if (eq == std::string::npos) scenario_error("expected ID=TEXT, got %s", w[i].c_str());
    want.push_back({parse_id(w[i].substr(0, eq)), to_cp932(w[i].substr(eq + 1))});
  }
  std::vector<std::pair<int, std::string>> have;
  for (HWND c = GetWindow(current_window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (_stricmp(class_name(c).c_str(), "Button") == 0 && IsWindowVisible(c))
      have.push_back({GetDlgCtrlID(c), window_text(c)});
  std::string listing;
  for (auto& h : have) listing += " " + std::to_string(h.first) + "=" + shown(h.second);
  for (auto& x : want) {
    bool found = false;
    for (auto& h : have) found = found || (h == x);
    if (!found)
      fail("no visible button %d=%s; the visible buttons are:%s", x.first, shown(x.second).c_str(),
           listing.c_str());
  }
  if (have.size() != want.size())
    fail("%u visible buttons, expected %u:%s", (unsigned)have.size(), (unsigned)want.size(),
         listing.c_str());
  say(" %s\n", listing.c_str());
}

void post_command(int id, HWND child) {
  PostMessageA(current_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)child);
}

bool run_command(std::vector<std::string>& w) {
  const std::string& c = w[0];
  if (c == "start") {
    cmd_start(w);
  } else if (c == "use") {
    need(w, 2, "use N");
    long n = parse_long(w[1], "use");
    if (n < 1 || n > (long)processes.size()) scenario_error("no process #%ld", n);
    current_process = (int)n - 1;
    current_window = nullptr;
  } else if (c == "attach") {
    DWORD timeout = w.size() > 2 ? take_timeout(w, 2) : 0;
    need(w, 2, "attach NAME [TIMEOUT]");
    cmd_attach(w[1], timeout);
  } else if (c == "wait-exit") {
    cmd_wait_exit(w);
  } else if (c == "expect-running") {
    need(w, 1, "expect-running");
    DWORD code = 0;
    if (process_ended(current(), &code)) fail("process #%d has ended with %ld", current_process + 1, (long)code);
  } else if (c == "post-quit") {
    need(w, 2, "post-quit CODE");
    long code = parse_long(w[1], "post-quit");
    if (!PostThreadMessageA(current().info.dwThreadId, WM_QUIT, (WPARAM)code, 0))
      fail("PostThreadMessage failed (error %lu)", GetLastError());
  } else if (c == "kill-image") {
    need(w, 2, "kill-image NAME");
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    int killed = 0;
    if (snap != INVALID_HANDLE_VALUE && Process32First(snap, &entry)) {
      do {
        if (_stricmp(entry.szExeFile, w[1].c_str()) == 0) {
          HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
          if (h) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
            ++killed;
          }
        }
      } while (Process32Next(snap, &entry));
    }
    if (snap != INVALID_HANDLE_VALUE) CloseHandle(snap);
    say("  %d terminated\n", killed);
  } else if (c == "wait-window") {
    cmd_wait_window(w);
  } else if (c == "dismiss-box") {
    cmd_dismiss_box(w);
  } else if (c == "expect-window-count") {
    need(w, 2, "expect-window-count N");
    long n = parse_long(w[1], "expect-window-count");
    DWORD pid = current().info.dwProcessId;
    long have = (long)visible_windows(pid).size();
    if (have != n) fail("%ld visible windows, expected %ld: %s", have, n, describe_windows(pid).c_str());
  } else if (c == "wait-gone") {
    cmd_wait_gone(w);
  } else if (c == "expect-caption") {
    need(w, 2, "expect-caption TEXT");
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    std::string have = window_text(current_window), want = to_cp932(w[1]);
    if (have != want) fail("caption %s, expected %s", shown(have).c_str(), shown(want).c_str());
  } else if (c == "expect-topmost") {
    need(w, 2, "expect-topmost 0|1");
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    int want = parse_flag(w[1]);
    int have = (GetWindowLongA(current_window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0;
    if (have != want) fail("topmost is %d, expected %d", have, want);
  } else if (c == "dump") {
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    dump_window(current_window);
  } else if (c == "expect-text") {
    cmd_expect_text(w, false);
  } else if (c == "expect-text-has") {
    cmd_expect_text(w, true);
  } else if (c == "wait-text") {
    cmd_wait_text(w);
  } else if (c == "expect-absent") {
    need(w, 2, "expect-absent ID");
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    int id = parse_id(w[1]);
    HWND child = GetDlgItem(current_window, id);
    if (child) fail("control %d exists (%s %s)", id, class_name(child).c_str(), shown(window_text(child)).c_str());
  } else if (c == "expect-visible" || c == "expect-enabled" || c == "expect-checked") {
    need(w, 3, (c + " ID 0|1").c_str());
    int id = parse_id(w[1]);
    int want = parse_flag(w[2]);
    HWND child = control(id);
    int have;
    if (c == "expect-visible") have = IsWindowVisible(child) ? 1 : 0;
    else if (c == "expect-enabled") have = IsWindowEnabled(child) ? 1 : 0;
    else {
      DWORD_PTR state = 0;
      SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
      have = state == BST_CHECKED ? 1 : 0;
    }
    if (have != want) fail("%s: control %d gives %d, expected %d", c.c_str(), id, have, want);
  } else if (c == "expect-buttons") {
    cmd_expect_buttons(w);
  } else if (c == "click") {
    need(w, 2, "click ID");
    int id = parse_id(w[1]);
    HWND child = control(id);
    if (!IsWindowVisible(child)) fail("control %d is hidden", id);
    if (!IsWindowEnabled(child)) fail("control %d is disabled", id);
    say("  %s\n", shown(window_text(child)).c_str());
    post_command(id, child);
  } else if (c == "command") {
    need(w, 2, "command ID");
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    int id = parse_id(w[1]);
    post_command(id, GetDlgItem(current_window, id));
  } else if (c == "check") {
    need(w, 3, "check ID 0|1");
    HWND child = control(parse_id(w[1]));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(child, BM_SETCHECK, parse_flag(w[2]) ? BST_CHECKED : BST_UNCHECKED, 0,
                        SMTO_ABORTIFHUNG, 5000, &ignored);
  } else if (c == "set-text") {
    need(w, 3, "set-text ID TEXT");
    HWND child = control(parse_id(w[1]));
    std::wstring text = utf8_to_wide(w[2]);
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(child, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 5000, &ignored))
      fail("WM_SETTEXT timed out");
  } else if (c == "key") {
    need(w, 2, "key enter|esc|tab|space");
    WORD vk = w[1] == "enter" ? VK_RETURN : w[1] == "esc" ? VK_ESCAPE : w[1] == "tab" ? VK_TAB
            : w[1] == "space" ? VK_SPACE : 0;
    if (!vk) scenario_error("unknown key %s", w[1].c_str());
    post_key(vk);
  } else if (c == "close" || c == "wm-close") {
    need(w, 1, c.c_str());
    if (!current_window || !IsWindow(current_window)) fail("no current window");
    if (c == "close") PostMessageA(current_window, WM_SYSCOMMAND, SC_CLOSE, 0);
    else PostMessageA(current_window, WM_CLOSE, 0, 0);
  } else if (c == "expect-clipboard") {
    need(w, 2, "expect-clipboard TEXT");
    std::string have;
    if (!clipboard_text(&have)) fail("no CF_TEXT on the clipboard, expected %s", shown(to_cp932(w[1])).c_str());
    if (have != to_cp932(w[1]))
      fail("the clipboard holds %s, expected %s", shown(have).c_str(), shown(to_cp932(w[1])).c_str());
    say("  %s\n", shown(have).c_str());
  } else if (c == "expect-clipboard-empty") {
    need(w, 1, "expect-clipboard-empty");
    std::string have;
    if (clipboard_text(&have)) fail("the clipboard holds %s, expected no text", shown(have).c_str());
  } else if (c == "clear-clipboard") {
    need(w, 1, "clear-clipboard");
    if (!open_clipboard()) fail("the clipboard cannot be opened");
    EmptyClipboard();
    CloseClipboard();
  } else if (c == "sleep") {
    need(w, 2, "sleep MS");
    Sleep((DWORD)parse_long(w[1], "sleep"));
  } else if (c == "timeout") {
    need(w, 2, "timeout SECONDS");
    if (!is_number(w[1])) scenario_error("timeout: not a number: %s", w[1].c_str());
    default_timeout_ms = (DWORD)(atof(w[1].c_str()) * 1000.0);
  } else if (c == "poll") {
    need(w, 2, "poll MS");
    poll_ms = (DWORD)parse_long(w[1], "poll");
    if (poll_ms == 0) poll_ms = 1;
  } else if (c == "echo") {
    std::string text;
    for (size_t i = 1; i < w.size(); ++i) text += (i > 1 ? " " : "") + w[i];
    say("  %s\n", text.c_str());
  } else if (c == "screenshot") {
    need(w, 2, "screenshot FILE.bmp");
    if (save_screenshot(to_cp932(w[1])) != 0) fail("cannot write the screenshot %s", w[1].c_str());
  } else {
    return false;
  }
  return true;
}

}  // namespace
}  // namespace talven

int main(int argc, char** argv) {
  using namespace talven;
  if (argc != 2) {
    fprintf(stderr, "usage: uidriver SCENARIO|-\n");
    return 2;
  }
  FILE* in = strcmp(argv[1], "-") == 0 ? stdin : fopen(argv[1], "rb");
  if (!in) {
    fprintf(stderr, "uidriver: cannot open %s\n", argv[1]);
    return 2;
  }
  std::string line;
  int ch;
  bool more = true;
  while (more) {
    line.clear();
    while ((ch = fgetc(in)) != EOF && ch != '\n') line += (char)ch;
    more = ch != EOF;
    ++line_number;
    size_t lead = line.find_first_not_of(" \t\r");
    if (lead == std::string::npos || line[lead] == '#') continue;
    std::vector<std::string> words = split_line(line);
    if (words.empty() || words[0][0] == '#') continue;
    ++step_number;
    std::string shown_line = line;
    while (!shown_line.empty() && (shown_line.back() == '\r' || shown_line.back() == ' ')) shown_line.pop_back();
    size_t first = shown_line.find_first_not_of(" \t");
    say("[%d] %s\n", step_number, shown_line.c_str() + (first == std::string::npos ? 0 : first));
    if (!run_command(words)) scenario_error("unknown command %s", words[0].c_str());
  }
  say("OK: %d steps\n", step_number);
  return 0;
}
