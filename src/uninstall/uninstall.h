// UnInst.exe: removes what an install of the game wrote, from the install.env beside it.
#pragma once
#include "uninstall/uninstall_plan.h"

namespace talven {

// The program's body; it reads its own command line. Exit codes: 0
// after an uninstall (or the helper's clean-up), 1 when there is nothing to remove, -1
// when it stopped without removing anything.
int run_uninstall();

// Files of the install folder (uninstall_files_win.cpp).
// Carries out the plan in order; [delfiles_user] items only when keep_user is 0.
void remove_planned_files(const delete_plan* plan, const char* folder, int keep_user);
// Names (top level, folders with a trailing backslash) left in the folder, apart from the
// running program. Returns how many there are; at most `most` are copied into names.
int list_left_over(const char* folder, const char* program_name, char (*names)[uninstall_path_size], int most);
// Starts the helper that deletes the program once it has ended, then its folder when empty
// (called last, after the closing box); without a helper the deletion is left to the next
// restart. 0 when the helper started.
int start_self_removal(const char* program);
// The helper's side: remove_after_exit on the parent's handle, then its own copy at the
// next restart.
int run_cleanup(const char* args);
// Waits for the process (a handle) to end, however long that takes, then deletes the
// program and its folder when empty. 0, or -1 (not a handle to wait on, or a path that is
// not CP932).
int remove_after_exit(void* process, const char* program);

}  // namespace talven
