// Mounted folder sets and archives: checksums, name normalisation, the index searches and
// the index file. Search logic is mostly checked through the locate form, which names the
// node that answered without opening anything.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/mounts.h"
#include "temp_folder.h"

using namespace talven;

namespace {

std::string locate(const char* name) {
  char out[engine_path_size];
  std::memset(out, 'x', sizeof out);
  char* r = search_mounts_locate(name, out);
  if (!r) {
    EXPECT_EQ(out[0], '\0') << "a miss must leave the area empty";
    return "";
  }
  EXPECT_EQ(r, out);
  return out;
}

std::string normalised(const char* name) {
  char out[engine_path_size];
  if (normalise_name(name, out, sizeof out) != 0) return "<refused>";
  return out;
}

uint32_t crc_of(const char* name) { return name_crc32(normalised(name).c_str()); }
uint64_t hash_of(const char* name) { return name_hash64(normalised(name).c_str()); }

// Finds a name "<prefix><n>.dat" whose checksum satisfies the test, so that a test can use
// keys in a chosen range without relying on the checksum's exact values.
template <typename Pred>
std::string find_name(const char* prefix, Pred pred) {
  for (int n = 0; n < 100000; ++n) {
    std::string name = prefix + std::to_string(n) + ".dat";
    if (pred(name.c_str())) return name;
  }
  ADD_FAILURE() << "no name found";
  return "";
}

std::string read_rest(FILE* f) {
  std::string s;
  int c;
  while ((c = std::fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
  return s;
}
std::string read_file(const char* path) {
  FILE* f = std::fopen(path, "rb");
  EXPECT_NE(f, nullptr) << path;
  if (!f) return "<none>";
  std::string s = read_rest(f);
  std::fclose(f);
  return s;
}
// What the search opens for a name, from where it is positioned (*at) to the end.
std::string opened(const char* name, long* at = nullptr) {
  FILE* f = search_mounts(name, "rb");
  if (!f) return "<none>";
  if (at) *at = std::ftell(f);
  std::string s = read_rest(f);
  std::fclose(f);
  return s;
}

class Mounts : public ::testing::Test {
 protected:
  void SetUp() override { mount_clear(); }
  void TearDown() override { mount_clear(); }
};

// A temporary folder made current for the tests that need files.
class MountFiles : public Mounts {
 protected:
  void SetUp() override {
    Mounts::SetUp();
    ASSERT_TRUE(cwd_.ok());
  }
  temp_cwd cwd_;
};

}  // namespace

// ---- checksums -------------------------------------------------------------------------

TEST(NameChecksums, CheckValuesAndTableEntries) {
  EXPECT_EQ(name_crc32("abc"), 0x352441C2u);
  EXPECT_EQ(name_crc32("123456789"), 0xCBF43926u);  // the usual CRC-32 check value
  EXPECT_EQ(name_crc32(""), 0u);
  EXPECT_EQ(crc32_table_entry(0), 0u);
  EXPECT_EQ(crc32_table_entry(1), 0x77073096u);
  EXPECT_EQ(crc32_table_entry(128), 0xEDB88320u);

  EXPECT_EQ(name_hash64("abc"), 0xE11E20057089DB01ull);
  EXPECT_EQ(name_hash64(""), 0ull);
  EXPECT_EQ(hash64_table_entry(0), 0ull);
  EXPECT_EQ(hash64_table_entry(1), 0x3C3B78E888D80FE1ull);
  EXPECT_EQ(hash64_table_entry(128), 0x42F0E1EBA9EA3693ull);
}

TEST(NameChecksums, BytesAboveSevenBitsAreUnsigned) {
  // A sign-extended byte would index outside the table or give a different value; the
  // value is checked against a bitwise CRC written out here.
  const char text[] = "\x95\x5C\xFF";
  uint32_t c = 0xFFFFFFFFu;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    c ^= *p;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  EXPECT_EQ(name_crc32(text), ~c);
  uint64_t h = ~0ull;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    h ^= *p;
    // This checksum XORs before it shifts, unlike the CRC.
    for (int k = 0; k < 8; ++k) h = ((h & 1) ? h ^ 0x85E1C3D753D46D27ull : h) >> 1;
  }
  EXPECT_EQ(name_hash64(text), ~h);
}

// The CRC is zlib's crc32 now; it must give what the table built here gave, on every byte
// value and on texts of every length.
TEST(NameChecksums, CrcIsTheTableChecksumOfOldOnAnyText) {
  uint32_t table[256];
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[n] = c;
    EXPECT_EQ(crc32_table_entry(n), c) << n;
  }
  std::srand(12);
  for (int round = 0; round < 2000; ++round) {
    std::string text(1 + std::rand() % 300, 'a');
    for (char& ch : text) ch = static_cast<char>(1 + std::rand() % 255);
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : text) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    ASSERT_EQ(name_crc32(text.c_str()), ~c) << round;
  }
}

