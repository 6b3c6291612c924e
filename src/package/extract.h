// Extraction of the install package into a folder.
#pragma once
#include <cstdint>
#include <cstdio>

#include "package/package_pass.h"

namespace talven {

// The package appended to the executable, else instdat.arc beside it, with its length in
// bytes. Null when neither opens.
FILE* open_install_package(int32_t* length);

// Returns only when the package was processed; every failure shows the damaged-package
// message, runs clean_up (the caller's work folder goes) and ends the process with -1.
void extract_install_package(const char* destination, pass_mode mode, void (*clean_up)());

// The same walk without the fatal ending, for tests and callers that report themselves:
// 0 when processed, -1 on any failure, with *refusal (when given) the reader's reason, or
// null. The package stream is closed on every path; the full pass sizes its overall bar
// by length. On the host (extract_host.cpp) the same passes write with "/" paths and no
// dialog, for tests and fuzzing.
int extract_package_from(FILE* package, int32_t length, const char* destination, pass_mode mode,
                         const char** refusal = nullptr);

}  // namespace talven
