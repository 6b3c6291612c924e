// SHA-256 against the published test vectors, fed whole and in uneven pieces (the block
// buffering is where an implementation goes wrong).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "package/package_digest.h"

namespace talven {
namespace {

std::string hex(const unsigned char* d) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < sha256_bytes; ++i) {
    std::snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

TEST(Sha256, KnownVectors) {
  struct row {
    std::string input;
    const char* digest;
  };
  const row rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const row& r : rows) {
    unsigned char whole[sha256_bytes], pieces[sha256_bytes];
    sha256_state s;
    sha256_init(&s);
    sha256_update(&s, r.input.data(), r.input.size());
    sha256_final(&s, whole);
    EXPECT_EQ(hex(whole), r.digest) << r.input.size() << " bytes";
    sha256_init(&s);
    for (size_t at = 0, step = 1; at < r.input.size(); at += step, step = step % 97 + 13)
      sha256_update(&s, r.input.data() + at, std::min(step, r.input.size() - at));
    sha256_final(&s, pieces);
    EXPECT_EQ(hex(pieces), hex(whole)) << r.input.size() << " bytes in pieces";
  }
  // The lengths at the padding's edges (one block, then two), against sha256sum.
  for (size_t n : {55u, 56u, 64u}) {
    unsigned char d[sha256_bytes];
    std::string in(n, 'x');
    sha256_state s;
    sha256_init(&s);
    sha256_update(&s, in.data(), n);
    sha256_final(&s, d);
    std::string cmd = "printf '%" + std::to_string(n) + "s' '' | tr ' ' x | sha256sum";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[100] = {};
    ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
    ::pclose(p);
    EXPECT_EQ(std::string(line, 64), hex(d)) << n;
  }
}

TEST(Sha256, PackageDigestOfAStream) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::string data(300000, 'q');
  ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
  unsigned char expected[sha256_bytes];
  sha256_state s;
  sha256_init(&s);
  sha256_update(&s, data.data(), data.size());
  sha256_final(&s, expected);
  EXPECT_EQ(check_package_digest(f, expected), 0);
  EXPECT_EQ(std::ftell(f), 0);  // left at the package's start for the reader
  expected[31] ^= 1;
  EXPECT_EQ(check_package_digest(f, expected), -1);
  std::fclose(f);
}

}  // namespace
}  // namespace talven
