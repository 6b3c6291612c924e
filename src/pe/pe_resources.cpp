#include "pe/pe_resources.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "pe/pe_image.h"

namespace talven {

namespace {

constexpr uint32_t rt_icon = 3, rt_rcdata = 10, rt_group_icon = 14, rt_version = 16;
constexpr uint32_t high_bit = 0x80000000u;
constexpr size_t max_items = 4096;  // far above any installer's resources
constexpr uint32_t japanese = 0x0411;

struct res_id {
  bool named = false;
  uint32_t id = 0;
  std::vector<uint16_t> name;
};

struct res_item {
  res_id type, name;
  uint32_t lang = 0, codepage = 0;
  std::vector<unsigned char> data;
};

bool operator<(const res_id& a, const res_id& b) {
  // Named entries come first, in name order, then numbered ones in number order.
  if (a.named != b.named) return a.named;
  if (!a.named) return a.id < b.id;
  return a.name < b.name;
}
bool same(const res_id& a, const res_id& b) { return !(a < b) && !(b < a); }

struct section_view {
  const unsigned char* raw;  // the resource directory's bytes in the file, to the section's end
  uint32_t raw_size;
  uint32_t rva;              // the directory's virtual address
};

struct parser {
  section_view s;
  std::vector<res_item>* items;
  const char* why = nullptr;
  int visited = 0;

  bool fail(const char* reason) {
    why = reason;
    return false;
  }

  bool read_id(uint32_t field, res_id* id) {
    id->named = (field & high_bit) != 0;
    id->id = field & 0xFFFF;
    if (!id->named) return field <= 0xFFFF || fail("a resource number above 65535");
    uint64_t at = field & ~high_bit;
    if (at + 2 > s.raw_size) return fail("a resource name outside the section");
    uint16_t length = get_u16(s.raw + at);
    if (at + 2 + 2ull * length > s.raw_size) return fail("a resource name outside the section");
    for (uint16_t i = 0; i < length; ++i) id->name.push_back(get_u16(s.raw + at + 2 + 2 * i));
    return true;
  }

  // One directory at `at`, `level` 0 (types), 1 (names) or 2 (languages).
  bool walk(uint32_t at, int level, res_item* path) {
    // A tree of three levels is all there is; more visits mean a loop or a bomb.
    if (++visited > static_cast<int>(max_items) * 3) return fail("too many resource directories");
    if (uint64_t{at} + 16 > s.raw_size) return fail("a resource directory outside the section");
    uint64_t count = uint64_t{get_u16(s.raw + at + 12)} + get_u16(s.raw + at + 14);
    if (uint64_t{at} + 16 + 8 * count > s.raw_size) return fail("resource directory entries outside the section");
    for (uint64_t i = 0; i < count; ++i) {
      const unsigned char* e = s.raw + at + 16 + 8 * i;
      uint32_t field = get_u32(e), target = get_u32(e + 4);
      res_item item = *path;
      if (level == 2) {
        if (field > 0xFFFF) return fail("a resource language that is not a number");
        item.lang = field;
      } else if (!read_id(field, level == 0 ? &item.type : &item.name)) {
        return false;
      }
      bool subdirectory = (target & high_bit) != 0;
      if (subdirectory != (level < 2)) return fail("a resource tree that is not three levels deep");
      if (subdirectory) {
        if (!walk(target & ~high_bit, level + 1, &item)) return false;
        continue;
      }
      if (uint64_t{target} + 16 > s.raw_size) return fail("a resource data entry outside the section");
      uint32_t rva = get_u32(s.raw + target), size = get_u32(s.raw + target + 4);
      item.codepage = get_u32(s.raw + target + 8);
      if (rva < s.rva || uint64_t{rva} - s.rva + size > s.raw_size) return fail("resource data outside the section");
      item.data.assign(s.raw + (rva - s.rva), s.raw + (rva - s.rva) + size);
      if (items->size() == max_items) return fail("too many resources");
      items->push_back(item);
    }
    return true;
  }
};

void put16(std::vector<unsigned char>* b, uint32_t v) {
  b->push_back(static_cast<unsigned char>(v));
  b->push_back(static_cast<unsigned char>(v >> 8));
}
void put32(std::vector<unsigned char>* b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void set32(std::vector<unsigned char>* b, size_t at, uint32_t v) { put_u32(b->data() + at, v); }
void align(std::vector<unsigned char>* b, size_t to) {
  while (b->size() % to) b->push_back(0);
}
uint32_t round_up(uint32_t v, uint32_t to) { return to ? (v + to - 1) / to * to : v; }

// The section's bytes for items (sorted), its data placed for virtual address rva.
std::vector<unsigned char> build_section(const std::vector<res_item>& items, uint32_t rva) {
  // The tree: distinct types, for each the distinct names, for each the languages.
  struct node {
    size_t first, last;  // items [first, last)
  };
  std::vector<node> types, names;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i == 0 || !same(items[i].type, items[i - 1].type)) types.push_back({i, i});
    types.back().last = i + 1;
    if (i == 0 || !same(items[i].type, items[i - 1].type) || !same(items[i].name, items[i - 1].name))
      names.push_back({i, i});
    names.back().last = i + 1;
  }
  auto dir_bytes = [](size_t entries) { return 16 + 8 * entries; };
  size_t names_at = dir_bytes(types.size());
  size_t langs_at = names_at;
  for (const node& t : types) {
    size_t n = 0;
    for (const node& m : names) n += m.first >= t.first && m.first < t.last;
    langs_at += dir_bytes(n);
  }
  size_t entries_at = langs_at;
  for (const node& m : names) entries_at += dir_bytes(m.last - m.first);
  size_t strings_at = entries_at + 16 * items.size();

