// pack DIR OUT: the install package of a folder tree. Files are compressed in parallel
// and written in a fixed order, so the same tree always gives the same package.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "pack_common.h"
#include "package/package_format.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t largest_file = 0x7FFFFFFFull;  // sizes are signed 32-bit
constexpr uint64_t largest_package = 0x7FFFFFFFull;
// Compressed results waiting for their turn are held in memory; this bounds them.
constexpr uint64_t in_flight_budget = 512ull << 20;

struct pack_item {
  std::string name;  // CP932, backslashes, folders end in one
  std::string shown; // UTF-8 relative path for messages
  fs::path path;
  bool folder = false;
  uint64_t size = 0;
  uint64_t filetime = 0;
};

struct options {
  const char* dir = nullptr;
  const char* out = nullptr;
  unsigned threads = 0;
  int level = 9;
};

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack pack [--threads N] [--level 0-9] DIR OUT\n\n"
      "Packs every folder and file under DIR into the install package OUT (instdat.arc).\n"
      "Names are stored in CP932 with backslashes; a name CP932 cannot hold is an error.\n"
      "Within each folder its files come first, then its sub-folders, each sorted by\n"
      "name; a folder's entry precedes its contents. Last-write times are kept.\n"
      "Files are compressed at level 9 (zlib) on all cores by default. OUT is written\n"
      "as OUT.tmp and renamed at the end, so a failed pack leaves no OUT behind.\n"
      "A progress bar is shown on stderr when it is a terminal. A warning is given when\n"
      "the installer's start-up pass would fail on the layout (see verify --help).\n",
      to);
}

// Characters Windows cannot hold in a file name, plus the separators themselves.
bool has_forbidden_char(const std::string& utf8) {
  for (unsigned char c : utf8)
    if (c < 0x20 || std::strchr("<>:\"|?*\\", c)) return true;
  return false;
}

struct collector {
  std::vector<pack_item> items;
  std::vector<std::string> errors;
  std::vector<fs::path> excluded;  // the output itself when it lies inside DIR
};

bool is_excluded(const collector& c, const fs::path& p) {
  std::error_code ec;
  for (const fs::path& x : c.excluded)
    if (fs::equivalent(p, x, ec)) return true;
  return false;
}

// Checks one name component and appends its CP932 form to *name.
bool add_component(collector* c, const std::string& shown, const std::string& component, std::string* name) {
  std::string cp;
  if (!utf8_to_cp932(component, &cp)) {
    c->errors.push_back(shown + ": the name cannot be written in CP932 (Shift-JIS)");
    return false;
  }
  if (has_forbidden_char(component)) {
    c->errors.push_back(shown + ": the name holds a character Windows does not allow (<>:\"|?*\\ or a control character)");
    return false;
  }
  if (component.back() == '.' || component.back() == ' ') {
    c->errors.push_back(shown + ": Windows drops a dot or space at the end of a name");
    return false;
  }
  *name += cp;
  return true;
}

void collect(collector* c, const fs::path& dir, const std::string& prefix_shown, const std::string& prefix_name) {
  std::vector<fs::directory_entry> children;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) children.push_back(*it);
  if (ec) {
    c->errors.push_back((prefix_shown.empty() ? dir.string() : prefix_shown) + ": cannot read the folder: " + ec.message());
    return;
  }
  std::sort(children.begin(), children.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
    return a.path().filename().native() < b.path().filename().native();
  });
  std::vector<fs::directory_entry> folders;
  for (const fs::directory_entry& child : children) {
    std::string component = child.path().filename().native();
    std::string shown = prefix_shown + component;
    if (is_excluded(*c, child.path())) continue;
    struct stat st;
    if (::stat(child.path().c_str(), &st) != 0) {
      c->errors.push_back(shown + ": cannot read: " + std::strerror(errno));
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (child.is_symlink(ec)) {
        c->errors.push_back(shown + ": a link to a folder is not packed (it could loop)");
        continue;
      }
      folders.push_back(child);
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      c->errors.push_back(shown + ": neither a file nor a folder");
      continue;
    }
    pack_item item;
    item.name = prefix_name;
    if (!add_component(c, shown, component, &item.name)) continue;
    item.shown = shown;
    item.path = child.path();
    item.size = static_cast<uint64_t>(st.st_size);
    item.filetime = filetime_from_unix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (item.size > largest_file) {
      c->errors.push_back(shown + ": 2 GiB or more; a package entry holds less");
      continue;
    }
    c->items.push_back(std::move(item));
  }
  for (const fs::directory_entry& child : folders) {
    std::string component = child.path().filename().native();
    std::string shown = prefix_shown + component + "/";
    pack_item item;
    item.name = prefix_name;
    item.folder = true;
    if (!add_component(c, prefix_shown + component, component, &item.name)) continue;
    item.name += '\\';
    item.shown = shown;
    item.path = child.path();
    std::string name = item.name;
    c->items.push_back(std::move(item));
    collect(c, child.path(), shown, name);
  }
}

