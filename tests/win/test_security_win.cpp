// The Win32 side of the name rules: which names survive the CP932 round trip, and the
// held install folder compared with what a path names later.
#include <gtest/gtest.h>

#include "install/removal.h"
#include "install/wide.h"
#include "package_test_support.h"

namespace talven {
namespace {

using namespace talven_test;

TEST(security, OnlyNamesThatRoundTripAreTaken) {
  struct row {
    const wchar_t* name;
    int taken;
  };
  const row rows[] = {
      {L"readme.txt", 1},
      {L"\x30C7\x30FC\x30BF", 1},       // データ
      {L"\x30BD\x8868", 1},             // ソ表: 0x5C as a trail byte
      {L"\xFF3C", 1},                   // the full-width backslash has its own code
      {L"..\x00A5..\x00A5victim", 0},   // the yen sign would become 0x5C
      {L"a\x00A5" L"b", 0},
      {L"x\x203E", 0},                  // an overline would become "~"
      {L"\x00E9t\x00E9", 0},            // no CP932 form at all
      {L"..", 0},
      {L".", 0},
      {L"a:b", 0},
      {L"", 0},
  };
  for (const row& r : rows) {
    char out[64];
    EXPECT_EQ(disk_name_to_cp932(r.name, out, sizeof out) == 0, r.taken == 1) << r.taken;
  }
  char small[4];
  EXPECT_EQ(wide_to_cp932(L"\x30C7\x30FC\x30BF", small, sizeof small), -1);  // 6 bytes and the NUL

  wchar_t wide[8];
  EXPECT_EQ(cp932_to_wide("\x83\x5C", wide, 8), 0);
  EXPECT_EQ(wide[0], L'\x30BD');
  EXPECT_EQ(cp932_to_wide("a\x81", wide, 8), -1);  // a lead byte without its trail byte
}

TEST(security, HeldFolderIsComparedByIdentity) {
  scratch_folder root;
  CreateDirectoryA((root / "game").c_str(), nullptr);
  CreateDirectoryA((root / "other").c_str(), nullptr);
  folder_hold hold;
  ASSERT_EQ(hold_folder(&hold, (root / "game").c_str()), 0);
  EXPECT_EQ(still_same_folder(&hold, (root / "game").c_str()), 1);
  EXPECT_EQ(still_same_folder(&hold, (root / "other").c_str()), 0);
  EXPECT_EQ(still_same_folder(&hold, (root / "missing").c_str()), 0);
  release_folder(&hold);
  folder_hold file_hold;
  ASSERT_TRUE(write_file(root / "file", "x"));
  EXPECT_EQ(hold_folder(&file_hold, (root / "file").c_str()), -1);
}

}  // namespace
}  // namespace talven
