// The digest of a separate package (instdat.arc) that a signed setup.exe carries in its
// resources, inside the signed bytes: the installer refuses a package that does not
// match it. Media without the resource read their package as before.
#pragma once
#include <cstdio>

#include "package/sha256.h"

namespace talven {

// RT_RCDATA resource number of the 32-byte SHA-256 of instdat.arc.
constexpr unsigned package_digest_resource = 7001;

// The SHA-256 of the whole stream from its start; leaves it at offset 0. 0, or -1 on a
// read error.
int digest_of_stream(FILE* f, unsigned char digest[sha256_bytes]);

// 0 when the stream's SHA-256 is expected; -1 otherwise (or on a read error).
int check_package_digest(FILE* package, const unsigned char expected[sha256_bytes]);

}  // namespace talven
