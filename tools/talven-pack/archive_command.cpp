// archive DIR OUT.arc: an archive of loose files with the sorted index the engine's file
// resolver mounts (engine/mounts.h describes both files).
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "engine/mounts.h"
#include "base/cp932.h"
#include "game_tree.h"
#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

struct member {
  fs::path path;
  std::string shown;  // UTF-8 path under DIR, for messages
  std::string name;   // CP932 bare name as the engine asks for it
  uint64_t key = 0;
  uint64_t size = 0;
  uint32_t offset = 0;
};

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack archive [-q] [--index crc32|hash64] [--index-file PATH] DIR OUT.arc\n\n"
      "Writes every file under DIR (sub-folders included) into OUT.arc, the files' bytes\n"
      "one after another in the order of their paths, and beside it the sorted index the\n"
      "engine mounts (OUT.idx: the name with its .arc replaced, or .idx added).\n"
      "A member is found by its bare file name, converted to CP932 and lower-cased\n"
      "(A-Z and full-width Ａ-Ｚ), so two files whose names differ only in case or folder\n"
      "are the same member: that, like two names with the same checksum, is an error.\n"
      "  --index hash64   64-bit name hash, 16-byte entries (the default)\n"
      "  --index crc32    CRC-32 of the name, 12-byte entries\n"
      "  -q               no summary\n\n"
      "Index file, little-endian: \"TVIX\", u32 kind (1 crc32, 2 hash64), u32 entry\n"
      "count, u32 entry size (12 or 16); then the entries sorted by key as unsigned\n"
      "numbers: key (u32, or u64 low word first), u32 offset of the member's first byte\n"
      "in the archive, u32 member size. Archives are limited to 4 GiB.\n",
      to);
}

std::string default_index_path(const std::string& out) {
  size_t slash = out.find_last_of('/');
  size_t dot = out.find_last_of('.');
  std::string base = out;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    std::string ext = out.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".arc") base = out.substr(0, dot);
  }
  return base + ".idx";
}

// Collects the regular files under dir, sorted by path so that the archive is the same
// for the same tree. Returns false after printing every problem.
bool collect(const fs::path& dir, const std::vector<fs::path>& excluded, int32_t kind,
             std::vector<member>* members) {
  bool ok = true;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, ec), end;
  if (ec) {
    fail("%s: cannot read the folder: %s", text_of(dir).c_str(), ec.message().c_str());
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      fail("%s: cannot read the folder: %s", text_of(dir).c_str(), ec.message().c_str());
      return false;
    }
    const fs::path& p = it->path();
    if (!it->is_regular_file(ec)) continue;
    bool skip = false;
    for (const fs::path& x : excluded)
      if (fs::equivalent(p, x, ec)) skip = true;
    if (skip) continue;
    member m;
    m.path = p;
    m.shown = text_of(fs::relative(p, dir, ec));
    if (ec) m.shown = text_of(p);
    std::string bare = text_of(p.filename());
    if (!utf8_to_cp932(bare, &m.name)) {
      fail("%s: the name cannot be written in CP932 (Shift-JIS)", m.shown.c_str());
      ok = false;
      continue;
    }
    // The resolver never looks in archives for a name with a backslash.
    if (mb_find_char(m.name.c_str(), '\\')) {
      fail("%s: a backslash in the name would never be looked up in an archive", m.shown.c_str());
      ok = false;
      continue;
    }
    char norm[engine_path_size];
    if (normalise_name(m.name.c_str(), norm, sizeof norm) != 0) {
      fail("%s: the name is longer than 259 bytes in CP932", m.shown.c_str());
      ok = false;
      continue;
    }
    m.key = kind == mount_hash_archive ? name_hash64(norm) : name_crc32(norm);
    m.size = it->file_size(ec);
    if (ec) {
      fail("%s: cannot read: %s", m.shown.c_str(), ec.message().c_str());
      ok = false;
      continue;
    }
    members->push_back(std::move(m));
  }
  std::sort(members->begin(), members->end(),
            [](const member& a, const member& b) { return a.shown < b.shown; });
  return ok;
}

bool copy_into(FILE* out, const member& m) {
  FILE* in = open_file(text_of(m.path).c_str(), "rb");
  if (!in) {
    fail("%s: cannot open: %s", m.shown.c_str(), std::strerror(errno));
    return false;
  }
  std::vector<char> buffer(1 << 16);
  uint64_t copied = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    if (std::fwrite(buffer.data(), 1, n, out) != n) {
      std::fclose(in);
      fail("cannot write the archive: %s", std::strerror(errno));
      return false;
    }
    copied += n;
  }
  bool read_ok = !std::ferror(in);
  std::fclose(in);
  if (!read_ok || copied != m.size) {
    fail("%s: the file changed or could not be read while it was copied", m.shown.c_str());
    return false;
  }
  return true;
}

struct archive_options {
  int32_t kind = mount_hash_archive;
  bool quiet = false;
  const char* dir = nullptr;
  std::string out_path, index_path;
};

