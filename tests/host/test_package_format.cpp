// The package reader and writer: what the writer produces the reader must give back
// exactly, and every kind of damage must be refused rather than misread.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/entry_names.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package_kit.h"

namespace talven {
namespace {

using bytes = std::vector<unsigned char>;
using package_kit::pattern;

void put_bytes(FILE* f, const bytes& b);

// A temporary stream that closes itself, holding `b` when given.
struct temp_file {
  FILE* f = std::tmpfile();
  temp_file() = default;
  explicit temp_file(const bytes& b) { put_bytes(f, b); }
  ~temp_file() {
    if (f) std::fclose(f);
  }
};

bytes contents_of(FILE* f) {
  bytes all;
  std::rewind(f);
  unsigned char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) all.insert(all.end(), buf, buf + got);
  return all;
}

void put_bytes(FILE* f, const bytes& b) {
  if (b.empty()) return;  // an empty vector's data() may be null, which fwrite must not get
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
}

// Raw header bytes written by hand, so that damaged fields can be made.
// Where locate_appended_package finds the package in a file of these bytes (-1 for none);
// the stream is left where it leaves it.
struct located {
  temp_file file;
  long start = -1;
  int32_t length = -1;
  int result;
  explicit located(const bytes& b) : file(b) { result = locate_appended_package(file.f, &start, &length); }
};

// pe_image_end of a file of these bytes: the end, or -1 where it refuses.
long image_end(const bytes& b) {
  temp_file f(b);
  long end = -1;
  return pe_image_end(f.f, &end) == 0 ? end : -1;
}

bytes raw_header(unsigned n, const std::string& name_bytes, int32_t size, int32_t packed) {
  bytes b;
  b.push_back(static_cast<unsigned char>(n));
  b.push_back(static_cast<unsigned char>(n >> 8));
  b.insert(b.end(), name_bytes.begin(), name_bytes.end());
  for (int32_t v : {size, packed})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i)));
  return b;
}

bytes packed_of(const bytes& data) {
  std::vector<unsigned char> packed;
  EXPECT_EQ(compress_data(data.data(), data.size(), 9, &packed), 0);
  return packed;
}

// Bytes read back through the package reader, the one reading path of every program;
// length is the package's as a caller gives it (the bytes' own size unless told).
struct read_back {
  temp_file pkg;
  package_reader reader;
  explicit read_back(const bytes& b, int64_t length = -1) : pkg(b) {
    std::rewind(pkg.f);
    EXPECT_EQ(open_package_reader(&reader, pkg.f, static_cast<int32_t>(length < 0 ? b.size() : length)), 0);
  }
  ~read_back() { close_package_reader(&reader); }
  int next() { return next_package_entry(&reader); }
  // The current file entry's data into out (cleared first), with progress when given.
  int inflate(bytes* out, const inflate_progress* progress = nullptr) {
    out->clear();
    inflate_sink sink = {out, [](void* c, const unsigned char* d, size_t n) {
                           static_cast<bytes*>(c)->insert(static_cast<bytes*>(c)->end(), d, d + n);
                           return 0;
                         },
                         {nullptr, nullptr}};
    if (progress) sink.progress = *progress;
    return inflate_current_entry(&reader, &sink);
  }
};

