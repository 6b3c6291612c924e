// What the uninstaller may remove, decided before anything is removed: the [delfiles] and
// [delfiles_user] lines checked and turned into paths inside the install folder, the
// shortcut and registry names of the install, the helper's command line and the end text.
//
// A [delfiles] line names a path relative to the install folder ("/" counts as "\"):
//   readme.txt          a file
//   データ\             a folder with everything in it (a trailing backslash)
//   セーブ\*.sav        files matching * and ? in one folder (only in the last part)
// REP_INSTALL stands for the install folder, so "REP_INSTALL\readme.txt" is the same line.
// A line is refused (and with it the whole uninstall) when it would leave the folder: a
// drive, another absolute path, "..", a part of only dots and spaces, a colon, an empty
// part, a wildcard in a folder part, a disc marker, or the install folder itself.
#pragma once
#include <cstddef>

#include "config/sections.h"

namespace talven {

constexpr size_t uninstall_path_size = 260;
constexpr int max_delete_items = 256;

enum delete_kind { delete_file = 0, delete_folder = 1, delete_pattern = 2 };

struct delete_item {
  char relative[uninstall_path_size];  // "\" separators, no trailing backslash
  int kind;
  int user;  // from [delfiles_user]: removed only when the player agrees
};

struct delete_plan {
  delete_item items[max_delete_items];
  int count;
  int user_count;
};

enum { delete_line_ok = 0, delete_line_refused = -1, delete_line_too_long = -2 };

// One line into out. delete_line_ok, delete_line_refused or delete_line_too_long (the path
// with the install folder in front would not fit 260 bytes).
int parse_delete_line(const char* line, const char* install_folder, const char* cd_root, delete_item* out);

// Every line of both sections, [delfiles] first. 0, or the result of the first line that
// is not delete_line_ok (also delete_line_too_long when there are more than
// max_delete_items lines) with *bad_line pointing at it.
int build_delete_plan(delete_plan* plan, const line_entry* delfiles, const line_entry* user_lines,
                      const char* install_folder, const char* cd_root, const char** bad_line);

// 1 when the relative path is the item or lies inside it (folder) or matches it (pattern).
int item_covers(const delete_item* item, const char* relative);
// 1 when keep_user is set and a [delfiles_user] item covers the relative path.
int plan_keeps(const delete_plan* plan, const char* relative, int keep_user);
// UnInst.exe and install.env in the install folder: removed last, by the sequence itself.
int is_own_file(const char* relative);

// * and ? against one name, ASCII letters without case, double-byte characters whole.
int wildcard_match(const char* pattern, const char* name);

// "SOFTWARE\...\Uninstall\VoDod<title>" and "Software\<global>\<local>" (and, for
// global_only, "Software\<global>"). 0, or -1 when they would not fit.
int compose_uninstall_key(char* out, size_t size, const char* title);
int compose_app_key(char* out, size_t size, const char* global, const char* local);
int compose_app_parent_key(char* out, size_t size, const char* global);

// The install's shortcut files, named as the installer names them.
struct shortcut_set {
  char program_folder[uninstall_path_size];  // programs [\ group] \ title
  char group_folder[uninstall_path_size];    // programs \ group, or empty
  char links[3][uninstall_path_size];        // game, readme (when there is one), uninstaller
  int link_count;
  char desktop_link[uninstall_path_size];  // empty when no desktop folder was given
};
// readme: the readme file setting (none or "-..." gives no readme link). 0, or -1 when a
// name would not fit.
int compose_shortcut_set(shortcut_set* set, const char* programs, const char* group, const char* title,
                         const char* readme_label, const char* readme, const char* desktop);

// The helper that removes UnInst.exe (and its folder when empty) after the program ends:
//   /cleanup HANDLE "PATH"
// HANDLE is the parent's process handle inherited by the helper, PATH the program. 0 or -1.
int compose_cleanup_args(char* out, size_t size, unsigned long long handle, const char* program);
int parse_cleanup_args(const char* args, unsigned long long* handle, char* program, size_t size);

// The closing text: done, and what was left in the folder: the names given (as many as
// fit in size) and a count of the rest of left_total. 0, or -1 when not even the first
// line fits.
int compose_end_message(char* out, size_t size, const char* title, const char* folder,
                        const char* const* names, int name_count, int left_total);

}  // namespace talven

namespace talven {

// The game's [ini] keys removed from the text of its INI file, as the file holds it (code
// page 932 bytes, the way a Japanese system writes it): the system's profile functions
// would read the file through the system's code page and match no Japanese section or
// key elsewhere. Lines end in LF or CR LF; a section header is "[name]" and a key line
// "key=value", names compared with blanks around them ignored and single-byte letters
// without case, as the profile functions compare them. The section's header goes too
// when nothing but blank lines is left in it. Edits text in place (it only shrinks) and
// returns the new length.
size_t ini_remove_keys(char* text, size_t length, const char* section, const char* const* keys, int key_count);

}  // namespace talven
