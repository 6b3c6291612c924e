// Process start-up and the work folder.
#pragma once

namespace talven {

extern char work_folder[260];
extern char start_directory[260];

// A new folder of a name nobody had, in the temporary folder, made current; work_folder
// stays empty when none can be made.
void create_work_folder();
// Its files (and links), each only when its name survives the CP932 round trip and the
// path lies inside the work folder; then the folder when empty.
void remove_work_folder();

// The process entry's body; returns the exit code.
int run_startup(void* instance);

}  // namespace talven