  std::vector<unsigned char> out;
  std::vector<unsigned char> strings;
  auto id_field = [&](const res_id& id) -> uint32_t {
    if (!id.named) return id.id;
    uint32_t at = static_cast<uint32_t>(strings_at + strings.size());
    put16(&strings, static_cast<uint32_t>(id.name.size()));
    for (uint16_t c : id.name) put16(&strings, c);
    return at | high_bit;
  };
  auto directory = [&](size_t named, size_t numbered) {
    put32(&out, 0);  // characteristics
    put32(&out, 0);  // time stamp: none, so that the same input gives the same bytes
    put32(&out, 0);  // version
    put16(&out, static_cast<uint32_t>(named));
    put16(&out, static_cast<uint32_t>(numbered));
  };
  // Types.
  size_t named_types = 0;
  for (const node& t : types) named_types += items[t.first].type.named;
  directory(named_types, types.size() - named_types);
  size_t next_dir = names_at, name_index = 0;
  for (const node& t : types) {
    put32(&out, id_field(items[t.first].type));
    put32(&out, static_cast<uint32_t>(next_dir) | high_bit);
    size_t n = 0;
    for (const node& m : names) n += m.first >= t.first && m.first < t.last;
    next_dir += dir_bytes(n);
  }
  // Names, type by type.
  size_t lang_dir = langs_at;
  for (const node& t : types) {
    size_t n = 0, named = 0;
    for (const node& m : names)
      if (m.first >= t.first && m.first < t.last) {
        ++n;
        named += items[m.first].name.named;
      }
    directory(named, n - named);
    for (; name_index < names.size() && names[name_index].first < t.last; ++name_index) {
      const node& m = names[name_index];
      put32(&out, id_field(items[m.first].name));
      put32(&out, static_cast<uint32_t>(lang_dir) | high_bit);
      lang_dir += dir_bytes(m.last - m.first);
    }
  }
  // Languages, each pointing at its data entry.
  for (const node& m : names) {
    directory(0, m.last - m.first);
    for (size_t i = m.first; i < m.last; ++i) {
      put32(&out, items[i].lang);
      put32(&out, static_cast<uint32_t>(entries_at + 16 * i));
    }
  }
  // Data entries, filled once the data's places are known.
  out.resize(strings_at, 0);
  out.insert(out.end(), strings.begin(), strings.end());
  for (size_t i = 0; i < items.size(); ++i) {
    align(&out, 8);
    size_t entry = entries_at + 16 * i;
    set32(&out, entry, rva + static_cast<uint32_t>(out.size()));
    set32(&out, entry + 4, static_cast<uint32_t>(items[i].data.size()));
    set32(&out, entry + 8, items[i].codepage);
    out.insert(out.end(), items[i].data.begin(), items[i].data.end());
  }
  align(&out, 8);
  return out;
}

// The icons of an .ico file as RT_ICON items numbered from 1 and one RT_GROUP_ICON.
bool icon_items(const std::vector<unsigned char>& ico, const res_id& group_name, uint32_t lang,
                std::vector<res_item>* out, const char** why) {
  if (ico.size() < 6 || get_u16(ico.data()) != 0 || get_u16(ico.data() + 2) != 1) {
    *why = "the icon file is not an .ico file";
    return false;
  }
  unsigned count = get_u16(ico.data() + 4);
  if (count == 0 || 6 + 16ull * count > ico.size()) {
    *why = "the icon file holds no images, or its directory is cut";
    return false;
  }
  res_item group;
  group.type.id = rt_group_icon;
  group.name = group_name;
  group.lang = lang;
  put16(&group.data, 0);
  put16(&group.data, 1);
  put16(&group.data, count);
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char* e = ico.data() + 6 + 16 * i;
    uint32_t size = get_u32(e + 8), at = get_u32(e + 12);
    if (size == 0 || uint64_t{at} + size > ico.size()) {
      *why = "an image of the icon file lies outside it";
      return false;
    }
    res_item image;
    image.type.id = rt_icon;
    image.name.id = i + 1;
    image.lang = lang;
    image.data.assign(ico.begin() + at, ico.begin() + at + size);
    out->push_back(image);
    group.data.insert(group.data.end(), e, e + 12);  // width .. bytes in resource
    put16(&group.data, i + 1);
  }
  out->push_back(group);
  return true;
}

}  // namespace

