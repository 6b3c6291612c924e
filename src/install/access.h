// Decisions of the write probe and the access grant: which folder gets the players' write
// right, and what the access lists are made of. The Win32 side (access_win.cpp) only
// turns these entries into an access list.
#pragma once
#include <cstddef>

namespace talven {

extern const char probe_file_name[];  // "UserAccountCheck.id"

// folder, a backslash unless it ends in one, then name. -1 (out unchanged) when too long.
int compose_in_folder(char* out, size_t size, const char* folder, const char* name);

// Access masks, as the system defines them for files and folders.
constexpr unsigned long access_read_execute = 0x001200A9;  // FILE_GENERIC_READ | FILE_GENERIC_EXECUTE
constexpr unsigned long access_modify = 0x001301BF;        // read, write, execute, delete
constexpr unsigned long access_full = 0x001F01FF;          // FILE_ALL_ACCESS

enum access_who { who_users = 0, who_administrators = 1, who_system = 2 };

// One entry of an access list: a well-known group (never a localized account name),
// its rights, and whether folders and files below inherit it.
struct access_entry {
  int who;
  unsigned long mask;
  int inherited;  // 1: this folder, its sub-folders and files
};

// The players' write right on the install folder: Modify for the Users group, inherited,
// added beside what the folder already has. Unlike full control it cannot change an access
// list or take ownership, so the protected files below stay out of reach.
constexpr access_entry users_write_entry = {who_users, access_modify, 1};

// The grant goes only to a folder this install created, and never to a drive root or one
// of the system folders (is_system_folder): an existing folder keeps the rights its owner
// chose. 1 when the entry is to be added.
int grant_users_write(const char* destination, int created_by_install, const char* const* system_folders,
                      int count);

// The files that the elevated uninstaller trusts or is: they get an access list of their
// own, cut from the folder's, that lets only administrators and the system change them.
extern const char* const protected_file_names[2];  // "UnInst.exe", "install.env"
// The entries of that list: administrators and the system full, users read and execute.
// Returns the count written (at most max).
int protected_file_entries(access_entry* out, int max);

}  // namespace talven
