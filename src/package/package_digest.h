// The digest of a separate package (instdat.arc) that a signed setup.exe carries in its
// resources, inside the signed bytes: the installer refuses a package that does not
// match it. Media without the resource read their package as before.
#pragma once
#include <cstdio>

#include "package/sha256.h"
#include "pe/pe_image.h"  // package_digest_resource

namespace talven {

// The SHA-256 of the whole stream from its start; leaves it at offset 0. 0, or -1 on a
// read error.
int digest_of_stream(FILE* f, unsigned char digest[sha256_bytes]);

// 0 when the stream's SHA-256 is expected; -1 otherwise (or on a read error).
int check_package_digest(FILE* package, const unsigned char expected[sha256_bytes]);

}  // namespace talven