// The command line into *o; -1 to go on, else the exit code.
int parse(int argc, char** argv, archive_options* o) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--index") == 0 && i + 1 < argc) {
      const char* v = argv[++i];
      if (std::strcmp(v, "crc32") == 0) o->kind = mount_crc32_archive;
      else if (std::strcmp(v, "hash64") == 0) o->kind = mount_hash_archive;
      else {
        std::fprintf(stderr, "talven-pack archive: --index takes crc32 or hash64, not '%s'\n", v);
        return exit_usage;
      }
    } else if (std::strcmp(argv[i], "--index-file") == 0 && i + 1 < argc) {
      o->index_path = argv[++i];
    } else if (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "--quiet") == 0) {
      o->quiet = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      static const char* const known_options[] = {"--index", "--index-file", "-q", "--quiet", "--help", nullptr};
      return unknown_option("archive", argv[i], known_options);
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) return operand_error("archive", "DIR OUT.arc", positional.size());
  o->dir = positional[0];
  o->out_path = positional[1];
  if (o->index_path.empty()) o->index_path = default_index_path(o->out_path);
  return -1;
}

// Both files are written beside their targets and renamed at the end, so a failure
// leaves neither a partial archive nor an index that does not match it.
int write_archive(const archive_options& o, const std::vector<member>& members,
                  const std::vector<const member*>& by_key) {
  const std::string& out_path = o.out_path;
  const std::string& index_path = o.index_path;
  std::string out_tmp = out_path + ".tmp", index_tmp = index_path + ".tmp";
  FILE* out = open_file(out_tmp.c_str(), "wb");
  if (!out) return fail("%s: cannot create: %s", out_tmp.c_str(), std::strerror(errno));
  bool ok = true;
  for (const member& m : members)
    if (!(ok = copy_into(out, m))) break;
  if (std::fclose(out) != 0 && ok) {
    fail("cannot write the archive: %s", std::strerror(errno));
    ok = false;
  }
  if (ok) {
    std::vector<crc32_entry> crc;
    std::vector<hash_entry> hash;
    for (const member* m : by_key) {
      uint32_t size = static_cast<uint32_t>(m->size);
      if (o.kind == mount_hash_archive) hash.push_back(hash_entry{m->key, m->offset, size});
      else crc.push_back(crc32_entry{static_cast<uint32_t>(m->key), m->offset, size});
    }
    const void* entries = o.kind == mount_hash_archive ? static_cast<const void*>(hash.data())
                                                       : static_cast<const void*>(crc.data());
    if (write_mount_index(index_tmp.c_str(), o.kind, entries, static_cast<int32_t>(members.size())) != 0) {
      fail("%s: cannot write the index", index_tmp.c_str());
      ok = false;
    }
  }
  if (ok && (replace_file(out_tmp.c_str(), out_path.c_str()) != 0 ||
             replace_file(index_tmp.c_str(), index_path.c_str()) != 0)) {
    fail("cannot rename the results into place: %s", std::strerror(errno));
    ok = false;
  }
  if (!ok) {
    remove_file(out_tmp.c_str());
    remove_file(index_tmp.c_str());
    return exit_failure;
  }
  return exit_ok;
}

int build_archive(const archive_options& o) {
  const int32_t kind = o.kind;
  const std::string& out_path = o.out_path;
  const std::string& index_path = o.index_path;
  if (index_path == out_path) return fail("the index file cannot be the archive itself");
  fs::path dir = path_of(o.dir);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail("%s: not a folder", o.dir);

  std::vector<fs::path> excluded;
  if (fs::exists(path_of(out_path), ec)) excluded.push_back(path_of(out_path));
  if (fs::exists(path_of(index_path), ec)) excluded.push_back(path_of(index_path));
  std::vector<member> members;
  if (!collect(dir, excluded, kind, &members)) return exit_failure;

  // Offsets are unsigned 32-bit: the whole archive must stay below 4 GiB.
  uint64_t at = 0;
  for (member& m : members) {
    if (at + m.size > 0xFFFFFFFFull)
      return fail("%s: the archive would pass 4 GiB, which its offsets cannot hold", m.shown.c_str());
    m.offset = static_cast<uint32_t>(at);
    at += m.size;
  }

  // One entry per key: the same key twice would hide one of the members.
  std::vector<const member*> by_key;
  for (const member& m : members) by_key.push_back(&m);
  std::sort(by_key.begin(), by_key.end(),
            [](const member* a, const member* b) { return a->key < b->key; });
  // Reported in path order, whatever order the keys put them in.
  std::vector<std::pair<std::string, std::string>> clashes;
  for (size_t i = 1; i < by_key.size(); ++i)
    if (by_key[i]->key == by_key[i - 1]->key)
      clashes.push_back(std::minmax(by_key[i - 1]->shown, by_key[i]->shown));
  std::sort(clashes.begin(), clashes.end());
  for (const auto& [a, b] : clashes)
    fail("%s and %s have the same index key (the same name ignoring case and folder, or a checksum collision): "
         "rename one",
         a.c_str(), b.c_str());
  if (!clashes.empty())
    return fail("nothing written: %s", count_of(clashes.size(), "clash", "clashes").c_str());

  if (write_archive(o, members, by_key) != exit_ok) return exit_failure;
  if (!o.quiet)
    std::printf("%s: %zu members, %llu bytes; index %s (%s)\n", out_path.c_str(), members.size(),
              static_cast<unsigned long long>(at), index_path.c_str(),
              kind == mount_hash_archive ? "hash64" : "crc32");
  return exit_ok;
}

int run_archive(int argc, char** argv) {
  archive_options o;
  if (int code = parse(argc, argv, &o); code >= 0) return code;
  return build_archive(o);
}

}  // namespace

TALVEN_PACK_COMMAND(archive, "archive", "DIR OUT.arc: an archive of loose files with its sorted index",
                    run_archive);

}  // namespace talven::pack
