// The resource rewriter on a small executable laid out here: the icons and the version
// resource it writes are read back with icoutils' wrestool (an independent reader), the
// resources it keeps stay byte for byte, and hostile trees and icon files are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "package_kit.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"

namespace talven {
namespace {

using bytes = std::vector<unsigned char>;
using package_kit::run_tool;
using package_kit::write_bytes;

constexpr uint32_t rsrc_va = 0x1000, rsrc_raw = 0x200;

void set16(bytes* b, size_t at, uint32_t v) { put_u16(b->data() + at, static_cast<uint16_t>(v)); }
void set32(bytes* b, size_t at, uint32_t v) { put_u32(b->data() + at, v); }

// A resource tree of two types, each with resource 1 in language 0x409: the version
// (type 16) and a manifest (type 24). Offsets as a linker lays them out.
bytes resource_tree(const bytes& version, const bytes& manifest) {
  bytes t(0x100, 0);
  set16(&t, 14, 2);  // root: two numbered types
  const uint32_t type_dir[2] = {0x28, 0x40}, lang_dir[2] = {0x58, 0x70}, entry[2] = {0x88, 0x98};
  const uint32_t types[2] = {16, 24};
  for (int i = 0; i < 2; ++i) {
    set32(&t, 16 + 8 * i, types[i]);
    set32(&t, 20 + 8 * i, type_dir[i] | 0x80000000u);
    set16(&t, type_dir[i] + 14, 1);
    set32(&t, type_dir[i] + 16, 1);
    set32(&t, type_dir[i] + 20, lang_dir[i] | 0x80000000u);
    set16(&t, lang_dir[i] + 14, 1);
    set32(&t, lang_dir[i] + 16, 0x409);
    set32(&t, lang_dir[i] + 20, entry[i]);
  }
  for (int i = 0; i < 2; ++i) {
    const bytes& data = i == 0 ? version : manifest;
    uint32_t at = static_cast<uint32_t>(t.size());
    set32(&t, entry[i], rsrc_va + at);
    set32(&t, entry[i] + 4, static_cast<uint32_t>(data.size()));
    t.insert(t.end(), data.begin(), data.end());
    while (t.size() % 8) t.push_back(0);
  }
  return t;
}

// minimal_pe's headers with one .rsrc section holding tree.
bytes executable_with(const bytes& tree) {
  bytes exe = package_kit::minimal_pe();
  const size_t pe = 0x40, optional = pe + 24;
  uint32_t raw = (static_cast<uint32_t>(tree.size()) + 0x1FF) & ~0x1FFu;
  const size_t sections = package_kit::add_pe_section(&exe, rsrc_raw, raw);
  set16(&exe, pe + 4, 0x14C);  // i386
  set32(&exe, optional + 32, 0x1000);  // SectionAlignment
  set32(&exe, optional + 36, 0x200);   // FileAlignment
  set32(&exe, optional + 56, rsrc_va + 0x1000);  // SizeOfImage
  set32(&exe, optional + 96 + 16, rsrc_va);
  set32(&exe, optional + 96 + 20, static_cast<uint32_t>(tree.size()));
  std::memcpy(&exe[sections], ".rsrc", 5);
  set32(&exe, sections + 8, static_cast<uint32_t>(tree.size()));
  set32(&exe, sections + 12, rsrc_va);
  set32(&exe, sections + 36, 0x40000040u);  // initialised data, readable
  exe.insert(exe.end(), tree.begin(), tree.end());
  exe.resize(rsrc_raw + raw, 0);
  return exe;
}

// An .ico file of n 32-bit images, 16 x 16 then 32 x 32: each a BITMAPINFOHEADER (height
// doubled for the mask), the pixels and the AND mask, as readers size them.
bytes ico_file(unsigned n) {
  bytes ico = {0, 0, 1, 0, static_cast<unsigned char>(n), 0};
  ico.resize(6 + 16 * n, 0);
  for (unsigned i = 0; i < n; ++i) {
    uint32_t side = 16u << i, size = 40 + side * side * 4 + side * 4, at = static_cast<uint32_t>(ico.size());
    unsigned char* e = &ico[6 + 16 * i];
    e[0] = e[1] = static_cast<unsigned char>(side);
    put_u16(e + 4, 1);
    put_u16(e + 6, 32);
    put_u32(e + 8, size);
    put_u32(e + 12, at);
    bytes image(size, 0);
    put_u32(&image[0], 40);
    put_u32(&image[4], side);
    put_u32(&image[8], side * 2);
    put_u16(&image[12], 1);
    put_u16(&image[14], 32);
    for (uint32_t k = 40; k < 40 + side * side * 4; ++k) image[k] = static_cast<unsigned char>(i * 31 + k);
    ico.insert(ico.end(), image.begin(), image.end());
  }
  return ico;
}

const bytes manifest = {'<', '?', 'x', 'm', 'l', '?', '>', '\n'};

bytes utf16_text(const std::string& ascii) {
  bytes b;
  for (char c : ascii) b.insert(b.end(), {static_cast<unsigned char>(c), 0});
  return b;
}

bool contains(const std::string& hay, const bytes& needle) {
  return hay.find(std::string(needle.begin(), needle.end())) != std::string::npos;
}

TEST(PeResources, IconAndVersionReadBackByWrestool) {
  if (std::system("command -v wrestool >/dev/null 2>&1") != 0) GTEST_SKIP() << "wrestool (icoutils) is not installed";
  package_kit::scratch s;
  bytes old_version;
  version_values old_values = {"old", "0.1", ""};
  ASSERT_EQ(build_version_resource(&old_values, &old_version), 0);
  bytes exe = executable_with(resource_tree(old_version, manifest));
  bytes ico = ico_file(2), version;
  version_values v = {"Tsukikage", "1.2.3.4", "Studio Maker"};
  ASSERT_EQ(build_version_resource(&v, &version), 0);
  const char* why = nullptr;
  resource_changes changes = {&ico, &version, nullptr};
  ASSERT_EQ(replace_resources(&exe, &changes, &why), 0) << why;

  pe_headers h;
  ASSERT_EQ(parse_pe_headers(exe.data(), exe.size(), &h), 0);
  EXPECT_EQ(get_u32(exe.data() + h.checksum_at), pe_checksum(exe.data(), exe.size(), h.checksum_at));
  EXPECT_EQ(exe.size() % 0x200, 0u);

  write_bytes(s.dir / "branded.exe", exe);
  auto extract = [&](const std::string& type, bool raw) {
    std::vector<std::string> args = {"-x", "--type=" + type};
    if (raw) args.push_back("--raw");
    args.push_back((s.dir / "branded.exe").string());
    return run_tool(s.dir, args, "wrestool");
  };
  auto icon = extract("14", false);
  ASSERT_EQ(icon.code, 0) << icon.err;
  // The .ico rebuilt from the group and its icons (compared as a flag: no bytes printed).
  // wrestool pads what it writes with as many zero bytes as the group resource holds.
  ASSERT_EQ(icon.out.size(), ico.size() + 6 + 14 * 2);
  EXPECT_TRUE(icon.out.compare(0, ico.size(), std::string(ico.begin(), ico.end())) == 0);
  EXPECT_EQ(icon.out.find_first_not_of('\0', ico.size()), std::string::npos);
  auto read_version = extract("16", true);
  ASSERT_EQ(read_version.code, 0) << read_version.err;
  EXPECT_TRUE(read_version.out == std::string(version.begin(), version.end()));
  for (const char* text : {"Tsukikage", "1.2.3.4", "Studio Maker", "041104B0", "ProductName", "CompanyName"})
    EXPECT_TRUE(contains(read_version.out, utf16_text(text))) << text;
  auto kept = extract("24", true);
  ASSERT_EQ(kept.code, 0) << kept.err;
  EXPECT_EQ(kept.out, std::string(manifest.begin(), manifest.end()));

  // The same inputs again give the same bytes: a medium built twice stays the same.
  bytes again = exe;
  ASSERT_EQ(replace_resources(&again, &changes, &why), 0) << why;
  EXPECT_EQ(again, exe);
}

TEST(PeResources, HostileInputIsRefused) {
  bytes version;
  version_values v = {"x", "1", ""};
  ASSERT_EQ(build_version_resource(&v, &version), 0);
  const bytes good = executable_with(resource_tree(version, manifest));
  const bytes ico = ico_file(1);
  const size_t tree = rsrc_raw;
  struct row {
    const char* what;
    void (*edit)(bytes* exe, bytes* ico);
  };
  const row rows[] = {
      {"a type directory outside the section", [](bytes* e, bytes*) { set32(e, tree + 20, 0x80000000u | 0xFFF0); }},
      {"a directory that points at itself", [](bytes* e, bytes*) { set32(e, tree + 0x28 + 20, 0x80000028u); }},
      {"a data entry outside the section", [](bytes* e, bytes*) { set32(e, tree + 0x58 + 20, 0x7FF0); }},
      {"data before the section", [](bytes* e, bytes*) { set32(e, tree + 0x88, 0x10); }},
      {"data running past the section", [](bytes* e, bytes*) { set32(e, tree + 0x88 + 4, 0xFFFFFFF0u); }},
      {"a name outside the section", [](bytes* e, bytes*) { set32(e, tree + 16, 0x8000FFF0u); }},
      {"a tree four levels deep", [](bytes* e, bytes*) { set32(e, tree + 0x58 + 20, 0x80000000u); }},
      {"huge entry counts", [](bytes* e, bytes*) { set16(e, tree + 12, 0xFFFF); }},
      {"something after the sections", [](bytes* e, bytes*) { e->insert(e->end(), {1, 2, 3, 4}); }},
      {"a signed executable", [](bytes* e, bytes*) { package_kit::set_security_directory(e, 0x400, 8); }},
      {"an icon image outside the icon file", [](bytes*, bytes* i) { put_u32(i->data() + 6 + 12, 0xFFFFFF00u); }},
      {"an icon file of no images", [](bytes*, bytes* i) { i->resize(6); (*i)[4] = 0; }},
      {"a cursor file, not an icon", [](bytes*, bytes* i) { (*i)[2] = 2; }},
      {"not a PE", [](bytes* e, bytes*) { (*e)[0x40] = 'X'; }},
      {"a huge file alignment (found by fuzzing)", [](bytes* e, bytes*) { set32(e, 0x40 + 24 + 36, 0x80000000u); }},
      {"a section over the headers", [](bytes* e, bytes*) { set32(e, 0x40 + 24 + 224 + 20, 0x100); }},
  };
  for (const row& r : rows) {
    bytes exe = good, icon = ico;
    r.edit(&exe, &icon);
    const bytes before = exe;
    const char* why = nullptr;
    resource_changes changes = {&icon, &version, nullptr};
    EXPECT_EQ(replace_resources(&exe, &changes, &why), -1) << r.what;
    EXPECT_NE(why, nullptr) << r.what;
    EXPECT_EQ(exe, before) << r.what << ": changed although refused";
  }
  bytes exe = good;
  const char* why = nullptr;
  resource_changes changes = {&ico, &version, nullptr};
  EXPECT_EQ(replace_resources(&exe, &changes, &why), 0) << why;  // the rows' edits are what fail
}

TEST(PeResources, VersionNumbers) {
  struct row {
    const char* text;
    int result;
    uint16_t parts[4];
  };
  for (const row& r : {row{"1.2.3.4", 0, {1, 2, 3, 4}}, row{"2", 0, {2, 0, 0, 0}}, row{"65535.0", 0, {65535, 0, 0, 0}},
                       row{"1.2.3.4.5", -1, {}}, row{"65536", -1, {}}, row{"1..2", -1, {}}, row{"", -1, {}},
                       row{"1.2a", -1, {}}, row{"1.", -1, {}}}) {
    uint16_t parts[4] = {9, 9, 9, 9};
    ASSERT_EQ(parse_version(r.text, parts), r.result) << r.text;
    if (r.result == 0) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(parts[i], r.parts[i]) << r.text << " part " << i;
    }
  }
}

}  // namespace
}  // namespace talven
