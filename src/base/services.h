// Small window and launch services used throughout the program.
#pragma once
#include <windows.h>

namespace talven {

// Owner of every later dialog and message box: the menu dialog once it has started,
// none before and in immediate-install mode.
HWND main_window();
void set_main_window(HWND window);

// Centres a window on the screen, above every window that is not topmost.
void center_on_top(HWND window);

// Opens a file with the shell's "open" verb, owned by main_window, without waiting.
// Returns the ShellExecuteExW result (non-zero on success).
int open_with_shell(const char* path);

// open_with_shell of name (a value of install.env) below folder, only when the joined path
// lies inside folder in full form: a name that is absolute, holds a colon or climbs out
// with ".." opens nothing. 0 when refused or not opened.
int open_inside(const char* folder, const char* name);

// Starts "path" (quoted) without waiting, hidden and at idle priority when hidden_idle
// is set; non-zero when the process started.
int start_program(const char* path, int hidden_idle);
int launch_program(const char* path);

// Instance handle for dialogs owned by main_window (the program's own module when none).
HINSTANCE owner_instance();

// DLLs loaded by name from here on come from the system folder only, never from the
// program's folder (a download folder) or the current one. A no-op where the system lacks
// SetDefaultDllDirectories (before Windows 7 with KB2533623); call it first thing.
void restrict_dll_search();

enum {
  instance_first = 0,        // this is the only copy
  instance_running = 1,      // another copy holds the gate
  instance_gate_unusable = 2,  // the name is taken by something else: start without the gate
};
// The single-instance gate: a mutex named in the session's own namespace (Local\), held
// until the process ends. A name that another program holds as another kind of object, or
// with an access list that refuses us, must not keep the program from ever starting.
int open_instance_gate(const char* name);

}  // namespace talven
