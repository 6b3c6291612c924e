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
  bool strict = false, no_check = false, quiet = false, verbose = false, include_vcs = false;
  const char* shown_out = nullptr;  // the name the summary gives the package (default: out)
  std::vector<std::string> patterns;  // --exclude
  std::vector<std::string> left_out;  // paths never packed (medium's own output folder)
};

// Reads one packing option at argv[*i] (advancing *i over its value). 1 when taken, 0 when
// it is not a packing option, -1 after printing why it is wrong.
int parse_pack_option(const char* command, int argc, char** argv, int* i, pack_options* o);
// The packing options, for "did you mean".
extern const char* const pack_option_names[];

// Text for the usage of the packing options.
extern const char pack_options_help[];

struct pack_totals {
  size_t files = 0, folders = 0;
  uint64_t input = 0, package = 0;
  size_t warnings = 0;  // check's, repeated in the last line
};

// Checks (unless no_check; the names the installer refuses are refused always), packs
// o.dir into o.out (UTF-8 install.env and readme converted to CP932) and prints the
// summary. Exit code.
int pack_game(const pack_options& o, pack_totals* totals);

}  // namespace talven::pack