int parse_version(const char* text, uint16_t parts[4]) {
  for (int i = 0; i < 4; ++i) parts[i] = 0;
  int part = 0;
  uint32_t value = 0;
  bool digits = false;
  for (const char* p = text;; ++p) {
    if (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<uint32_t>(*p - '0');
      if (value > 0xFFFF) return -1;
      digits = true;
    } else if (*p == '.' || *p == '\0') {
      if (!digits || part == 4) return -1;
      parts[part++] = static_cast<uint16_t>(value);
      value = 0;
      digits = false;
      if (*p == '\0') return 0;
    } else {
      return -1;
    }
  }
}

namespace {

// UTF-8 to UTF-16 (code points above U+FFFF as surrogate pairs). False on a bad sequence.
bool utf16_of(const char* text, std::vector<uint16_t>* out) {
  out->clear();
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
    uint32_t c;
    int more;
    if (*p < 0x80) c = *p, more = 0;
    else if ((*p & 0xE0) == 0xC0) c = *p & 0x1F, more = 1;
    else if ((*p & 0xF0) == 0xE0) c = *p & 0x0F, more = 2;
    else if ((*p & 0xF8) == 0xF0) c = *p & 0x07, more = 3;
    else return false;
    ++p;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      c = c << 6 | (*p & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(static_cast<uint16_t>(0xD800 + (c >> 10)));
      out->push_back(static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back(static_cast<uint16_t>(c));
    }
  }
  return true;
}

// One version block: wLength, wValueLength, wType, the key, padding, the value, padding,
// then the children. Returns false when a text is not UTF-8.
struct block {
  std::vector<unsigned char> bytes;
  bool open(const char* key, uint32_t value_length, uint32_t type) {
    std::vector<uint16_t> k;
    if (!utf16_of(key, &k)) return false;
    put16(&bytes, 0);
    put16(&bytes, value_length);
    put16(&bytes, type);
    for (uint16_t c : k) put16(&bytes, c);
    put16(&bytes, 0);
    align(&bytes, 4);
    return true;
  }
  void close() { put_u16(bytes.data(), static_cast<uint16_t>(bytes.size())); }
  void child(const block& c) {
    align(&bytes, 4);
    bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
  }
};

bool string_block(const char* key, const char* value, block* parent) {
  std::vector<uint16_t> v;
  if (!utf16_of(value, &v)) return false;
  block b;
  if (!b.open(key, static_cast<uint32_t>(v.size() + 1), 1)) return false;
  for (uint16_t c : v) put16(&b.bytes, c);
  put16(&b.bytes, 0);
  b.close();
  parent->child(b);
  return true;
}

}  // namespace

int build_version_resource(const version_values* v, std::vector<unsigned char>* out) {
  uint16_t n[4];
  if (parse_version(v->version, n) != 0) return -1;
  block root;
  root.open("VS_VERSION_INFO", 52, 0);
  const uint32_t fixed[13] = {0xFEEF04BDu, 0x00010000u, uint32_t{n[0]} << 16 | n[1], uint32_t{n[2]} << 16 | n[3],
                              uint32_t{n[0]} << 16 | n[1], uint32_t{n[2]} << 16 | n[3], 0x3F, 0,
                              0x00040004u /* VOS_NT_WINDOWS32 */, 1 /* VFT_APP */, 0, 0, 0};
  for (uint32_t f : fixed) put32(&root.bytes, f);
  block strings, table;
  strings.open("StringFileInfo", 0, 1);
  table.open("041104B0", 0, 1);  // Japanese, Unicode
  const char* keys[][2] = {{"CompanyName", v->company},   {"FileDescription", v->product},
                           {"FileVersion", v->version},   {"ProductName", v->product},
                           {"ProductVersion", v->version}};
  for (auto& kv : keys)
    if (kv[1] && kv[1][0] && !string_block(kv[0], kv[1], &table)) return -1;
  table.close();
  strings.child(table);
  strings.close();
  root.child(strings);
  block vars, translation;
  vars.open("VarFileInfo", 0, 1);
  translation.open("Translation", 4, 0);
  put16(&translation.bytes, japanese);
  put16(&translation.bytes, 1200);  // UTF-16
  translation.close();
  vars.child(translation);
  vars.close();
  root.child(vars);
  root.close();
  *out = root.bytes;
  return 0;
}

