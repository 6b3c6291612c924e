// Progress dialogs (COPYING one bar, COPYINGDELUX two bars) and the message pump.
#pragma once
#include <windows.h>

#include <cstdint>

namespace talven {

extern HWND progress_dialog;
extern int32_t copy_cancelled;
extern int32_t copied_total;

int open_copy_dialog();
HWND open_extract_dialog(int32_t total);
int close_progress_dialog();
// Takes every queued message; a WM_QUIT ends the process with its wParam.
int drain_messages();

}  // namespace talven
