// extract PACKAGE|EXE DIR: writes what the installer's full pass would write, with
// Linux names (UTF-8, "/") and each file's stored last-write time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  std::string root;
  std::string relative;  // the current entry's name in UTF-8, "/" between parts, no trailing "/"
  std::string made;      // the last folder made or entered below root (relative), links checked
  std::string current;   // the file being written
  long files = 0, folders = 0;
};

// A link already under DIR could carry a write elsewhere; only real folders are entered.
// The parts of `relative` up to its last "/" (and the last part too when `whole`) are
// looked at, except those of the folder made last, which were looked at then.
bool passes_through_link(const extraction* x, const std::string& relative, bool whole) {
  size_t from = 0;
  if (!x->made.empty() && relative.compare(0, x->made.size() + 1, x->made + "/") == 0) from = x->made.size() + 1;
  for (size_t end = relative.find('/', from);; end = relative.find('/', end + 1)) {
    if (end == std::string::npos && !whole) return false;
    struct stat st;
    std::string p = x->root + "/" + relative.substr(0, end);
    if (::lstat(p.c_str(), &st) != 0) return false;  // not there yet: created as a folder or file
    if (S_ISLNK(st.st_mode)) return true;
    if (end == std::string::npos) return false;
  }
}

int refuse_link(const extraction* x) {
  fail("%s: entry %s: %s holds a link on its way; nothing written for it", x->path, x->relative.c_str(),
       x->root.c_str());
  return -1;
}

bool make_folders(extraction* x, const std::string& relative) {
  if (relative == x->made) return true;
  std::error_code ec;
  fs::path folder = fs::path(x->root) / relative;
  fs::create_directories(folder, ec);
  if (ec) {
    fail("cannot create %s: %s", folder.c_str(), ec.message().c_str());
    return false;
  }
  x->made = relative;
  return true;
}

// The tool's own name rule, then the Linux name the entry will be written under.
const char* check_entry(void* context, const package_entry* entry) {
  auto* x = static_cast<extraction*>(context);
  if (const char* why = name_not_cp932(entry)) return why;
  cp932_to_utf8(entry->name, &x->relative);
  for (char& c : x->relative)
    if (c == '\\') c = '/';
  while (!x->relative.empty() && x->relative.back() == '/') x->relative.pop_back();
  return nullptr;
}

int make_folder(void* context, const package_entry*, const char*) {
  auto* x = static_cast<extraction*>(context);
  if (passes_through_link(x, x->relative, true)) return refuse_link(x);
  if (!make_folders(x, x->relative)) return -1;
  ++x->folders;
  return 0;
}

FILE* open_file(void* context, const package_entry*, const char*) {
  auto* x = static_cast<extraction*>(context);
  if (passes_through_link(x, x->relative, false)) {
    refuse_link(x);
    return nullptr;
  }
  // Entries normally come after their folder's entry; a package that omits it still extracts.
  size_t slash = x->relative.rfind('/');
  if (!make_folders(x, slash == std::string::npos ? std::string() : x->relative.substr(0, slash))) return nullptr;
  x->current = x->root + "/" + x->relative;
  // O_NOFOLLOW: a link standing where the file goes is refused, not written through.
  int fd = ::open(x->current.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0 && errno == ELOOP) {
    refuse_link(x);
    return nullptr;
  }
  FILE* out = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (!out) {
    fail("cannot create %s: %s", x->current.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
  }
  return out;
}

int close_file(void* context, FILE* out, const package_entry* entry, const char*, int sound) {
  auto* x = static_cast<extraction*>(context);
  const std::string& target = x->current;
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

int run_extract(int argc, char** argv) {
  if (int code = check_arguments(argc, argv, 2, usage); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  extraction x;
  x.path = argv[1];
  x.root = argv[2];
  while (x.root.size() > 1 && x.root.back() == '/') x.root.pop_back();
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
