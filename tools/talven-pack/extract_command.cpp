// extract PACKAGE|EXE DIR: writes what the installer's full pass would write, with
// Linux names (UTF-8, "/") and each file's stored last-write time.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <fnmatch.h>

#include <vector>

#include "cleanup.h"
#include "command.h"
#include "pack_common.h"
#include "game_tree.h"
#include "progress_line.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack extract [-y|-n] [-q|-v] PACKAGE|EXE DIR [NAME...]\n\n"
      "Writes every folder and file of an install package (or of the package appended\n"
      "to an executable) under DIR, names converted from CP932 to UTF-8, and sets each\n"
      "file's modification time to its stored last-write time. An entry whose name\n"
      "would leave DIR is refused before anything is written for it (exit 1).\n"
      "NAMEs choose entries: a stored name (\\ or / between folders), a folder (all it\n"
      "holds), or a shell pattern; a NAME that chooses nothing is an error.\n"
      "Files that already exist under DIR are refused, listed, before anything is written:\n"
      "  -y  overwrite them        -n  keep them (their entries are skipped)\n"
      "  -q  no progress or summary   -v  name each file written\n",
      to);
}

struct extraction {
  const char* path;
  fs::path root;
  long files = 0, folders = 0, kept = 0;
  bool overwrite = false, keep = false, verbose = false, listing = false;
  std::vector<std::string> chosen;  // NAME operands, "/" separators
  std::vector<bool> used;
  std::vector<std::string> clashes;
  progress_line bar;
  int32_t length = 0;
};

// Whether the entry (its UTF-8 name with "/") is chosen; marks the NAMEs that chose it.
bool is_chosen(extraction* x, const std::string& relative) {
  if (x->chosen.empty()) return true;
  bool any = false;
  for (size_t i = 0; i < x->chosen.size(); ++i) {
    const std::string& c = x->chosen[i];
    bool hit = relative == c || (relative.size() > c.size() && relative.compare(0, c.size(), c) == 0 &&
                                 relative[c.size()] == '/') ||
               fnmatch(c.c_str(), relative.c_str(), FNM_PATHNAME) == 0;
    if (hit) {
      x->used[i] = true;
      any = true;
    }
  }
  return any;
}

// The first walk: the chosen files that already exist under DIR.
int find_clash(void* context, const package_entry& entry, long, FILE* package, int32_t* position) {
  auto* x = static_cast<extraction*>(context);
  if (entry.size != folder_entry_size) {
    package_entry e = entry;
    if (skip_file_data(package, &e, position) != 0) return 0;  // the real walk reports it
    std::string relative;
    if (check_entry_name(entry.name) != 0 || !cp932_to_utf8(entry.name, &relative)) return 0;
    for (char& c : relative)
      if (c == '\\') c = '/';
    std::error_code ec;
    if (is_chosen(x, relative) && fs::exists(fs::symlink_status(x->root / relative, ec))) x->clashes.push_back(relative);
  }
  return 0;
}

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
  if (!is_chosen(x, relative)) {
    if (entry.size == folder_entry_size) return 0;
    package_entry e = entry;
    if (skip_file_data(package, &e, position) != 0) {
      fail("%s: damaged entry %s at offset %ld: the package ends inside it", x->path, name.c_str(), offset);
      return -1;
    }
    x->bar.update(static_cast<uint64_t>(*position), 0);
    return 0;
  }
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
  if (x->keep && fs::exists(fs::symlink_status(target, ec))) {
    if (skip_file_data(package, &e, position) != 0) {
      fail("%s: damaged entry %s at offset %ld: the package ends inside it", x->path, name.c_str(), offset);
      return -1;
    }
    ++x->kept;
    return 0;
  }
  if (read_entry_time(package, &e, position) != 0) {
    fail("%s: damaged entry %s at offset %ld: the package ends inside it", x->path, name.c_str(), offset);
    return -1;
  }
  // Registered before the file exists, so that no signal finds it made and unregistered.
  remove_on_signal(target.c_str());
  FILE* out = std::fopen(target.c_str(), "wb");
  if (!out) {
    remove_on_signal(nullptr);
    fail("cannot create %s: %s", target.c_str(), std::strerror(errno));
    return -1;
  }
  struct bar_context {
    extraction* x;
    int32_t start;
  } progress_context{x, *position};
  inflate_progress progress{&progress_context, [](void* c, int32_t, int32_t position) {
                              auto* p = static_cast<bar_context*>(c);
                              p->x->bar.update(static_cast<uint64_t>(p->start) + static_cast<uint64_t>(position),
                                               static_cast<size_t>(p->x->files));
                            }};
  int32_t written = 0, inflate_position = 0;
  int r = inflate_entry_data(package, e.packed_size, out, &inflate_position, &written, &progress);
  *position += inflate_position;
  // A write that failed (a full disk) is the file's fault, not the package's.
  int write_error = std::ferror(out) ? errno : 0;
  if (std::fclose(out) != 0 && write_error == 0) write_error = errno ? errno : EIO;
  std::string why;
  if (write_error != 0) why = std::string("cannot write the file: ") + std::strerror(write_error);
  else if (r != 0) why = "its compressed data does not inflate";
  else if (written != e.size) why = "it inflates to a size other than the stored one";
  if (!why.empty()) {
    fail("%s: entry %s at offset %ld: %s; %s removed", x->path, name.c_str(), offset, why.c_str(), target.c_str());
    std::remove(target.c_str());
    remove_on_signal(nullptr);
    return -1;
  }
  remove_on_signal(nullptr);
  if (x->verbose) std::printf("%s\n", relative.c_str());
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
  x->bar.update(static_cast<uint64_t>(*position), static_cast<size_t>(x->files));
  return 0;
}

