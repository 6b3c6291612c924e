// Process start-up and the work folder.
#pragma once

namespace talven {

extern char work_folder[260];
extern char start_directory[260];

void create_work_folder();
void remove_work_folder();
void delete_matching_files(const char* folder, const char* pattern);
int file_scan_begin(const char* pattern);
const char* file_scan_next();

// The process entry's body; returns the exit code.
int run_startup(void* instance);

}  // namespace talven