// ---- name splitting and normalisation --------------------------------------------------

TEST(NameRules, SplitsDriveFolderBaseAndExtension) {
  const struct { const char *name, *base, *extension; } rows[] = {
      {"C:bg\\sub/Title.tar.RCT", "Title.tar", ".RCT"},
      {"README", "README", ""},
      {"dir.d\\noext", "noext", ""},
      {"\x95\x5C.wav", "\x95\x5C", ".wav"},  // 表 is 0x95 0x5C: its second byte is not a separator
  };
  for (const auto& r : rows) {
    name_parts p;
    ASSERT_EQ(split_engine_name(r.name, &p), 0) << r.name;
    EXPECT_EQ(std::string(p.base, p.base_length), r.base);
    EXPECT_EQ(std::string(p.extension, p.extension_length), r.extension);
  }
}

TEST(NameRules, BaseAndExtensionMustFitIn259Bytes) {
  name_parts p;
  std::string fits(259, 'a');
  EXPECT_EQ(split_engine_name(fits.c_str(), &p), 0);
  EXPECT_EQ(split_engine_name((fits + "b").c_str(), &p), -1);
  // The folder part does not count.
  EXPECT_EQ(split_engine_name(("dir\\" + fits).c_str(), &p), 0);
}

TEST(NameRules, NormalisedNameIsLowerCasedBaseAndExtension) {
  EXPECT_EQ(normalised("BG\\Title.RCT"), "title.rct");
  EXPECT_EQ(normalised("insttscr.rct"), "insttscr.rct");
  EXPECT_EQ(normalised("D:/x/ABC"), "abc");
  // Full-width Ａ and Ｚ become ａ and ｚ; the letter just past Ｚ (0x82 0x7A) is not one.
  EXPECT_EQ(normalised("\x82\x60\x82\x79\x82\x7A.WAV"), "\x82\x81\x82\x9A\x82\x7A.wav");
  // ア is 0x83 0x41: its second byte looks like "A" and must stay as it is.
  EXPECT_EQ(normalised("\x83\x41.TXT"), "\x83\x41.txt");
  // Greek capital alpha, half-width katakana and 表 are not changed.
  EXPECT_EQ(normalised("\x83\x9F\xB1\x95\x5C"), "\x83\x9F\xB1\x95\x5C");
}

TEST(NameRules, NormalisationRefusesWhatDoesNotFit) {
  char small[4];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(normalise_name("abcd", small, sizeof small), -1);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(normalise_name("abc", small, sizeof small), 0);
  EXPECT_STREQ(small, "abc");
}

// ---- archive index searches ------------------------------------------------------------

TEST_F(Mounts, EmptyListFindsNothing) {
  EXPECT_EQ(mount_list_front(), nullptr);
  EXPECT_EQ(locate("abc"), "");
  EXPECT_EQ(search_mounts("abc", "rb"), nullptr);
}

TEST_F(Mounts, UpperAndLowerCaseHitTheSameEntry) {
  crc32_entry crc[] = {{crc_of("abc.txt"), 4, 1}};
  hash_entry hash[] = {{hash_of("other.txt"), 0, 1}};
  ASSERT_EQ(mount_add("one.arc", mount_crc32_archive, crc, 1, nullptr, 0), 0);
  ASSERT_EQ(mount_add("two.arc", mount_hash_archive, hash, 1, nullptr, 0), 0);
  EXPECT_EQ(locate("abc.txt"), "one.arc");
  EXPECT_EQ(locate("ABC.TXT"), "one.arc");
  EXPECT_EQ(locate("Other.Txt"), "two.arc");
  EXPECT_EQ(locate("OTHER.TXT"), "two.arc");
  EXPECT_EQ(locate("abd.txt"), "");
}

