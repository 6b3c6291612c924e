// extract PACKAGE|EXE DIR [NAME...]: writes what the installer's full pass would write,
// with Linux names (UTF-8, "/") and each file's stored last-write time.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cleanup.h"
#include "command.h"
#include "game_tree.h"
#include "pack_common.h"
#include "progress_line.h"
#include "pattern.h"
#include "platform.h"

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
      "NAMEs choose entries as tar does: a stored name (\\ or / between folders), a folder\n"
      "(all it holds), or a shell pattern in which * and ? cross folders ('*.csv' takes\n"
      "every .csv, 'DIR/*' what DIR holds). A NAME that chooses nothing is refused before\n"
      "anything is written. Entries left out are still read, so a damaged package is\n"
      "refused whatever is chosen.\n"
      "Files that already exist under DIR are refused, listed, before anything is written:\n"
      "  -y  overwrite them        -n  keep them (their entries are skipped)\n"
      "  -q  no progress, no summary   -v  name each file written\n",
      to);
}

struct extraction {
  const char* path;
  std::string root;
  long start = 0;                       // file offset of the package's first byte
  const package_reader* reader = nullptr;
  std::string relative;  // the current entry's name in UTF-8, "/" between parts, no trailing "/"
  std::string made;      // the last folder made or entered below root (relative), links checked
  std::string current;   // the file being written
  long files = 0, folders = 0, kept = 0;
  bool overwrite = false, keep = false, verbose = false;
  std::vector<std::string> chosen;  // NAME operands, "/" separators
  std::vector<bool> used;
  std::vector<std::string> clashes;
  progress_line bar;
};

// The Linux name of a stored one: UTF-8, "/" between parts, no trailing "/". False when
// the name is not CP932.
bool linux_name(const char* stored, std::string* relative) {
  if (!cp932_to_utf8(stored, relative)) return false;
  for (char& c : *relative)
    if (c == '\\') c = '/';
  while (!relative->empty() && relative->back() == '/') relative->pop_back();
  return true;
}

// Whether the entry (its Linux name) is chosen; marks the NAMEs that chose it.
bool is_chosen(extraction* x, const std::string& relative) {
  if (x->chosen.empty()) return true;
  bool any = false;
  for (size_t i = 0; i < x->chosen.size(); ++i) {
    const std::string& c = x->chosen[i];
    bool hit = relative == c ||
               (relative.size() > c.size() && relative.compare(0, c.size(), c) == 0 && relative[c.size()] == '/') ||
               match_pattern(c.c_str(), relative.c_str(), false);
    if (hit) {
      x->used[i] = true;
      any = true;
    }
  }
  return any;
}

bool exists_under_root(const extraction* x, const std::string& relative) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path_of(x->root + "/" + relative), ec));
}

// Before anything is written, from the reader's headers: which NAMEs choose something
// and, when `clashes`, the chosen files that already exist under DIR. It stops quietly at
// damage; the pass then reports it.
int scan_headers(extraction* x, package_input* input, bool clashes) {
  package_reader reader;
  if (open_package_reading(x->path, input, &reader) != 0) return -1;
  std::string relative;
  int r;
  while ((r = next_package_entry(&reader)) == entry_read) {
    const package_entry& e = reader.entry;
    if (!linux_name(e.name, &relative)) continue;
    bool chosen = is_chosen(x, relative);
    if (clashes && chosen && e.size != folder_entry_size && exists_under_root(x, relative))
      x->clashes.push_back(relative);
  }
  // A damaged package is refused for its damage, not for a pattern it never reached.
  int refused = r == entry_terminator ? 0 : (report_refusal(x->path, *input, reader), -1);
  close_package_reader(&reader);
  return refused;
}

// A refused or failed run takes back the folders it made and left empty.
void remove_empty_folders(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) remove_empty_folders(it->path());
  fs::remove(folder, ec);  // only when empty
}

// Nothing can clash under a folder that is not there yet or holds nothing: the usual
// extraction into a fresh folder skips a whole reading of the headers and a look-up per file.
bool may_hold_files(const std::string& root) {
  std::error_code ec;
  if (!fs::exists(path_of(root), ec)) return ec.value() != 0;  // unreadable: the clash pass says why
  return !(fs::is_directory(path_of(root), ec) && fs::is_empty(path_of(root), ec));
}

