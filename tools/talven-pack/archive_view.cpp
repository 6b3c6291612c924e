#include "archive_view.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack_common.h"
#include "base/byte_order.h"
#include "platform.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

struct index_entry {
  uint64_t key;
  uint32_t offset, size;
};

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
  byte_reader r = make_byte_reader(bytes.data(), bytes.size());
  uint32_t kind = 0, count = 0, entry_size = 0;
  skip_bytes(&r, 4);  // "TVIX"
  take_u32(&r, &kind);
  take_u32(&r, &count);
  take_u32(&r, &entry_size);
  if (!((kind == 1 && entry_size == 12) || (kind == 2 && entry_size == 16)))
    return fail("%s: damaged engine index: kind %u with %u-byte entries", index_text.c_str(), kind, entry_size);
  if (bytes.size() != 16 + static_cast<uint64_t>(count) * entry_size)
    return fail("%s: damaged engine index: %u entries need %llu bytes, the file has %zu", index_text.c_str(), count,
                static_cast<unsigned long long>(16 + static_cast<uint64_t>(count) * entry_size), bytes.size());
  // The size was checked above, so every take below fits.
  std::vector<index_entry> entries(count);
  for (index_entry& e : entries) {
    uint32_t low = 0, high = 0;
    take_u32(&r, &low);
    if (kind == 2) take_u32(&r, &high);
    e.key = low | static_cast<uint64_t>(high) << 32;
    take_u32(&r, &e.offset);
    take_u32(&r, &e.size);
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
