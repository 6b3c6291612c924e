// The progress dialogs COPYING (one bar) and COPYINGDELUX (two bars) and the message pump
// that keeps them, and every other window of the thread, alive during long work.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "package/package_format.h"
#include "package/progress.h"
#include "startup/services.h"

namespace talven {

HWND progress_dialog = nullptr;
int32_t copy_cancelled = 0;
int32_t copied_total = 0;

namespace {

HWND animation_control = nullptr;
int32_t extraction_total = 0;

constexpr int file_bar = 1010;
constexpr int file_name_text = 1012;
constexpr int total_bar = 1019;
constexpr int animation_id = 1020;
constexpr int cancel_button = 2;

void open_clip(HWND animation) {
  // A null instance lets the control take the clip from the module it was created for,
  // which is the program's own when the dialog came from it.
  if (SendMessageA(animation, ACM_OPENA, 0, reinterpret_cast<LPARAM>("AVI_FILECOPY"))) return;
  // A dialog created without any instance leaves the control without one as well; the
  // clip is then only found by naming the program's module outright.
  SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(GetModuleHandleA(nullptr)),
               reinterpret_cast<LPARAM>("AVI_FILECOPY"));
}

INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      center_on_screen(dialog);
      SendDlgItemMessageA(dialog, file_name_text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
      SendDlgItemMessageA(dialog, file_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
      SendDlgItemMessageA(dialog, file_bar, PBM_SETPOS, 0, 0);
      SendDlgItemMessageA(dialog, total_bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
      SendDlgItemMessageA(dialog, total_bar, PBM_SETPOS, 0, 0);
      animation_control = GetDlgItem(dialog, animation_id);
      open_clip(animation_control);
      SendMessageA(animation_control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
      ShowWindow(animation_control, SW_SHOW);
      SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      return TRUE;
    case WM_COMMAND:
      if (wparam == cancel_button) {
        copy_cancelled = 1;
        SendMessageA(animation_control, ACM_STOP, 0, 0);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

HWND create_progress_dialog(const char* resource) {
  progress_dialog = CreateDialogParamA(owner_instance(), resource, main_window(), progress_dialog_proc, 0);
  return progress_dialog;
}

}  // namespace

int drain_messages() {
  int count = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) std::exit(static_cast<int>(msg.wParam));
    TranslateMessage(&msg);
    // Registered messages (0xC000 and above) are broadcasts of other programs; dropped.
    if (msg.message < 0xC000) DispatchMessageA(&msg);
    ++count;
  }
  return count;
}

int close_progress_dialog() {
  if (!progress_dialog) return 1;
  DestroyWindow(progress_dialog);
  progress_dialog = nullptr;
  drain_messages();
  return 0;
}

int open_copy_dialog() {
  close_progress_dialog();
  if (!create_progress_dialog("COPYING")) return 0;
  drain_messages();
  return 1;
}

HWND open_extract_dialog(int32_t total) {
  extraction_total = total;
  copied_total = 0;
  close_progress_dialog();
  HWND dialog = create_progress_dialog("COPYINGDELUX");
  if (!dialog) return nullptr;
  drain_messages();
  int32_t steps = extraction_total / package_block;
  if (steps < 1) steps = 1;
  SendDlgItemMessageA(dialog, total_bar, PBM_SETRANGE, 0, MAKELPARAM(0, steps & 0xFFFF));
  SendDlgItemMessageA(dialog, total_bar, PBM_SETPOS, 0, 0);
  drain_messages();
  return dialog;
}

}  // namespace talven