// Hand-over between the compressing workers and the writer, which takes results in order.
struct pipeline {
  std::mutex lock;
  std::condition_variable changed;
  const std::vector<pack_item>* items = nullptr;
  std::vector<size_t> files;  // indexes of file items, in package order
  size_t next_task = 0;       // next file for a worker
  size_t next_write = 0;      // next file for the writer
  uint64_t in_flight = 0;
  bool stop = false;
  int level = 9;
  struct result {
    bool ready = false;
    bool ok = false;
    std::string error;
    std::vector<unsigned char> packed;
    uint64_t size = 0;
  };
  std::vector<result> results;
};

void worker(pipeline* p) {
  for (;;) {
    size_t task;
    uint64_t size;
    {
      std::unique_lock<std::mutex> hold(p->lock);
      p->changed.wait(hold, [&] {
        if (p->stop || p->next_task == p->files.size()) return true;
        uint64_t s = (*p->items)[p->files[p->next_task]].size;
        return p->next_task == p->next_write || p->in_flight + s <= in_flight_budget;
      });
      if (p->stop || p->next_task == p->files.size()) return;
      task = p->next_task++;
      size = (*p->items)[p->files[task]].size;
      p->in_flight += size;
    }
    const pack_item& item = (*p->items)[p->files[task]];
    pipeline::result r;
    std::vector<unsigned char> data;
    std::string error;
    if (!read_whole_file(item.path.c_str(), &data, &error, largest_file)) {
      r.error = item.shown + ": cannot read: " + error;
    } else if (data.size() > largest_file) {
      r.error = item.shown + ": 2 GiB or more; a package entry holds less";
    } else if (compress_data(data.data(), data.size(), p->level, &r.packed) != 0) {
      r.error = item.shown + ": compression failed";
    } else {
      r.ok = true;
      r.size = data.size();
    }
    std::lock_guard<std::mutex> hold(p->lock);
    r.ready = true;
    p->results[task] = std::move(r);
    p->changed.notify_all();
  }
}

struct progress_bar {
  bool shown = false;
  uint64_t total = 0, done = 0;
  size_t files = 0, files_done = 0;
  int last_permille = -1;
  void update() {
    if (!shown) return;
    int permille = total ? static_cast<int>(done * 1000 / total) : 1000;
    if (permille == last_permille && files_done != files) return;
    last_permille = permille;
    char bar[41];
    int fill = permille * 40 / 1000;
    for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\rpacking [%s] %3d%%  %zu/%zu files", bar, permille / 10, files_done, files);
    std::fflush(stderr);
  }
  void finish() {
    if (shown) std::fputc('\n', stderr);
  }
};

int parse(int argc, char** argv, options* o) {
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--threads" || a == "-j" || a == "--level") && i + 1 < argc) {
      char* end;
      long v = std::strtol(argv[++i], &end, 10);
      if (*end || v < 0) return -1;
      if (a == "--level") {
        if (v > 9) return -1;
        o->level = static_cast<int>(v);
      } else {
        if (v == 0 || v > 256) return -1;
        o->threads = static_cast<unsigned>(v);
      }
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return -1;
    } else {
      plain.push_back(argv[i]);
    }
  }
  if (plain.size() != 2) return -1;
  o->dir = plain[0];
  o->out = plain[1];
  return 0;
}

