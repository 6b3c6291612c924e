// The portable rules behind what the installer, the uninstaller and the work-folder
// clean-up accept from a record or from the disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/settings.h"
#include "base/cp932.h"
#include "install/name_rules.h"
#include "env_folder.h"

using namespace talven;

namespace {

struct name_row {
  const char* text;
  int setting;  // check_setting_name
  int disk;     // check_disk_name
};

// "ソ" and "表" end in 0x5C: part of the character, not a separator.
const name_row name_rows[] = {
    {"TALVEN", 0, 0},
    {"月影の譜 体験版", 0, 0},
    {"ソフト表", 0, 0},
    {"tsukikage.ini", 0, 0},
    {"a.b", 0, 0},
    {"...x", 0, 0},
    {"..", -1, -1},
    {".", -1, -1},
    {"", 0, -1},
    {". .", -1, 0},
    {"a\\b", -1, -1},
    {"\\x", -1, -1},
    {"a/b", -1, -1},
    {"C:", -1, -1},
    {"C:x.ini", -1, -1},
    {"x.ini:stream", -1, -1},
    {"..\\..\\x", -1, -1},
    {"Windows\\CurrentVersion\\Run", -1, -1},
};

TEST(security, SettingAndDiskNameRules) {
  for (const name_row& row : name_rows) {
    EXPECT_EQ(check_setting_name(row.text), row.setting) << row.text;
    EXPECT_EQ(check_disk_name(row.text), row.disk) << row.text;
  }
  EXPECT_EQ(check_setting_name(nullptr), 0);  // an absent INST_GROUP
}

void load_env(const std::string& text) {
  reset_settings_for_tests();
  FILE* stream = stream_of(text);
  ASSERT_NE(stream, nullptr);
  load_settings_stream(stream);
  std::fclose(stream);
}

TEST(security, RefusedSettingIsNamedWithItsValue) {
  struct row {
    const char* env;
    const char* key;  // null: accepted
    const char* value;
  };
  const row rows[] = {
      {"TITLEBAR\tgame\nREG_GLOBAL\tTALVEN\nREG_LOCAL\tGame\nINI_FILE\tgame.ini\nINST_GROUP\tTALVEN\n", nullptr, nullptr},
      {"TITLEBAR\tgame\n", nullptr, nullptr},  // defaults: "-" keys, no group
      {"INI_FILE\tC:\\other\\settings.ini\n", "INI_FILE", "C:\\other\\settings.ini"},
      {"REG_GLOBAL\tMicrosoft\nREG_LOCAL\tWindows\\CurrentVersion\\Run\n", "REG_LOCAL", "Windows\\CurrentVersion\\Run"},
      {"REG_GLOBAL\t..\n", "REG_GLOBAL", ".."},
      {"INST_GROUP\t..\\..\\..\\x\n", "INST_GROUP", "..\\..\\..\\x"},
      {"TITLEBAR\ta/b\n", "TITLEBAR", "a/b"},
  };
  for (const row& r : rows) {
    load_env(r.env);
    const char* value = nullptr;
    const char* key = refused_setting_name(&value);
    if (!r.key) {
      EXPECT_EQ(key, nullptr) << r.env;
      continue;
    }
    ASSERT_NE(key, nullptr) << r.env;
    EXPECT_STREQ(key, r.key);
    EXPECT_STREQ(value, r.value);
  }
  reset_settings_for_tests();
}

TEST(security, FullFormResolvesAsTheSystemDoes) {
  struct row {
    const char* path;
    const char* full;  // null: refused
  };
  const row rows[] = {
      {"C:\\Games\\Tsukikage", "C:\\Games\\Tsukikage"},
      {"C:/Games//Tsukikage/", "C:\\Games\\Tsukikage"},
      {"C:\\Games\\.\\data\\..\\save", "C:\\Games\\save"},
      {"C:\\Games\\data. .\\a.txt. ", "C:\\Games\\data\\a.txt"},
      {"C:\\Games\\..\\..", nullptr},
      {"C:\\..", nullptr},
      {"C:\\", "C:\\"},
      {"C:\\a\\..", "C:\\"},
      {"C:\\a\\. .\\b", nullptr},
      {"C:\\ソ\\..\\表", "C:\\表"},  // 0x5C trail bytes stay inside their characters
      {"Games\\x", nullptr},
      {"\\\\server\\share\\x", nullptr},
      {"C:relative", nullptr},
  };
  for (const row& r : rows) {
    char out[260];
    int rc = full_form(r.path, out, sizeof out);
    if (!r.full) {
      EXPECT_EQ(rc, -1) << r.path;
      continue;
    }
    ASSERT_EQ(rc, 0) << r.path;
    EXPECT_STREQ(out, r.full) << r.path;
  }
  char small[8];
  EXPECT_EQ(full_form("C:\\Games", small, sizeof small), -1);
}

TEST(security, InsideOnlyInFullForm) {
  struct row {
    const char* folder;
    const char* path;
    int inside;
  };
  const row rows[] = {
      {"C:\\Games\\T", "C:\\Games\\T\\data\\a.dat", 1},
      {"C:\\Games\\T\\", "c:\\games\\t\\A.dat", 1},
      {"C:\\Games\\T", "C:\\Games\\T", 0},
      {"C:\\Games\\T", "C:\\Games\\T\\.", 0},
      {"C:\\Games\\T", "C:\\Games\\T\\data\\..\\..\\victim", 0},
      {"C:\\Games\\T", "C:\\Games\\T\\..\\..\\..\\victim", 0},
      {"C:\\Games\\T", "C:\\Games\\Tx\\a", 0},
      {"C:\\Games\\T", "C:\\Games\\T.\\a", 1},  // the system drops the dot: the same folder
      {"C:\\Games\\T", "D:\\Games\\T\\a", 0},
      {"C:\\ソ", "C:\\ソ\\a", 1},
      {"C:\\ソ", "C:\\ソ\\..\\a", 0},
      {"C:\\Windows", "C:\\Windows\\game.ini", 1},
  };
  for (const row& r : rows) EXPECT_EQ(inside_in_full_form(r.folder, r.path), r.inside) << r.folder << " " << r.path;
}

}  // namespace
