// The destination folder's text rules: the proposal, the normalisation of a typed folder,
// the browse composition and the level prefixes of the folder creation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/destination.h"

using namespace talven;

namespace {

// "表" in code page 932: its second byte is 0x5C, the backslash.
const std::string hyo = "\x95\x5C";

struct normalised {
  int code;
  std::string path;
  bool operator==(const normalised& o) const { return code == o.code && path == o.path; }
};
void PrintTo(const normalised& n, std::ostream* os) { *os << "{" << n.code << ", \"" << n.path << "\"}"; }

normalised normalise(const std::string& typed, int make_folder = 0, const char* instfol = nullptr,
                     const char* instto = "TALVEN_APP", const char* windows_dir = "X:\\WINDOWS") {
  char path[destination_size];
  std::strcpy(path, typed.c_str());
  int code = normalise_destination(path, sizeof path, windows_dir, make_folder, instfol, instto);
  return {code, path};
}

std::string prefix(const std::string& path, int level, int* whole = nullptr) {
  char out[destination_size];
  int w = folder_chain_prefix(out, sizeof out, path.c_str(), level);
  if (whole) *whole = w;
  return out;
}

}  // namespace

TEST(DestinationDefault, BuiltFromTheSystemDriveAndTheSettings) {
  const struct { const char *windows; int program_files; const char *instfol, *instto, *proposal; } rows[] = {
      {"X:\\WINDOWS", 1, nullptr, "TALVEN_APP", "X:\\Program Files\\TALVEN_APP"},
      {"C:\\WINNT", 1, "Maker", "Game", "C:\\Program Files\\Maker\\Game"},
      {"C:\\WINNT", 0, "", "Game", "C:\\Game"},  // an empty INSTFOL counts as not set
      {"WINDOWS", 1, nullptr, "Game", "Program Files\\Game"},  // no backslash: no drive part at all
  };
  for (const auto& r : rows) {
    char out[destination_size];
    EXPECT_EQ(0, build_default_destination(out, sizeof out, r.windows, r.program_files, r.instfol, r.instto));
    EXPECT_STREQ(r.proposal, out);
  }
}

TEST(DestinationDefault, OverLongProposalIsCutAtACharacterBoundary) {
  char out[destination_size];
  std::string instfol(127, 'f');
  // 127 bytes of double-byte characters: the cut must not leave half of one.
  std::string instto;
  for (int i = 0; i < 63; ++i) instto += "\x82\xA0";
  instto += "z";
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(1, build_default_destination(out, sizeof out, "X:\\WINDOWS", 1, instfol.c_str(),
                                         instto.c_str()));
  size_t length = std::strlen(out);
  EXPECT_LE(length, destination_size - 1);
  EXPECT_GE(length, destination_size - 2);
  // X:\Program Files\ (17) + 127 + \ (1) = 145 bytes, then whole characters only.
  EXPECT_EQ(0u, (length - 145) % 2);
  EXPECT_EQ(0, std::strncmp(out, "X:\\Program Files\\fff", 20));
}

TEST(DestinationNormalise, SlashesBecomeBackslashes) {
  EXPECT_EQ((normalised{destination_ok, "D:\\Games\\Sub"}), normalise("D:/Games/Sub/"));
}

TEST(DestinationNormalise, NetworkPathsAreRefused) {
  EXPECT_EQ(destination_network, normalise("\\\\server\\share\\Game").code);
  EXPECT_EQ(destination_network, normalise("//server/share").code);
  EXPECT_EQ(destination_network, normalise("C:\\Games\\\\Sub").code);
}

TEST(DestinationNormalise, DoubleByteBackslashIsNotASeparator) {
  // C:\表\Sub: the 0x5C of 表 followed by a real backslash is not a doubled separator.
  EXPECT_EQ((normalised{destination_ok, "C:\\" + hyo + "\\Sub"}), normalise("C:\\" + hyo + "\\Sub"));
  // A folder ending in 表 keeps its last byte and is not a root.
  EXPECT_EQ((normalised{destination_ok, "C:\\" + hyo}), normalise("C:\\" + hyo));
  // A real trailing backslash after 表 goes, the 0x5C of 表 stays.
  EXPECT_EQ((normalised{destination_ok, "C:\\" + hyo}), normalise("C:\\" + hyo + "\\"));
}

TEST(DestinationNormalise, DriveRootsAreRefused) {
  for (const char* typed : {"C:\\", "C:", "d:/", "", "\\"}) EXPECT_EQ(destination_root, normalise(typed).code) << typed;
}

TEST(DestinationNormalise, RelativeAndDriveRelativePaths) {
  EXPECT_EQ((normalised{destination_ok, "X:\\Games"}), normalise("Games"));
  EXPECT_EQ("X:\\Games\\A", normalise("\\Games\\A").path);
  EXPECT_EQ((normalised{destination_ok, "D:\\Games"}), normalise("D:Games"));
  // The system drive comes from the Windows folder, whatever its letter.
  EXPECT_EQ("Q:\\Games", normalise("Games", 0, nullptr, "TALVEN_APP", "Q:\\WINNT").path);
}

