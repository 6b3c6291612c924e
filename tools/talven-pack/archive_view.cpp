#include "archive_view.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

struct index_entry {
  uint64_t key;
  uint32_t offset, size;
};

uint32_t le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

bool read_head(const fs::path& p, std::string* bytes, size_t limit) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  bytes->assign(limit, '\0');
  in.read(&(*bytes)[0], static_cast<std::streamsize>(limit));
  bytes->resize(static_cast<size_t>(in.gcount()));
  return true;
}

bool is_index(const fs::path& p) {
  std::string head;
  return read_head(p, &head, 4) && head == "TVIX";
}

// The index beside an archive: its name with .arc replaced by .idx, or .idx added.
fs::path index_beside(const fs::path& archive) {
  fs::path p = archive;
  std::string ext = text_of(p.extension());
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".arc") return p.replace_extension(".idx");
  return path_of(text_of(archive) + ".idx");
}

fs::path archive_beside(const fs::path& index) {
  fs::path p = index;
  return p.replace_extension(".arc");
}

}  // namespace

int engine_archive_command(const char* path, bool verify) {
  fs::path index, archive;
  std::error_code ec;
  if (is_index(path_of(path))) {
    index = path_of(path);
    archive = archive_beside(index);
  } else {
    fs::path beside = index_beside(path_of(path));
    if (!fs::is_regular_file(beside, ec) || !is_index(beside)) return -1;
    index = beside;
    archive = path_of(path);
  }
  const std::string index_text = text_of(index), archive_text = text_of(archive);
  std::string bytes;
  if (!read_head(index, &bytes, 16 + (64u << 20))) return fail("cannot read %s", index_text.c_str());
  if (bytes.size() < 16) return fail("%s: damaged engine index: shorter than its 16-byte header", index_text.c_str());
  uint32_t kind = le32(bytes, 4), count = le32(bytes, 8), entry_size = le32(bytes, 12);
  if (!((kind == 1 && entry_size == 12) || (kind == 2 && entry_size == 16)))
    return fail("%s: damaged engine index: kind %u with %u-byte entries", index_text.c_str(), kind, entry_size);
  if (bytes.size() != 16 + static_cast<uint64_t>(count) * entry_size)
    return fail("%s: damaged engine index: %u entries need %llu bytes, the file has %zu", index_text.c_str(), count,
                static_cast<unsigned long long>(16 + static_cast<uint64_t>(count) * entry_size), bytes.size());
  std::vector<index_entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = 16 + static_cast<size_t>(i) * entry_size;
    index_entry e;
    e.key = kind == 1 ? le32(bytes, at) : (le32(bytes, at) | static_cast<uint64_t>(le32(bytes, at + 4)) << 32);
    e.offset = le32(bytes, at + entry_size - 8);
    e.size = le32(bytes, at + entry_size - 4);
    entries.push_back(e);
  }
  bool have_archive = fs::is_regular_file(archive, ec);
  uint64_t archive_size = have_archive ? fs::file_size(archive, ec) : 0;
  if (!verify) {
    std::printf("engine archive %s, index %s (%s keys, %u members); members are found by name key, names are "
                "not stored\n",
                have_archive ? archive_text.c_str() : "(missing)", index_text.c_str(), kind == 1 ? "CRC-32" : "hash64", count);
    std::printf("%-18s %10s %10s\n", "key", "offset", "size");
    for (const index_entry& e : entries)
      std::printf("%0*llx %10u %10u\n", kind == 1 ? 8 : 16, static_cast<unsigned long long>(e.key), e.offset, e.size);
    return exit_ok;
  }
  if (!have_archive) return fail("%s: the archive %s of this index is missing", index_text.c_str(), archive_text.c_str());
  uint64_t covered = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const index_entry& e = entries[i];
    if (i > 0 && e.key <= entries[i - 1].key)
      return fail("%s: damaged engine index: entry %zu is out of key order (the engine's search would miss it)",
                  index_text.c_str(), i);
    if (static_cast<uint64_t>(e.offset) + e.size > archive_size)
      return fail("%s: member %zu (offset %u, %u bytes) runs past the end of %s (%llu bytes)", index_text.c_str(), i,
                  e.offset, e.size, archive_text.c_str(), static_cast<unsigned long long>(archive_size));
    covered += e.size;
  }
  std::printf("%s: sound engine archive: %u members, %llu bytes, index %s\n", archive_text.c_str(), count,
              static_cast<unsigned long long>(covered), index_text.c_str());
  return exit_ok;
}

}  // namespace talven::pack
