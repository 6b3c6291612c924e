// list and verify of what "talven-pack archive" writes: an engine archive (members back to
// back, no header of its own) and its sorted index ("TVIX"). Either file may be named.
#pragma once

namespace talven::pack {

// When path is an engine index, or an archive with its index beside it, lists (verify
// false) or checks (verify true) the pair and returns the exit code; -1 when path is
// neither, so that the caller reads it as an install package.
int engine_archive_command(const char* path, bool verify);

}  // namespace talven::pack
