// Shared pieces of the host tests that build packages by hand and run talven-pack:
// byte helpers, a scratch folder, the tool runner and raw entries with any field wrong.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/package_format.h"

namespace package_kit {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;

inline std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bytes read_bytes(const fs::path& p) {
  std::string s = read_text(p);
  return bytes(s.begin(), s.end());
}

inline bool write_bytes(const fs::path& p, const bytes& b) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  out.close();
  return !out.fail();
}

inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A scratch folder removed at the end of each test.
struct scratch {
  fs::path dir;
  scratch() {
    char name[] = "/tmp/talven-package-test-XXXXXX";
    dir = ::mkdtemp(name);
  }
  ~scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

// The tool the tests run: this build's, or another build of it named by
// TALVEN_PACK_UNDER_TEST (talven-pack.exe under Wine, through a wrapper script).
inline const char* tool_under_test() {
  const char* other = std::getenv("TALVEN_PACK_UNDER_TEST");
  return other && *other ? other : TALVEN_PACK_EXE;
}

// Set when the tool under test is the Windows build: names Windows cannot hold cannot
// reach it, POSIX signals and resource limits do not either, and its console is Wine's.
inline bool windows_build() { return std::getenv("TALVEN_PACK_WINDOWS") != nullptr; }

struct result {
  int code = -1;
  std::string out, err;
};

// Runs the tool (or another build of it) with its output and errors caught in files of
// the scratch folder.
inline result run_tool(const fs::path& where, const std::vector<std::string>& args,
                       const std::string& program = tool_under_test()) {
  std::string cmd = quoted(program);
  for (const std::string& a : args) cmd += " " + quoted(a);
  fs::path out = where / "stdout.txt", err = where / "stderr.txt";
  cmd += " >" + quoted(out.string()) + " 2>" + quoted(err.string());
  result r;
  // Under Wine a start now and then loses its server connection before the tool runs
  // ("wine client error"): such a run says nothing of the tool, so it is made once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text(out);
    r.err = read_text(err);
    fs::remove(out);
    fs::remove(err);
    if (!windows_build() || r.err.find("wine client error") == std::string::npos) break;
    std::fprintf(stderr, "note: Wine lost its server connection, run again: %s\n", cmd.c_str());
  }
  return r;
}

// The run ended with `code` and its errors name `piece`.
inline ::testing::AssertionResult exits_with(const result& r, int code, const std::string& piece) {
  if (r.code == code && r.err.find(piece) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit " << r.code << " (want " << code << "), no \"" << piece
                                       << "\" in:\n" << r.err;
}

// The text holds every piece (holds) or none of them (lacks).
inline ::testing::AssertionResult holds(const std::string& text, std::initializer_list<std::string> pieces) {
  for (const std::string& p : pieces)
    if (text.find(p) == std::string::npos) return ::testing::AssertionFailure() << "no \"" << p << "\" in:\n" << text;
  return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult lacks(const std::string& text, std::initializer_list<std::string> pieces) {
  for (const std::string& p : pieces)
    if (text.find(p) != std::string::npos) return ::testing::AssertionFailure() << "\"" << p << "\" in:\n" << text;
  return ::testing::AssertionSuccess();
}

// Compressible but not trivial: runs of a few letters with a random byte every third.
inline bytes pattern(size_t size, unsigned seed) {
  bytes b(size);
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = static_cast<unsigned char>(i % 3 ? 'A' + (x >> 28) : x >> 24);
  }
  return b;
}

inline void put_u32(bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// The headers of a PE32 executable and nothing else (0x200 bytes: MZ, PE, a 16-entry
// directory table, no sections), so that the security directory can be set by hand.
constexpr uint32_t minimal_pe_headers = 0x200;
inline bytes minimal_pe() {
  bytes b(minimal_pe_headers, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x40;
  const size_t pe = 0x40, optional = pe + 24;
  b[pe] = 'P';
  b[pe + 1] = 'E';
  b[pe + 20] = 224;  // SizeOfOptionalHeader
  b[optional] = 0x0B;
  b[optional + 1] = 0x01;
  b[optional + 60 + 1] = 0x02;  // SizeOfHeaders 0x200
  b[optional + 92] = 16;        // NumberOfRvaAndSizes
  return b;
}
// Adds a section header to minimal_pe's table (five fit in its 0x200 bytes): raw_size
// bytes of raw data at file offset raw_at. Returns the header's file offset.
inline size_t add_pe_section(bytes* pe, uint32_t raw_at, uint32_t raw_size) {
  const size_t count_at = 0x40 + 6;
  unsigned count = (*pe)[count_at];
  const size_t at = 0x40 + 24 + 224 + 40 * count;
  (*pe)[count_at] = static_cast<unsigned char>(count + 1);
  for (int i = 0; i < 4; ++i) {
    (*pe)[at + 16 + i] = static_cast<unsigned char>(raw_size >> (8 * i));
    (*pe)[at + 20 + i] = static_cast<unsigned char>(raw_at >> (8 * i));
  }
  return at;
}
// Sets the security directory (index 4: file offset and size) of minimal_pe's headers.
inline void set_security_directory(bytes* pe, uint32_t offset, uint32_t size) {
  const size_t at = 0x40 + 24 + 96 + 4 * 8;
  for (int i = 0; i < 4; ++i) {
    (*pe)[at + i] = static_cast<unsigned char>(offset >> (8 * i));
    (*pe)[at + 4 + i] = static_cast<unsigned char>(size >> (8 * i));
  }
}

inline bytes zlib_of(const std::string& data) {
  bytes packed;
  talven::compress_data(reinterpret_cast<const unsigned char*>(data.data()), data.size(), 9, &packed);
  return packed;
}

// One entry laid out by hand: name_bytes are stored as given (their NUL included by the
// caller), n is the stored length; file entries get a time stamp and `stream`.
inline bytes raw_entry(unsigned n, const std::string& name_bytes, int32_t size, int32_t packed,
                       const bytes& stream = {}) {
  bytes b(2 + name_bytes.size());
  b[0] = static_cast<unsigned char>(n);
  b[1] = static_cast<unsigned char>(n >> 8);
  std::copy(name_bytes.begin(), name_bytes.end(), b.begin() + 2);
  put_u32(&b, static_cast<uint32_t>(size));
  put_u32(&b, static_cast<uint32_t>(packed));
  if (size != talven::folder_entry_size) {
    put_u32(&b, 0xD53E8000u);  // 2001-01-01
    put_u32(&b, 0x01C07385u);
    b.insert(b.end(), stream.begin(), stream.end());
  }
  return b;
}

// A sound entry of a name (NUL added here) holding `data`, or a folder.
inline bytes file_entry(const std::string& name, const std::string& data) {
  bytes packed = zlib_of(data);
  return raw_entry(static_cast<unsigned>(name.size() + 1), name + std::string(1, '\0'),
                   static_cast<int32_t>(data.size()), static_cast<int32_t>(packed.size()), packed);
}
inline bytes folder_entry(const std::string& name) {
  return raw_entry(static_cast<unsigned>(name.size() + 1), name + std::string(1, '\0'), -1, 0);
}

inline bytes package_of(const std::vector<bytes>& entries) {
  bytes all;
  for (const bytes& e : entries) all.insert(all.end(), e.begin(), e.end());
  all.push_back(0);
  all.push_back(0);
  return all;
}

}  // namespace package_kit