int run_extract(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  extraction x;
  bool quiet = false;
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-y") x.overwrite = true;
    else if (a == "-n") x.keep = true;
    else if (a == "-q" || a == "--quiet") quiet = true;
    else if (a == "-v" || a == "--verbose") x.verbose = true;
    else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "talven-pack extract: unknown option %s\n", argv[i]);
      usage(stderr);
      return exit_usage;
    } else plain.push_back(argv[i]);
  }
  if (plain.size() < 2 || (x.overwrite && x.keep)) {
    if (x.overwrite && x.keep) std::fprintf(stderr, "talven-pack extract: -y and -n exclude each other\n");
    usage(stderr);
    return exit_usage;
  }
  x.path = plain[0];
  x.root = plain[1];
  for (size_t i = 2; i < plain.size(); ++i) {
    std::string c = plain[i];
    for (char& ch : c)
      if (ch == '\\') ch = '/';
    while (!c.empty() && c.back() == '/') c.pop_back();
    x.chosen.push_back(c);
  }
  x.used.assign(x.chosen.size(), false);
  package_input input;
  if (open_package_input(x.path, &input) != 0) return exit_failure;
  if (!x.overwrite && !x.keep) {
    if (walk_package(x.path, &input, entry_visitor{&x, find_clash}) != 0) return exit_failure;
    if (!x.clashes.empty()) {
      for (size_t i = 0; i < x.clashes.size() && i < 20; ++i)
        std::fprintf(stderr, "  %s\n", (x.root / x.clashes[i]).c_str());
      if (x.clashes.size() > 20) std::fprintf(stderr, "  ... and %zu more\n", x.clashes.size() - 20);
      return fail("nothing written: %s already exist%s under %s (-y overwrites, -n keeps them)",
                  count_of(x.clashes.size(), "file", "files").c_str(), x.clashes.size() == 1 ? "s" : "",
                  x.root.c_str());
    }
  }
  std::error_code ec;
  fs::create_directories(x.root, ec);
  if (!fs::is_directory(x.root, ec)) return fail("cannot create the folder %s: %s", x.root.c_str(), ec.message().c_str());
  x.bar.unit = "files";
  x.bar.start("extracting", static_cast<uint64_t>(input.length), 0, quiet);
  int walked = walk_package(x.path, &input, entry_visitor{&x, extract_entry});
  x.bar.items = static_cast<size_t>(x.files);
  x.bar.finish();
  if (walked != 0) return exit_failure;
  for (size_t i = 0; i < x.chosen.size(); ++i)
    if (!x.used[i]) return fail("%s: no entry %s", x.path, x.chosen[i].c_str());
  if (!quiet) {
    std::printf("extracted %s and %s into %s", count_of(static_cast<size_t>(x.files), "file", "files").c_str(),
                count_of(static_cast<size_t>(x.folders), "folder", "folders").c_str(), x.root.c_str());
    if (x.kept) std::printf(" (%ld existing files kept)", x.kept);
    std::printf("\n");
  }
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(extract, "extract", "PACKAGE|EXE DIR: write every folder and file of a package", run_extract);

}  // namespace talven::pack