TEST(PackageFormat, RoundTripEntryByEntry) {
  bytes small = pattern(1000, 1), big = pattern(300000, 2), empty;
  bytes p_small = packed_of(small), p_big = packed_of(big), p_empty = packed_of(empty);
  temp_file pkg;
  const uint64_t t1 = 0x01D9A1B2C3D4E5F6ull, t2 = 0x0123456789ABCDEFull;
  ASSERT_EQ(write_folder_entry(pkg.f, "DATA\\"), 0);
  ASSERT_EQ(write_file_entry(pkg.f, "DATA\\表.txt", 1000, t1, p_small.data(), p_small.size()), 0);
  ASSERT_EQ(write_folder_entry(pkg.f, "DATA\\SUB\\"), 0);
  ASSERT_EQ(write_file_entry(pkg.f, "DATA\\SUB\\big.bin", 300000, t2, p_big.data(), p_big.size()), 0);
  ASSERT_EQ(write_file_entry(pkg.f, "empty", 0, 0, p_empty.data(), p_empty.size()), 0);
  ASSERT_EQ(write_terminator(pkg.f), 0);
  const bytes all = contents_of(pkg.f);

  read_back r(all);
  const package_entry& e = r.reader.entry;
  ASSERT_EQ(r.next(), entry_read);
  EXPECT_STREQ(e.name, "DATA\\");
  EXPECT_EQ(e.name_length, 6u);
  EXPECT_EQ(e.size, folder_entry_size);
  EXPECT_EQ(r.reader.position, 16);

  ASSERT_EQ(r.next(), entry_read);
  EXPECT_STREQ(e.name, "DATA\\表.txt");
  EXPECT_EQ(e.size, 1000);
  EXPECT_EQ(e.packed_size, static_cast<int32_t>(p_small.size()));
  EXPECT_EQ((uint64_t(e.time_high) << 32) | e.time_low, t1);
  bytes out;
  ASSERT_EQ(r.inflate(&out), 0);
  EXPECT_EQ(out, small);

  ASSERT_EQ(r.next(), entry_read);
  EXPECT_STREQ(e.name, "DATA\\SUB\\");
  ASSERT_EQ(r.next(), entry_read);
  EXPECT_STREQ(e.name, "DATA\\SUB\\big.bin");
  EXPECT_EQ((uint64_t(e.time_high) << 32) | e.time_low, t2);
  ASSERT_EQ(r.inflate(&out), 0);
  EXPECT_EQ(out, big);

  ASSERT_EQ(r.next(), entry_read);
  EXPECT_EQ(e.size, 0);
  ASSERT_EQ(r.inflate(&out), 0);
  EXPECT_TRUE(out.empty());

  ASSERT_EQ(r.next(), entry_terminator);
  // The counted position is what drives the overall bar: it must end at the package size.
  EXPECT_EQ(r.reader.position, static_cast<int32_t>(all.size()));
  EXPECT_EQ(std::ftell(r.pkg.f), static_cast<long>(all.size()));
}

TEST(PackageFormat, TerminatorOnlyPackage) {
  temp_file pkg;
  ASSERT_EQ(write_terminator(pkg.f), 0);
  EXPECT_EQ(contents_of(pkg.f), (bytes{0, 0}));
  read_back r(bytes{0, 0});
  EXPECT_EQ(r.next(), entry_terminator);
  EXPECT_EQ(r.reader.position, 2);
}

