#include "package/package_digest.h"

#include <cstring>

#include "base/alloc.h"
#include "package/package_format.h"

namespace talven {

int digest_of_stream(FILE* f, unsigned char digest[sha256_bytes]) {
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  auto* buffer = static_cast<unsigned char*>(checked_alloc(package_block));
  sha256_state s;
  sha256_init(&s);
  size_t got;
  while ((got = std::fread(buffer, 1, package_block, f)) > 0) sha256_update(&s, buffer, got);
  int failed = std::ferror(f);
  checked_free(buffer);
  sha256_final(&s, digest);
  if (failed || std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return 0;
}

int check_package_digest(FILE* package, const unsigned char expected[sha256_bytes]) {
  unsigned char digest[sha256_bytes];
  if (digest_of_stream(package, digest) != 0) return -1;
  return std::memcmp(digest, expected, sha256_bytes) == 0 ? 0 : -1;
}

}  // namespace talven