long entry_offset(const extraction* x) { return x->start + x->reader->entry_offset; }

// A link already under DIR could carry a write elsewhere; only real folders are entered.
// The parts of `relative` up to its last "/" (and the last part too when `whole`) are
// looked at, except those of the folder made last, which were looked at then.
bool passes_through_link(const extraction* x, const std::string& relative, bool whole) {
  size_t from = 0;
  if (!x->made.empty() && relative.compare(0, x->made.size() + 1, x->made + "/") == 0) from = x->made.size() + 1;
  for (size_t end = relative.find('/', from);; end = relative.find('/', end + 1)) {
    if (end == std::string::npos && !whole) return false;
    file_info st;
    std::string p = x->root + "/" + relative.substr(0, end);
    if (look_at_link(p.c_str(), &st) != 0) return false;  // not there yet: created as a folder or file
    if (st.link) return true;
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
  fs::path folder = path_of(x->root + "/" + relative);
  fs::create_directories(folder, ec);
  if (ec) {
    fail("cannot create %s: %s", text_of(folder).c_str(), ec.message().c_str());
    return false;
  }
  x->made = relative;
  return true;
}

// The tool's own name rule, then the Linux name the entry will be written under.
const char* check_entry(void* context, const package_entry* entry) {
  auto* x = static_cast<extraction*>(context);
  if (const char* why = name_not_cp932(entry)) return why;
  linux_name(entry->name, &x->relative);
  return nullptr;
}

// Entries not chosen, and with -n the files already there, are read but not written.
int leave_entry(void* context, const package_entry* entry) {
  auto* x = static_cast<extraction*>(context);
  if (!is_chosen(x, x->relative)) return 1;
  if (x->keep && entry->size != folder_entry_size && exists_under_root(x, x->relative)) {
    ++x->kept;
    return 1;
  }
  return 0;
}

int make_folder(void* context, const package_entry*, const char*) {
  auto* x = static_cast<extraction*>(context);
  if (passes_through_link(x, x->relative, true)) return refuse_link(x);
  if (!make_folders(x, x->relative)) return -1;
  ++x->folders;
  return 0;
}

void* open_file(void* context, const package_entry*, const char*) {
  auto* x = static_cast<extraction*>(context);
  if (passes_through_link(x, x->relative, false)) {
    refuse_link(x);
    return nullptr;
  }
  // Entries normally come after their folder's entry; a package that omits it still extracts.
  size_t slash = x->relative.rfind('/');
  if (!make_folders(x, slash == std::string::npos ? std::string() : x->relative.substr(0, slash))) return nullptr;
  x->current = x->root + "/" + x->relative;
  // Registered before the file exists, so that no signal finds it made and unregistered.
  remove_on_signal(x->current.c_str());
  // O_NOFOLLOW: a link standing where the file goes is refused, not written through.
  FILE* out = create_file_no_link(x->current.c_str());
  int saved = errno;
  if (out) return out;
  remove_on_signal(nullptr);
  if (saved == ELOOP) {
    refuse_link(x);
    return nullptr;
  }
  fail("cannot create %s: %s", x->current.c_str(), std::strerror(saved));
  return nullptr;
}

int close_file(void* context, void* file, const package_entry* entry, const char*, int sound) {
  auto* x = static_cast<extraction*>(context);
  FILE* out = static_cast<FILE*>(file);
  const std::string& target = x->current;
  // A write that failed (a full disk) is the file's fault, not the package's: named with
  // its reason. errno still holds the failed write's when the stream's error is set.
  int write_error = std::ferror(out) ? (errno ? errno : EIO) : 0;
  if (std::fclose(out) != 0 && write_error == 0) write_error = errno ? errno : EIO;
  if (!sound || write_error != 0) {
    remove_file(target.c_str());  // no partial file of a refused entry
    remove_on_signal(nullptr);
    if (write_error == 0) return 0;
    fail("%s: entry %s at offset %ld: cannot write the file: %s; %s removed", x->path, x->relative.c_str(),
         entry_offset(x), std::strerror(write_error), target.c_str());
    return -1;
  }
  remove_on_signal(nullptr);
  if (x->verbose) std::printf("%s\n", x->relative.c_str());
  // The last-access time is left alone, as the installer does.
  if (set_write_time(target.c_str(), entry_filetime(*entry)) != 0)
    std::fprintf(stderr, "talven-pack: warning: cannot set the time of %s: %s\n", target.c_str(), std::strerror(errno));
  ++x->files;
  x->bar.update(static_cast<uint64_t>(x->reader->position), static_cast<size_t>(x->files));
  return 0;
}

void on_block(void* context, int32_t, int32_t position) {
  auto* x = static_cast<extraction*>(context);
  x->bar.update(static_cast<uint64_t>(position), static_cast<size_t>(x->files));
}

int run_extract(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  static const char* const known_options[] = {"-y", "-n", "-q", "--quiet", "-v", "--verbose", "--help", nullptr};
  extraction x;
  bool quiet = false;
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-y") x.overwrite = true;
    else if (a == "-n") x.keep = true;
    else if (a == "-q" || a == "--quiet") quiet = true;
    else if (a == "-v" || a == "--verbose") x.verbose = true;
    else if (a.size() > 1 && a[0] == '-') return unknown_option("extract", argv[i], known_options);
    else plain.push_back(argv[i]);
  }
  if (plain.size() < 2) return operand_error("extract", "PACKAGE DIR", plain.size());
  if (x.overwrite && x.keep) return usage_error("extract", "-y and -n exclude each other");
  x.path = plain[0];
  x.root = plain[1];
  while (x.root.size() > 1 && x.root.back() == '/') x.root.pop_back();
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
  x.start = input.start;
  bool look_for_clashes = !x.overwrite && !x.keep && may_hold_files(x.root);
  if (look_for_clashes || !x.chosen.empty()) {
    if (scan_headers(&x, &input, look_for_clashes) != 0) return exit_failure;
    for (size_t i = 0; i < x.chosen.size(); ++i)
      if (!x.used[i]) return fail("nothing written: no entry %s in %s (no name or pattern matches)", x.chosen[i].c_str(), x.path);
    if (!x.clashes.empty()) {
      for (size_t i = 0; i < x.clashes.size() && i < 20; ++i)
        std::fprintf(stderr, "  %s\n", (x.root + "/" + x.clashes[i]).c_str());
      if (x.clashes.size() > 20) std::fprintf(stderr, "  ... and %zu more\n", x.clashes.size() - 20);
      return fail("nothing written: %s already exist%s under %s (-y overwrites, -n keeps them)",
                  count_of(x.clashes.size(), "file", "files").c_str(), x.clashes.size() == 1 ? "s" : "",
                  x.root.c_str());
    }
  }
  std::error_code ec;
  bool root_existed = fs::exists(path_of(x.root), ec);
  fs::create_directories(path_of(x.root), ec);
  if (!fs::is_directory(path_of(x.root), ec)) return fail("cannot create the folder %s: %s", x.root.c_str(), ec.message().c_str());

  package_reader reader;
  x.reader = &reader;
  if (open_package_reading(x.path, &input, &reader) != 0) return exit_failure;
  pass_output output = {&x, check_entry, make_folder, open_file, close_file, {&x, on_block}, leave_entry, nullptr};
  x.bar.unit = "files";
  x.bar.start("extracting", static_cast<uint64_t>(input.length), 0, quiet);
  int result = run_package_pass(&reader, nullptr, full_pass, &output);
  x.bar.items = static_cast<size_t>(x.files);
  if (result == 0) x.bar.update(x.bar.total, static_cast<size_t>(x.files));
  x.bar.finish();
  // A failed output has said why itself (a link, a folder or file not made, a write);
  // anything else is the package's damage, named as every reader names it.
  if (result == entry_damaged) report_refusal(x.path, input, reader);
  close_package_reader(&reader);
  if (result != 0) {
    if (!root_existed) remove_empty_folders(path_of(x.root));
    return exit_failure;
  }
  if (!quiet) {
    std::string line = "extracted " + count_of(static_cast<size_t>(x.files), "file", "files") + " and " +
                       count_of(static_cast<size_t>(x.folders), "folder", "folders") + " into " + x.root;
    if (x.kept) line += " (" + std::to_string(x.kept) + " existing files kept)";
    print_summary(line);
  }
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(extract, "extract", "PACKAGE|EXE DIR: write every folder and file of a package", run_extract);

}  // namespace talven::pack
