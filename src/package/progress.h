// Progress dialogs (COPYING one bar, COPYINGDELUX two bars) and the message pump.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/process_state.h"  // progress_dialog, copy_cancelled, copied_total

namespace talven {

int open_copy_dialog();
HWND open_extract_dialog(int32_t total);
int close_progress_dialog();
// Takes every queued message; a WM_QUIT ends the process with its wParam.
int drain_messages();

// The one way long work shows itself in the open dialog (none open: nothing happens).
// Bars count bytes in steps of package_block (128 KiB); a message goes out only when the
// picture changes: a bar's filled width, or the text of the file name. The name and a
// bar's range are sent at once; bar positions are kept until the next progress_tick.
void show_progress_text(const char* text);
void show_progress_range(int bar, int64_t bytes);  // range 0 .. bytes / block
void show_progress_bytes(int bar, int64_t bytes);  // position bytes / block, by the next tick

// Called as often as convenient during long work: every progress_interval_ms at most it
// sends the bars' kept positions and takes the queued messages (repaints, Cancel), so
// the window stays live without drawing more often than anyone can see. Returns what
// drain_messages took, 0 between intervals.
constexpr unsigned progress_interval_ms = 40;
int progress_tick();
// The same at once, whatever the time (the last picture of a pass).
int progress_show_now();

}  // namespace talven