TEST_F(Mounts, CrcSearchHitsAndMissesAtBothEnds) {
  // Keys around a chosen name's key: the name is first, last, below or above every entry.
  std::string name = find_name("c", [](const char* n) {
    uint32_t k = crc_of(n);
    return k > 0x1000 && k < 0xFFFFF000u;
  });
  uint32_t k = crc_of(name.c_str());
  crc32_entry first[] = {{k, 1, 0}, {k + 1, 2, 0}, {k + 2, 3, 0}, {k + 3, 4, 0}};
  crc32_entry last[] = {{k - 3, 1, 0}, {k - 2, 2, 0}, {k - 1, 3, 0}, {k, 4, 0}};
  crc32_entry above[] = {{k + 1, 1, 0}, {k + 2, 2, 0}, {k + 3, 3, 0}};
  crc32_entry below[] = {{k - 3, 1, 0}, {k - 2, 2, 0}, {k - 1, 3, 0}};
  const struct { const char* arc; crc32_entry* index; } holders[] = {
      {"first.arc", first}, {"last.arc", last}, {"", nullptr}};
  for (const auto& h : holders) {
    mount_clear();
    ASSERT_EQ(mount_add("above.arc", mount_crc32_archive, above, 3, nullptr, 0), 0);
    ASSERT_EQ(mount_add("below.arc", mount_crc32_archive, below, 3, nullptr, 0), 0);
    if (h.index) {
      ASSERT_EQ(mount_add(h.arc, mount_crc32_archive, h.index, 4, nullptr, 0), 0);
    }
    EXPECT_EQ(locate(name.c_str()), h.arc);
  }
}

TEST_F(Mounts, CrcKeysAbove2To31AreOrderedUnsigned) {
  std::string name = find_name("u", [](const char* n) {
    uint32_t k = crc_of(n);
    return k > 0x80000010u && k < 0xFFFFFFF0u;
  });
  uint32_t k = crc_of(name.c_str());
  // Ascending as unsigned: a signed comparison would send the search the wrong way.
  // The first probe is 0x7FFFFFFF, which a signed comparison takes for the larger key.
  std::vector<crc32_entry> index = {{0x00000001u, 0, 0}, {0x00000002u, 0, 0},
                                    {0x7FFFFFFFu, 0, 0}, {k, 77, 0},
                                    {0xFFFFFFFFu, 0, 0}};
  ASSERT_EQ(mount_add("u.arc", mount_crc32_archive, index.data(), 5, nullptr, 0), 0);
  EXPECT_EQ(locate(name.c_str()), "u.arc");
  // And a key below 2^31 in an index mostly above it.
  std::string small = find_name("s", [](const char* n) {
    uint32_t c = crc_of(n);
    return c > 0x10u && c < 0x7FFFFFF0u;
  });
  uint32_t s = crc_of(small.c_str());
  std::vector<crc32_entry> high = {{s, 1, 0}, {0x90000000u, 0, 0}, {0xA0000000u, 0, 0},
                                   {0xB0000000u, 0, 0}, {0xC0000000u, 0, 0}};
  ASSERT_EQ(mount_add("s.arc", mount_crc32_archive, high.data(), 5, nullptr, 0), 0);
  EXPECT_EQ(locate(small.c_str()), "s.arc");
}