TEST(PackageFormat, ZeroLengthFileIsAValidEmptyStream) {
  bytes packed = packed_of({});
  ASSERT_FALSE(packed.empty());
  // zlib's own one-shot inflate agrees that it is a complete stream of nothing.
  unsigned char dummy[1];
  uLongf dl = sizeof dummy;
  EXPECT_EQ(uncompress(dummy, &dl, packed.data(), packed.size()), Z_OK);
  EXPECT_EQ(dl, 0u);
  bytes entry = package_kit::raw_entry(2, std::string("e", 2), 0, static_cast<int32_t>(packed.size()), packed);
  read_back r(entry);
  ASSERT_EQ(r.next(), entry_read);
  bytes out{1};
  EXPECT_EQ(r.inflate(&out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(r.reader.position, static_cast<int32_t>(entry.size()));
}

TEST(PackageFormat, ProgressAfterEachWrittenBlock) {
  const size_t size = 2 * 131072 + 5000;
  bytes data = pattern(size, 3), packed = packed_of(data);
  bytes entry = package_kit::raw_entry(2, std::string("p", 2), static_cast<int32_t>(size),
                                       static_cast<int32_t>(packed.size()), packed);
  read_back r(entry);
  ASSERT_EQ(r.next(), entry_read);
  const int32_t data_at = r.reader.position;
  std::vector<int32_t> seen;
  inflate_progress progress{&seen, [](void* c, int32_t written, int32_t) {
                              static_cast<std::vector<int32_t>*>(c)->push_back(written);
                            }};
  bytes out;
  ASSERT_EQ(r.inflate(&out, &progress), 0);
  EXPECT_EQ(out.size(), size);
  EXPECT_EQ(seen, (std::vector<int32_t>{131072, 262144, static_cast<int32_t>(size)}));
  EXPECT_EQ(r.reader.position, data_at + static_cast<int32_t>(packed.size()));
}

TEST(PackageFormat, WriterRefusesWhatTheReaderCannotHold) {
  temp_file pkg;
  std::string longest(259, 'n'), too_long(260, 'n');
  EXPECT_EQ(write_folder_entry(pkg.f, too_long.c_str()), -1);
  EXPECT_EQ(write_file_entry(pkg.f, "x", -5, 0, nullptr, 0), -1);
  EXPECT_EQ(std::ftell(pkg.f), 0);  // nothing half-written
  ASSERT_EQ(write_folder_entry(pkg.f, longest.c_str()), 0);
  read_back r(contents_of(pkg.f));
  ASSERT_EQ(r.next(), entry_read);
  EXPECT_EQ(r.reader.entry.name_length, 260u);
  EXPECT_EQ(std::string(r.reader.entry.name), longest);
  EXPECT_EQ(compress_data(nullptr, 0, 10, nullptr), -1);
}

// Every damaged header must be reported as damage, never as an entry or the end.
TEST(PackageFormat, DamagedHeadersAreRefused) {
  struct damage {
    const char* what;
    bytes raw;
  };
  std::string with_nul("a.txt", 6);
  std::vector<damage> cases = {
      {"empty input", {}},
      {"one byte of the name length", {5}},
      {"name cut short", {6, 0, 'a', '.', 't'}},
      {"size cut short", [&] { bytes b = raw_header(6, with_nul, 10, 10); b.resize(b.size() - 6); return b; }()},
      {"packed size cut short", [&] { bytes b = raw_header(6, with_nul, 10, 10); b.resize(b.size() - 1); return b; }()},
      {"N above 260", raw_header(261, std::string(260, 'a') + std::string(1, '\0'), 0, 0)},
      {"N far above 260", raw_header(0xFFFF, "a", 0, 0)},
      {"name without its NUL", raw_header(5, "a.txt", 10, 10)},
      {"negative packed size", raw_header(6, with_nul, 10, -1)},
      {"size below -1", raw_header(6, with_nul, -2, 0)},
      {"time stamp cut short", [&] { bytes b = raw_header(6, with_nul, 10, 10); b.insert(b.end(), {1, 2, 3, 4, 5}); return b; }()},
  };
  for (const auto& c : cases) {
    // As long as the bytes, and as long as the entry claims (the file ends first).
    for (int64_t length : {static_cast<int64_t>(c.raw.size()), int64_t{0x10000}}) {
      read_back r(c.raw, length);
      EXPECT_EQ(r.next(), entry_damaged) << c.what << " in " << length;
      EXPECT_NE(r.reader.msg, nullptr) << c.what;
      // Even a damaged name stays a terminated string inside the record.
      EXPECT_LE(std::strlen(r.reader.entry.name), max_entry_name) << c.what;
    }
  }
  // A name of exactly 260 bytes with its NUL is the largest sound one.
  read_back r(raw_header(260, std::string(259, 'a') + std::string(1, '\0'), -1, 0));
  EXPECT_EQ(r.next(), entry_read);
  EXPECT_EQ(r.reader.position, 270);
}

// Damaged compressed data: each must fail the entry rather than give wrong output silently.
TEST(PackageFormat, DamagedStreamsFailTheEntry) {
  bytes data = pattern(200000, 4), packed = packed_of(data);
  const int32_t n = static_cast<int32_t>(packed.size());
  struct damage {
    const char* what;
    bytes stored;     // bytes in the package
    int32_t claimed;  // packed size in the header
  };
  bytes bad_header = packed;
  bad_header[0] ^= 0x01;  // check bits of the zlib header no longer add up
  bytes flipped = packed;
  flipped[n / 2] ^= 0x40;  // inside the deflate data: a data error or a wrong checksum
  bytes bad_sum = packed;
  bad_sum[n - 1] ^= 0xFF;
  bytes garbage(5000, 0x55);
  std::vector<damage> cases = {
      {"packed size too small", packed, n - 100},
      {"data ends early in the file", bytes(packed.begin(), packed.end() - 100), n},
      {"bad zlib header", bad_header, n},
      {"byte flipped in the middle", flipped, n},
      {"bad Adler-32", bad_sum, n},
      {"not zlib at all", garbage, static_cast<int32_t>(garbage.size())},
      {"no data at all", {}, 0},
      {"packed size larger than the stream", [&] { bytes b = packed; b.resize(b.size() + 10, 0); return b; }(), n + 10},
  };
  for (const auto& c : cases) {
    bytes entry = package_kit::raw_entry(2, std::string("d", 2), static_cast<int32_t>(data.size()), c.claimed, c.stored);
    // The package's length as its header claims, so that a file ending early reaches the inflater.
    read_back r(entry, static_cast<int64_t>(entry_header_bytes(2) + file_data_bytes(c.claimed)));
    ASSERT_EQ(r.next(), entry_read) << c.what;
    bytes out;
    EXPECT_EQ(r.inflate(&out), entry_damaged) << c.what;
    EXPECT_NE(r.reader.msg, nullptr) << c.what;
  }
}

TEST(PackageFormat, EntryNamesThatLeaveTheDestination) {
  const char* refused[] = {
      "",          "..",         ".",          "..\\x",        "DATA\\..\\x",  "a\\..",
      "a\\..\\",   "a/../b",     "a\\.\\b",    "C:x",          "C:\\x",        "a:b",
      "DATA\\a:s", "\\x",        "/x",         "\\\\srv\\x",   "a\\\\b",       "... ",
      "a\\. .\\b", "表\\..",     "x\\..."};
  for (const char* name : refused) EXPECT_EQ(check_entry_name(name), -1) << name;
  // "表" ends in a 0x5C trail byte: not a separator, so none of these hold a ".." component.
  const char* passed[] = {"..a", "a..b", "a..", "DATA\\", "DATA\\SUB\\", "DATA\\..a\\b.txt",
                          "表..", "表\\", "ソ", "表\\x.txt", ".hidden", "a b\\c.d"};
  for (const char* name : passed) EXPECT_EQ(check_entry_name(name), 0) << name;
}

TEST(PackageFormat, OutputPathMustFitItsBuffer) {
  const std::string name = "DATA\\file.bin";
  // destination + "\" + name: 255 bytes of text and its NUL fill the 256 bytes exactly.
  std::string dest255(255 - 1 - name.size(), 'd'), dest256(256 - 1 - name.size(), 'd');
  char out[300];
  std::memset(out, 'X', sizeof out);
  ASSERT_EQ(compose_output_path(out, 256, dest255.c_str(), name.c_str()), 0);
  EXPECT_EQ(std::strlen(out), 255u);
  EXPECT_EQ(std::string(out), dest255 + "\\" + name);
  EXPECT_EQ(out[256], 'X');

  std::memset(out, 'X', sizeof out);
  EXPECT_EQ(compose_output_path(out, 256, dest256.c_str(), name.c_str()), -1);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[256], 'X');
  // A larger buffer does not lift the limit of 256 bytes.
  EXPECT_EQ(compose_output_path(out, sizeof out, dest256.c_str(), name.c_str()), -1);
  // A smaller buffer lowers it.
  EXPECT_EQ(compose_output_path(out, 10, "C:\\g", "abcd"), 0);
  EXPECT_STREQ(out, "C:\\g\\abcd");
  EXPECT_EQ(compose_output_path(out, 9, "C:\\g", "abcd"), -1);
}

using package_kit::minimal_pe_headers;
using package_kit::put_u32;
using package_kit::set_security_directory;

TEST(PackageFormat, LocateAppendedPackage) {
  bytes exe = {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8};
  bytes file = exe;
  file.insert(file.end(), {0, 0});  // the package: just its terminator
  put_u32(&file, static_cast<uint32_t>(exe.size()));
  {
    located l(file);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(l.start, 10);
    EXPECT_EQ(l.length, 2);
    EXPECT_EQ(std::ftell(l.file.f), 10);  // positioned at the first entry
    package_reader reader;
    ASSERT_EQ(open_package_reader(&reader, l.file.f, l.length), 0);
    EXPECT_EQ(next_package_entry(&reader), entry_terminator);
    close_package_reader(&reader);
  }
  struct bad {
    const char* what;
    uint32_t offset;
  };
  for (bad b : {bad{"past the end", 1000}, bad{"at the trailer", 12}, bad{"one byte before it", 11},
                bad{"huge", 0xFFFFFFFFu}}) {
    bytes damaged = exe;
    damaged.insert(damaged.end(), {0, 0});
    put_u32(&damaged, b.offset);
    EXPECT_EQ(located(damaged).result, -1) << b.what;
  }
  EXPECT_EQ(located({'M', 'Z', 0}).result, -1);
}

// A signed medium: headers, the package and its trailer, then the certificate table the
// signer appended. The table's directory entry is what a hostile file varies.
TEST(PackageFormat, LocateAppendedPackageBeforeCertificateTable) {
  bytes head = package_kit::minimal_pe();
  const uint32_t package_at = static_cast<uint32_t>(head.size());
  bytes package = package_kit::file_entry("readme.txt", "hello");
  package.insert(package.end(), {0, 0});
  bytes unsigned_file = head;
  unsigned_file.insert(unsigned_file.end(), package.begin(), package.end());
  put_u32(&unsigned_file, package_at);
  while (unsigned_file.size() % 8) unsigned_file.insert(unsigned_file.begin() + package_at, 0);
  const uint32_t padding = static_cast<uint32_t>(unsigned_file.size() - head.size() - package.size() - 4);
  const uint32_t table_at = static_cast<uint32_t>(unsigned_file.size());
  bytes table = {24, 0, 0, 0, 0, 2, 2, 0};  // WIN_CERTIFICATE: length 24, revision, type
  table.resize(24, 0x5A);

  struct row {
    const char* what;
    uint32_t offset, size, record_length;
    bool table_first;  // the table stands between the headers and the package
    int result;
  };
  for (row r : {row{"ending the file", table_at, 24, 24, false, 0},
                row{"before the package", minimal_pe_headers, 24, 24, true, 0},
                row{"past the end", table_at, 32, 24, false, -1},
                row{"huge", table_at, 0xFFFFFFF8u, 24, false, -1},
                row{"outside the file", 0xFFFFFFF8u, 24, 24, false, -1},
                row{"unaligned", table_at - 4, 28, 24, false, -1},
                row{"inside the headers", 0x100, 24, 24, false, -1},
                row{"not ending the file, after the package start", table_at, 16, 16, false, -1},
                row{"record longer than the table", table_at, 24, 32, false, -1},
                row{"record shorter than its header", table_at, 24, 4, false, -1}}) {
    bytes file = unsigned_file;
    uint32_t expected_start = package_at + padding;
    if (r.table_first) {
      file.insert(file.begin() + minimal_pe_headers, table.begin(), table.end());
      expected_start += 24;
      file.resize(file.size() - 4);
      put_u32(&file, expected_start);
    } else {
      file.insert(file.end(), table.begin(), table.end());
    }
    bytes record_length;
    put_u32(&record_length, r.record_length);
    std::copy(record_length.begin(), record_length.end(), file.begin() + (r.table_first ? minimal_pe_headers : table_at));
    set_security_directory(&file, r.offset, r.size);
    located l(file);
    ASSERT_EQ(l.result, r.result) << r.what;
    if (r.result != 0) continue;
    EXPECT_EQ(l.start, static_cast<long>(expected_start)) << r.what;
    EXPECT_EQ(l.length, static_cast<int32_t>(package.size())) << r.what;
    bytes read(package.size());
    ASSERT_EQ(std::fread(read.data(), 1, read.size(), l.file.f), read.size());
    EXPECT_EQ(read, package) << r.what;
  }
}

// minimal_pe's headers and two sections (the second ends furthest), then whatever follows.
bytes tiny_pe(uint32_t first_at, uint32_t first_size, uint32_t second_at, uint32_t second_size) {
  bytes out = package_kit::minimal_pe();
  package_kit::add_pe_section(&out, first_at, first_size);
  package_kit::add_pe_section(&out, second_at, second_size);
  return out;
}

// A trailer that points into the program's own image is no appended package: a program
// without one must fall back to instdat.arc, and only then.
TEST(SecurityPackageSource, ImageEndOfTheExecutable) {
  bytes image = tiny_pe(0x200, 0x100, 0x100, 0x80);
  image.resize(0x300, 0);
  EXPECT_EQ(0x300, image_end(image));
  struct broken {
    const char* what;
    size_t at;
    unsigned char value;
  };
  for (broken b : {broken{"no MZ", 0, 'X'}, broken{"no PE signature", 0x41, 'X'}, broken{"no sections", 0x46, 0},
                   broken{"too many sections", 0x47, 1}}) {
    bytes damaged = image;
    damaged[b.at] = b.value;
    EXPECT_EQ(-1, image_end(damaged)) << b.what;
  }
  EXPECT_EQ(-1, image_end(bytes(image.begin(), image.begin() + 0x60)));  // section table cut off
  // An unstripped program: its symbol table (18 bytes each) and the names' size after it.
  bytes unstripped = image;
  unstripped.resize(0x300 + 18 * 2, 0);
  put_u32(&unstripped, 0x40);  // the names: 0x40 bytes, their size included
  unstripped.resize(0x300 + 18 * 2 + 0x40, 0);
  unstripped[0x40 + 4 + 8 + 1] = 0x03;  // PointerToSymbolTable 0x300
  unstripped[0x40 + 4 + 12] = 2;        // NumberOfSymbols
  EXPECT_EQ(0x300 + 18 * 2 + 0x40, image_end(unstripped));
}

}  // namespace
}  // namespace talven
