// Rewrites the resource section of a PE executable: the icon group and its icons and the
// version resource replaced, every other resource kept, the section rebuilt and the
// headers (sizes, directory, checksum) fixed. Works on bytes in memory; every offset the
// input gives is checked, and anything unexpected is refused with a reason.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace talven {

// The values of a version resource, UTF-8. version is "A.B.C.D" (missing parts 0).
struct version_values {
  const char* product;
  const char* version;
  const char* company;
};

// The fixed parts of a version number "A.B.C.D": 0, or -1 when it is not 1 to 4 numbers
// of 0..65535 separated by dots.
int parse_version(const char* text, uint16_t parts[4]);

// A VS_VERSIONINFO block with the fixed file information and one Japanese/Unicode
// string table (ProductName, ProductVersion, FileVersion, CompanyName, FileDescription).
int build_version_resource(const version_values* v, std::vector<unsigned char>* out);

// What replace_resources puts in; each null part leaves the program's own.
struct resource_changes {
  const std::vector<unsigned char>* ico;      // the bytes of an .ico file: icon group and icons
  const std::vector<unsigned char>* version;  // a version resource (build_version_resource)
  const std::vector<unsigned char>* digest;   // RT_RCDATA package_digest_resource
};

// Replaces in exe (a whole executable without anything appended) what changes gives.
// 0, or -1 with *why set (exe unchanged).
int replace_resources(std::vector<unsigned char>* exe, const resource_changes* changes, const char** why);

}  // namespace talven
