// Texts and paths between code page 932 (every text of these programs) and the system's
// UTF-16 (the W functions), always through code page 932 itself, whatever the system's
// ANSI code page is. Win32 only.
#pragma once
#include <cstddef>

namespace talven {

// Characters of a wide path buffer, terminator included (the system's MAX_PATH).
constexpr size_t wide_path_size = 260;

// 0, or -1 when text is not valid CP932 (a lead byte without its trail byte, an
// unassigned code) or out (count characters) has no room.
int cp932_to_wide(const char* text, wchar_t* out, size_t count);

// 0, or -1 when a character has no exact CP932 form or out (size bytes) has no room. No
// best fit: the system would otherwise turn U+00A5 (yen) into 0x5C, a real backslash, and
// other characters into look-alikes naming another file. The result also converts back to
// exactly text.
int wide_to_cp932(const wchar_t* text, char* out, size_t size);

// A single name read from the disk: wide_to_cp932 and check_disk_name (no separator,
// colon, "." or ".."). 0 or -1.
int disk_name_to_cp932(const wchar_t* name, char* out, size_t size);

}  // namespace talven
