// talven-pack round trips through the real binary: what pack writes, list shows, verify
// accepts, extract gives back byte for byte, and damage is named where it lies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "package/package_format.h"
#include "package_kit.h"

namespace {

namespace fs = std::filesystem;
using namespace package_kit;

const char* const tool = package_kit::tool_under_test();

result run(const scratch& s, const std::vector<std::string>& args) { return run_tool(s.dir, args); }

void set_mtime(const fs::path& p, time_t seconds, long nanoseconds) {
  struct timespec t[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), t, 0), 0) << p;
}

struct timespec mtime_of(const fs::path& p) {
  struct stat st;
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mtim;
}

// The entries of a package read straight from its bytes, so that the tool is checked
// against the layout itself and not against the reader it shares.
struct raw_entry {
  std::string name;  // CP932 without its NUL
  int32_t size = 0, packed = 0;
  uint64_t time = 0;
  size_t offset = 0, data = 0;
};

uint32_t le32(const bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<raw_entry> parse(const bytes& b, size_t at, size_t* end) {
  std::vector<raw_entry> entries;
  for (;;) {
    EXPECT_LE(at + 2, b.size());
    if (at + 2 > b.size()) break;
    unsigned n = b[at] | b[at + 1] << 8;
    if (n == 0) {
      *end = at + 2;
      break;
    }
    raw_entry e;
    e.offset = at;
    e.name.assign(reinterpret_cast<const char*>(&b[at + 2]), n - 1);
    EXPECT_EQ(b[at + 2 + n - 1], 0) << e.name;
    e.size = static_cast<int32_t>(le32(b, at + 2 + n));
    e.packed = static_cast<int32_t>(le32(b, at + 6 + n));
    at += 10 + n;
    if (e.size != -1) {
      e.time = le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32;
      e.data = at + 8;
      at += 8 + static_cast<size_t>(e.packed);
    }
    entries.push_back(e);
  }
  return entries;
}

// The sample tree: Japanese names on disk in UTF-8 (u8 literals stay UTF-8 whatever the
// execution character set), nested folders, an empty file and one above 256 KiB.
struct tree {
  fs::path root;
  std::map<std::string, bytes> files;  // relative UTF-8 path -> contents
  std::vector<std::string> folders;
};

constexpr time_t base_time = 981173106;  // 2001-02-03 04:05:06 UTC

tree make_tree(const fs::path& root) {
  tree t;
  t.root = root;
  t.folders = {"DATA", "DATA/SUB", u8"音楽"};
  t.files = {
      {"install.env", bytes{'T', 'I', 'T', 'L', 'E', '=', 'x', '\n'}},
      {"empty.dat", {}},
      {"DATA/big.bin", pattern(300 * 1024 + 77, 1)},
      {"DATA/SUB/deep.txt", pattern(1000, 2)},
      {u8"音楽/曲の一覧.txt", pattern(5000, 3)},
      {u8"ソフト.txt", pattern(10, 4)},  // its CP932 form holds a 0x5C trail byte
  };
  for (const std::string& f : t.folders) fs::create_directories(root / f);
  long n = 0;
  for (const auto& [name, data] : t.files) {
    write_bytes(root / name, data);
    set_mtime(root / name, base_time + 3600 * n, 100 * (1234567 + n));  // FILETIME keeps 100 ns steps
    ++n;
  }
  return t;
}

uint64_t expected_filetime(const struct timespec& t) {
  // Seconds from 1601-01-01 to 1970-01-01: 369 years with 89 leap days.
  const uint64_t epoch_gap = (369ull * 365 + 89) * 86400;
  return (static_cast<uint64_t>(t.tv_sec) + epoch_gap) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100;
}

// A scratch folder holding the sample tree, and where its package goes.
class TalvenPack : public ::testing::Test {
 protected:
  scratch s;
  tree t = make_tree(s.dir / "game");
  fs::path pkg = s.dir / "instdat.arc";
};

TEST_F(TalvenPack, PackListVerifyExtractRoundTrip) {
  result r = run(s, {"pack", "--no-check", t.root.string(), pkg.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  // On a pipe the progress bar stays silent, and this layout gives the start-up pass
  // no trouble.
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(fs::exists(pkg.string() + ".tmp"));

  bytes b = read_bytes(pkg);
  size_t end = 0;
  std::vector<raw_entry> entries = parse(b, 0, &end);
  EXPECT_EQ(end, b.size());
  std::map<std::string, raw_entry> by_name;
  for (const raw_entry& e : entries) by_name[e.name] = e;
  // Names are CP932 with backslashes (this file's plain literals are CP932 bytes).
  for (const char* folder : {"DATA\\", "DATA\\SUB\\", "音楽\\"}) {
    ASSERT_TRUE(by_name.count(folder)) << folder;
    EXPECT_EQ(by_name[folder].size, -1);
  }
  for (const char* file : {"install.env", "empty.dat", "DATA\\big.bin", "DATA\\SUB\\deep.txt", "音楽\\曲の一覧.txt",
                           "ソフト.txt"})
    ASSERT_TRUE(by_name.count(file)) << file;
  EXPECT_EQ(entries.size(), t.files.size() + t.folders.size());
  // Every entry inside a folder comes after that folder's own entry. Only real
  // backslashes count: "ソ" ends in a 0x5C trail byte.
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].name;
    for (size_t c = 0; c + 1 < name.size(); ++c) {
      if (talven::is_lead_byte(static_cast<unsigned char>(name[c]))) {
        ++c;
        continue;
      }
      if (name[c] != '\\') continue;
      std::string parent = name.substr(0, c + 1);
      bool seen = false;
      for (size_t j = 0; j < i; ++j) seen = seen || entries[j].name == parent;
      EXPECT_TRUE(seen) << name << " before " << parent;
    }
  }
  // Sizes and times as on disk.
  EXPECT_EQ(by_name["DATA\\big.bin"].size, 300 * 1024 + 77);
  EXPECT_EQ(by_name["empty.dat"].size, 0);
  EXPECT_GT(by_name["empty.dat"].packed, 0);  // still a whole zlib stream
  EXPECT_EQ(by_name["DATA\\big.bin"].time, expected_filetime(mtime_of(t.root / "DATA/big.bin")));
  EXPECT_EQ(by_name["install.env"].time, expected_filetime(mtime_of(t.root / "install.env")));
  EXPECT_EQ(b[by_name["DATA\\big.bin"].data], 0x78);  // a zlib header

  r = run(s, {"list", pkg.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(holds(r.out, {u8"音楽\\曲の一覧.txt", u8"ソフト.txt", "2001-02-03 04:05:06", std::to_string(300 * 1024 + 77)}));
  size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, entries.size() + 1);  // a heading, then one line per entry

  r = run(s, {"verify", pkg.string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("6 files, 3 folders"), std::string::npos) << r.out;

  fs::path out = s.dir / "out";
  r = run(s, {"extract", pkg.string(), out.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  size_t found_files = 0, found_folders = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(out)) {
    std::string rel = fs::relative(e.path(), out).string();
    if (e.is_directory()) {
      ++found_folders;
      EXPECT_NE(std::find(t.folders.begin(), t.folders.end(), rel), t.folders.end()) << rel;
      continue;
    }
    ++found_files;
    ASSERT_TRUE(t.files.count(rel)) << rel;
    EXPECT_EQ(read_bytes(e.path()), t.files[rel]) << rel;
    struct timespec a = mtime_of(t.root / rel), x = mtime_of(e.path());
    EXPECT_EQ(a.tv_sec, x.tv_sec) << rel;
    EXPECT_EQ(a.tv_nsec, x.tv_nsec) << rel;
  }
  EXPECT_EQ(found_files, t.files.size());
  EXPECT_EQ(found_folders, t.folders.size());
}

TEST_F(TalvenPack, SameTreeGivesTheSamePackageOnAnyThreadCount) {
  for (int i = 0; i < 20; ++i) write_bytes(t.root / ("DATA/f" + std::to_string(i)), pattern(20000 + 999 * i, 10 + i));
  fs::path one = s.dir / "one.arc", many = s.dir / "many.arc";
  ASSERT_EQ(run(s, {"pack", "--no-check", "--threads", "1", t.root.string(), one.string()}).code, 0);
  ASSERT_EQ(run(s, {"pack", "--no-check", "--threads", "4", t.root.string(), many.string()}).code, 0);
  bytes a = read_bytes(one), b = read_bytes(many);
  EXPECT_GT(a.size(), 20000u);
  EXPECT_TRUE(a == b);
}

TEST_F(TalvenPack, VerifyNamesTheDamagedEntryAndItsOffset) {
  ASSERT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
  bytes b = read_bytes(pkg);
  size_t end = 0;
  raw_entry big;
  for (const raw_entry& e : parse(b, 0, &end))
    if (e.name == "DATA\\big.bin") big = e;
  ASSERT_GT(big.packed, 1000);
  bytes damaged = b;
  damaged[big.data + static_cast<size_t>(big.packed) / 2] ^= 0x5A;
  fs::path bad = s.dir / "bad.arc";
  write_bytes(bad, damaged);
  result r = run(s, {"verify", bad.string()});
  EXPECT_TRUE(exits_with(r, 1, "DATA\\big.bin"));
  EXPECT_NE(r.err.find("offset " + std::to_string(big.offset)), std::string::npos) << r.err;
  // extract stops there as well and leaves no partial file of that entry.
  r = run(s, {"extract", bad.string(), (s.dir / "x").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(fs::exists(s.dir / "x/DATA/big.bin"));

  // Cut short before the end marker: the walk must notice the missing terminator.
  write_bytes(bad, bytes(b.begin(), b.end() - 2));
  EXPECT_TRUE(exits_with(run(s, {"verify", bad.string()}), 1, "end marker"));
  // Cut inside an entry's data.
  write_bytes(bad, bytes(b.begin(), b.begin() + static_cast<long>(big.data + 100)));
  EXPECT_TRUE(exits_with(run(s, {"verify", bad.string()}), 1, "offset " + std::to_string(big.offset)));
}

// A number of one JSON line; -2 when the key is missing, so that a miss never passes
// for a folder's -1.
long json_number(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\":");
  return at == std::string::npos ? -2 : std::strtol(line.c_str() + at + key.size() + 3, nullptr, 10);
}

uint64_t field(const bytes& b, long at, long width) {
  uint64_t v = 0;
  for (long i = width - 1; i >= 0; --i) v = v << 8 | b.at(static_cast<size_t>(at + i));
  return v;
}

// list --json is how scripts damage packages: every offset and width it gives must land
// on the field it names, in a package file and in an executable carrying it.
void expect_list_json_on_fields(const scratch& s, const fs::path& pkg, const fs::path& out) {
  for (const fs::path& file : {pkg, out}) {
    SCOPED_TRACE(file.string());
    bytes b = read_bytes(file);
    result r = run(s, {"list", "--json", file.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> lines;
    for (size_t from = 0, nl; (nl = r.out.find('\n', from)) != std::string::npos; from = nl + 1)
      lines.push_back(r.out.substr(from, nl - from));
    ASSERT_GE(lines.size(), 2u);
    const std::string& head = lines.front();
    ASSERT_NE(head.find("\"kind\":\"package\""), std::string::npos) << head;
    long start = json_number(head, "start"), length = json_number(head, "length");
    if (file == pkg) {
      EXPECT_EQ(start, 0);
      EXPECT_EQ(length, static_cast<long>(b.size()));
      EXPECT_EQ(json_number(head, "start_at"), -1);
    } else {
      EXPECT_EQ(json_number(head, "start_at"), start + length);
      EXPECT_EQ(field(b, start + length, json_number(head, "start_bytes")), static_cast<uint64_t>(start));
    }
    size_t end = 0;
    std::vector<raw_entry> raw = parse(b, static_cast<size_t>(start), &end);
    ASSERT_EQ(lines.size(), raw.size() + 2);
    for (size_t i = 0; i < raw.size(); ++i) {
      const std::string& line = lines[i + 1];
      const raw_entry& e = raw[i];
      long n = json_number(line, "name_length");
      EXPECT_EQ(json_number(line, "offset"), static_cast<long>(e.offset)) << line;
      EXPECT_EQ(field(b, json_number(line, "offset"), json_number(head, "name_length_bytes")), static_cast<uint64_t>(n));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b.at(static_cast<size_t>(json_number(line, "name_at")))),
                            static_cast<size_t>(n - 1)),
                e.name);
      EXPECT_EQ(static_cast<int32_t>(field(b, json_number(line, "size_at"), json_number(head, "size_bytes"))), e.size);
      EXPECT_EQ(static_cast<int32_t>(field(b, json_number(line, "packed_at"), json_number(head, "packed_bytes"))),
                e.packed);
      if (e.size == -1) {
        EXPECT_EQ(json_number(line, "time_at"), -1) << line;
        EXPECT_EQ(json_number(line, "data"), -1) << line;
      } else {
        EXPECT_EQ(field(b, json_number(line, "time_at"), json_number(head, "time_bytes")), e.time) << line;
        EXPECT_EQ(json_number(line, "data"), static_cast<long>(e.data)) << line;
      }
    }
    EXPECT_NE(lines.back().find("\"kind\":\"end\""), std::string::npos) << lines.back();
    EXPECT_EQ(json_number(lines.back(), "offset") + static_cast<long>(talven::terminator_bytes), static_cast<long>(end));
    EXPECT_EQ(static_cast<long>(end), start + length);
  }
}

TEST_F(TalvenPack, AppendedPackageReadsLikeTheSeparateOne) {
  fs::path exe = s.dir / "setup.exe", out = s.dir / "game-setup.exe";
  ASSERT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
  bytes stub = pattern(4099, 7);
  stub[0] = 'M';
  stub[1] = 'Z';
  write_bytes(exe, stub);
  result r = run(s, {"append", exe.string(), pkg.string(), out.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  bytes whole = read_bytes(out), package = read_bytes(pkg);
  // Zeros between the program and the package end the file on 8 bytes, where a
  // signer's certificate table follows the trailer.
  ASSERT_EQ(whole.size() % 8, 0u);
  size_t padding = whole.size() - (stub.size() + package.size() + 4);
  ASSERT_LT(padding, 8u);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), whole.begin()));
  EXPECT_TRUE(std::all_of(whole.begin() + static_cast<long>(stub.size()),
                          whole.begin() + static_cast<long>(stub.size() + padding), [](unsigned char b) { return b == 0; }));
  EXPECT_TRUE(std::equal(package.begin(), package.end(), whole.begin() + static_cast<long>(stub.size() + padding)));
  EXPECT_EQ(le32(whole, whole.size() - 4), stub.size() + padding);

  expect_list_json_on_fields(s, pkg, out);
  result from_pkg = run(s, {"list", pkg.string()});
  result from_exe = run(s, {"list", out.string()});
  ASSERT_EQ(from_exe.code, 0) << from_exe.err;
  EXPECT_EQ(from_exe.out, from_pkg.out);
  r = run(s, {"verify", out.string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("appended"), std::string::npos) << r.out;
  r = run(s, {"extract", out.string(), (s.dir / "x").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const auto& [name, data] : t.files) EXPECT_EQ(read_bytes(s.dir / "x" / name), data) << name;

  // A trailer pointing past the end is refused, not read from somewhere else.
  bytes broken = whole;
  broken[broken.size() - 2] = 0x7F;
  write_bytes(out, broken);
  r = run(s, {"verify", out.string()});
  EXPECT_EQ(r.code, 1);
  // Only an executable takes a package, and only a package is appended.
  EXPECT_EQ(run(s, {"append", pkg.string(), pkg.string(), (s.dir / "y.exe").string()}).code, 1);
  EXPECT_EQ(run(s, {"append", exe.string(), exe.string(), (s.dir / "y.exe").string()}).code, 1);
  EXPECT_FALSE(fs::exists(s.dir / "y.exe"));
}

TEST_F(TalvenPack, NamesCp932CannotHoldAreErrorsNamingTheFile) {
  struct bad_name {
    const char* name;
    const char* why;
  };
  for (bad_name n : {bad_name{u8"face\U0001F600.txt", "emoji"}, bad_name{u8"price\u00A5.txt", "yen sign"},
                     bad_name{"a:b.txt", "colon"}, bad_name{"trail.", "trailing dot"}}) {
    // A colon or a trailing dot cannot be in a Windows name at all.
    if (package_kit::windows_build() && (n.name[0] == 'a' || n.name[0] == 't')) continue;
    scratch s;
    tree t = make_tree(s.dir / "game");
    write_bytes(t.root / "DATA" / n.name, {1, 2, 3});
    fs::path pkg = s.dir / "instdat.arc";
    EXPECT_TRUE(exits_with(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}),
        1, std::string("DATA/") + n.name)) << n.why;
    EXPECT_FALSE(fs::exists(pkg)) << n.why;
    EXPECT_FALSE(fs::exists(pkg.string() + ".tmp")) << n.why;
  }
}

TEST_F(TalvenPack, FilesOf2GiBAreRefused) {
  // Sparse: no disk space is used, and pack must refuse it from its size alone.
  fs::path huge = t.root / "DATA" / "huge.bin";
  { std::ofstream touch(huge); }
  fs::resize_file(huge, 2147483648ull);
  EXPECT_TRUE(exits_with(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}), 1, "DATA/huge.bin"));
  EXPECT_FALSE(fs::exists(pkg));
  // The refusal is the size's doing: the same file, shrunk, packs.
  fs::resize_file(huge, 1000);
  EXPECT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
}

TEST_F(TalvenPack, OutputInsideTheTreeIsNotPackedIntoItself) {
  fs::path pkg = t.root / "instdat.arc";
  ASSERT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
  bytes first = read_bytes(pkg);
  ASSERT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
  EXPECT_TRUE(read_bytes(pkg) == first);
  result r = run(s, {"list", pkg.string()});
  EXPECT_EQ(r.out.find("instdat.arc"), std::string::npos) << r.out;
}

TEST_F(TalvenPack, ExtractDoesNotWriteThroughALink) {
  ASSERT_EQ(run(s, {"pack", "--no-check", t.root.string(), pkg.string()}).code, 0);
  fs::path dest = s.dir / "dest", elsewhere = s.dir / "elsewhere";
  fs::create_directories(dest);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, dest / "DATA");
  result r = run(s, {"extract", pkg.string(), dest.string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(TalvenPack, EscapingNamesAreRefusedBeforeWriting) {
  fs::path pkg = s.dir / "evil.arc";
  for (const char* evil : {"..\\escaped.txt", "DATA\\..\\..\\escaped.txt", "C:escaped.txt", "\\escaped.txt"}) {
    FILE* f = std::fopen(pkg.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::vector<unsigned char> packed;
    ASSERT_EQ(talven::compress_data(reinterpret_cast<const unsigned char*>("x"), 1, 9, &packed), 0);
    ASSERT_EQ(talven::write_folder_entry(f, "DATA\\"), 0);
    ASSERT_EQ(talven::write_file_entry(f, evil, 1, 0, packed.data(), packed.size()), 0);
    ASSERT_EQ(talven::write_terminator(f), 0);
    std::fclose(f);
    fs::path dest = s.dir / "a" / "b";
    result r = run(s, {"extract", pkg.string(), dest.string()});
    EXPECT_EQ(r.code, 1) << evil;
    EXPECT_FALSE(fs::exists(s.dir / "a" / "escaped.txt")) << evil;
    EXPECT_FALSE(fs::exists(s.dir / "escaped.txt")) << evil;
    EXPECT_FALSE(fs::exists(dest / "C:escaped.txt")) << evil;
    EXPECT_TRUE(exits_with(run(s, {"verify", pkg.string()}), 1, "escaped.txt")) << evil;
    fs::remove_all(s.dir / "a");
  }
}

TEST_F(TalvenPack, WarnsWhenTheStartupPassWouldFail) {
  // A sound layout: settings at the top, the nested folder stops the pass before the
  // text file in MUSIC is reached.
  fs::create_directories(s.dir / "ok/DATA/SUB");
  fs::create_directories(s.dir / "ok/MUSIC");
  write_bytes(s.dir / "ok/install.env", {'x'});
  write_bytes(s.dir / "ok/MUSIC/notes.txt", {'x'});
  result r = run(s, {"pack", "--no-check", (s.dir / "ok").string(), pkg.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  r = run(s, {"verify", pkg.string()});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

  // Without a nested folder the pass walks into DATA and meets a text file there.
  fs::create_directories(s.dir / "bad/DATA");
  write_bytes(s.dir / "bad/install.env", {'x'});
  write_bytes(s.dir / "bad/DATA/Read.TXT.old", {'x'});
  r = run(s, {"pack", "--no-check", (s.dir / "bad").string(), pkg.string()});
  EXPECT_TRUE(exits_with(r, 0, "warning"));
  EXPECT_NE(r.err.find("DATA\\Read.TXT.old"), std::string::npos) << r.err;
  EXPECT_TRUE(exits_with(run(s, {"verify", pkg.string()}), 0, "DATA\\Read.TXT.old"));  // the package itself is sound

  fs::create_directories(s.dir / "none");
  write_bytes(s.dir / "none/readme.txt", {'x'});
  EXPECT_TRUE(exits_with(run(s, {"pack", "--no-check", (s.dir / "none").string(), pkg.string()}), 0, "no install.env"));
}

// On a terminal pack draws its bar; the terminal is a pseudo-terminal made here.
TEST_F(TalvenPack, ProgressBarOnATerminal) {
  if (package_kit::windows_build()) GTEST_SKIP() << "a pseudo-terminal is no Windows console";
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::string slave_name = ::ptsname(master);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int slave = ::open(slave_name.c_str(), O_RDWR);
    int null = ::open("/dev/null", O_WRONLY);
    if (slave < 0 || null < 0) ::_exit(100);
    ::dup2(null, 1);
    ::dup2(slave, 2);
    ::execl(tool, tool, "pack", "--no-check", t.root.c_str(), pkg.c_str(), static_cast<char*>(nullptr));
    ::_exit(101);
  }
  std::string seen;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has closed the terminal
    seen.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(master);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
  EXPECT_TRUE(holds(seen, {"\r", "100%", "6/6 files"}));
}

TEST_F(TalvenPack, HelpAndUsage) {
  result r = run(s, {"--help"});
  ASSERT_EQ(r.code, 0);
  std::vector<std::string> names;
  // Every command the overview lists must answer its own --help.
  size_t at = r.out.find("commands:");
  ASSERT_NE(at, std::string::npos);
  std::string rest = r.out.substr(at);
  for (size_t p = rest.find("\n  "); p != std::string::npos; p = rest.find("\n  ", p + 1)) {
    size_t b = p + 3, e = rest.find(' ', b);
    names.push_back(rest.substr(b, e - b));
  }
  for (const char* mine : {"pack", "append", "list", "verify", "extract"})
    EXPECT_NE(std::find(names.begin(), names.end(), mine), names.end()) << mine;
  for (const std::string& name : names) {
    result h = run(s, {name, "--help"});
    EXPECT_EQ(h.code, 0) << name;
    EXPECT_NE(h.out.find("usage"), std::string::npos) << name << ": " << h.out;
  }
  EXPECT_EQ(run(s, {}).code, 2);
  EXPECT_EQ(run(s, {"no-such-command"}).code, 2);
  EXPECT_EQ(run(s, {"pack", "--no-check", "only-one"}).code, 2);
  EXPECT_EQ(run(s, {"list"}).code, 2);
  EXPECT_EQ(run(s, {"extract", "a"}).code, 2);
  EXPECT_TRUE(exits_with(run(s, {"list", (s.dir / "missing.arc").string()}), 1, "missing.arc"));
}

}  // namespace
