// list PACKAGE|EXE: one line per entry, as the installer's reader sees it.
#include <cstdio>

#include "archive_view.h"
#include "command.h"
#include "pack_common.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack list PACKAGE|EXE\n\n"
      "Lists every entry of an install package, or of the package appended to an\n"
      "executable (a file starting with \"MZ\"): kind, size, packed size, last-write\n"
      "time (UTC) and the name in UTF-8 as stored (backslashes between folders).\n"
      "An engine archive made by 'archive' (or its .idx) lists its index instead.\n",
      to);
}

int list_entry(void*, const package_entry& entry, long, FILE* package, int32_t* position) {
  std::string name = shown_name(entry.name);
  if (entry.size == folder_entry_size) {
    std::printf("%-4s %10s %10s %-19s %s\n", "dir", "-", "-", "-", name.c_str());
    return 0;
  }
  package_entry e = entry;
  if (skip_file_data(package, &e, position) != 0) {
    fail("damaged entry %s: the package ends inside it", name.c_str());
    return -1;
  }
  std::printf("%-4s %10ld %10ld %-19s %s\n", "file", static_cast<long>(e.size), static_cast<long>(e.packed_size),
              format_filetime(entry_filetime(e)).c_str(), name.c_str());
  return 0;
}

int run_list(int argc, char** argv) {
  if (int code = check_arguments(argc, argv, 1, usage); code >= 0) return code;
  if (int code = engine_archive_command(argv[1], false); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  std::printf("%-4s %10s %10s %-19s %s\n", "kind", "size", "packed", "time (UTC)", "name");
  if (walk_package(argv[1], &input, entry_visitor{nullptr, list_entry}) != 0) return exit_failure;
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(list, "list", "PACKAGE|EXE: show the entries of a package", run_list);

}  // namespace talven::pack
