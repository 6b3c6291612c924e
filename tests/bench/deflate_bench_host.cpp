// Benchmark, not a test: talven-pack's compression against zlib -9, and its memory on a
// 1 GiB file. A generated game-like tree (scenario text, 24-bit pictures, incompressible
// sound) is packed by the talven-pack built beside this program (or named as the first
// argument) on one thread at its default level, at 9 and at 12; the same files are
// compressed here with zlib's compress2 at level 9. Printed: the compressed bytes and the
// processor time of each, as ratios to zlib -9, and the peak resident memory of packing
// one 1 GiB file (pass --no-big to skip it).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "tool_run.h"

namespace fs = std::filesystem;

namespace {

uint32_t next(uint32_t* x) { return *x = *x * 1664525u + 1013904223u; }

void write_file(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Scenario text: command words, names and numbers, like an engine's script files.
std::string scenario(size_t size, uint32_t seed) {
  static const char* const words[] = {"@bg", "@chara", "@voice", "@bgm", "@se", "@wait", "@jump", "@select",
                                      "@flag", "@fade", "「", "」", "……", "千代", "月影", "の", "は", "を",
                                      "です", "ました", "\r\n"};
  std::string s;
  while (s.size() < size) {
    s += words[next(&seed) % 21];
    if (next(&seed) % 4 == 0) s += std::to_string(next(&seed) % 500);
    s += ' ';
  }
  s.resize(size);
  return s;
}

// A 24-bit BMP of smooth shapes with a little noise, as drawn pictures are.
std::string picture(int w, int h, uint32_t seed) {
  std::string s(54 + static_cast<size_t>(w) * h * 3, '\0');
  s[0] = 'B';
  s[1] = 'M';
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t at = 54 + (static_cast<size_t>(y) * w + x) * 3;
      int noise = static_cast<int>(next(&seed) >> 29);
      s[at] = static_cast<char>((x * 255 / w + noise) & 0xFF);
      s[at + 1] = static_cast<char>(((y * 255 / h) ^ ((x / 32) * 16)) + noise);
      s[at + 2] = static_cast<char>((x + y) / 4 + ((seed >> 24) & 3));
    }
  return s;
}

std::string noise(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(next(&seed) >> 24);
  return s;
}

double cpu_now() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Sum of the packed sizes in a package, read with the installer's own reader.
uint64_t packed_bytes(const fs::path& package) {
  FILE* f = std::fopen(package.c_str(), "rb");
  if (!f) return 0;
  std::error_code ec;
  uint64_t total = 0;
  talven::package_reader reader;
  if (talven::open_package_reader(&reader, f, static_cast<int32_t>(fs::file_size(package, ec))) == 0) {
    while (talven::next_package_entry(&reader) == talven::entry_read)
      if (reader.entry.size != talven::folder_entry_size) total += static_cast<uint64_t>(reader.entry.packed_size);
  }
  talven::close_package_reader(&reader);
  std::fclose(f);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tool = (fs::read_symlink("/proc/self/exe").parent_path() / "talven-pack").string();
  bool big = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-big") == 0) big = false;
    else tool = argv[i];
  }
  if (!fs::exists(tool)) {
    std::fprintf(stderr, "no talven-pack at %s\n", tool.c_str());
    return 1;
  }
  char name[] = "/tmp/deflate-bench-XXXXXX";
  fs::path root = ::mkdtemp(name);
  fs::path tree = root / "game";
  fs::create_directories(tree / "scenario");
  fs::create_directories(tree / "image");
  fs::create_directories(tree / "sound");
  std::vector<std::string> files;
  uint32_t seed = 1;
  for (int i = 0; i < 300; ++i) files.push_back((tree / "scenario" / ("s" + std::to_string(i) + ".scn")).string()),
                                write_file(files.back(), scenario(20000 + next(&seed) % 60000, seed));
  for (int i = 0; i < 36; ++i) files.push_back((tree / "image" / ("p" + std::to_string(i) + ".bmp")).string()),
                               write_file(files.back(), picture(640, 480, seed + i));
  for (int i = 0; i < 12; ++i) files.push_back((tree / "sound" / ("v" + std::to_string(i) + ".ogg")).string()),
                               write_file(files.back(), noise(1200000 + next(&seed) % 400000, seed + i));
  uint64_t input = 0;
  for (const std::string& f : files) input += fs::file_size(f);