TEST_F(Mounts, HashKeysAbove2To63ComparedHighWordFirst) {
  std::string name = find_name("h", [](const char* n) {
    uint64_t k = hash_of(n);
    return (k >> 63) && (k >> 32) > 0x80000001u && (k >> 32) < 0xFFFFFFFEu &&
           uint32_t(k) > 2 && uint32_t(k) < 0xFFFFFFF0u;
  });
  uint64_t k = hash_of(name.c_str());
  uint64_t high = k & 0xFFFFFFFF00000000ull;
  // Entries whose low words are larger than the key's low word but whose high words are
  // smaller sit before it; a low-word-first or signed comparison gets these wrong.
  std::vector<hash_entry> index = {
      {0x00000001FFFFFFFFull, 0, 0}, {0x7FFFFFFFFFFFFFFFull, 0, 0},
      {high - 0x100000000ull + 0xFFFFFFFFull, 0, 0}, {k, 9, 0},
      {high + 0x100000000ull, 0, 0}, {0xFFFFFFFFFFFFFFFFull, 0, 0}};
  ASSERT_EQ(mount_add("h.arc", mount_hash_archive, index.data(), 6, nullptr, 0), 0);
  EXPECT_EQ(locate(name.c_str()), "h.arc");
  EXPECT_EQ(locate("not-there.dat"), "");
  mount_clear();
  // The first probe is below 2^63, which a signed comparison takes for the larger key.
  std::vector<hash_entry> mixed = {{1, 0, 0}, {0x7FFFFFFFFFFFFFFFull, 0, 0}, {k, 9, 0}};
  ASSERT_EQ(mount_add("m.arc", mount_hash_archive, mixed.data(), 3, nullptr, 0), 0);
  EXPECT_EQ(locate(name.c_str()), "m.arc");
}

TEST_F(Mounts, NodesAreSearchedInOrderAndInertOnesPassedOver) {
  uint32_t c = crc_of("x.dat");
  uint64_t h = hash_of("x.dat");
  crc32_entry crc[] = {{c, 0, 0}};
  hash_entry hash[] = {{h, 0, 0}};
  // A hash archive given no index, a CRC archive given none: both are passed over.
  ASSERT_EQ(mount_add("nohash.arc", mount_hash_archive, nullptr, 0, nullptr, 0), 0);
  ASSERT_EQ(mount_add("nocrc.arc", mount_crc32_archive, nullptr, 0, nullptr, 0), 0);
  ASSERT_EQ(mount_add("second.arc", mount_hash_archive, hash, 1, nullptr, 0), 0);
  ASSERT_EQ(mount_add("third.arc", mount_crc32_archive, crc, 1, nullptr, 0), 0);
  EXPECT_EQ(locate("x.dat"), "second.arc");
}

TEST_F(Mounts, FolderSetWithoutTableIsSearchedByCrc) {
  crc32_entry crc[] = {{crc_of("p.dat"), 0, 0}};
  ASSERT_EQ(mount_add("crc-set.arc", mount_folder_set, crc, 1, nullptr, 0), 0);
  EXPECT_EQ(locate("P.DAT"), "crc-set.arc");
}

TEST_F(Mounts, AddRefusesWhatTheSearchCannotUse) {
  crc32_entry unsorted[] = {{5, 0, 0}, {3, 0, 0}};
  crc32_entry duplicate[] = {{5, 0, 0}, {5, 1, 0}};
  hash_entry hash_unsorted[] = {{0x8000000000000000ull, 0, 0}, {1, 0, 0}};
  crc32_entry ok[] = {{5, 0, 0}};
  EXPECT_EQ(mount_add("a", mount_crc32_archive, unsorted, 2, nullptr, 0), -1);
  EXPECT_EQ(mount_add("a", mount_crc32_archive, duplicate, 2, nullptr, 0), -1);
  EXPECT_EQ(mount_add("a", mount_hash_archive, hash_unsorted, 2, nullptr, 0), -1);
  EXPECT_EQ(mount_add("a", 3, ok, 1, nullptr, 0), -1);
  EXPECT_EQ(mount_add("a", mount_crc32_archive, ok, -1, nullptr, 0), -1);
  EXPECT_EQ(mount_add(std::string(260, 'p').c_str(), mount_crc32_archive, ok, 1, nullptr, 0), -1);
  folder_entry no_text[] = {{1, nullptr, 0}};
  EXPECT_EQ(mount_add("", mount_folder_set, nullptr, 0, no_text, 1), -1);
  EXPECT_EQ(mount_list_front(), nullptr);
  EXPECT_EQ(mount_add(std::string(259, 'p').c_str(), mount_crc32_archive, ok, 1, nullptr, 0), 0);
}

