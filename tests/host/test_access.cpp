// Who gets which rights on the install folder and the files the uninstaller trusts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/access.h"

using namespace talven;

namespace {
const std::string hyo = "\x95\x5C";  // "表": second byte 0x5C

const char* const system_folders[] = {"C:\\Windows", "C:\\Program Files", "C:\\Users", "C:\\Users\\player"};
}  // namespace

TEST(AccessFiles, FileInFolderAddsOneSeparator) {
  char out[260] = "unchanged";
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, "C:\\TEMP", "x.id"));
  EXPECT_STREQ("C:\\TEMP\\x.id", out);
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, "C:\\TEMP\\", probe_file_name));
  EXPECT_STREQ("C:\\TEMP\\UserAccountCheck.id", out);
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, ("C:\\" + hyo).c_str(), "n"));
  EXPECT_EQ("C:\\" + hyo + "\\n", std::string(out));
  std::strcpy(out, "unchanged");
  std::string long_folder = "C:\\" + std::string(240, 'a');
  EXPECT_EQ(-1, compose_in_folder(out, sizeof out, long_folder.c_str(), probe_file_name));
  EXPECT_STREQ("unchanged", out);
}

// The old grant replaced the list of whatever folder was chosen with full control for
// everyone; now only a folder made by this install, never one the system relies on.
TEST(SecurityAccess, OnlyAFolderThisInstallMadeIsOpenedToPlayers) {
  struct row {
    const char* folder;
    int created;
    int granted;
  } rows[] = {
      {"C:\\Program Files\\TALVEN\\Game", 1, 1},
      {"C:\\Program Files\\TALVEN\\Game", 0, 0},  // existed before: left as it is
      {"D:\\Games\\" "\x95\x5C", 1, 1},
      {"C:\\", 1, 0},
      {"D:", 1, 0},
      {"C:\\Windows", 1, 0},
      {"c:\\program files\\", 1, 0},
      {"C:\\Users\\Player", 1, 0},
      {"", 1, 0},
  };
  for (const row& r : rows)
    EXPECT_EQ(r.granted, grant_users_write(r.folder, r.created, system_folders, 4)) << r.folder << " " << r.created;
  EXPECT_EQ(0, grant_users_write(nullptr, 1, system_folders, 4));
}

TEST(SecurityAccess, PlayersGetModifyNotFullControl) {
  // Modify: read, write, execute, delete what is inside. Not WRITE_DAC, WRITE_OWNER or
  // FILE_DELETE_CHILD, which would let a player undo the protection of the files below.
  EXPECT_EQ(who_users, users_write_entry.who);
  EXPECT_EQ(1, users_write_entry.inherited);
  const unsigned long write_dac = 0x00040000, write_owner = 0x00080000, delete_child = 0x40;
  EXPECT_EQ(0u, users_write_entry.mask & (write_dac | write_owner | delete_child));
  EXPECT_NE(0u, users_write_entry.mask & 0x2);  // FILE_WRITE_DATA / add a file
  EXPECT_NE(access_full, users_write_entry.mask);
}
