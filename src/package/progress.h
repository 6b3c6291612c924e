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

// The one way long work shows itself in the open dialog (none open: nothing happens).
// Bars count bytes in steps of package_block (128 KiB); a message goes out only when the
// picture changes: a bar's filled width, or the text of the file name.
void show_progress_text(const char* text);
void show_progress_range(int bar, int64_t bytes);  // range 0 .. bytes / block
void show_progress_bytes(int bar, int64_t bytes);  // position bytes / block

}  // namespace talven
