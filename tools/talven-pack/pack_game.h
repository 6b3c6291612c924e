// Packing a game folder, shared by pack and medium: options, the check before packing,
// the compression pipeline and the summary.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "compress.h"

namespace talven::pack {

struct pack_options {
  const char* dir = nullptr;
  const char* out = nullptr;
  unsigned threads = 0;  // 0: every core
  int level = default_level;
  bool strict = false, no_check = false, quiet = false, verbose = false;
  std::vector<std::string> patterns;  // --exclude
  std::vector<std::string> left_out;  // paths never packed (medium's own output folder)
};

// Reads one packing option at argv[*i] (advancing *i over its value). 1 when taken, 0 when
// it is not a packing option, -1 after printing why it is wrong.
int parse_pack_option(const char* command, int argc, char** argv, int* i, pack_options* o);

// Text for the usage of the packing options.
extern const char pack_options_help[];

struct pack_totals {
  size_t files = 0, folders = 0;
  uint64_t input = 0, package = 0;
};

// Checks (unless no_check), packs o.dir into o.out and prints the summary. Exit code.
int pack_game(const pack_options& o, pack_totals* totals);

}  // namespace talven::pack
