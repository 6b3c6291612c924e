// The progress dialogs COPYING (one bar) and COPYINGDELUX (two bars) and the message pump
// that keeps them, and every other window of the thread, alive during long work.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/wide.h"
#include "package/package_format.h"
#include "package/progress.h"
#include "resource_ids.h"
#include "base/services.h"

namespace talven {


namespace {

HWND animation_control = nullptr;
int32_t extraction_total = 0;

constexpr int file_bar = IDC_FILE_BAR;
constexpr int file_name_text = IDC_FILE_NAME;
constexpr int total_bar = IDC_TOTAL_BAR;
constexpr int animation_id = IDC_ANIMATION;
constexpr int cancel_button = IDCANCEL;

// What the open dialog shows now. Under Wine a bar repaint costs about a millisecond and
// a text repaint a third of that, so long work would spend most of its time drawing the
// same picture again: a message goes out only when what it shows changes, for a bar the
// filled width in pixels, not just its position.
struct shown_bar {
  HWND control;  // looked up once: under Wine each GetDlgItem asks the server
  int range;     // top of the bar's range, 0 .. range
  int position;  // the last position sent
  int fill;      // filled pixels at that position; -1 after a range change
  int width;     // client width of the bar in pixels
  int wanted;    // the position to send at the next tick
};

struct shown_progress {
  shown_bar file;
  shown_bar total;
  HWND name;  // the file name control
  char text[260];
};
shown_progress shown;
DWORD last_shown = 0;  // GetTickCount of the last tick that sent and pumped
// Between ticks the name control keeps what it is sent in its own procedure (held_name):
// each text a static control takes costs server calls under Wine, and it paints itself at
// once, so each file would cost a paint nobody can see. It takes on the last name at the
// tick. Reading its text meanwhile gives the held name.
int name_held = 0;
wchar_t held_name[260];
WNDPROC name_control_proc = nullptr;  // the control's own procedure; null: not kept apart

LRESULT CALLBACK held_name_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
  if (name_held) {
    size_t length = std::wcslen(held_name);
    switch (message) {
      case WM_SETTEXT: {
        const wchar_t* text = lparam ? reinterpret_cast<const wchar_t*>(lparam) : L"";
        size_t n = std::wcslen(text);
        if (n >= (sizeof held_name / sizeof held_name[0])) n = (sizeof held_name / sizeof held_name[0]) - 1;
        std::wmemcpy(held_name, text, n);
        held_name[n] = L'\0';
        return TRUE;
      }
      case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(length);
      case WM_GETTEXT: {
        if (wparam == 0 || !lparam) return 0;
        size_t n = length < wparam - 1 ? length : wparam - 1;
        std::wmemcpy(reinterpret_cast<wchar_t*>(lparam), held_name, n);
        reinterpret_cast<wchar_t*>(lparam)[n] = L'\0';
        return static_cast<LRESULT>(n);
      }
      default:
        break;
    }
  }
  return CallWindowProcW(name_control_proc, control, message, wparam, lparam);
}

shown_bar* bar_of(int id) { return id == total_bar ? &shown.total : &shown.file; }

// As a dialog starts: both bars at 0 of 0..range.
void reset_bar(int id, int range) {
  shown_bar* bar = bar_of(id);
  bar->control = GetDlgItem(state().progress_dialog, id);
  bar->range = range;
  bar->position = 0;
  bar->wanted = 0;
  bar->fill = 0;
  RECT client = {0, 0, 0, 0};
  GetClientRect(bar->control, &client);
  bar->width = client.right - client.left;
}

int fill_of(const shown_bar* bar, int position) {
  if (bar->range <= 0) return 0;
  if (position > bar->range) position = bar->range;
  if (position < 0) position = 0;
  return static_cast<int>(static_cast<int64_t>(position) * bar->width / bar->range);
}

// Bytes in steps of one block, within what a bar position holds.
int steps_of(int64_t bytes) {
  int64_t steps = bytes / package_block;
  return steps > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(steps);
}

void open_clip(HWND animation) {
  // A null instance lets the control take the clip from the module it was created for,
  // which is the program's own when the dialog came from it.
  if (SendMessageW(animation, ACM_OPENW, 0, reinterpret_cast<LPARAM>(L"AVI_FILECOPY"))) return;
  // A dialog created without any instance leaves the control without one as well; the
  // clip is then only found by naming the program's module outright.
  SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(GetModuleHandleW(nullptr)),
               reinterpret_cast<LPARAM>(L"AVI_FILECOPY"));
}

INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      center_on_top(dialog);
      SendDlgItemMessageW(dialog, file_name_text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
      SendDlgItemMessageW(dialog, file_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
      SendDlgItemMessageW(dialog, file_bar, PBM_SETPOS, 0, 0);
      SendDlgItemMessageW(dialog, total_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
      SendDlgItemMessageW(dialog, total_bar, PBM_SETPOS, 0, 0);
      animation_control = GetDlgItem(dialog, animation_id);
      open_clip(animation_control);
      SendMessageW(animation_control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
      ShowWindow(animation_control, SW_SHOW);
      return TRUE;
    case WM_COMMAND:
      if (wparam == cancel_button) {
        state().copy_cancelled = 1;
        SendMessageW(animation_control, ACM_STOP, 0, 0);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

HWND create_progress_dialog(const wchar_t* resource) {
  state().progress_dialog = CreateDialogParamW(owner_instance(), resource, main_window(), progress_dialog_proc, 0);
  shown.text[0] = '\0';
  shown.name = GetDlgItem(state().progress_dialog, file_name_text);
  name_control_proc = shown.name ? reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                                        shown.name, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(held_name_proc)))
                                  : nullptr;
  reset_bar(file_bar, 1);
  reset_bar(total_bar, 1);
  last_shown = GetTickCount();
  name_held = 0;
  return state().progress_dialog;
}

void send_position(int id) {
  shown_bar* bar = bar_of(id);
  int step = bar->wanted;
  if (step == bar->position && bar->fill >= 0) return;
  int fill = fill_of(bar, step);
  if (fill == bar->fill) return;
  bar->position = step;
  bar->fill = fill;
  SendMessageW(bar->control, PBM_SETPOS, static_cast<WPARAM>(step), 0);
}

}  // namespace

int drain_messages() {
  int count = 0;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) std::exit(static_cast<int>(msg.wParam));
    TranslateMessage(&msg);
    // Registered messages (0xC000 and above) are broadcasts of other programs; dropped.
    if (msg.message < 0xC000) DispatchMessageW(&msg);
    ++count;
  }
  return count;
}

int close_progress_dialog() {
  if (!state().progress_dialog) return 1;
  DestroyWindow(state().progress_dialog);
  state().progress_dialog = nullptr;
  drain_messages();
  return 0;
}

int open_copy_dialog() {
  close_progress_dialog();
  if (!create_progress_dialog(L"COPYING")) return 0;
  drain_messages();
  return 1;
}

HWND open_extract_dialog(int32_t total) {
  extraction_total = total;
  state().copied_total = 0;
  close_progress_dialog();
  HWND dialog = create_progress_dialog(L"COPYINGDELUX");
  if (!dialog) return nullptr;
  drain_messages();
  int32_t steps = extraction_total / package_block;
  if (steps < 1) steps = 1;
  SendDlgItemMessageW(dialog, total_bar, PBM_SETRANGE, 0, MAKELPARAM(0, steps & 0xFFFF));
  SendDlgItemMessageW(dialog, total_bar, PBM_SETPOS, 0, 0);
  reset_bar(total_bar, steps & 0xFFFF);
  drain_messages();
  return dialog;
}

void show_progress_text(const char* text) {
  if (!state().progress_dialog || std::strcmp(shown.text, text) == 0) return;
  size_t n = std::strlen(text);
  if (n >= sizeof shown.text) n = sizeof shown.text - 1;
  std::memcpy(shown.text, text, n);
  shown.text[n] = '\0';
  if (name_control_proc) name_held = 1;  // kept by the control until the tick
  SendMessageW(shown.name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide_shown(text).text));
}

void show_progress_range(int id, int64_t bytes) {
  shown_bar* bar = bar_of(id);
  int top = steps_of(bytes) & 0xFFFF;
  if (!state().progress_dialog || top == bar->range) return;
  bar->range = top;
  bar->fill = -1;  // the control re-fits its position to the new range
  SendMessageW(bar->control, PBM_SETRANGE, 0, MAKELPARAM(0, top));
}

void show_progress_bytes(int id, int64_t bytes) { bar_of(id)->wanted = steps_of(bytes); }

int progress_tick() {
  // Unsigned difference: right across the counter's wrap after 49 days.
  if (GetTickCount() - last_shown < progress_interval_ms) return 0;
  return progress_show_now();
}

int progress_show_now() {
  if (state().progress_dialog) {
    send_position(file_bar);
    send_position(total_bar);
    if (name_held) {
      name_held = 0;
      CallWindowProcW(name_control_proc, shown.name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(held_name));
    }
  }
  int taken = drain_messages();
  last_shown = GetTickCount();
  return taken;
}

}  // namespace talven
