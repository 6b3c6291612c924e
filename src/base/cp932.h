// Code page 932 path rules shared by every part that searches paths or entry lines.
// A 0x5C byte that follows a lead byte is the second half of a double-byte character,
// never a separator; every search here steps over double-byte characters.
#pragma once
#include <cstddef>

namespace talven {

// 1 exactly for 0x81..0x9F and 0xE0..0xFC, from a fixed table (not the system code page).
int is_lead_byte(unsigned char b);

// Appends "\" unless the path already ends in a real backslash. Refuses (returns
// nullptr, path unchanged) when the path buffer of `size` bytes has no room.
char* ensure_trailing_separator(char* path, size_t size);

// Removes one trailing real backslash, if any. Returns the path.
char* strip_trailing_separator(char* path);

// Double-byte-aware searches: the second byte of a double-byte character never matches.
const char* mb_find_char(const char* text, char c);
const char* mb_find_last_char(const char* text, char c);
const char* mb_find_text(const char* text, const char* needle);

// Lower-cases a CP932 text in place, the one lower-casing of the system (the start-up
// pass's name filter, the tool's and the mount indexes' normalised names): single-byte
// A..Z to a..z and the full-width Ａ..Ｚ (0x82 0x60..0x79) to ａ..ｚ (0x82 0x81..0x9A).
// That is all the Windows ANSI lower-case mapping changes for code page 932, and doing it
// here keeps the index keys the same on every platform that builds them. Other
// double-byte characters are stepped over whole.
char* mb_lower(char* text);

// Replaces every single-byte `from` by `to`, stepping over double-byte characters.
char* mb_replace_char(char* text, char from, char to);

// Path comparisons without case for single-byte letters, double-byte characters whole.
// equal_nocase compares n bytes of both texts; trimmed_length is a path's length without
// one trailing real backslash; same_path compares two paths, a trailing backslash
// ignored; path_inside is 1 when path lies below folder (not the folder itself), *rest
// (when given) then pointing behind the separator.
int equal_nocase(const char* a, const char* b, size_t n);
size_t trimmed_length(const char* path);
int same_path(const char* a, const char* b);
int path_inside(const char* folder, const char* path, const char** rest);

// Bounded copy/append: 0 on success, -1 (destination unchanged) when the result with its
// NUL would not fit in `size` bytes.
int copy_text(char* dest, size_t size, const char* src);
int append_text(char* dest, size_t size, const char* src);

// A name read back from the disk (one part, already an exact CP932 round trip): 0, or -1
// when empty, "." or "..", or holding a real separator or a colon.
int check_disk_name(const char* name);

}  // namespace talven