TEST(DestinationNormalise, MakeFolderAppendsUnlessInsttoIsPresent) {
  EXPECT_EQ("D:\\Games\\Maker\\App", normalise("D:\\Games\\", 1, "Maker", "App").path);
  EXPECT_EQ("D:\\Games\\App", normalise("D:\\Games", 1, nullptr, "App").path);
  // Present anywhere, even inside a longer name: nothing appended.
  EXPECT_EQ("D:\\MyApp2\\x", normalise("D:\\MyApp2\\x", 1, "Maker", "App").path);
  // Switched off: the folder stays as typed.
  EXPECT_EQ("D:\\Games", normalise("D:\\Games", 0, "Maker", "App").path);
  // A relative name gets the folders first, then the drive.
  EXPECT_EQ("X:\\Games\\App", normalise("Games", 1, nullptr, "App").path);
}

TEST(DestinationNormalise, OverLongCompositionsAreRefusedWithinTheBuffer) {
  std::string long_folder = "D:\\" + std::string(250, 'a');
  normalised n = normalise(long_folder, 1, "Maker", "App");
  EXPECT_EQ(destination_too_long, n.code);
  EXPECT_LT(n.path.size(), destination_size);
  // 259 bytes without a drive: "X:" does not fit any more.
  EXPECT_EQ(destination_too_long, normalise(std::string(259, 'b')).code);
  // 258 bytes with a drive but no backslash after the colon: the inserted one would not fit.
  EXPECT_EQ(destination_too_long, normalise("D:" + std::string(257, 'c')).code);
  // Exactly at the limit is fine.
  std::string fits = "D:\\" + std::string(256, 'd');
  EXPECT_EQ((normalised{destination_ok, fits}), normalise(fits));
}

TEST(DestinationBrowse, AppendsInstfolWhenMissingAndInsttoAlways) {
  const struct { std::string chosen; const char* instfol; std::string result; } rows[] = {
      {"D:\\Games", "Maker", "D:\\Games\\Maker\\App"},
      {"D:\\Maker\\x", "Maker", "D:\\Maker\\x\\App"},
      {"D:\\App", nullptr, "D:\\App\\App"},  // a folder that already ends in INSTTO gets it a second time
      {"D:\\", nullptr, "D:\\App"},            // a drive root keeps its one backslash
      {"D:\\" + hyo, nullptr, "D:\\" + hyo + "\\App"},  // a folder ending in 表 gets a real separator
  };
  for (const auto& r : rows) {
    char out[destination_size] = "typed";
    EXPECT_EQ(0, compose_browse_result(out, sizeof out, r.chosen.c_str(), r.instfol, "App")) << r.chosen;
    EXPECT_EQ(r.result, std::string(out));
  }
}

TEST(DestinationBrowse, OverLongResultLeavesTheBufferAlone) {
  char out[destination_size] = "before";
  std::string chosen = "D:\\" + std::string(200, 'a');
  EXPECT_EQ(-1, compose_browse_result(out, sizeof out, chosen.c_str(), std::string(40, 'm').c_str(),
                                      std::string(30, 't').c_str()));
  EXPECT_STREQ("before", out);
}

TEST(DestinationFolderChain, PreparationRules) {
  const struct { std::string path; int code; std::string prepared; } rows[] = {
      {"C:", -1, ""},
      {"", -1, ""},
      {"C:\\", 0, "C:\\"},  // the root keeps its backslash
      {"D:\\Games\\", 0, "D:\\Games"},
      {"D:\\" + hyo, 0, "D:\\" + hyo},
      {"D:\\" + std::string(257, 'x'), -1, ""},
  };
  for (const auto& r : rows) {
    char out[destination_size];
    EXPECT_EQ(r.code, prepare_folder_chain(out, sizeof out, r.path.c_str())) << r.path;
    if (r.code == 0) {
      EXPECT_EQ(r.prepared, std::string(out));
    }
  }
}

TEST(DestinationFolderChain, PrefixesLevelByLevel) {
  const struct { std::string path; int level; std::string prefix; int whole; } rows[] = {
      {"D:\\Games\\Sub", 1, "D:", 0},
      {"D:\\Games\\Sub", 2, "D:\\Games", 0},
      {"D:\\Games\\Sub", 3, "D:\\Games\\Sub", 1},
      {"D:\\Games\\Sub", 7, "D:\\Games\\Sub", 1},
      {"D:\\" + hyo + "\\Sub", 2, "D:\\" + hyo, 0},  // the second byte of 表 is not a level
      {"D:\\" + hyo + "\\Sub", 3, "D:\\" + hyo + "\\Sub", 1},
      {"\\Games\\Sub", 1, "\\Games", 0},  // counting starts at the second character
  };
  for (const auto& r : rows) {
    int whole = -1;
    EXPECT_EQ(r.prefix, prefix(r.path, r.level, &whole)) << r.path << " " << r.level;
    EXPECT_EQ(r.whole, whole) << r.path << " " << r.level;
  }
}

