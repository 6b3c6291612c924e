// Shared pieces of the libFuzzer harnesses: a cursor that cuts the fuzzer's bytes into
// fields, a check that stops the run (so libFuzzer keeps the input), and memory streams.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#define FUZZ_CHECK(condition)                                                             \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

struct fuzz_input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;

  fuzz_input(const uint8_t* d, size_t n) : data(d), size(n) {}
  size_t left() const { return size - at; }
  // One byte, 0 once the input is used up.
  unsigned byte() { return at < size ? data[at++] : 0u; }
  // Bytes up to the next NUL (not included) or the end, at most max of them: a field that
  // the parsers see as a C text.
  std::string field(size_t max) {
    std::string out;
    while (at < size && data[at] != 0 && out.size() < max) out.push_back(static_cast<char>(data[at++]));
    if (at < size && data[at] == 0) ++at;
    return out;
  }
  // Everything that is left, as a text (cut at its first NUL by whoever reads it).
  std::string rest() {
    std::string out(reinterpret_cast<const char*>(data + at), size - at);
    at = size;
    return out;
  }
};

// A read-only stream over the bytes; fmemopen refuses a zero-size buffer, so an empty input
// reads from an empty temporary file instead.
inline FILE* memory_stream(const uint8_t* data, size_t size) {
  if (size == 0) return std::tmpfile();
  return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

// A scratch file for harnesses whose entry point takes a file name: one per process, in
// memory where the system offers it.
inline void remove_scratch();
inline char* scratch_area() {
  static char path[256];
  return path;
}
inline const char* scratch_path(const char* tag) {
  char* path = scratch_area();
  if (path[0]) return path;
  const char* base = std::getenv("FUZZ_SCRATCH");
  if (!base) base = "/dev/shm";
  FILE* probe = std::fopen(base, "r");
  if (!probe) base = "/tmp";
  else std::fclose(probe);
  std::snprintf(path, 256, "%s/talven-fuzz-%s-%ld", base, tag, static_cast<long>(getpid()));
  std::atexit(remove_scratch);
  return path;
}
inline void remove_scratch() {
  if (scratch_area()[0]) std::remove(scratch_area());
}

inline bool write_file(const char* path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
