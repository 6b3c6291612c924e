// verify PACKAGE|EXE: reads every entry as the installer would and inflates every file,
// so that a damaged package is found by the maker and not by the player.
#include <cstdio>

#include "command.h"
#include "pack_common.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack verify PACKAGE|EXE\n\n"
      "Walks every entry of an install package (or of the package appended to an\n"
      "executable), inflates every file and checks its size. The first damage is\n"
      "reported with the entry's name and offset in the file (exit 1). It also warns\n"
      "when the installer's start-up pass would fail on the package (no install.env,\n"
      "or a settings or text file inside a folder before the first nested folder).\n",
      to);
}

struct tally {
  const char* path;
  startup_check startup;
  long files = 0, folders = 0;
  int64_t size = 0, packed = 0;
};

int verify_entry(void* context, const package_entry& entry, long offset, FILE* package, int32_t* position) {
  auto* t = static_cast<tally*>(context);
  std::string name = shown_name(entry.name);
  if (check_entry_name(entry.name) != 0) {
    fail("%s: damaged entry %s at offset %ld: the name would leave the install folder", t->path, name.c_str(), offset);
    return -1;
  }
  t->startup.see(entry.name, entry.size == folder_entry_size);
  if (entry.size == folder_entry_size) {
    ++t->folders;
    return 0;
  }
  package_entry e = entry;
  if (read_entry_time(package, &e, position) != 0) {
    fail("%s: damaged entry %s at offset %ld: the package ends inside it", t->path, name.c_str(), offset);
    return -1;
  }
  int32_t written = 0;
  if (inflate_entry_data(package, e.packed_size, nullptr, position, &written, nullptr) != 0) {
    fail("%s: damaged entry %s at offset %ld: its compressed data does not inflate (damaged, cut short or of "
         "the wrong packed size)",
         t->path, name.c_str(), offset);
    return -1;
  }
  if (written != e.size) {
    fail("%s: damaged entry %s at offset %ld: inflates to %ld bytes, %ld stored", t->path, name.c_str(), offset,
         static_cast<long>(written), static_cast<long>(e.size));
    return -1;
  }
  ++t->files;
  t->size += e.size;
  t->packed += e.packed_size;
  return 0;
}

int run_verify(int argc, char** argv) {
  if (int code = check_arguments(argc, argv, 1, usage); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  tally t;
  t.path = argv[1];
  if (walk_package(argv[1], &input, entry_visitor{&t, verify_entry}) != 0) return exit_failure;
  t.startup.warn(argv[1]);
  std::printf("%s: sound: %ld files, %ld folders, %lld bytes (%lld packed)%s\n", argv[1], t.files, t.folders,
              static_cast<long long>(t.size), static_cast<long long>(t.packed),
              input.appended ? ", appended to an executable" : "");
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(verify, "verify", "PACKAGE|EXE: inflate every entry and report the first damage", run_verify);

}  // namespace talven::pack
