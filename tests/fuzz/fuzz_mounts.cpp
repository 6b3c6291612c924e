// The mount index and the name lookups: an index file of any bytes through
// mount_archive_index, then names (split, normalised, hashed) searched in both forms, and
// a folder table built from the input.
#include <cstring>
#include <vector>

#include "engine/mounts.h"
#include "fuzz_support.h"

using namespace talven;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_input in(data, size);
  const size_t index_size = in.byte() | in.byte() << 8;
  const size_t take = index_size < in.left() ? index_size : in.left();
  const uint8_t* index = in.data + in.at;
  in.at += take;

  const char* index_path = scratch_path("index");
  FUZZ_CHECK(write_file(index_path, index, take));
  mount_clear();
  // The index file's own path serves as the archive, so a hit really opens and seeks.
  const int mounted = mount_archive_index(index_path, index_path);
  mount_index_header header;
  const bool sound = take >= mount_index_header_size && check_mount_index(index, take, &header) == 0;
  if (mounted == 0) {
    FUZZ_CHECK(sound);
    const mount_node* node = mount_list_front();
    FUZZ_CHECK(node && node->entry_count == header.entry_count && node->kind == header.kind);
  }

  // A folder set whose keys come from names in the input, tried after the archive.
  std::vector<std::string> names;
  while (in.left() > 0 && names.size() < 8) names.push_back(in.field(300));
  std::vector<folder_entry> folders;
  for (const std::string& name : names) {
    char normalised[engine_path_size];
    name_parts parts;
    if (split_engine_name(name.c_str(), &parts) == 0) {
      FUZZ_CHECK(parts.base + parts.base_length == parts.extension);
      FUZZ_CHECK(parts.base_length + parts.extension_length < engine_path_size);
    }
    char small[8];
    normalise_name(name.c_str(), small, sizeof small);
    FUZZ_CHECK(std::strlen(small) < sizeof small);
    if (normalise_name(name.c_str(), normalised, sizeof normalised) == 0)
      folders.push_back(folder_entry{name_hash64(normalised), "/nonexistent/folder", 0});
  }
  mount_add("", mount_folder_set, nullptr, 0, folders.data(), static_cast<int32_t>(folders.size()));

  for (const std::string& name : names) {
    if (std::strchr(name.c_str(), '\\')) continue;  // the resolver never asks for these
    char out[engine_path_size];
    if (search_mounts_locate(name.c_str(), out)) FUZZ_CHECK(std::strlen(out) < engine_path_size);
    if (FILE* f = search_mounts(name.c_str(), "rb")) std::fclose(f);
  }
  mount_clear();
  return 0;
}
