// Everything setup.exe and UnInst.exe keep for the whole run, in one place: what start-up
// made, what install.env listed, the menu's pictures and the open progress dialog. The
// destination is no part of it: it is handed down from the dialog that chose it.
#pragma once
#include <cstdint>

struct HWND__;  // a window handle's own type, so that this header needs no <windows.h>

namespace talven {

struct line_entry;
struct dib_image;

struct process_state {
  // Start-up (startup_win.cpp): the folder the menu files were unpacked into (empty when
  // none could be made), and the current folder the program was started in.
  char work_folder[260];
  char start_directory[260];

  // install.env's entry sections (sections.cpp), each in file order; null when absent.
  line_entry* delfiles_lines;
  line_entry* delfiles_user_lines;
  line_entry* ini_lines;
  line_entry* reg_lines;
  line_entry* regall_lines;

  // Every live decoded picture, newest first (rct_image_win.cpp).
  dib_image* image_list;

  // The open progress dialog (progress_win.cpp), null when none; its Cancel button's
  // mark, cleared by each copy; the bytes copied so far, the overall bar's position.
  HWND__* progress_dialog;
  int32_t copy_cancelled;
  int32_t copied_total;
  // 1: a full pass that succeeds leaves its dialog open, both bars at the end, for the
  // copy that follows to carry on in (one window instead of a second); the caller closes it.
  int32_t keep_extract_dialog;
};

// The one instance, zero at start.
process_state& state();

}  // namespace talven