  // zlib -9 in this process, file by file as the package stores them.
  uint64_t zlib_bytes = 0;
  double start = cpu_now();
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    uLongf bound = compressBound(data.size());
    std::vector<unsigned char> out(bound);
    compress2(out.data(), &bound, reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
    zlib_bytes += bound;
  }
  double zlib_cpu = cpu_now() - start;
  std::printf("input: %zu files, %.1f MiB (text, pictures, incompressible sound)\n", files.size(), input / 1048576.0);
  std::printf("%-22s %12s %10s %8s %8s\n", "", "bytes", "cpu s", "size", "cpu");
  std::printf("%-22s %12llu %10.2f %8s %8s\n", "zlib -9 (this process)", static_cast<unsigned long long>(zlib_bytes),
              zlib_cpu, "1.000", "1.00");
  int status = 0;
  for (const char* level : {"", "9", "12", "1"}) {
    fs::path out = root / "out.arc";
    std::vector<std::string> args = {tool, "pack", "--no-check", "-q", "--threads", "1"};
    if (*level) args.insert(args.end(), {"--level", level});
    args.insert(args.end(), {tree.string(), out.string()});
    child_run r = run_tool(args);
    if (!r.ok) {
      std::fprintf(stderr, "pack failed\n");
      return 1;
    }
    uint64_t bytes = packed_bytes(out);
    std::string label = std::string("talven-pack ") + (*level ? std::string("--level ") + level : "default");
    std::printf("%-22s %12llu %10.2f %8.3f %8.2f\n", label.c_str(), static_cast<unsigned long long>(bytes), r.cpu,
                static_cast<double>(bytes) / zlib_bytes, r.cpu / zlib_cpu);
    if (!*level && (bytes > zlib_bytes || r.cpu > 0.8 * zlib_cpu)) status = 1;
  }
  fs::remove_all(tree);

  if (big) {
    // One 1 GiB file of mixed content: 64 MiB of text and pictures repeated, with noise.
    fs::path game = root / "big";
    fs::create_directories(game);
    {
      std::ofstream out(game / "movie.dat", std::ios::binary);
      std::string block = scenario(24 << 20, 5) + picture(1024, 1024, 9) + noise(37 << 20, 11);
      block.resize(64 << 20);
      for (int i = 0; i < 16; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    child_run r = run_tool({tool, "pack", "--no-check", "-q", "--level", "1", game.string(), (root / "big.arc").string()});
    std::printf("1 GiB file: %s, peak resident memory %.1f MB (%.1f s cpu)\n", r.ok ? "packed" : "FAILED",
                r.max_rss_kb / 1000.0, r.cpu);
    if (!r.ok || r.max_rss_kb >= 64000) status = 1;
    fs::remove_all(game);
    fs::remove(root / "big.arc");

    // Three 800 MiB files stored (level 0, so that they cannot shrink below 2 GiB): the
    // pack must stop inside the third file, not after compressing everything.
    fs::create_directories(game);
    for (int i = 0; i < 3; ++i) {
      fs::path part = game / ("part" + std::to_string(i) + ".dat");
      std::ofstream{part};
      fs::resize_file(part, 800ull << 20);  // sparse: no disk space until packed
    }
    double wall = 0;
    {
      struct timespec a, b;
      clock_gettime(CLOCK_MONOTONIC, &a);
      r = run_tool({tool, "pack", "--no-check", "-q", "--level", "0", game.string(), (root / "huge.arc").string()});
      clock_gettime(CLOCK_MONOTONIC, &b);
      wall = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
    }
    std::printf("3 x 800 MiB stored: %s after %.1f s (%.1f s cpu), peak resident memory %.1f MB, %s left behind\n",
                r.ok ? "PACKED (wrong)" : "refused", wall, r.cpu, r.max_rss_kb / 1000.0,
                fs::exists(root / "huge.arc") ? "a package" : "nothing");
    if (r.ok) status = 1;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return status;
}
