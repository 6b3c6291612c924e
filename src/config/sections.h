// The entry sections of install.env: [delfiles], [delfiles_user], [ini], [reg], [regall].
#pragma once
#include <cstdio>

#include "base/process_state.h"  // the lists read below

namespace talven {

struct line_entry {
  char* text;
  line_entry* next;
};

// One line into area (512 bytes) with trailing bytes <= 0x20 removed; null at end of file.
char* read_trimmed_line(char* area, int size, FILE* stream);

// Portable core: 0 when read to the end or "EOF" with every section closed; -1 when a
// section is still open, with its name (without brackets) in *open_section.
int load_sections_stream(FILE* stream, const char** open_section);

// What load_sections_stream made of each line, for the maker's checker; the installer sets
// no hook. line_number counts physical lines from 1 (a line over 511 bytes is read in
// pieces that share its number); section is the name without brackets ("ini", "reg", ...)
// for section_line_open and section_line_entry, null otherwise; text is the trimmed line.
enum {
  section_line_open = 0,
  section_line_entry = 1,
  section_line_close = 2,
  section_line_end = 3,  // the "EOF" line
};
typedef void (*sections_line_hook)(void* context, int line_number, int kind, const char* section, const char* text);
void set_sections_line_hook(sections_line_hook hook, void* context);

// Frees the five lists, so that a test starts as a fresh process does.
void reset_sections_for_tests();

// Opens the file ("rt", current folder) and loads it; on failure shows the message and
// ends the program with -1.
void load_uninstall_sections(const char* file_name);

}  // namespace talven
