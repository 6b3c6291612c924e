// Names taken from a record or read back from the disk, and the full-form check that a
// path about to be removed lies inside the folder it was proved for. Texts are CP932;
// a 0x5C after a lead byte is part of a character, never a separator.
#pragma once
#include <cstddef>

namespace talven {

// The settings that each name one thing (a registry key part, the INI file in the Windows
// folder, the Start-menu group, the title used in key and shortcut names).
constexpr int single_name_setting_count = 5;
extern const char* const single_name_settings[single_name_setting_count];

// 0 when value is absent, empty or one plain name; -1 when it holds a real "\" or "/", a
// colon (a drive, a stream) or is made only of dots and spaces ("." and ".."), any of
// which would let a record reach keys, files or folders that are not its own.
int check_setting_name(const char* value);

// The first of single_name_settings whose loaded value (as the installer reads it) is
// refused, or null when all are plain names; *value then points at the value.
const char* refused_setting_name(const char** value);

// The full form of a drive-absolute path ("X:\..." or "X:/..."), as the system resolves
// it before opening: "/" as "\", repeated separators and "." parts dropped, ".." taking
// the part before it, trailing dots and spaces of each part dropped. 0, or -1 for a path
// without "X:\", ".." above the root, a part of only dots and spaces that is neither "."
// nor "..", or no room.
int full_form(const char* path, char* out, size_t size);

// 1 when path in full form lies below folder in full form (not the folder itself).
int inside_in_full_form(const char* folder, const char* path);

}  // namespace talven