TEST_F(Mounts, AddCopiesItsInput) {
  std::vector<crc32_entry> index = {{crc_of("k.dat"), 12, 0}};
  std::string path = "copied.arc";
  ASSERT_EQ(mount_add(path.c_str(), mount_crc32_archive, index.data(), 1, nullptr, 0), 0);
  index[0].key ^= 1;
  path[0] = 'X';
  EXPECT_EQ(locate("k.dat"), "copied.arc");
  const mount_node* node = mount_list_front();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kind, mount_crc32_archive);
  EXPECT_EQ(node->entry_count, 1);
  EXPECT_EQ(node->crc32_index[0].offset, 12u);
  EXPECT_EQ(node->next, nullptr);
}

// ---- folder sets (host paths: the composed "folder\name" is one file name here) -------

TEST_F(MountFiles, DuplicateFolderKeysAreTriedInTableOrder) {
  uint64_t h = hash_of("Voice.ogg");
  folder_entry table[] = {{h ^ 1, "wrong", 0}, {h, "d1", 0}, {h, "d2", 0}, {h, "d3", 0}};
  ASSERT_EQ(mount_add("", mount_folder_set, nullptr, 0, table, 4), 0);
  write_file("wrong\\Voice.ogg", "w");
  write_file("d2\\Voice.ogg", "2");
  write_file("d3\\Voice.ogg", "3");
  // d1 lacks the file, so d2 is next in table order; the unmatched key is never tried.
  EXPECT_EQ(locate("Voice.ogg"), "d2\\Voice.ogg");
  EXPECT_EQ(opened("Voice.ogg"), "2");
  write_file("d1\\Voice.ogg", "1");
  EXPECT_EQ(locate("Voice.ogg"), "d1\\Voice.ogg");
}

TEST_F(MountFiles, FolderCandidateUsesTheNameUnchanged) {
  uint64_t h = hash_of("MiXed.TXT");
  folder_entry table[] = {{h, "f", 0}};
  ASSERT_EQ(mount_add("", mount_folder_set, nullptr, 0, table, 1), 0);
  write_file("f\\mixed.txt", "lower");
  // Same key, but the file is opened by the caller's spelling, which is not there.
  EXPECT_EQ(locate("MiXed.TXT"), "");
  write_file("f\\MiXed.TXT", "as given");
  EXPECT_EQ(locate("MiXed.TXT"), "f\\MiXed.TXT");
}

TEST_F(MountFiles, FolderCandidateThatDoesNotFitIsSkipped) {
  std::string name(200, 'n');
  std::string folder(59, 'f');  // 59 + 1 + 200 = 260 bytes: one too many with the NUL
  uint64_t h = hash_of(name.c_str());
  folder_entry table[] = {{h, folder.c_str(), 0}, {h, "g", 0}};
  ASSERT_EQ(mount_add("", mount_folder_set, nullptr, 0, table, 2), 0);
  write_file(("g\\" + name).c_str(), "g");
  EXPECT_EQ(locate(name.c_str()), "g\\" + name);
}

// ---- archives opened ----------------------------------------------------------------------

TEST_F(MountFiles, ArchiveHitIsPositionedAtTheMember) {
  write_file("data.arc", "0123456789abcdef");
  hash_entry index[] = {{hash_of("m.bin"), 10, 6}};
  ASSERT_EQ(mount_add("data.arc", mount_hash_archive, index, 1, nullptr, 0), 0);
  long at = -1;
  EXPECT_EQ(opened("M.BIN", &at), "abcdef");
  EXPECT_EQ(at, 10);
}

TEST_F(MountFiles, MissingArchiveIsPassedOver) {
  write_file("present.arc", "xyz");
  crc32_entry index[] = {{crc_of("q.dat"), 1, 2}};
  ASSERT_EQ(mount_add("absent.arc", mount_crc32_archive, index, 1, nullptr, 0), 0);
  ASSERT_EQ(mount_add("present.arc", mount_crc32_archive, index, 1, nullptr, 0), 0);
  EXPECT_EQ(opened("q.dat"), "yz");
  // The locate form does not open archives: the first node that holds the name answers.
  EXPECT_EQ(locate("q.dat"), "absent.arc");
}

// ---- index files -----------------------------------------------------------------------