int replace_resources(std::vector<unsigned char>* exe, const resource_changes* changes, const char** why) {
  const std::vector<unsigned char>* ico = changes->ico;
  const std::vector<unsigned char>* version = changes->version;
  const std::vector<unsigned char>* digest = changes->digest;
  std::vector<unsigned char>& f = *exe;
  pe_headers h;
  if (parse_pe_headers(f.data(), f.size(), &h) != 0) {
    *why = "not a PE executable";
    return -1;
  }
  uint32_t rsrc_rva, rsrc_size, cert_at, cert_size;
  pe_directory(f.data(), &h, pe_directory_resources, &rsrc_rva, &rsrc_size);
  pe_directory(f.data(), &h, pe_directory_security, &cert_at, &cert_size);
  if (cert_at || cert_size) {
    *why = "the executable is signed: change its resources before signing";
    return -1;
  }
  // The resource section, and what may follow it: only a relocation section, which can
  // move since nothing points into it but its directory entry.
  int rsrc = -1, reloc = -1;
  uint32_t reloc_rva, reloc_size;
  pe_directory(f.data(), &h, 5, &reloc_rva, &reloc_size);
  for (unsigned i = 0; i < h.section_count; ++i) {
    const unsigned char* s = f.data() + h.sections_at + 40 * i;
    uint32_t va = get_u32(s + 12), vsize = get_u32(s + 8);
    if (rsrc_rva && rsrc_rva >= va && rsrc_rva < va + vsize) rsrc = static_cast<int>(i);
    if (reloc_rva && reloc_rva == va) reloc = static_cast<int>(i);
  }
  if (rsrc < 0) {
    *why = "the executable has no resource section";
    return -1;
  }
  unsigned last = h.section_count - 1;
  bool reloc_last = reloc >= 0 && static_cast<unsigned>(reloc) == last && static_cast<unsigned>(rsrc) + 1 == last;
  if (static_cast<unsigned>(rsrc) != last && !reloc_last) {
    *why = "the resource section is followed by sections other than the relocations";
    return -1;
  }
  unsigned char* sh = f.data() + h.sections_at + 40 * rsrc;
  uint32_t va = get_u32(sh + 12), raw_size = get_u32(sh + 16), raw_at = get_u32(sh + 20);
  // The section is rewritten from raw_at to the end of the file: it must lie after the
  // headers, which are changed in place.
  if (raw_at < h.headers_end || uint64_t{raw_at} + raw_size > f.size() || rsrc_rva - va >= raw_size) {
    *why = "the resource section lies outside the file or over its headers";
    return -1;
  }
  // Offsets inside the tree count from the directory's start; data addresses are RVAs.
  std::vector<res_item> items;
  uint32_t skip = rsrc_rva - va;
  parser p{{f.data() + raw_at + skip, raw_size - skip, rsrc_rva}, &items};
  res_item root;
  if (!p.walk(0, 0, &root)) {
    *why = p.why;
    return -1;
  }
  // The language and name of what is replaced are kept, so that the program's own
  // lookups (by number) still find them.
  res_id group_name;
  group_name.id = 1;
  uint32_t icon_lang = japanese, version_lang = japanese;
  bool group_seen = false;
  std::vector<res_item> kept;
  for (res_item& it : items) {
    bool named = it.type.named;
    if (!named && it.type.id == rt_group_icon && !group_seen) {
      group_name = it.name;
      icon_lang = it.lang;
      group_seen = true;
    }
    if (!named && it.type.id == rt_version) version_lang = it.lang;
    bool icon = !named && (it.type.id == rt_icon || it.type.id == rt_group_icon);
    bool ver = !named && it.type.id == rt_version;
    bool sum = !named && it.type.id == rt_rcdata && !it.name.named && it.name.id == package_digest_resource;
    if ((icon && ico) || (ver && version) || (sum && digest)) continue;
    kept.push_back(std::move(it));
  }
  if (ico && !icon_items(*ico, group_name, icon_lang, &kept, why)) return -1;
  if (version) {
    res_item v;
    v.type.id = rt_version;
    v.name.id = 1;
    v.lang = version_lang;
    v.data = *version;
    kept.push_back(v);
  }
  if (digest) {
    res_item d;
    d.type.id = rt_rcdata;
    d.name.id = package_digest_resource;
    d.lang = 0;
    d.data = *digest;
    kept.push_back(d);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const res_item& a, const res_item& b) {
    if (!same(a.type, b.type)) return a.type < b.type;
    if (!same(a.name, b.name)) return a.name < b.name;
    return a.lang < b.lang;
  });
  std::vector<unsigned char> section = build_section(kept, va);
  if (section.size() > 0x10000000) {
    *why = "the resources would pass 256 MiB";
    return -1;
  }
  // Alignments as the format allows them (powers of two, the file's from 512 to 64 KiB,
  // the section's no smaller), so that rounding cannot blow the file up or wrap.
  uint32_t file_align = h.file_alignment, section_align = h.section_alignment;
  auto power_of_two = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!power_of_two(file_align) || file_align < 512 || file_align > 0x10000 || !power_of_two(section_align) ||
      section_align < file_align || section_align > 0x10000000) {
    *why = "the executable's alignments are not what the format allows";
    return -1;
  }
  if (uint64_t{va} + section.size() + section_align > 0x80000000ull) {
    *why = "the resources would pass the image's 2 GiB";
    return -1;
  }
  uint32_t new_raw = round_up(static_cast<uint32_t>(section.size()), file_align);
  uint32_t new_vsize = static_cast<uint32_t>(section.size());

  std::vector<unsigned char> reloc_bytes;
  if (reloc_last) {
    const unsigned char* rh = f.data() + h.sections_at + 40 * reloc;
    uint32_t r_raw_size = get_u32(rh + 16), r_raw_at = get_u32(rh + 20);
    if (uint64_t{r_raw_at} + r_raw_size > f.size()) {
      *why = "the relocation section lies outside the file";
      return -1;
    }
    if (uint64_t{get_u32(rh + 8)} + va + section.size() + 2ull * section_align > 0x80000000ull) {
      *why = "the relocations would pass the image's 2 GiB";
      return -1;
    }
    reloc_bytes.assign(f.begin() + r_raw_at, f.begin() + r_raw_at + r_raw_size);
  }
  // Anything after the last section (an overlay) would be lost: refuse it.
  uint64_t image_end = 0;
  for (unsigned i = 0; i < h.section_count; ++i) {
    const unsigned char* s = f.data() + h.sections_at + 40 * i;
    image_end = std::max<uint64_t>(image_end, uint64_t{get_u32(s + 20)} + get_u32(s + 16));
  }
  if (image_end != f.size()) {
    *why = "the executable carries data after its sections (a package?): change its resources before appending";
    return -1;
  }
  f.resize(raw_at);
  f.insert(f.end(), section.begin(), section.end());
  f.resize(raw_at + uint64_t{new_raw}, 0);
  sh = f.data() + h.sections_at + 40 * rsrc;
  put_u32(sh + 8, new_vsize);
  put_u32(sh + 16, new_raw);
  uint32_t image_size = round_up(va + new_vsize, section_align);
  if (reloc_last) {
    unsigned char* rh = f.data() + h.sections_at + 40 * reloc;
    uint32_t r_va = image_size;
    put_u32(rh + 12, r_va);
    put_u32(rh + 20, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), reloc_bytes.begin(), reloc_bytes.end());
    put_u32(f.data() + h.directories_at + 8 * 5, r_va);
    image_size = round_up(r_va + get_u32(rh + 8), section_align);
  }
  put_u32(f.data() + h.directories_at + 8 * pe_directory_resources, va);
  put_u32(f.data() + h.directories_at + 8 * pe_directory_resources + 4, new_vsize);
  put_u32(f.data() + h.optional_at + 56, image_size);  // SizeOfImage
  // SizeOfInitializedData: the raw sizes of the initialised-data sections.
  uint32_t initialised = 0;
  for (unsigned i = 0; i < h.section_count; ++i) {
    const unsigned char* s = f.data() + h.sections_at + 40 * i;
    if (get_u32(s + 36) & 0x40) initialised += get_u32(s + 16);
  }
  put_u32(f.data() + h.optional_at + 8, initialised);
  put_u32(f.data() + h.checksum_at, pe_checksum(f.data(), f.size(), h.checksum_at));
  return 0;
}

}  // namespace talven
