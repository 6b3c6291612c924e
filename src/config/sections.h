// The entry sections of install.env: [delfiles], [delfiles_user], [ini], [reg], [regall].
#pragma once
#include <cstdio>

namespace talven {

struct line_entry {
  char* text;
  line_entry* next;
};

extern line_entry* delfiles_lines;
extern line_entry* delfiles_user_lines;
extern line_entry* ini_lines;
extern line_entry* reg_lines;
extern line_entry* regall_lines;

// One line into area (512 bytes) with trailing bytes <= 0x20 removed; null at end of file.
char* read_trimmed_line(char* area, int size, FILE* stream);

// Portable core: 0 when read to the end or "EOF" with every section closed; -1 when a
// section is still open, with its name (without brackets) in *open_section.
int load_sections_stream(FILE* stream, const char** open_section);

// Frees the five lists, so that a test starts as a fresh process does.
void reset_sections_for_tests();

// Opens the file ("rt", current folder) and loads it; on failure shows the message and
// ends the program with -1.
void load_uninstall_sections(const char* file_name);

}  // namespace talven