TEST(DestinationText, LeadingIntegerAndCuts) {
  EXPECT_EQ(12, parse_leading_int("  12abc"));
  EXPECT_EQ(-3, parse_leading_int("-3"));
  EXPECT_EQ(7, parse_leading_int("+7"));
  EXPECT_EQ(0, parse_leading_int("abc1"));
  EXPECT_EQ(0, parse_leading_int(""));
  EXPECT_EQ(2147483647, parse_leading_int("99999999999"));
  EXPECT_EQ(-2147483647 - 1, parse_leading_int("-99999999999"));

  char out[4];
  EXPECT_EQ(1, copy_text_cut(out, sizeof out, "ab\x82\xA0"));
  EXPECT_STREQ("ab", out);  // the double-byte character does not fit whole
  EXPECT_EQ(0, copy_text_cut(out, sizeof out, "abc"));
  EXPECT_STREQ("abc", out);

  char head[8];
  windows_dir_head(head, sizeof head, "X:\\WINDOWS", ':');
  EXPECT_STREQ("X:", head);
  windows_dir_head(head, sizeof head, "X:\\WINDOWS", '\\');
  EXPECT_STREQ("X:\\", head);
  windows_dir_head(head, sizeof head, "WINDOWS", ':');
  EXPECT_STREQ("", head);
}

// Paths that the system opens as a drive root or a folder above the typed one: before,
// only a path ending in a separator was refused, and "C:\." installed into the root.
TEST(SecurityDestination, DotsAndTrailingBlanksResolveBeforeTheRootRule) {
  struct row {
    const char* typed;
    int code;
    const char* path;
  } rows[] = {
      {"C:\\.", destination_root, "C:\\"},
      {"C:.", destination_root, "C:\\"},
      {".", destination_root, "X:\\"},
      {"C:\\ ", destination_root, "C:\\"},
      {"C:\\x\\..", destination_root, "C:\\"},
      {"C:\\x\\..\\..\\..", destination_root, "C:\\"},
      {"C:\\...", destination_root, "C:\\"},
      {"C:\\a\\.\\b", destination_ok, "C:\\a\\b"},
      {"C:\\a\\b\\..\\c", destination_ok, "C:\\a\\c"},
      {"C:\\Games. . .\\x ", destination_ok, "C:\\Games\\x"},
      {"C:\\a\\.. \\b", destination_ok, "C:\\b"},
      {"C:\\a\\..x\\b", destination_ok, "C:\\a\\..x\\b"},  // a name that starts with dots
      {"C:\\.hidden", destination_ok, "C:\\.hidden"},
      {"Games\\..\\Other", destination_ok, "X:\\Other"},
  };
  for (const row& r : rows) {
    EXPECT_EQ((normalised{r.code, r.path}), normalise(r.typed)) << r.typed;
  }
}

TEST(SecurityDestination, DoubleByteNamesKeepTheirSecondBytes) {
  // "表." loses its dot, never the 0x5C of the character; "表\.." is the parent of "表".
  EXPECT_EQ("C:\\" + hyo, normalise("C:\\" + hyo + ".").path);
  EXPECT_EQ("C:\\" + hyo + "\\" + hyo, normalise("C:\\" + hyo + "\\x\\..\\" + hyo).path);
  EXPECT_EQ(destination_root, normalise("C:\\" + hyo + "\\..").code);
  // A part that ends in a double-byte character whose second byte is 0x5C, then " .":
  char path[destination_size];
  std::strcpy(path, ("D:\\" + hyo + " .\\y").c_str());
  ASSERT_EQ(0, resolve_dot_parts(path, sizeof path));
  EXPECT_EQ("D:\\" + hyo + "\\y", std::string(path));
  std::strcpy(path, "relative\\..");
  EXPECT_EQ(-1, resolve_dot_parts(path, sizeof path));
  EXPECT_STREQ("relative\\..", path);
}

TEST(SecurityDestination, SystemFoldersThemselvesAreRefused) {
  const char* system[] = {"C:\\windows", "C:\\windows\\system32", "C:\\Program Files\\", "C:\\users",
                          "C:\\users\\player", nullptr, ""};
  const int count = 7;
  struct row {
    const char* path;
    int refused;
  } rows[] = {
      {"C:\\", 1},
      {"D:", 1},
      {"C:\\Windows", 1},
      {"c:\\WINDOWS\\System32\\", 1},
      {"C:\\Program Files", 1},
      {"C:\\Users\\Player", 1},
      {"C:\\Users", 1},
      {"C:\\Program Files\\TALVEN\\Game", 0},  // inside is where games go
      {"C:\\Users\\Player\\Games\\x", 0},
      {"C:\\Windows2", 0},
      {"C:\\Program Files (x86)", 0},  // only when the system names it
  };
  for (const row& r : rows) EXPECT_EQ(r.refused, is_system_folder(r.path, system, count)) << r.path;
}
