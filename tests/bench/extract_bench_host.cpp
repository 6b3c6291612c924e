// Benchmark, not a test: the processor time of `talven-pack extract` and `verify` against
// a bare loop doing only the necessary work on the same package (inflate each stream
// through reused buffers and write it to its file; inflate only, for verify). Both run
// from this program on packages it generates; it prints each time and the ratios, for a
// package of large files and one of many small files.
#include <sys/resource.h>
#include <unistd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "tool_run.h"

namespace fs = std::filesystem;

namespace {

struct stored {
  std::string name;  // relative, "/" between parts
  long data;         // file offset of the zlib stream
  int32_t packed;
};

double cpu_seconds(int who) {
  struct rusage u;
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Text-like data, so that inflating has real work to do.
std::vector<unsigned char> sample(size_t size, unsigned seed) {
  static const char* const words[] = {"scene", "chara", "voice", "bgm", "se", "wait", "text", "jump"};
  std::vector<unsigned char> data;
  data.reserve(size + 16);
  uint32_t x = seed;
  while (data.size() < size) {
    x = x * 1103515245u + 12345u;
    for (const char* w = words[(x >> 16) & 7]; *w; ++w) data.push_back(static_cast<unsigned char>(*w));
    std::string n = std::to_string((x >> 8) % 1000) + ((x & 7) ? " " : "\n");
    data.insert(data.end(), n.begin(), n.end());
  }
  data.resize(size);
  return data;
}

std::vector<stored> make_package(const fs::path& path, int files, size_t smallest, size_t largest) {
  std::vector<stored> entries;
  FILE* out = std::fopen(path.c_str(), "wb");
  talven::write_folder_entry(out, "DATA\\");
  for (int i = 0; i < files; ++i) {
    size_t size = smallest + (static_cast<size_t>(i) * 2654435761u) % (largest - smallest + 1);
    std::vector<unsigned char> data = sample(size, 7u + static_cast<unsigned>(i)), packed;
    talven::compress_data(data.data(), data.size(), 6, &packed);
    std::string name = "DATA\\f" + std::to_string(i) + ".dat";
    long at = std::ftell(out) + static_cast<long>(talven::entry_header_bytes(static_cast<int64_t>(name.size()) + 1)) +
              talven::entry_time_bytes;
    talven::write_file_entry(out, name.c_str(), static_cast<int32_t>(size), 0x01D9000000000000ull, packed.data(),
                             packed.size());
    entries.push_back({"DATA/f" + std::to_string(i) + ".dat", at, static_cast<int32_t>(packed.size())});
  }
  talven::write_terminator(out);
  std::fclose(out);
  return entries;
}

// The baseline: what any extraction must do (inflate, write, restore the time), and
// nothing else.
void bare_loop(const fs::path& package, const std::vector<stored>& entries, const fs::path* root) {
  static unsigned char in[131072], out_buffer[131072];
  FILE* f = std::fopen(package.c_str(), "rb");
  z_stream z{};
  inflateInit(&z);
  if (root) fs::create_directories(*root / "DATA");
  for (const stored& e : entries) {
    std::fseek(f, e.data, SEEK_SET);
    FILE* out = root ? std::fopen((*root / e.name).c_str(), "wb") : nullptr;
    inflateReset(&z);
    int32_t left = e.packed;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
      if (z.avail_in == 0) {
        size_t want = std::min<int32_t>(left, sizeof in);
        z.next_in = in;
        z.avail_in = static_cast<uInt>(std::fread(in, 1, want, f));
        left -= static_cast<int32_t>(want);
      }
      z.next_out = out_buffer;
      z.avail_out = sizeof out_buffer;
      r = inflate(&z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END) {
        std::fprintf(stderr, "bare loop: inflate failed\n");
        std::exit(1);
      }
      if (out) std::fwrite(out_buffer, 1, sizeof out_buffer - z.avail_out, out);
    }
    if (out) {
      std::fclose(out);
      // Restoring the stored time is part of extracting, as much as writing the bytes.
      struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
      ::utimensat(AT_FDCWD, (*root / e.name).c_str(), times, 0);
    }
  }
  inflateEnd(&z);
  std::fclose(f);
}

// The tool's own processor time; a tool that fails ends the benchmark.
double tool_cpu(const std::vector<std::string>& args) {
  child_run r = run_tool(args);
  if (!r.ok) {
    std::string command;
    for (const std::string& a : args) command += " " + a;
    std::fprintf(stderr, "failed:%s\n", command.c_str());
    std::exit(1);
  }
  return r.cpu;
}

double bare_cpu(const fs::path& package, const std::vector<stored>& entries, const fs::path* root) {
  double before = cpu_seconds(RUSAGE_SELF);
  bare_loop(package, entries, root);
  return cpu_seconds(RUSAGE_SELF) - before;
}

// Best of several runs of each, so that a busy moment of a shared machine counts less.
void compare(const char* what, const std::string& tool, const fs::path& dir, int files, size_t smallest,
             size_t largest) {
  fs::path package = dir / "bench.arc", out = dir / "out";
  std::vector<stored> entries = make_package(package, files, smallest, largest);
  const int runs = 11;
  double extract = 1e9, bare = 1e9, verify = 1e9, inflate_only = 1e9;
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(out);
    extract = std::min(extract, tool_cpu({tool, "extract", package.string(), out.string()}));
    fs::remove_all(out);
    bare = std::min(bare, bare_cpu(package, entries, &out));
    verify = std::min(verify, tool_cpu({tool, "verify", package.string()}));
    inflate_only = std::min(inflate_only, bare_cpu(package, entries, nullptr));
  }
  fs::remove_all(out);
  std::printf("%s: %d files, package %.1f MiB, best of %d runs\n", what, files, fs::file_size(package) / 1048576.0,
              runs);
  std::printf("  extract %.3f s cpu, bare inflate+write %.3f s: extract/bare %.2f\n", extract, bare, extract / bare);
  std::printf("  verify  %.3f s cpu, inflate only       %.3f s: verify/inflate-only %.2f\n", verify, inflate_only,
              verify / inflate_only);
}

}  // namespace

int main(int argc, char** argv) {
  std::string tool = argc > 1 ? argv[1] : (fs::read_symlink("/proc/self/exe").parent_path() / "talven-pack").string();
  if (!fs::exists(tool)) {
    std::fprintf(stderr, "no talven-pack at %s (build it, or name it as the first argument)\n", tool.c_str());
    return 1;
  }
  // A memory file system where there is one: a disk shared with other work makes the
  // system time of writing swing far more than anything measured here.
  std::string where = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string name = where + "/extract-bench-XXXXXX";
  fs::path root = ::mkdtemp(&name[0]);
  // What the tool costs before it reads anything (loading, its command table): part of
  // every ratio below, and most of the difference for small packages.
  FILE* empty = std::fopen((root / "empty.arc").c_str(), "wb");
  talven::write_terminator(empty);
  std::fclose(empty);
  double start = 1e9;
  for (int i = 0; i < 5; ++i)
    start = std::min(start, tool_cpu({tool, "verify", (root / "empty.arc").string()}));
  std::printf("tool start-up (verify of an empty package): %.4f s cpu\n", start);
  compare("large files", tool, root, 300, 20000, 400000);
  compare("small files", tool, root, 10000, 200, 4000);
  fs::remove_all(root);
  return 0;
}
