// Text side of the write probe and the access grant: the file names and the batch text.
#pragma once
#include <cstddef>

namespace talven {

extern const char probe_file_name[];  // "UserAccountCheck.id"
extern const char batch_file_name[];  // "Kelvanrothe_fullaccess.bat"

// folder, a backslash unless it ends in one, then name. -1 (out unchanged) when too long.
int compose_in_folder(char* out, size_t size, const char* folder, const char* name);

// Copies the text with every "%" doubled, so that cmd hands it on unchanged.
// -1 when the result would not fit.
int double_percent(char* out, size_t size, const char* text);

// The three batch lines, each ending in CR LF: cacls on the destination in double quotes
// with "y" piped to its question, then the deletion of the companion file and of the batch
// itself. Every argument has its "%" doubled. -1 (out empty) when the text would not fit.
int compose_grant_batch(char* out, size_t size, const char* destination, const char* companion,
                        const char* batch);

// Drive, folder and name of the path with the new extension (given without its dot); a
// name ending in a dot loses that dot. -1 (out unchanged) when the result would not fit.
int replace_extension(char* out, size_t size, const char* path, const char* extension);

}  // namespace talven
