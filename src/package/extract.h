// Extraction of the install package into a folder.
#pragma once
#include <cstdint>
#include <cstdio>

#include "package/package_pass.h"

namespace talven {

extern int32_t package_length;
// Why the last extract_package_from refused the package (the reader's msg), or null.
extern const char* package_refusal;
// 1: a full pass that succeeds leaves its dialog open, both bars at the end, for the copy
// that follows to carry on in (one window instead of a second one); the caller closes it.
extern int keep_extract_dialog;

// The package appended to the executable, else instdat.arc beside it. Null when neither opens.
FILE* open_install_package();

// Returns only when the package was processed; every failure shows the damaged-package
// message, runs clean_up (the caller's work folder goes) and ends the process with -1.
void extract_install_package(const char* destination, pass_mode mode, void (*clean_up)());

// The same walk without the fatal ending, for tests and callers that report themselves:
// 0 when processed, -1 on any failure. The package stream is closed on every path; the
// full pass sizes its overall bar by package_length. On the host (extract_host.cpp) the
// same passes write with "/" paths and no dialog, for tests and fuzzing.
int extract_package_from(FILE* package, const char* destination, pass_mode mode);

}  // namespace talven
