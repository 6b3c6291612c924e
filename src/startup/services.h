// Small window and launch services used throughout the program.
#pragma once
#include <windows.h>

namespace talven {

// Owner of every later dialog and message box: the menu dialog once it has started,
// none before and in immediate-install mode.
HWND main_window();
void set_main_window(HWND window);

// Centres a window on the screen.
void center_on_screen(HWND window);

// Opens a file with the shell's "open" verb, owned by main_window, without waiting.
// Returns the ShellExecuteExA result (non-zero on success).
int open_with_shell(const char* path);

// Starts "path" (quoted) without waiting, hidden and at idle priority when hidden_idle
// is set; non-zero when the process started.
int start_program(const char* path, int hidden_idle);
int launch_program(const char* path);

// Instance handle for dialogs owned by main_window (the program's own module when none).
HINSTANCE owner_instance();

}  // namespace talven
