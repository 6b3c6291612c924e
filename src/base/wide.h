// Texts and paths between code page 932 (every text of these programs) and the system's
// UTF-16 (the W functions), always through code page 932 itself, whatever the system's
// ANSI code page is. Win32 only.
#pragma once
#include <cstddef>
#include <cstdio>

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

// One-line call sites: a fixed wide buffer filled from CP932. Sized for the longest text
// the programs hand over (a message box of 1024 bytes, an INI or registry line of 512).
constexpr size_t wide_text_size = 1024;
struct wide_text {
  wchar_t text[wide_text_size];
  int ok;  // 0: refused, text is empty
};

// A name (path, key, value, mutex) exactly: refused, never guessed, when it is not valid
// CP932. An empty text would name the current folder or a hive's root, so a caller of
// anything that writes checks ok first.
wide_text wide_name(const char* name);

// A text shown to the player, converted as a Japanese system's A functions did (an invalid
// byte becomes a placeholder character); never refused.
wide_text wide_shown(const char* text);

// The way back for a shown text read from a window (a caption): as the A functions did on
// a Japanese system. Always terminated.
void shown_to_cp932(const wchar_t* text, char* out, size_t size);

// A message box with CP932 text and caption, its buttons in Japanese where the system has
// them (as on a Japanese system, whatever its own language). owner is an HWND, style the
// MB_ flags; the MessageBox result.
int message_box(void* owner, const char* text, const char* title, unsigned style);

// fopen of a CP932 path through the wide runtime call; null when the path is not CP932.
FILE* open_stream(const char* path, const char* mode);

// 1 when the system's ANSI code page is not 932: the A functions would turn every text
// and name of these programs into other characters.
int foreign_code_page();

// The executable's own path in CP932. 0, or -1 when it is cut or has no CP932 form.
int module_path(char* out, size_t size);

// GetFileAttributesW of a CP932 path (a DWORD); INVALID_FILE_ATTRIBUTES when absent or
// not CP932.
unsigned long attributes_of(const char* path);

// SetCurrentDirectoryW of a CP932 path. 0, or -1 (refused or failed).
int enter_folder(const char* path);

// The current folder kept on construction (as the system names it, so any name comes
// back) and set again on destruction.
struct current_folder_keeper {
  wchar_t saved[wide_path_size];
  int valid;
  current_folder_keeper();
  ~current_folder_keeper();
};

}  // namespace talven