TEST_F(MountFiles, IndexFileRoundTripAndLayout) {
  hash_entry entries[] = {{0x0000000100000002ull, 3, 4}, {hash_of("z.dat"), 5, 6}};
  if (entries[1].key < entries[0].key) std::swap(entries[0], entries[1]);
  ASSERT_EQ(write_mount_index("h.idx", mount_hash_archive, entries, 2), 0);
  std::string bytes = read_file("h.idx");
  ASSERT_EQ(bytes.size(), 16u + 2 * 16u);
  EXPECT_EQ(bytes.substr(0, 4), "TVIX");
  EXPECT_EQ(bytes.substr(4, 12), std::string("\x02\0\0\0\x02\0\0\0\x10\0\0\0", 12));
  const hash_entry& small = entries[0].key == 0x0000000100000002ull ? entries[0] : entries[1];
  size_t at = 16 + (&small - entries) * 16;
  EXPECT_EQ(bytes.substr(at, 16),
            std::string("\x02\0\0\0\x01\0\0\0\x03\0\0\0\x04\0\0\0", 16));

  ASSERT_EQ(mount_archive_index("h.arc", "h.idx"), 0);
  EXPECT_EQ(locate("Z.DAT"), "h.arc");
  const mount_node* node = mount_list_front();
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(node->entry_count, 2);
  EXPECT_EQ(node->hash_index[0].key, entries[0].key);
  EXPECT_EQ(node->hash_index[1].offset, entries[1].offset);
  EXPECT_EQ(node->hash_index[1].size, entries[1].size);

  crc32_entry crc[] = {{0x01020304u, 7, 8}};
  ASSERT_EQ(write_mount_index("c.idx", mount_crc32_archive, crc, 1), 0);
  ASSERT_EQ(mount_archive_index("c.arc", "c.idx"), 0);
  ASSERT_NE(node->next, nullptr);
  EXPECT_EQ(node->next->crc32_index[0].key, 0x01020304u);
  EXPECT_EQ(node->next->crc32_index[0].offset, 7u);
}

TEST_F(MountFiles, DamagedIndexFilesAreRefused) {
  crc32_entry crc[] = {{1, 0, 0}, {2, 0, 0}};
  ASSERT_EQ(write_mount_index("good.idx", mount_crc32_archive, crc, 2), 0);
  std::string good = read_file("good.idx");

  write_file("short.idx", good.substr(0, good.size() - 1));
  write_file("long.idx", good + "x");
  std::string magic = good;
  magic[0] = 'X';
  write_file("magic.idx", magic);
  std::string size = good;
  size[12] = 16;  // entry size that does not match the kind
  write_file("size.idx", size);
  std::string unsorted = good;
  unsorted[16] = 3;  // first key 3, second 2
  write_file("unsorted.idx", unsorted);
  std::string huge = good;
  huge[11] = '\x80';  // count above 2^31
  write_file("huge.idx", huge);
  write_file("header.idx", good.substr(0, 10));

  for (const char* name : {"short.idx", "long.idx", "magic.idx", "size.idx", "unsorted.idx",
                           "huge.idx", "header.idx", "missing.idx"})
    EXPECT_EQ(mount_archive_index("x.arc", name), -1) << name;
  EXPECT_EQ(mount_list_front(), nullptr);
  EXPECT_EQ(mount_archive_index("x.arc", "good.idx"), 0);

  crc32_entry bad[] = {{2, 0, 0}, {1, 0, 0}};
  EXPECT_EQ(write_mount_index("bad.idx", mount_crc32_archive, bad, 2), -1);
  EXPECT_EQ(write_mount_index("bad.idx", mount_folder_set, crc, 2), -1);
}

