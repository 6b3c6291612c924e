// Error and question boxes owned by the main window, with the error text on the clipboard.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/services.h"
#include "base/messages.h"
#include "base/wide.h"

namespace talven {

namespace {

char caption[260];

// Formats into the caller's 1024-byte buffer; an over-long text is cut, never overrun.
void format_text(char (&text)[1024], const char* format, va_list args) {
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) text[0] = '\0';
}

int show_box(const char* text, UINT style, bool to_clipboard) {
  HWND owner = main_window();
  SetForegroundWindow(owner);
  if (to_clipboard) copy_text_to_clipboard(text);
  return message_box(owner, text, owner_title(), style);
}

}  // namespace

const char* owner_title() {
  caption[0] = '\0';
  HWND owner = main_window();
  if (!owner) return caption;
  wchar_t wide[sizeof caption];
  if (GetWindowTextW(owner, wide, sizeof caption) > 0) shown_to_cp932(wide, caption, sizeof caption);
  return caption;
}

int copy_text_to_clipboard(const char* text) {
  // As UTF-16: the system offers it as text in every program's code page, where CP932
  // bytes would paste as other characters on a system that is not Japanese.
  wide_text wide = wide_shown(text);
  size_t bytes = (std::wcslen(wide.text) + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!block) return -1;
  if (void* data = GlobalLock(block)) {
    std::memcpy(data, wide.text, bytes);
    GlobalUnlock(block);
  }
  OpenClipboard(GetActiveWindow());
  EmptyClipboard();
  // Once taken, the block belongs to the clipboard; a refused block is still ours to free.
  if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
  CloseClipboard();
  return 0;
}

void show_error(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  show_box(text, MB_OK | MB_ICONERROR | MB_TOPMOST, true);
}

void show_error_retry(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  if (show_box(text, MB_RETRYCANCEL | MB_ICONERROR | MB_TOPMOST, true) == IDCANCEL) std::exit(-1);
}

int ask_yes_no(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  return show_box(text, MB_YESNO | MB_ICONQUESTION, false) == IDYES ? 1 : 0;
}

int ask_yes_no_default_no(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  return show_box(text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, false) == IDYES ? 1 : 0;
}

void show_notice(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  show_box(text, MB_OK | MB_ICONINFORMATION, false);
}

}  // namespace talven
