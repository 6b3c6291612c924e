// pack DIR OUT: the install package of a folder tree (pack_game.h does the packing).
#include <cstdio>
#include <vector>

#include "command.h"
#include "pack_common.h"
#include "pack_game.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fprintf(to,
               "usage: talven-pack pack [OPTIONS] DIR OUT\n\n"
               "Packs every folder and file under DIR into the install package OUT (instdat.arc).\n"
               "DIR is checked first as 'talven-pack check' does: errors refuse to pack, warnings\n"
               "are printed. Names are stored in CP932 with backslashes; a name CP932 cannot hold\n"
               "is an error. Within each folder its files come first, then its sub-folders, each\n"
               "sorted by name; a folder's entry precedes its contents. Last-write times are kept.\n"
               "Files up to 8 MiB are compressed in memory with libdeflate, larger ones streamed\n"
               "through zlib; data that does not compress is stored. OUT is written under a fresh\n"
               "temporary name beside it and renamed at the end, so a failed or interrupted pack\n"
               "leaves neither OUT nor the temporary file. Packing stops as soon as the package\n"
               "would pass 2 GiB. A progress line is shown on stderr when it is a terminal.\n\n"
               "options:\n%s",
               pack_options_help);
}

int parse(int argc, char** argv, pack_options* o) {
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    int r = parse_pack_option("pack", argc, argv, &i, o);
    if (r < 0) return exit_usage;
    if (r > 0) continue;
    if (argv[i][0] == '-' && argv[i][1] != '\0') return unknown_option("pack", argv[i], pack_option_names);
    plain.push_back(argv[i]);
  }
  if (plain.size() != 2) return operand_error("pack", "DIR OUT", plain.size());
  o->dir = plain[0];
  o->out = plain[1];
  return 0;
}

int run_pack(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  pack_options o;
  if (int code = parse(argc, argv, &o); code != 0) return code;
  pack_totals totals;
  return pack_game(o, &totals);
}

}  // namespace

TALVEN_PACK_COMMAND(pack, "pack", "DIR OUT: make an install package of a folder tree", run_pack);

}  // namespace talven::pack
