// Text side of the destination folder: the proposed default, the normalisation of a typed
// or browsed folder, and the level prefixes of the folder creation. No system calls here,
// so every rule is checked on the host.
#pragma once
#include <cstddef>

#include "config/leading_int.h"  // parse_leading_int, for "IsInst"

namespace talven {

constexpr size_t destination_size = 260;

enum {
  destination_ok = 0,
  destination_network = 1,   // two real backslashes in a row: a UNC or network-like path
  destination_root = 2,      // a bare drive root
  destination_too_long = 3,  // the composed folder would not fit in its buffer
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
// missing drive, missing root separator, root test). Returns one of the destination_*
// codes; on destination_too_long the buffer holds the last text that fitted.
int normalise_destination(char* path, size_t size, const char* windows_dir, int make_folder,
                          const char* instfol, const char* instto);

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
