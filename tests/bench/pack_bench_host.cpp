// Benchmark, not a test: how much the parallel compression of `talven-pack pack` gains
// over one thread on this machine. It packs the same generated tree both ways with the
// talven-pack built beside this program (or the one named as the first argument) and
// prints both times and their ratio; the packages must come out identical.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Text-like data: words from a small vocabulary with varying numbers, so that level 9
// has real work to do (neither random nor trivially repetitive).
void write_sample(const fs::path& p, size_t size, unsigned seed) {
  static const char* const words[] = {"scene", "chara", "voice", "bgm", "se", "wait", "text", "jump",
                                      "select", "flag", "image", "layer", "fade", "move", "call", "end"};
  std::string data;
  data.reserve(size + 64);
  uint32_t x = seed;
  while (data.size() < size) {
    x = x * 1103515245u + 12345u;
    data += words[(x >> 16) & 15];
    data += ' ';
    data += std::to_string((x >> 8) % 1000);
    data += (x & 7) == 0 ? '\n' : ' ';
  }
  data.resize(size);
  std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

double children_cpu_seconds() {
  struct rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall-clock seconds of one pack; *cpu gets the processor seconds it used, so that a
// machine shared with other work shows up as wall time well above cpu / threads.
double pack_seconds(const std::string& tool, const std::string& threads, const fs::path& dir, const fs::path& out,
                    double* cpu = nullptr) {
  double cpu_before = children_cpu_seconds();
  std::string cmd = "'" + tool + "' pack --no-check " + (threads.empty() ? "" : "--threads " + threads + " ") + "'" +
                    dir.string() + "' '" + out.string() + "' >/dev/null 2>&1";
  auto start = std::chrono::steady_clock::now();
  int status = std::system(cmd.c_str());
  auto end = std::chrono::steady_clock::now();
  if (cpu) *cpu = children_cpu_seconds() - cpu_before;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "pack failed: %s\n", cmd.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(end - start).count();
}

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  std::string tool = argc > 1 ? argv[1] : (fs::read_symlink("/proc/self/exe").parent_path() / "talven-pack").string();
  if (!fs::exists(tool)) {
    std::fprintf(stderr, "no talven-pack at %s (build it, or name it as the first argument)\n", tool.c_str());
    return 1;
  }
  char name[] = "/tmp/pack-bench-XXXXXX";
  fs::path root = ::mkdtemp(name);
  fs::path tree = root / "tree";
  fs::create_directories(tree / "data");
  const int files = 48;
  const size_t file_size = 1 << 20;
  for (int i = 0; i < files; ++i) write_sample(tree / "data" / ("f" + std::to_string(i) + ".dat"), file_size, 7u + i);

  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  // Warm the page cache so both runs read from memory.
  pack_seconds(tool, "1", tree, root / "warm.arc");
  double one_cpu = 0, all_cpu = 0;
  double one = pack_seconds(tool, "1", tree, root / "one.arc", &one_cpu);
  double all = pack_seconds(tool, "", tree, root / "all.arc", &all_cpu);
  bool same = read_all(root / "one.arc") == read_all(root / "all.arc");
  uintmax_t packed = fs::file_size(root / "all.arc");

  std::printf("input: %d files of %zu bytes (%.1f MiB)\n", files, file_size, files * file_size / 1048576.0);
  std::printf("package: %.1f MiB (%.1f%% of the input)\n", packed / 1048576.0, 100.0 * packed / (files * file_size));
  std::printf("one thread:   %.3f s wall, %.3f s cpu\n", one, one_cpu);
  std::printf("%u threads:    %.3f s wall, %.3f s cpu\n", cores, all, all_cpu);
  std::printf("speed-up: %.2fx on %u cores; packages %s\n", one / all, cores, same ? "identical" : "DIFFER");
  std::error_code ec;
  fs::remove_all(root, ec);
  return same ? 0 : 1;
}
