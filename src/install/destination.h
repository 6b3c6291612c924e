// Text side of the destination folder: the proposed default, the normalisation of a typed
// or browsed folder, and the level prefixes of the folder creation. No system calls here,
// so every rule is checked on the host.
#pragma once
#include <cstddef>

#include "base/leading_int.h"  // parse_leading_int, for "IsInst"

namespace talven {

constexpr size_t destination_size = 260;

enum {
  destination_ok = 0,
  destination_network = 1,   // two real backslashes in a row: a UNC or network-like path
  destination_root = 2,      // a bare drive root
  destination_too_long = 3,  // the composed folder would not fit in its buffer
  destination_system = 4,    // a folder of the system itself (Windows, Program Files, a profile)
};

// The Windows folder up to and including its first `stop`
// character ("C:\" for '\\', "C:" for ':'); empty when it has none. Never past `size`.
void windows_dir_head(char* out, size_t size, const char* windows_dir, char stop);

// Proposed folder: system drive root, "Program Files\" when program_files is non-zero,
// INSTFOL and "\" when set (null or empty counts as not set), then INSTTO. A composition
// longer than the buffer is cut at a character boundary: it is only a proposal, shown in
// the edit and confirmed by the user before anything is created. Returns 0, or 1 when cut.
int build_default_destination(char* out, size_t size, const char* windows_dir, int program_files,
                              const char* instfol, const char* instto);

// Normalises the folder in place (slashes, network test, trailing separator, INSTMAKEFOL,
// missing drive, missing root separator, "." and ".." parts and trailing dots and spaces
// resolved as Windows resolves them, root test). Returns one of the destination_*
// codes; on destination_too_long the buffer holds the last text that fitted.
int normalise_destination(char* path, size_t size, const char* windows_dir, int make_folder,
                          const char* instfol, const char* instto);

// Resolves an absolute "X:\..." folder in place as the system would open it: each part
// loses its trailing dots and spaces, a part left empty (".", "...") goes, ".." takes the
// part before it away (never the drive's root). A drive root comes out as "X:\", anything
// else without a trailing separator. -1 (unchanged) for a path that is not "X:\...".
int resolve_dot_parts(char* path, size_t size);

// 1 when the folder (normalised, as above) is a drive root or one of the given system
// folders itself (compared without case and trailing separators): the install would
// otherwise write into, and hand out rights on, a folder the whole system relies on.
int is_system_folder(const char* path, const char* const* system_folders, int count);

// What the chosen folder already holds, for the question before installing into it.
enum {
  existing_none = 0,         // missing or empty
  existing_same_title = 1,   // an earlier install of this title: a reinstall, no question
  existing_other_title = 2,  // another title's install.env: refused
  existing_files = 3,        // the player's own files: ask first
};
// has_entries: the folder holds anything; env_title: the TITLEBAR of its install.env as the
// settings store would read it, or null without one.
int classify_existing_folder(int has_entries, const char* env_title, const char* own_title);

// Browse result: the chosen folder, INSTFOL appended unless the folder already holds it,
// then INSTTO, always. -1 (out unchanged) when it would not fit.
int compose_browse_result(char* out, size_t size, const char* chosen, const char* instfol,
                          const char* instto);

// Copies the path for the folder creation: -1 when it is 2 bytes or shorter or does not
// fit; a trailing real backslash not preceded by ':' is removed.
int prepare_folder_chain(char* out, size_t size, const char* path);

// Prefix of the path that ends just before its level-th real backslash, counting from the
// second character on. Returns 1 when the prefix is the whole path, 0 when it is shorter.
int folder_chain_prefix(char* out, size_t size, const char* path, int level);

// Copies at most size - 1 bytes, never splitting a double-byte character. 1 when cut.
int copy_text_cut(char* out, size_t size, const char* text);

}  // namespace talven
