// The walk of the installer's two passes over a package, and the check of the maker's
// tool, with a thin seam for what touches files, so that the walk is one and the same
// on Windows, in the tool and in the host tests.
#pragma once
#include <cstdio>

#include "package/package_reader.h"

namespace talven {

// full_pass_quiet: the full pass without the progress dialog (tests, measurements).
// check_pass: every entry read and inflated into nothing; nothing is written.
enum pass_mode { full_pass = 0, startup_pass = 1, full_pass_quiet = 2, check_pass = 3 };

struct pass_output {
  void* context;
  // Each entry the pass takes, before anything is written for it: a reason to refuse
  // it as damage, or null. May be null.
  const char* (*check)(void* context, const package_entry* entry);
  // A folder entry of a full pass. path: destination "\" name, or null when the pass was
  // given no destination. Non-zero fails the pass.
  int (*make_folder)(void* context, const package_entry* entry, const char* path);
  // The output of a file entry (a FILE* unless write says otherwise); null fails the pass.
  void* (*open_file)(void* context, const package_entry* entry, const char* path);
  // Closes it; sound says whether the entry was written whole (its time is set then).
  // Non-zero when the closing failed (buffered bytes not written).
  int (*close_file)(void* context, void* file, const package_entry* entry, const char* path, int sound);
  inflate_progress progress;
  // Non-zero leaves the entry alone (a tool's choice of entries): nothing is made for it,
  // yet a file's data is still inflated into nothing, so that the package's verdict does
  // not depend on what was chosen. Called after check; may be null.
  int (*leave)(void* context, const package_entry* entry);
  // Writes inflated bytes to what open_file returned, straight from the inflate buffer
  // (as inflate_sink's write). Null: open_file returns a FILE*, written with fwrite.
  int (*write)(void* file, const unsigned char* data, size_t size);
};

// Runs one pass from the reader's position. 0 at the end marker or at the start-up
// pass's stop; entry_damaged, or entry_write_failed when an output could not be made or
// written; reader->msg says why either way. output may be null for a check_pass; a
// missing open_file inflates into nothing.
int run_package_pass(package_reader* reader, const char* destination, pass_mode mode, const pass_output* output);

// The whole of one extraction: a reader on the package (length bytes from its current
// position), the pass, then the reader and the package closed. A full_pass_quiet runs
// as a full pass. 0, or -1 with *refusal set to the reason.
int extract_with(FILE* package, int32_t length, const char* destination, pass_mode mode, const pass_output* output,
                 const char** refusal);

}  // namespace talven
