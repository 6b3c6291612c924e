// The engine's file resolver: finds a data file by its bare name.
#pragma once
#include <cstdio>

namespace talven {

// Keeps asking to retry until the file opens; never returns null.
FILE* open_engine_file(const char* name, const char* mode);
// One lookup; null when the name is nowhere.
FILE* try_open_engine_file(const char* name, const char* mode);
// Path of the file that holds the name into out (260 bytes), or null with out emptied.
char* locate_engine_file(const char* name, char* out);
int engine_file_exists(const char* name);
void set_open_as_given(int value);
// Optional base folder (carries its own trailing backslash); 0, or -1 when too long.
int set_base_folder(const char* folder);

}  // namespace talven
