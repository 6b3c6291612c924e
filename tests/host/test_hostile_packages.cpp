// Hostile packages: one row per kind of trouble, each run through talven-pack verify
// and extract and through both installer passes (the shared walk, host file side). The
// readers must agree: damage is refused by all four for the same reason, a doubt is a
// warning of verify only, and nothing is ever written outside the target.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "package/extract.h"
#include "package/package_pass.h"
#include "package_kit.h"

namespace {

using namespace package_kit;

enum verdict { sound, doubt, damaged };

struct hostile {
  const char* kind;
  bytes entries;     // what follows install.env; the end marker is added unless `raw`
  verdict expected;  // of verify; extract and both passes refuse exactly the damaged ones
  bool raw = false;  // the package is `entries` alone
};

bytes cat(std::initializer_list<bytes> parts) {
  bytes all;
  for (const bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string named(const char* name) { return std::string(name) + std::string(1, '\0'); }

std::vector<hostile> rows() {
  bytes bomb = zlib_of(std::string(4 << 20, '\0'));
  bytes ten = zlib_of("ten bytes!");
  return {
      {"sound", cat({folder_entry("DATA\\"), file_entry("DATA\\a.bin", "data")}), sound},
      {"bomb: declares 16 bytes, inflates to 4 MiB", raw_entry(9, named("bomb.txt"), 16, int32_t(bomb.size()), bomb),
       damaged},
      {"inflates to less than declared", raw_entry(8, named("ten.txt"), 1000, int32_t(ten.size()), ten), damaged},
      {"one byte: the name length cut", {5}, damaged, true},
      {"NUL inside the name", raw_entry(9, std::string("ab\0cd.ex\0", 9), 1, int32_t(zlib_of("x").size()), zlib_of("x")),
       damaged},
      {"control byte", file_entry("a\x01.txt", "x"), damaged},
      {"question mark", file_entry("a?.txt", "x"), damaged},
      {"bar", file_entry("a|b.txt", "x"), damaged},
      {"device name CON", file_entry("CON", "x"), damaged},
      {"device name NUL.txt", file_entry("NUL.txt", "x"), damaged},
      {"device name as a folder", folder_entry("AUX\\"), damaged},
      {"device name deeper", cat({folder_entry("DATA\\"), file_entry("DATA\\com1.dat", "x")}), damaged},
      {"lead byte before a colon", file_entry("\x81:a.txt", "x"), damaged},
      {"escaping name", file_entry("..\\escaped.txt", "x"), damaged},
      {"file then folder of its name", cat({file_entry("a", "x"), folder_entry("a\\")}), damaged},
      {"file then a child of its name", cat({file_entry("a", "x"), file_entry("a\\x.txt", "y")}), damaged},
      {"folder then file of its name", cat({folder_entry("A\\"), file_entry("a", "x")}), damaged},
      {"bytes after the end marker", cat({file_entry("a.txt", "x"), bytes{0, 0, 'x'}}), damaged, true},
      {"case-only duplicate", cat({file_entry("a.txt", "x"), file_entry("A.TXT", "y")}), doubt},
      {"duplicate entry", cat({file_entry("a.txt", "x"), file_entry("a.txt", "x")}), doubt},
      {"duplicate folder", cat({folder_entry("DATA\\"), folder_entry("data\\")}), doubt},
      {"trailing dot", file_entry("a.txt.", "x"), doubt},
      {"trailing space", file_entry("b ", "x"), doubt},
  };
}

bytes package_for(const hostile& row) {
  if (row.raw && row.entries.size() < 2) return row.entries;
  bytes b = file_entry("install.env", "A=1\n");
  b.insert(b.end(), row.entries.begin(), row.entries.end());
  if (!row.raw) b.resize(b.size() + 2, 0);
  return b;
}

// One installer pass through the shared walk; the reader's reason, or "" when it passed.
std::string installer_pass(const fs::path& package, int32_t length, const fs::path& into, talven::pass_mode mode) {
  fs::create_directories(into);
  const char* refusal = nullptr;
  int r = talven::extract_package_from(std::fopen(package.c_str(), "rb"), length, into.c_str(), mode, &refusal);
  if (r == 0) return "";
  return refusal ? refusal : "refused without a reason";
}

TEST(HostilePackages, EveryReaderGivesTheSameVerdict) {
  for (const hostile& row : rows()) {
    SCOPED_TRACE(row.kind);
    scratch s;
    fs::path pkg = s.dir / "pkg.arc";
    bytes b = package_for(row);
    write_bytes(pkg, b);
    result verify = run_tool(s.dir, {"verify", pkg.string()});
    result extract = run_tool(s.dir, {"extract", pkg.string(), (s.dir / "extract").string()});
    // Choosing entries leaves the others unwritten, not unread: the same verdict.
    result chosen = run_tool(s.dir, {"extract", "-y", pkg.string(), (s.dir / "extract").string(), "install.env"});
    std::string full = installer_pass(pkg, int32_t(b.size()), s.dir / "full", talven::full_pass_quiet);
    std::string startup = installer_pass(pkg, int32_t(b.size()), s.dir / "startup", talven::startup_pass);

    bool refused = row.expected == damaged;
    EXPECT_EQ(verify.code, refused ? 1 : 0) << verify.err;
    EXPECT_EQ(extract.code, refused ? 1 : 0) << extract.err;
    EXPECT_EQ(chosen.code, refused ? 1 : 0) << chosen.err;
    EXPECT_EQ(full.empty(), !refused) << full;
    EXPECT_EQ(startup.empty(), !refused) << startup;
    EXPECT_EQ(verify.err.find("warning") != std::string::npos, row.expected == doubt) << verify.err;
    if (refused) {
      // One reason, whoever reads: the installer's passes name it, the tool says it.
      EXPECT_EQ(startup, full);
      EXPECT_NE(verify.err.find(full), std::string::npos) << full << " / " << verify.err;
      EXPECT_NE(extract.err.find(full), std::string::npos) << full << " / " << extract.err;
      EXPECT_NE(chosen.err.find(full), std::string::npos) << full << " / " << chosen.err;
    }
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(s.dir)) top.insert(e.path().filename().string());
    top.erase("extract");  // a refused extract takes back the empty folder it made
    EXPECT_EQ(top, (std::set<std::string>{"pkg.arc", "full", "startup"}));
    // Output never passes an entry's declared size, even on the refused path.
    for (const auto& e : fs::recursive_directory_iterator(s.dir))
      if (e.is_regular_file() && e.path().filename() == "bomb.txt") {
        EXPECT_LE(fs::file_size(e.path()), 16u);
      }
  }
}

// A package cut at any byte is refused, and the refusal names the entry the cut falls
// in (the end marker counts as one) and the offset of the cut, whether the file ends
// there or goes on past the package's length (as an executable's trailer does).
TEST(HostilePackages, EveryCutNamesItsEntryAndOffset) {
  std::vector<bytes> entries = {file_entry("install.env", "A=1\n"), folder_entry("DATA\\"),
                                file_entry("DATA\\a.bin", std::string(3000, 'q'))};
  const std::vector<std::string> names = {"install.env", "DATA\\", "DATA\\a.bin", ""};
  bytes b = package_of(entries);
  std::vector<size_t> starts;
  size_t at = 0;
  for (const bytes& e : entries) {
    starts.push_back(at);
    at += e.size();
  }
  starts.push_back(at);  // the end marker
  scratch s;
  for (bool file_ends_there : {false, true}) {
    for (size_t cut = 0; cut < b.size(); ++cut) {
      write_bytes(s.dir / "cut.arc", file_ends_there ? bytes(b.begin(), b.begin() + long(cut)) : b);
      FILE* f = std::fopen((s.dir / "cut.arc").c_str(), "rb");
      talven::package_reader r;
      ASSERT_EQ(talven::open_package_reader(&r, f, int32_t(cut)), 0);
      int got = talven::run_package_pass(&r, nullptr, talven::check_pass, nullptr);
      size_t k = starts.size() - 1;
      while (starts[k] > cut) --k;
      EXPECT_EQ(got, talven::entry_damaged) << cut;
      EXPECT_EQ(r.entry_number, long(k + 1)) << cut << ": " << r.msg;
      EXPECT_EQ(r.entry_offset, int32_t(starts[k])) << cut;
      EXPECT_EQ(r.msg_offset, int32_t(cut)) << cut << ": " << r.msg;
      EXPECT_EQ(names[k].compare(0, std::strlen(r.entry.name), r.entry.name), 0) << cut << ": " << r.entry.name;
      if (cut >= starts[k] + 2 + names[k].size() + 1) {
        EXPECT_EQ(names[k], r.entry.name) << cut;
      }
      talven::close_package_reader(&r);
      std::fclose(f);
    }
  }
}

// The name rules step over double-byte characters: a trail byte that equals "|", "\" or
// a letter is part of its character, never a forbidden byte, a separator or a case.
TEST(HostilePackages, NameRulesReadCodePage932Characters) {
  for (const char* name : {"\x83\x7C.txt", "\x95\x5C\\x.txt", "\x83\x41\\", "CONSOLE.txt", "NULL", "COM0", "a.b.txt"})
    EXPECT_EQ(talven::entry_name_damage(name, unsigned(std::strlen(name) + 1)), nullptr) << name;
  for (const char* name : {"a\x81", "\x81:x", "DATA\\lpt3.log", "aux .txt", "x\\CoN"})
    EXPECT_NE(talven::entry_name_damage(name, unsigned(std::strlen(name) + 1)), nullptr) << name;
  talven::seen_names names = {nullptr, 0, 0};
  const char* doubt = nullptr;
  // "ア" (83 41) and "ヂ" (83 61) differ only in a trail byte that looks like A and a.
  EXPECT_EQ(talven::note_entry_name(&names, "\x83\x41.txt", 0, &doubt), nullptr);
  EXPECT_EQ(talven::note_entry_name(&names, "\x83\x61.txt", 0, &doubt), nullptr);
  EXPECT_EQ(doubt, nullptr);
  EXPECT_EQ(talven::note_entry_name(&names, "\x83\x41.TXT", 0, &doubt), nullptr);
  EXPECT_NE(doubt, nullptr);
  // Enough names to make the table grow, each still found afterwards.
  for (int i = 0; i < 1000; ++i) {
    std::string n = "d" + std::to_string(i) + "\\f";
    ASSERT_EQ(talven::note_entry_name(&names, n.c_str(), 0, &doubt), nullptr) << n;
  }
  EXPECT_NE(talven::note_entry_name(&names, "d999\\", 0, &doubt), nullptr);  // a file where a folder was
  EXPECT_NE(talven::note_entry_name(&names, "D0\\F", 1, &doubt), nullptr);
  talven::release_seen_names(&names);
}

}  // namespace
