// The install.env settings store: key/value lines, case-sensitive keys, first entry wins.
#pragma once
#include <cstddef>
#include <cstdio>

namespace talven {

// Loads file_name opened by open(file_name, "rt"): start-up gives the resolver's
// open-with-retry, so the store knows nothing of where files come from. 0 when read, -1
// without a stream.
typedef FILE* (*settings_opener)(const char* name, const char* mode);
int load_settings(const char* file_name, settings_opener open);
// Portable core of load_settings: reads an open text stream (not closed here).
int load_settings_stream(FILE* stream);
void free_settings();
// The first value of one key in an install.env stream, read by the store's rules (400
// lines, [EOF], "|" as a space, cut as setting_string cuts), without touching the store:
// another install's record, say. 0 when found, -1 (out untouched) when not.
int read_setting_from_stream(FILE* stream, const char* key, char* out, size_t size);
// Empties the store and every getter cache, so that a test starts as a fresh process does.
void reset_settings_for_tests();

// One text-mode line into area (size bytes, NUL-filled first): at most size - 1 bytes, up
// to and including LF, CR LF read as LF; a 0x1A byte ends the file. Null at the end of the
// file. The host gives the same bytes as the Windows runtime's "rt" mode.
char* read_text_line(char* area, int size, FILE* stream);

// What load_settings_stream made of each read, for the maker's checker; the installer sets
// no hook. raw is the read as it came (at most 511 bytes, line end included); key and value
// are given for settings_line_entry (the value before "|" becomes a space) and the key
// alone for settings_line_no_value. The hook sees exactly the reads the store counts, so
// after settings_max_lines calls the store has stopped reading.
enum {
  settings_line_entry = 0,
  settings_line_skipped = 1,     // blank, leading white space or "/"
  settings_line_no_value = 2,    // a key without a value within the 99-byte window
  settings_line_end_marker = 3,  // "[EOF]"
};
constexpr int settings_line_size = 512;
constexpr int settings_max_lines = 400;
typedef void (*settings_line_hook)(void* context, int kind, const char* raw, const char* key, const char* value);
void set_settings_line_hook(settings_line_hook hook, void* context);

// A key the installer reads, with the smallest area a string value is read into (0 for an
// integer key). The list ends with a null key.
struct known_setting {
  const char* key;
  int area;
};
extern const known_setting known_settings[];

int setting_int(const char* key, int default_value);
// Copies into out (size >= 1), truncated and NUL-filled; default may be out itself.
char* setting_string(const char* key, char* out, size_t size, const char* default_value);
// 1 when an entry for the key exists.
int setting_exists(const char* key);

extern const char default_titlebar[];  // the title of a record without TITLEBAR
const char* get_titlebar();
const char* get_caption();
const char* get_instto();
const char* get_exename();
const char* get_reg_global();
const char* get_reg_local();
const char* get_ini_file();
const char* get_ini_section();
const char* get_inst_group();  // null when absent
const char* get_instfol();     // null when absent
int get_instmakefol();

}  // namespace talven
