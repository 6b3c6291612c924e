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
  std::string made;  // the last folder known to exist below root, relative
  fs::path current;  // the file being written
  long files = 0, folders = 0;
};

// A link already under DIR could carry a write elsewhere; only real folders are entered.
// Parts up to `known` (a folder this run made or entered) were checked before.
bool passes_through_link(const fs::path& root, const std::string& relative, const std::string& known) {
  fs::path p = root;
  std::string walked;
  for (const fs::path& part : fs::path(relative)) {
    p /= part;
    walked = walked.empty() ? part.string() : walked + "/" + part.string();
    if (!known.empty() && (known == walked || known.compare(0, walked.size() + 1, walked + "/") == 0)) continue;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return false;  // not there yet: created as a folder or file
    if (S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

// The entry's Linux path under root, or an empty path after printing why.
fs::path target_of(extraction* x, const package_entry* entry) {
  std::string relative;
  cp932_to_utf8(entry->name, &relative);  // the walk's check has refused names that do not convert
  for (char& c : relative)
    if (c == '\\') c = '/';
  while (!relative.empty() && relative.back() == '/') relative.pop_back();
  if (passes_through_link(x->root, relative, x->made)) {
    fail("%s: entry %s: %s holds a link on its way; nothing written for it", x->path,
         shown_name(entry->name).c_str(), x->root.c_str());
    return {};
  }
  return x->root / relative;
}

bool make_folders(extraction* x, const fs::path& folder) {
  std::string relative = folder.lexically_relative(x->root).string();
  if (relative == x->made) return true;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    fail("cannot create %s: %s", folder.c_str(), ec.message().c_str());
    return false;
  }
  x->made = relative == "." ? std::string() : relative;
  return true;
}

int make_folder(void* context, const package_entry* entry, const char*) {
  auto* x = static_cast<extraction*>(context);
  fs::path target = target_of(x, entry);
  if (target.empty() || !make_folders(x, target)) return -1;
  ++x->folders;
  return 0;
}

FILE* open_file(void* context, const package_entry* entry, const char*) {
  auto* x = static_cast<extraction*>(context);
  fs::path target = target_of(x, entry);
  // Entries normally come after their folder's entry; a package that omits it still extracts.
  if (target.empty() || !make_folders(x, target.parent_path())) return nullptr;
  x->current = target;
  FILE* out = std::fopen(target.c_str(), "wb");
  if (!out) fail("cannot create %s: %s", target.c_str(), std::strerror(errno));
  return out;
}

int close_file(void* context, FILE* out, const package_entry* entry, const char*, int sound) {
  auto* x = static_cast<extraction*>(context);
  const fs::path& target = x->current;
  bool closed = std::fclose(out) == 0;
  if (!sound || !closed) {
    std::remove(target.c_str());  // no partial file of a refused entry
    return closed ? 0 : -1;
  }
  int64_t seconds;
  long nanoseconds;
  unix_from_filetime(entry_filetime(*entry), &seconds, &nanoseconds);
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

const char* check_entry(void*, const package_entry* entry) { return name_not_cp932(entry); }

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
  package_reader reader;
  pass_output output = {&x, check_entry, make_folder, open_file, close_file, {nullptr, nullptr}};
  if (run_pass(argv[1], &input, full_pass, output, &reader) != 0) return exit_failure;
  std::printf("extracted %ld files and %ld folders into %s\n", x.files, x.folders, argv[2]);
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(extract, "extract", "PACKAGE|EXE DIR: write every folder and file of a package", run_extract);

}  // namespace talven::pack
