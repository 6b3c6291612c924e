// extract PACKAGE|EXE DIR: writes what the installer's full pass would write, with
// Linux names (UTF-8, "/") and each file's stored last-write time.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "command.h"
#include "pack_common.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack extract PACKAGE|EXE DIR\n\n"
      "Writes every folder and file of an install package (or of the package appended\n"
      "to an executable) under DIR, names converted from CP932 to UTF-8, and sets each\n"
      "file's modification time to its stored last-write time. An entry whose name\n"
      "would leave DIR is refused before anything is written for it (exit 1).\n",
      to);
}

struct extraction {
  const char* path;
  fs::path root;
  long files = 0, folders = 0;
};

// A link already under DIR could carry a write elsewhere; only real folders are entered.
bool passes_through_link(const fs::path& root, const std::string& relative) {
  fs::path p = root;
  for (const fs::path& part : fs::path(relative)) {
    p /= part;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return false;  // not there yet: created as a folder or file
    if (S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

int extract_entry(void* context, const package_entry& entry, long offset, FILE* package, int32_t* position) {
  auto* x = static_cast<extraction*>(context);
  std::string name = shown_name(entry.name);
  if (check_entry_name(entry.name) != 0) {
    fail("%s: entry %s at offset %ld would leave %s; nothing written for it", x->path, name.c_str(), offset,
         x->root.c_str());
    return -1;
  }
  std::string relative;
  if (!cp932_to_utf8(entry.name, &relative)) {
    fail("%s: damaged entry at offset %ld: the name %s is not CP932", x->path, offset, name.c_str());
    return -1;
  }
  for (char& c : relative)
    if (c == '\\') c = '/';
  while (!relative.empty() && relative.back() == '/') relative.pop_back();
  if (passes_through_link(x->root, relative)) {
    fail("%s: entry %s: %s holds a link on its way; nothing written for it", x->path, name.c_str(), x->root.c_str());
    return -1;
  }
  fs::path target = x->root / relative;
  std::error_code ec;
  if (entry.size == folder_entry_size) {
    fs::create_directories(target, ec);
    if (ec) {
      fail("cannot create %s: %s", target.c_str(), ec.message().c_str());
      return -1;
    }
    ++x->folders;
    return 0;
  }
  // Entries normally come after their folder's entry; a package that omits it still extracts.
  fs::create_directories(target.parent_path(), ec);
  package_entry e = entry;
  if (read_entry_time(package, &e, position) != 0) {
    fail("%s: damaged entry %s at offset %ld: the package ends inside it", x->path, name.c_str(), offset);
    return -1;
  }
  FILE* out = std::fopen(target.c_str(), "wb");
  if (!out) {
    fail("cannot create %s: %s", target.c_str(), std::strerror(errno));
    return -1;
  }
  int32_t written = 0;
  int r = inflate_entry_data(package, e.packed_size, out, position, &written, nullptr);
  bool closed = std::fclose(out) == 0;
  const char* why = nullptr;
  if (r != 0) why = "its compressed data does not inflate";
  else if (written != e.size) why = "it inflates to a size other than the stored one";
  else if (!closed) why = "the file could not be written";
  if (why) {
    fail("%s: entry %s at offset %ld: %s; %s removed", x->path, name.c_str(), offset, why, target.c_str());
    std::remove(target.c_str());
    return -1;
  }
  int64_t seconds;
  long nanoseconds;
  unix_from_filetime(entry_filetime(e), &seconds, &nanoseconds);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the last-access time is left alone, as the installer does
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = nanoseconds;
  if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0)
    std::fprintf(stderr, "talven-pack: warning: cannot set the time of %s: %s\n", target.c_str(), std::strerror(errno));
  ++x->files;
  return 0;
}

int run_extract(int argc, char** argv) {
  if (int code = check_arguments(argc, argv, 2, usage); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  extraction x;
  x.path = argv[1];
  x.root = argv[2];
  std::error_code ec;
  fs::create_directories(x.root, ec);
  if (!fs::is_directory(x.root, ec)) return fail("cannot create the folder %s", argv[2]);
  if (walk_package(argv[1], &input, entry_visitor{&x, extract_entry}) != 0) return exit_failure;
  std::printf("extracted %ld files and %ld folders into %s\n", x.files, x.folders, argv[2]);
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(extract, "extract", "PACKAGE|EXE DIR: write every folder and file of a package", run_extract);

}  // namespace talven::pack
