// Entry lines of the [ini], [reg] and [regall] sections: their form, the install-folder and
// CD-ROM markers, and the split into a name and a value.
//
// Bounds: a text that would not fit its buffer is refused, never cut. A cut value would
// still be written (a path into the registry or the INI file that names another place), so
// the line is skipped instead: the parsers return -1 and leave their outputs untouched, and
// the expansions return null.
#pragma once
#include <cstddef>

namespace talven {

constexpr size_t marker_line_size = 512;  // expanded and unescaped lines
constexpr size_t ini_key_size = 260;
constexpr size_t ini_value_size = 512;
constexpr size_t reg_name_size = 512;
constexpr size_t reg_value_size = 260;

// Each expansion returns its own process-wide buffer (overwritten by its next call), or
// null when the result would not fit in marker_line_size bytes. The install folder and the
// CD-ROM root are given, so that the rules depend on neither the install sequence nor the
// machine's drives; a null install folder counts as empty.
const char* expand_ini_markers_with(const char* line, const char* install_folder, const char* cd_root);
const char* expand_reg_markers_with(const char* line, const char* install_folder, const char* cd_root);
const char* unescape_backslashes(const char* line);

// Root of the first CD-ROM drive, such as "Q:\", or "E:\" when there is none.
const char* cdrom_root();

// key: ini_key_size bytes, value: ini_value_size bytes. 0, or -1 when the line has no "="
// or a part would not fit.
int parse_ini_entry_with(const char* line, const char* install_folder, const char* cd_root, char* key,
                         char* value);
// name: reg_name_size bytes, value: reg_value_size bytes. 0, or -1 when the line has no
// `"="` or a part would not fit.
int parse_reg_entry_with(const char* line, const char* install_folder, const char* cd_root, char* name,
                         char* value);

// Replaces the first marker in text (a buffer of size bytes) by the replacement. 0 when
// replaced or absent, -1 (text unchanged) when the result would not fit.
int replace_first_marker(char* text, size_t size, const char* marker, const char* replacement);

}  // namespace talven