// An index that announces more entries than its file holds is refused before anything is
// allocated for them: 0x7FFFFFFF entries in 16 bytes would ask for 24 GiB. Run in a child
// whose address space is capped, where such a request ends the program instead.
TEST_F(MountFiles, IndexCountIsBoundedByTheFileBeforeAllocating) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more than the cap allows";
#endif
  write_file("bomb.idx", std::string("TVIX\x01\0\0\0\xFF\xFF\xFF\x7F\x0C\0\0\0", 16));
  write_file("bomb16.idx", std::string("TVIX\x02\0\0\0\xFF\xFF\xFF\x7F\x10\0\0\0", 16) + std::string(16, 'k'));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit cap{size_t(2) << 30, size_t(2) << 30};
    setrlimit(RLIMIT_AS, &cap);
    // The out-of-memory path would end the child with its own code instead of 0.
    bool refused = mount_archive_index("x.arc", "bomb.idx") == -1 && mount_archive_index("x.arc", "bomb16.idx") == -1;
    _exit(refused ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- talven-pack archive -----------------------------------------------------------------

namespace {

// Runs talven-pack with arguments (shell words); returns its exit code, stderr into *err.
int run_pack(const std::string& args, std::string* err = nullptr) {
  std::string cmd = std::string("'") + TALVEN_PACK_EXE + "' " + args + " >pack.out 2>pack.err";
  int status = std::system(cmd.c_str());
  if (err) *err = read_file("pack.err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(MountFiles, ArchiveCommandWritesWhatTheSearchReads) {
  ASSERT_EQ(std::system("mkdir -p src/sub"), 0);
  write_file("src/Title.RCT", "title picture");
  write_file("src/sub/Voice.WAV", "voice");
  write_file("src/\xE8\xA1\xA8.txt", "kanji name");  // 表 in UTF-8
  write_file("src/empty.dat", "");
  for (const char* kind : {"hash64", "crc32"}) {
    SCOPED_TRACE(kind);
    mount_clear();
    ASSERT_EQ(run_pack(std::string("archive --index ") + kind + " src game.arc"), 0);
    ASSERT_EQ(mount_archive_index("game.arc", "game.idx"), 0);
    const mount_node* node = mount_list_front();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->kind, std::string(kind) == "crc32" ? mount_crc32_archive : mount_hash_archive);
    ASSERT_EQ(node->entry_count, 4);
    EXPECT_EQ(opened("title.rct").substr(0, 13), "title picture");
    EXPECT_EQ(opened("VOICE.wav").substr(0, 5), "voice");
    EXPECT_EQ(opened("\x95\x5C.TXT").substr(0, 10), "kanji name");  // 表 in CP932
    EXPECT_EQ(locate("Empty.Dat"), "game.arc");
    EXPECT_EQ(locate("sub"), "");
    // The archive is the members' bytes one after another, nothing else.
    EXPECT_EQ(read_file("game.arc").size(), 13u + 5 + 10);
  }
}

TEST_F(MountFiles, ArchiveCommandRefusesDuplicateKeysAndBadNames) {
  ASSERT_EQ(std::system("mkdir -p dup/sub bad"), 0);
  write_file("dup/a.txt", "1");
  write_file("dup/sub/A.TXT", "2");
  std::string err;
  EXPECT_EQ(run_pack("archive dup out.arc", &err), 1);
  EXPECT_NE(err.find("a.txt"), std::string::npos) << err;
  EXPECT_NE(err.find("sub/A.TXT"), std::string::npos) << err;
  EXPECT_NE(access("out.arc", F_OK), 0) << "no archive after a refusal";
  EXPECT_NE(access("out.idx", F_OK), 0) << "no index after a refusal";

  write_file("bad/caf\xC3\xA9.txt", "x");  // é has no CP932 form
  EXPECT_EQ(run_pack("archive bad out.arc", &err), 1);
  EXPECT_NE(err.find("CP932"), std::string::npos) << err;

  EXPECT_EQ(run_pack("archive --index md5 dup out.arc"), 2);
  EXPECT_EQ(run_pack("archive dup"), 2);
  EXPECT_EQ(run_pack("archive missing-dir out.arc"), 1);
}

TEST_F(MountFiles, ArchiveCommandNamesItsIndexFile) {
  ASSERT_EQ(std::system("mkdir -p src"), 0);
  write_file("src/x.dat", "x");
  ASSERT_EQ(run_pack("archive --index-file custom.index src data.bin"), 0);
  EXPECT_EQ(mount_archive_index("data.bin", "custom.index"), 0);
  ASSERT_EQ(run_pack("archive src noext"), 0);
  EXPECT_EQ(mount_archive_index("noext", "noext.idx"), 0);
  EXPECT_EQ(locate("X.DAT"), "data.bin");
}
