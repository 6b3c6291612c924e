// verify PACKAGE|EXE: reads every entry as the installer would and inflates every file,
// so that a damaged package is found by the maker and not by the player.
#include <cstdio>

#include <cstring>
#include <vector>

#include "archive_view.h"
#include "command.h"
#include "progress_line.h"
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
      "or a settings or text file inside a folder before the first nested folder).\n"
      "An engine archive made by 'archive' (or its .idx) is checked against its index.\n"
      "  -q  no progress line\n",
      to);
}

struct tally {
  const char* path;
  startup_check startup;
  progress_line bar;
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
  struct bar_context {
    tally* t;
    int32_t start;
  } progress_context{t, *position};
  inflate_progress progress{&progress_context, [](void* c, int32_t, int32_t position) {
                              auto* p = static_cast<bar_context*>(c);
                              p->t->bar.update(static_cast<uint64_t>(p->start) + static_cast<uint64_t>(position),
                                               static_cast<size_t>(p->t->files));
                            }};
  int32_t read = 0;
  int inflated = inflate_entry_data(package, e.packed_size, nullptr, &read, &written, &progress);
  *position += read;
  if (inflated != 0) {
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
  t->bar.update(static_cast<uint64_t>(*position), static_cast<size_t>(t->files));
  t->size += e.size;
  t->packed += e.packed_size;
  return 0;
}

int run_verify(int argc, char** argv) {
  bool quiet = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "--quiet") == 0))
      quiet = true;
    else
      args.push_back(argv[i]);
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (int code = check_arguments(argc, argv, 1, usage); code >= 0) return code;
  if (int code = engine_archive_command(argv[1], true); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  tally t;
  t.path = argv[1];
  t.bar.start("verifying", static_cast<uint64_t>(input.length), 0, quiet);
  int walked = walk_package(argv[1], &input, entry_visitor{&t, verify_entry});
  t.bar.finish();
  if (walked != 0) return exit_failure;
  t.startup.warn(argv[1]);
  std::printf("%s: sound: %ld files, %ld folders, %lld bytes (%lld packed)%s\n", argv[1], t.files, t.folders,
              static_cast<long long>(t.size), static_cast<long long>(t.packed),
              input.appended ? ", appended to an executable" : "");
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(verify, "verify", "PACKAGE|EXE: inflate every entry and report the first damage", run_verify);

}  // namespace talven::pack
