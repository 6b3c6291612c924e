// Engine name rules: how a name splits into drive, folder, base name and extension, and the
// normalised form (base name and extension, lower-cased) that the mount indexes are keyed by.
#pragma once
#include <cstddef>

namespace talven {

// Every path the resolver composes lives in an area of this many bytes, NUL included.
constexpr size_t engine_path_size = 260;

// An engine name split by the resolver's rules: an optional drive ("X:"), a folder part
// up to the last "\" or "/" (searched in CP932, so a second byte never counts), then the
// base name and the extension (from the last dot to the end, dot included; empty without
// a dot). Both pointers point into the name.
struct name_parts {
  const char* base;
  size_t base_length;
  const char* extension;
  size_t extension_length;
};
// 0, or -1 when base name and extension together exceed 259 bytes.
int split_engine_name(const char* name, name_parts* parts);

// Base name + extension of the name, lower-cased (mb_lower), into out (size bytes). 0, or
// -1 when the name is too long by the split rule or the result does not fit (out is then
// emptied).
int normalise_name(const char* name, char* out, size_t size);

}  // namespace talven
