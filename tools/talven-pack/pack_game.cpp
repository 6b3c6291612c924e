// Packing a game folder (pack_game.h), for pack and medium. Files are compressed in
// parallel and written in a fixed order, so the same tree always gives the same package.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "config/settings.h"
#include "base/cp932.h"
#include "cleanup.h"
#include "game_tree.h"
#include "pack_common.h"
#include "pack_game.h"
#include "package/package_format.h"
#include "progress_line.h"
#include "platform.h"
#include "text_convert.h"

namespace talven::pack {

const char pack_options_help[] =
    "  --level N       0 (stored) to 12 (smallest, slowest); default 8, which is no larger\n"
    "                  than zlib -9 at less of its time\n"
    "  --best          level 12\n"
    "  --threads N     compressing threads (default: every core); the package is the same\n"
    "  --exclude PAT   leave out names matching the shell pattern PAT (repeatable; PAT/\n"
    "                  matches folders only); GAME_DIR/.talvenignore holds more, one a line\n"
    "  --strict        refuse to pack when check gives warnings too\n"
    "  --no-check      pack without checking install.env (for test packages); names\n"
    "                  the installer refuses are refused all the same\n"
    "  --include-vcs   keep .git/.svn/.hg, Thumbs.db, desktop.ini, .DS_Store and editor\n"
    "                  backups (*~, *.bak, .*.swp), left out by default\n"
    "  -q, --quiet     no progress, no summary, no notes (warnings and errors only)\n"
    "  -v, --verbose   name each entry as it is written\n";

const char* const pack_option_names[] = {"--level", "--best", "--threads", "-j", "--exclude", "--strict",
                                         "--no-check", "--include-vcs", "-q", "--quiet", "-v", "--verbose",
                                         "--help", nullptr};

namespace {

namespace fs = std::filesystem;

constexpr uint64_t largest_package = 0x7FFFFFFFull;

// Hand-over between the compressing workers and the writer, which takes results in order.
// Files above whole_file_limit are left to the writer, which streams them.
struct pipeline {
  std::mutex lock;
  std::condition_variable changed;
  const std::vector<pack_item>* items = nullptr;
  std::vector<size_t> files;  // indexes of file items, in package order
  size_t next_task = 0;       // next file for a worker
  size_t next_write = 0;      // next file for the writer
  uint64_t in_flight = 0;
  uint64_t budget = 0;
  bool stop = false;
  int level = default_level;
  struct result {
    bool ready = false;
    bool ok = false;
    std::string error;
    std::vector<unsigned char> packed;
    uint64_t size = 0;
  };
  std::vector<result> results;
};

bool read_file_into(const fs::path& path, uint64_t expected, std::vector<unsigned char>* data, std::string* error) {
  FILE* f = open_file(text_of(path).c_str(), "rb");
  if (!f) {
    *error = std::string("cannot read: ") + std::strerror(errno);
    return false;
  }
  data->resize(expected + 1);
  size_t got = std::fread(data->data(), 1, expected + 1, f);
  bool ok = !std::ferror(f);
  if (!ok) *error = std::string("cannot read: ") + std::strerror(errno);
  std::fclose(f);
  if (ok && got != expected) {
    *error = "changed size while being packed";
    ok = false;
  }
  data->resize(got);
  return ok;
}

// A UTF-8 install.env or readme goes into the package as CP932 with CR LF, as the
// installer and Japanese Windows read them; the file in the game folder stays as it is.
bool convert_text(const pack_item& item, std::vector<unsigned char>* data, std::string* error) {
  std::string bytes(data->begin(), data->end());
  if (!is_utf8_text(bytes) && bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) return true;
  check_report report;
  std::string converted;
  if (text_to_cp932(bytes, item.shown, &report, &converted) != 0) {
    const finding& f = report.findings.front();
    *error = item.shown + ":" + std::to_string(f.line) + ": " + f.text;
    return false;
  }
  data->assign(converted.begin(), converted.end());
  return true;
}

void worker(pipeline* p) {
  compressor_cache cache;
  std::vector<unsigned char> data;
  for (;;) {
    size_t task;
    {
      std::unique_lock<std::mutex> hold(p->lock);
      p->changed.wait(hold, [&] {
        while (!p->stop && p->next_task < p->files.size() &&
               (*p->items)[p->files[p->next_task]].size > whole_file_limit)
          ++p->next_task;  // the writer streams it
        if (p->stop || p->next_task == p->files.size()) return true;
        uint64_t s = (*p->items)[p->files[p->next_task]].size;
        return p->next_task == p->next_write || p->in_flight + s <= p->budget;
      });
      if (p->stop || p->next_task == p->files.size()) {
        p->changed.notify_all();
        return;
      }
      task = p->next_task++;
      p->in_flight += (*p->items)[p->files[task]].size;
    }
    const pack_item& item = (*p->items)[p->files[task]];
    pipeline::result r;
    std::string error;
    if (!read_file_into(item.path, item.size, &data, &error)) {
      r.error = item.shown + ": " + error;
    } else if (item.convert && !convert_text(item, &data, &error)) {
      r.error = error;
    } else if (compress_buffer(&cache, data.data(), data.size(), p->level, &r.packed) != 0) {
      r.error = item.shown + ": compression failed (out of memory)";
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

// A file entry whose data is streamed: the header goes out with a packed size of 0, which
// is set once the data is written.
int write_streamed_entry(FILE* out, const pack_item& item, int level, uint64_t written, uint64_t* entry_bytes,
                         std::string* error) {
  long header_at = std::ftell(out);
  if (header_at < 0 || write_file_entry(out, item.name.c_str(), static_cast<int32_t>(item.size), item.filetime,
                                         nullptr, 0) != 0) {
    *error = std::string("cannot write the package: ") + std::strerror(errno);
    return -1;
  }
  const int64_t n = static_cast<int64_t>(item.name.size()) + 1;
  uint64_t header = static_cast<uint64_t>(file_entry_bytes(n, 0));  // all but the data
  uint64_t limit = largest_package - terminator_bytes - written - header;
  uint64_t size = 0, packed = 0;
  if (stream_file(text_of(item.path).c_str(), out, level, limit, &size, &packed, error) != 0) {
    *error = item.shown + ": " + *error;
    return -1;
  }
  if (size != item.size) {
    *error = item.shown + ": changed size while being packed";
    return -1;
  }
  long end = std::ftell(out);
  unsigned char field[4];
  for (int i = 0; i < 4; ++i) field[i] = static_cast<unsigned char>(packed >> (8 * i));
  if (end < 0 || std::fseek(out, header_at + static_cast<long>(packed_field_at(n)), SEEK_SET) != 0 ||
      std::fwrite(field, 1, 4, out) != 4 || std::fseek(out, end, SEEK_SET) != 0) {
    *error = std::string("cannot write the package: ") + std::strerror(errno);
    return -1;
  }
  *entry_bytes = header + packed;
  return 0;
}

// -v names each entry; a closed pipe (pack -v | head) ends the pack like any failed write.
// The stream's error flag too: mingw-w64's printf writes past the buffer and its fflush
// then has nothing left to fail on.
bool say_entry(const pack_item& item) {
  return std::printf("%s\n", item.shown.c_str()) >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int write_package(const pack_options& o, const std::vector<pack_item>& items, FILE* out, pack_totals* totals) {
  pipeline p;
  p.items = &items;
  p.level = o.level;
  progress_line bar;
  uint64_t total = 0;
  for (size_t i = 0; i < items.size(); ++i)
    if (!items[i].folder) {
      p.files.push_back(i);
      total += items[i].size;
    }
  p.results.resize(p.files.size());
  unsigned threads = o.threads ? o.threads : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, p.files.size())));
  // Results waiting for the writer: a few blocks per thread, whatever the files' sizes.
  p.budget = whole_file_limit * threads;
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < threads; ++i) pool.emplace_back(worker, &p);

  int status = exit_ok;
  uint64_t written = 0, done = 0;
  size_t file_no = 0;
  bar.start("packing", total, p.files.size(), o.quiet);
  for (const pack_item& item : items) {
    if (item.folder) {
      if (write_folder_entry(out, item.name.c_str()) != 0) {
        status = fail("cannot write the package: %s", std::strerror(errno));
        break;
      }
      written += static_cast<uint64_t>(folder_entry_bytes(static_cast<int64_t>(item.name.size()) + 1));
      ++totals->folders;
      if (o.verbose && !say_entry(item)) {
        status = fail("cannot write the list of entries: %s", std::strerror(errno));
        break;
      }
      continue;
    }
    pipeline::result r;
    bool streamed = item.size > whole_file_limit;
    if (!streamed) {
      std::unique_lock<std::mutex> hold(p.lock);
      p.changed.wait(hold, [&] { return p.results[file_no].ready; });
      r = std::move(p.results[file_no]);
    }
    uint64_t entry_bytes = 0;
    if (streamed) {
      std::string error;
      if (write_streamed_entry(out, item, o.level, written, &entry_bytes, &error) != 0) {
        status = fail("%s", error.c_str());
        break;
      }
    } else {
      if (!r.ok) {
        status = fail("%s", r.error.c_str());
        break;
      }
      entry_bytes = static_cast<uint64_t>(
          file_entry_bytes(static_cast<int64_t>(item.name.size()) + 1, static_cast<int64_t>(r.packed.size())));
      if (written + entry_bytes + terminator_bytes > largest_package) {
        status = fail("%s: the package would pass 2 GiB; stopped before compressing the rest", item.shown.c_str());
        break;
      }
      if (write_file_entry(out, item.name.c_str(), static_cast<int32_t>(r.size), item.filetime, r.packed.data(),
                           r.packed.size()) != 0) {
        status = fail("cannot write the package: %s", std::strerror(errno));
        break;
      }
    }
    written += entry_bytes;
    {
      std::lock_guard<std::mutex> hold(p.lock);
      if (!streamed) p.in_flight -= item.size;
      ++p.next_write;
      p.changed.notify_all();
    }
    ++file_no;
    ++totals->files;
    totals->input += item.size;
    done += item.size;
    if (o.verbose && !say_entry(item)) {
      status = fail("cannot write the list of entries: %s", std::strerror(errno));
      break;
    }
    bar.update(done, file_no);
  }
  {
    std::lock_guard<std::mutex> hold(p.lock);
    p.stop = true;
    p.changed.notify_all();
  }
  for (std::thread& t : pool) t.join();
  bar.finish();
  if (status == exit_ok && write_terminator(out) != 0) status = fail("cannot write the package: %s", std::strerror(errno));
  totals->package = written + terminator_bytes;
  return status;
}

}  // namespace

int parse_pack_option(const char* command, int argc, char** argv, int* i, pack_options* o) {
  std::string a = argv[*i];
  auto number = [&](long low, long high, long* v) {
    if (*i + 1 >= argc) {
      usage_error(command, "%s needs a value", a.c_str());
      return false;
    }
    char* end;
    *v = std::strtol(argv[++*i], &end, 10);
    if (*end || end == argv[*i] || *v < low || *v > high) {
      usage_error(command, "%s takes %ld to %ld, not %s", a.c_str(), low, high, argv[*i]);
      return false;
    }
    return true;
  };
  long v;
  if (a == "--level") {
    if (!number(0, best_level, &v)) return -1;
    o->level = static_cast<int>(v);
  } else if (a == "--threads" || a == "-j") {
    if (!number(1, 256, &v)) return -1;
    o->threads = static_cast<unsigned>(v);
  } else if (a == "--best") {
    o->level = best_level;
  } else if (a == "--strict") {
    o->strict = true;
  } else if (a == "--no-check") {
    o->no_check = true;
  } else if (a == "-q" || a == "--quiet") {
    o->quiet = true;
  } else if (a == "-v" || a == "--verbose") {
    o->verbose = true;
  } else if (a == "--include-vcs") {
    o->include_vcs = true;
  } else if (a == "--exclude") {
    if (*i + 1 >= argc) {
      usage_error(command, "--exclude needs a pattern");
      return -1;
    }
    o->patterns.push_back(argv[++*i]);
  } else {
    return 0;
  }
  return 1;
}

// INSTREADMEFL, as the installer's store reads it.
std::string readme_name(const fs::path& dir) {
  load_game_settings(dir);
  char readme[128];
  setting_string("INSTREADMEFL", readme, sizeof readme, "readme.txt");
  reset_settings_for_tests();
  return readme;
}

// The text files the installer and the player read: install.env and INSTREADMEFL.
void mark_conversions(game_tree* tree, const fs::path& dir) {
  std::string readme = readme_name(dir);
  char want[max_entry_name + 1];
  if (copy_text(want, sizeof want, readme.c_str()) != 0) want[0] = '\0';
  mb_lower(want);
  for (pack_item& item : tree->items) {
    if (item.folder || item.size > whole_file_limit) continue;
    char have[max_entry_name + 1];
    if (copy_text(have, sizeof have, item.name.c_str()) != 0) continue;
    mb_lower(have);
    item.convert = std::strcmp(have, "install.env") == 0 || std::strcmp(have, want) == 0;
  }
}

int pack_game(const pack_options& o, pack_totals* totals) {
  double started = now_seconds();
  std::error_code ec;
  if (!fs::is_directory(path_of(o.dir), ec)) {
    if (fs::is_directory(path_of(o.out), ec))
      return usage_error(o.shown_out ? "medium" : "pack", "%s is not a folder, %s is: the game folder comes first",
                         o.dir, o.out);
    return not_a_folder(o.shown_out ? "medium" : "pack", o.dir);
  }
  fs::path out_folder = path_of(o.out).parent_path();
  if (!out_folder.empty() && !fs::is_directory(out_folder, ec))
    return fail("nothing written: the folder %s, where %s goes, does not exist", text_of(out_folder).c_str(), o.out);
  game_tree tree;
  tree.excluded = {path_of(o.out)};
  for (const std::string& p : o.left_out) tree.excluded.push_back(path_of(p));
  tree.patterns = o.patterns;
  tree.include_vcs = o.include_vcs;
  std::string error;
  if (read_ignore_file(path_of(o.dir), &tree.patterns, &error) != 0) return fail("cannot read %s", error.c_str());
  collect_tree(&tree, path_of(o.dir));
  if (!tree.errors.empty()) {
    for (const std::string& e : tree.errors) fail("%s", e.c_str());
    size_t n = tree.errors.size();
    // Not only names: a file of 2 GiB or one that cannot be read is refused here too.
    return fail("nothing written: %s above cannot be packed", count_of(n, "file or folder", "files or folders").c_str());
  }
  // The names the installer's reader refuses, whether or not the rest is checked: a
  // package it would call damaged is never written.
  check_report names;
  check_tree_names(tree, path_of(o.dir), &names);
  if (names.errors) {
    print_report(names, stderr);
    return fail("nothing written: the installer would refuse %s above",
                count_of(names.errors, "name", "names").c_str());
  }
  if (!o.no_check) {
    check_report report;
    check_game(path_of(o.dir), tree, &report);
    print_report(report, stderr);
    totals->warnings = report.warnings;
    if (report.errors || (o.strict && report.warnings)) {
      return fail("nothing written: check found %s%s (talven-pack check %s; --no-check packs anyway)",
                  count_of(report.errors, "error", "errors").c_str(),
                  o.strict && report.warnings ? (" and " + count_of(report.warnings, "warning", "warnings") + " (--strict)").c_str() : "",
                  o.dir);
    }
  }
  mark_conversions(&tree, path_of(o.dir));
  char tmp[4096];
  int fd = make_temporary_beside(o.out, tmp, sizeof tmp);
  if (fd < 0) return fail("cannot create a temporary file beside %s: %s", o.out, std::strerror(errno));
  FILE* out = ::fdopen(fd, "wb");
  if (out) give_default_mode(out);
  if (!out) {
    ::close(fd);
    remove_file(tmp);
    remove_on_signal(nullptr);
    return fail("cannot write %s: %s", tmp, std::strerror(errno));
  }
  int status = write_package(o, tree.items, out, totals);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    if (status == exit_ok) status = fail("cannot write %s: %s", tmp, std::strerror(errno));
  }
  if (std::fclose(out) != 0 && status == exit_ok) status = fail("cannot write %s: %s", tmp, std::strerror(errno));
  if (status == exit_ok && replace_file(tmp, o.out) != 0)
    status = fail("cannot rename %s to %s: %s", tmp, o.out, std::strerror(errno));
  if (status != exit_ok) remove_file(tmp);
  remove_on_signal(nullptr);
  if (status != exit_ok) return status;
  startup_check startup;
  for (const pack_item& item : tree.items) startup.see(item.name.c_str(), item.folder);
  startup.warn(o.out);
  if (!o.quiet) {
    double seconds = now_seconds() - started;
    double ratio = totals->input ? 100.0 * static_cast<double>(totals->package) / static_cast<double>(totals->input) : 100.0;
    if (tree.skipped)
      print_summary("left out " + count_of(tree.skipped, "name", "names") + " by --exclude or " + ignore_file_name);
    if (tree.litter)
      print_summary("left out " + count_of(tree.litter, "version-control folder, system file or editor backup",
                                           "version-control folders, system files and editor backups") +
                    " (--include-vcs keeps them)");
    char line[512];
    std::snprintf(line, sizeof line, "packed %s and %s into %s: %s in, %s package (%.1f%%), %.1f s",
                  count_of(totals->files, "file", "files").c_str(), count_of(totals->folders, "folder", "folders").c_str(),
                  o.shown_out ? o.shown_out : o.out, human_bytes(totals->input).c_str(),
                  human_bytes(totals->package).c_str(), ratio, seconds);
    std::string text = line;
    if (totals->warnings) text += "; " + count_of(totals->warnings, "warning", "warnings") + " above";
    print_summary(text);
  }
  return exit_ok;
}

}  // namespace talven::pack
