// Process start-up and the work folder.
#pragma once
#include <cstddef>

#include "base/process_state.h"  // work_folder, start_directory

namespace talven {

// A new folder of a name nobody had, in the temporary folder, made current; work_folder
// stays empty when none can be made. -1 when the temporary folder has no CP932 form
// (its name then in foreign_temp, size characters, when given), else 0.
int create_work_folder(wchar_t* foreign_temp = nullptr, size_t size = 0);
// Its files (and links), each only when its name survives the CP932 round trip and the
// path lies inside the work folder; then the folder when empty.
void remove_work_folder();
// The files of folder matching pattern (links as links), by the rule above.
void delete_matching_files(const char* folder, const char* pattern);
// One enumeration at a time: 0 when the pattern matched anything (1 otherwise); then each
// file's path (the pattern's folder part and the name), null at the end.
int file_scan_begin(const char* pattern);
const char* file_scan_next();

// The process entry's body; returns the exit code.
int run_startup(void* instance);

}  // namespace talven
