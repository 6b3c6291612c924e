// Extraction of the install package into a folder.
#pragma once
#include <cstdint>
#include <cstdio>

namespace talven {

// full_pass_quiet: the full pass without the progress dialog (tests, measurements).
enum { full_pass = 0, startup_pass = 1, full_pass_quiet = 2 };

extern int32_t package_length;

// instdat.arc beside the executable, else the package appended to it. Null when neither opens.
FILE* open_install_package();

// Returns only when the package was processed; every failure shows the damaged-package
// message, removes the work folder and ends the process with -1.
void extract_install_package(const char* destination, int mode);

// The same walk without the fatal ending, for tests and callers that report themselves:
// 0 when processed, -1 on any failure. The package stream is closed on every path; the
// full pass sizes its overall bar by package_length.
int extract_package_from(FILE* package, const char* destination, int mode);

// 1 when pattern occurs in name, both lower-cased by CP932 characters; else 0.
int name_contains(const char* name, const char* pattern);

}  // namespace talven
