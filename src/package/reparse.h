// Links in the destination: a folder or file on the way to an output that is a reparse
// point (a junction, a symbolic link, a mount point) would carry the elevated write to
// wherever it leads, so nothing is written through one.
#pragma once

namespace talven {

// 1 when the destination folder itself, or any existing part of path below it (path lies
// inside destination), is a reparse point; 0 otherwise. Parts that do not exist yet pass.
int path_has_reparse_point(const char* destination, const char* path);

}  // namespace talven