int write_package(const options& o, const std::vector<pack_item>& items, FILE* out) {
  pipeline p;
  p.items = &items;
  p.level = o.level;
  progress_bar bar;
  bar.shown = ::isatty(STDERR_FILENO) == 1;
  for (size_t i = 0; i < items.size(); ++i)
    if (!items[i].folder) {
      p.files.push_back(i);
      bar.total += items[i].size;
    }
  bar.files = p.files.size();
  p.results.resize(p.files.size());
  unsigned threads = o.threads ? o.threads : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, p.files.size())));
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < threads; ++i) pool.emplace_back(worker, &p);

  int status = exit_ok;
  uint64_t written = 0;
  size_t file_no = 0;
  bar.update();
  for (const pack_item& item : items) {
    if (item.folder) {
      if (write_folder_entry(out, item.name.c_str()) != 0) {
        status = fail("cannot write the package");
        break;
      }
      written += static_cast<uint64_t>(folder_entry_bytes(static_cast<int64_t>(item.name.size()) + 1));
      continue;
    }
    pipeline::result r;
    {
      std::unique_lock<std::mutex> hold(p.lock);
      p.changed.wait(hold, [&] { return p.results[file_no].ready; });
      r = std::move(p.results[file_no]);
    }
    if (!r.ok) {
      status = fail("%s", r.error.c_str());
      break;
    }
    written += static_cast<uint64_t>(
        file_entry_bytes(static_cast<int64_t>(item.name.size()) + 1, static_cast<int64_t>(r.packed.size())));
    if (written + terminator_bytes > largest_package) {
      status = fail("%s: the package would pass 2 GiB", item.shown.c_str());
      break;
    }
    if (write_file_entry(out, item.name.c_str(), static_cast<int32_t>(r.size), item.filetime, r.packed.data(),
                         r.packed.size()) != 0) {
      status = fail("cannot write the package");
      break;
    }
    {
      std::lock_guard<std::mutex> hold(p.lock);
      p.in_flight -= item.size;
      ++p.next_write;
      p.changed.notify_all();
    }
    ++file_no;
    bar.done += item.size;
    bar.files_done = file_no;
    bar.update();
  }
  {
    std::lock_guard<std::mutex> hold(p.lock);
    p.stop = true;
    p.changed.notify_all();
  }
  for (std::thread& t : pool) t.join();
  bar.finish();
  if (status == exit_ok && write_terminator(out) != 0) status = fail("cannot write the package");
  return status;
}

int run_pack(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  options o;
  if (parse(argc, argv, &o) != 0) {
    usage(stderr);
    return exit_usage;
  }
  std::error_code ec;
  if (!fs::is_directory(o.dir, ec)) return fail("%s is not a folder", o.dir);
  std::string tmp = std::string(o.out) + ".tmp";
  collector c;
  c.excluded = {fs::path(o.out), fs::path(tmp)};
  collect(&c, o.dir, "", "");
  if (!c.errors.empty()) {
    for (const std::string& e : c.errors) fail("%s", e.c_str());
    return fail("nothing written: %zu name%s cannot be packed", c.errors.size(), c.errors.size() == 1 ? "" : "s");
  }
  for (const pack_item& item : c.items) {
    if (item.name.size() + 1 > max_entry_name)
      return fail("%s: the name is longer than a package entry holds (%u bytes in CP932)", item.shown.c_str(),
                  max_entry_name - 1);
    if (check_entry_name(item.name.c_str()) != 0)
      return fail("%s: the name would not stay inside the install folder", item.shown.c_str());
  }
  FILE* out = std::fopen(tmp.c_str(), "wb");
  if (!out) return fail("cannot create %s: %s", tmp.c_str(), std::strerror(errno));
  int status = write_package(o, c.items, out);
  if (std::fflush(out) != 0 || std::ferror(out)) status = fail("cannot write %s", tmp.c_str());
  if (std::fclose(out) != 0 && status == exit_ok) status = fail("cannot write %s", tmp.c_str());
  if (status == exit_ok && std::rename(tmp.c_str(), o.out) != 0)
    status = fail("cannot rename %s to %s: %s", tmp.c_str(), o.out, std::strerror(errno));
  if (status != exit_ok) {
    std::remove(tmp.c_str());
    return status;
  }
  size_t folders = 0;
  startup_check startup;
  for (const pack_item& item : c.items) {
    folders += item.folder;
    startup.see(item.name.c_str(), item.folder);
  }
  startup.warn(o.out);
  std::printf("packed %zu files and %zu folders into %s\n", c.items.size() - folders, folders, o.out);
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(pack, "pack", "DIR OUT: make an install package of a folder tree", run_pack);

}  // namespace talven::pack
