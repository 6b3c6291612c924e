// The settings store: line rules of install.env, lookups, truncation and the getter caches.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "engine/resolver.h"
#include "env_folder.h"

using namespace talven;

namespace {

// Feeds text to load_settings_stream through a real stream, so the byte-wise reading is
// exercised as on a file.
void load_text(const std::string& text) {
  FILE* stream = stream_of(text);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(load_settings_stream(stream), 0);
  std::fclose(stream);
}

// A fresh store (and fresh getter caches) holding only text.
void reload(const std::string& text) {
  reset_settings_for_tests();
  load_text(text);
}

std::string lookup(const char* key, size_t size = 512) {
  std::string area(size, 'X');
  setting_string(key, &area[0], size, "<none>");
  return std::string(area.c_str());
}

std::string repeat_lines(const char* line, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += line;
  return out;
}

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { reset_settings_for_tests(); }
  void TearDown() override { reset_settings_for_tests(); }
};

}  // namespace

TEST_F(Settings, DefaultsOfAnEmptyStore) {
  EXPECT_STREQ(get_titlebar(), "ＴＡＬＶＥＮ アプリケーション");
  // "Ｔ" in CP932: a UTF-8 build of the literal would start 0xEF 0xBC.
  const unsigned char* title = reinterpret_cast<const unsigned char*>(get_titlebar());
  EXPECT_EQ(title[0], 0x82);
  EXPECT_EQ(title[1], 0x73);
  EXPECT_EQ(std::strlen(get_titlebar()), 29u);  // 6 double-byte letters, a space, 8 katakana
  EXPECT_STREQ(get_instto(), "TALVEN_APP");
  EXPECT_STREQ(get_exename(), "talven.exe");
  EXPECT_STREQ(get_reg_global(), "-");
  EXPECT_STREQ(get_reg_local(), "-");
  EXPECT_STREQ(get_ini_file(), "-");
  EXPECT_STREQ(get_ini_section(), "-");
  EXPECT_EQ(get_inst_group(), nullptr);
  EXPECT_EQ(get_instfol(), nullptr);
  EXPECT_EQ(get_instmakefol(), 0);
  EXPECT_EQ(setting_int("INSTTOPROGRAM", 1), 1);
}

TEST_F(Settings, KeyAndValueTokens) {
  load_text(
      "TITLEBAR x y\n"
      "INSTTO\tGame\tignored\n"
      "EXENAME\r\n"  // a key alone adds nothing, the CR is one more separator
      "INST_GROUP Group\r\n"
      "HELP_FILE \t \t help.txt\n");
  EXPECT_STREQ(get_titlebar(), "x");
  EXPECT_STREQ(get_instto(), "Game");
  EXPECT_STREQ(get_exename(), "talven.exe");
  EXPECT_EQ(setting_exists("EXENAME"), 0);
  ASSERT_NE(get_inst_group(), nullptr);
  EXPECT_STREQ(get_inst_group(), "Group");
  EXPECT_EQ(lookup("HELP_FILE"), "help.txt");
}

TEST_F(Settings, SkippedLines) {
  load_text(
      " TITLEBAR space\n"
      "\tINSTTO tab\n"
      "//EXENAME comment.exe\n"
      "/INSTFOL slash\n"
      "\n"
      "\x01REG_LOCAL control\n"
      "INSTMAKEFOL 1\n");
  EXPECT_EQ(setting_exists("TITLEBAR"), 0);
  EXPECT_EQ(setting_exists("INSTTO"), 0);
  EXPECT_EQ(setting_exists("EXENAME"), 0);
  EXPECT_EQ(setting_exists("//EXENAME"), 0);
  EXPECT_EQ(get_instfol(), nullptr);
  EXPECT_EQ(setting_exists("REG_LOCAL"), 0);
  EXPECT_EQ(get_instmakefol(), 1);
}

TEST_F(Settings, PipeBecomesSpaceButNotInsideDoubleByteCharacters) {
  // "ポ" is 0x83 0x7C: its second byte is the code of "|" and must stay.
  load_text("INSTREADME Read|Me\nINSTTO ポ|ポ\n");
  EXPECT_EQ(lookup("INSTREADME"), "Read Me");
  EXPECT_STREQ(get_instto(), "ポ ポ");
  const unsigned char* v = reinterpret_cast<const unsigned char*>(get_instto());
  EXPECT_EQ(v[0], 0x83);
  EXPECT_EQ(v[1], 0x7C);
  EXPECT_EQ(v[2], ' ');
}

TEST_F(Settings, FirstEntryWinsAndKeysAreCaseSensitive) {
  load_text("EXENAME first.exe\nEXENAME second.exe\ntitlebar lower\n");
  EXPECT_STREQ(get_exename(), "first.exe");
  EXPECT_STREQ(get_titlebar(), "ＴＡＬＶＥＮ アプリケーション");
  EXPECT_EQ(lookup("titlebar"), "lower");
  EXPECT_EQ(setting_exists("EXENAM"), 0);  // whole-key comparison, not a prefix
  // A second load appends: its duplicate loses to the entry already there.
  load_text("EXENAME third.exe\nINSTTO added\n");
  EXPECT_STREQ(get_exename(), "first.exe");
  EXPECT_STREQ(get_instto(), "added");
}

TEST_F(Settings, EndMarkerAndEndOfFileByte) {
  load_text("EXENAME a.exe\n[EOF] INSTTO after\nINSTTO never\n");
  EXPECT_STREQ(get_exename(), "a.exe");
  EXPECT_EQ(setting_exists("INSTTO"), 0);
  // After a leading space the marker is an ordinary skipped line.
  reload(" [EOF]\nINSTTO reached\n");
  EXPECT_STREQ(get_instto(), "reached");
  // 0x1A ends the file as the Windows runtime's text mode does, also inside a line.
  reload(std::string("EXENAME ab\x1A" "cd\nINSTTO hidden\n"));
  EXPECT_STREQ(get_exename(), "ab");
  EXPECT_EQ(setting_exists("INSTTO"), 0);
}

TEST_F(Settings, FourHundredLinesAtMost) {
  load_text(repeat_lines("// comment\n", 399) + "EXENAME line400.exe\n");
  EXPECT_STREQ(get_exename(), "line400.exe");
  reload(repeat_lines("// comment\n", 400) + "EXENAME line401.exe\n");
  EXPECT_EQ(setting_exists("EXENAME"), 0);
  reset_settings_for_tests();
  // Entries count as well as comments.
  std::string text;
  for (int i = 0; i < 400; ++i) text += "K" + std::to_string(i) + " v\n";
  load_text(text + "EXENAME late.exe\n");
  EXPECT_EQ(setting_exists("K399"), 1);
  EXPECT_EQ(setting_exists("EXENAME"), 0);
}

TEST_F(Settings, OverlongLineIsReadInPieces) {
  // 600 bytes: the first 511 give AKEY, the remaining 89 are a line of their own.
  std::string first = "AKEY " + std::string(506, 'v');
  std::string second = "BKEY val" + std::string(81, ' ');
  ASSERT_EQ(first.size(), 511u);
  ASSERT_EQ(first.size() + second.size(), 600u);
  load_text(first + second + "\n");
  EXPECT_EQ(lookup("AKEY"), std::string(506, 'v'));
  EXPECT_EQ(lookup("BKEY"), "val");
  // Both pieces count toward the 400: with 398 comments before, line 401 is never read.
  reload(repeat_lines("//\n", 398) + first + second + "\n" + "EXENAME late.exe\n");
  EXPECT_EQ(setting_exists("BKEY"), 1);
  EXPECT_EQ(setting_exists("EXENAME"), 0);
  // CR LF is one byte as in Windows text mode: a 510-byte line with it is one read.
  reload(repeat_lines("//\r\n", 398) + "LINE399 " + std::string(502, 'x') + "\r\n" +
            "EXENAME line400.exe\r\n");
  EXPECT_EQ(lookup("LINE399"), std::string(502, 'x'));
  EXPECT_STREQ(get_exename(), "line400.exe");
  // A lone CR is an ordinary separator byte.
  reload("INSTTO a\rb\n");
  EXPECT_STREQ(get_instto(), "a");
  // A rest that is only a key adds nothing.
  reload(first + "LONELY\n");
  EXPECT_EQ(setting_exists("LONELY"), 0);
}

TEST_F(Settings, ValueMustStartWithinNinetyNineSeparators) {
  load_text("NEAR" + std::string(99, ' ') + "yes\n" + "FAR" + std::string(100, '\t') + "no\n");
  EXPECT_EQ(lookup("NEAR"), "yes");
  EXPECT_EQ(setting_exists("FAR"), 0);
  reset_settings_for_tests();
  // A key that fills the line up to its last byte: the window ends with the area.
  std::string key(505, 'k');
  load_text(key + "   abc\n" + std::string(510, 'z') + " \n");
  EXPECT_EQ(lookup(key.c_str()), "abc");
  EXPECT_EQ(setting_exists(std::string(510, 'z').c_str()), 0);
}

TEST_F(Settings, IntegerConversion) {
  load_text("A 12ab\nB x\nC -3\nD +7\nE 2147483647\nF 4294967296\nG -2147483649\n");
  // Past 32 bits the value is clamped, the same rule as the registry's "IsInst": wrapped,
  // 4294967296 (F) would read 0 and switch a setting off.
  const struct { const char* key; int value; } rows[] = {
      {"A", 12}, {"B", 0}, {"C", -3}, {"D", 7}, {"E", 2147483647}, {"F", 2147483647}, {"G", -2147483647 - 1},
      {"ABSENT", 99}};
  for (const auto& r : rows) EXPECT_EQ(setting_int(r.key, 99), r.value) << r.key;
}

TEST_F(Settings, StringTruncationAndPadding) {
  std::string value(200, 'a');
  value[126] = 'b';
  value[127] = 'c';
  load_text("INSTTO " + value + "\nSHORT abc\nDOUBLE aaaa表表\n");
  // A 128-byte getter keeps the first 127 bytes.
  EXPECT_EQ(std::string(get_instto()), value.substr(0, 127));
  // The rest of the caller's area is NUL-filled.
  char area[16];
  std::memset(area, 'X', sizeof area);
  setting_string("SHORT", area, sizeof area, "");
  for (size_t i = 3; i < sizeof area; ++i) EXPECT_EQ(area[i], '\0') << i;
  // Size 1 leaves only the terminator.
  char one = 'X';
  setting_string("SHORT", &one, 1, "");
  EXPECT_EQ(one, '\0');
  // A double-byte character that would straddle the cut is left out whole.
  char six[6];
  setting_string("DOUBLE", six, sizeof six, "");
  EXPECT_STREQ(six, "aaaa");
  char seven[7];
  setting_string("DOUBLE", seven, sizeof seven, "");
  EXPECT_STREQ(seven, "aaaa表");
}

TEST_F(Settings, AreaAsItsOwnDefault) {
  load_text("HELP_FILE manual.txt\n");
  char area[260];
  setting_string("HELP_FILE", area, sizeof area, "");
  setting_string("INSTREADMEFL", area, sizeof area, area);
  EXPECT_STREQ(area, "manual.txt");
  // The area's own text is truncated and terminated like any other.
  char small[5] = {'a', 'b', 'c', 'd', 'e'};
  setting_string("INSTREADMEFL", small, sizeof small, small);
  EXPECT_STREQ(small, "abcd");
  load_text("INSTREADMEFL readme2.txt\n");
  setting_string("INSTREADMEFL", area, sizeof area, area);
  EXPECT_STREQ(area, "readme2.txt");
}

TEST_F(Settings, CachedGettersKeepTheirFirstResult) {
  EXPECT_STREQ(get_reg_global(), "-");
  EXPECT_EQ(get_instmakefol(), 0);
  EXPECT_STREQ(get_titlebar(), "ＴＡＬＶＥＮ アプリケーション");
  load_text("REG_GLOBAL Maker\nINSTMAKEFOL 1\nTITLEBAR Game\nREG_LOCAL Title\n");
  EXPECT_STREQ(get_reg_global(), "-");
  EXPECT_EQ(get_instmakefol(), 0);
  EXPECT_EQ(lookup("REG_GLOBAL"), "Maker");
  EXPECT_STREQ(get_titlebar(), "Game");  // not cached: follows the store
  EXPECT_STREQ(get_reg_local(), "Title");
  // free_settings empties the store but leaves what the getters cached.
  free_settings();
  EXPECT_EQ(setting_exists("REG_LOCAL"), 0);
  EXPECT_STREQ(get_reg_local(), "Title");
  EXPECT_STREQ(get_titlebar(), "ＴＡＬＶＥＮ アプリケーション");
  // The test reset forgets the caches too.
  reset_settings_for_tests();
  EXPECT_STREQ(get_reg_local(), "-");
}

TEST_F(Settings, CaptionFollowsForceInstall) {
  const struct { std::string text, caption; } rows[] = {
      {"TITLEBAR ゲーム\n", "ゲーム スタートアップ"},
      {"TITLEBAR ゲーム\nFORCEINSTALL 0\n", "ゲーム スタートアップ"},
      {"TITLEBAR ゲーム\nFORCEINSTALL 1\n", "ゲーム インストール"},
      // The longest title still leaves room for the suffix in the 256-byte area.
      {"FORCEINSTALL 2\nTITLEBAR " + std::string(300, 'T') + "\n", std::string(127, 'T') + " インストール"},
      {"", "ＴＡＬＶＥＮ アプリケーション スタートアップ"},
  };
  for (const auto& r : rows) {
    reload(r.text);
    EXPECT_EQ(std::string(get_caption()), r.caption) << r.text;
  }
}

TEST_F(Settings, LoadsThroughTheResolver) {
  env_folder here("TITLEBAR \x83\x51\x81\x5B\x83\x80\r\nINSTTO Dest\r\n[EOF]\r\n");
  ASSERT_TRUE(here.ok());
  set_base_folder("");
  set_open_as_given(1);
  EXPECT_EQ(load_settings("install.env", open_engine_file), 0);
  set_open_as_given(0);
  EXPECT_STREQ(get_titlebar(), "ゲーム");
  EXPECT_STREQ(get_instto(), "Dest");
}

using SettingsDeathTest = Settings;

// A missing file is not a -1 result: the resolver keeps asking, and the host answers the
// box as Cancel, which ends the program.
TEST_F(SettingsDeathTest, MissingFileGoesThroughTheRetryBox) {
  EXPECT_EXIT(
      {
        set_base_folder("");
        set_open_as_given(1);
        load_settings("no_such_install.env", open_engine_file);
      },
      ::testing::ExitedWithCode(255), "no_such_install\\.env");
}

// Another install's record is read by the store's own rules, without disturbing the store:
// the installer compares its TITLEBAR with its own title.
TEST_F(Settings, SecurityOneKeyFromAnotherRecordAsTheStoreReadsIt) {
  const std::string texts[] = {
      "TITLEBAR\t月影の譜|体験版\n",
      "// comment\n TITLEBAR\tindented\nTITLEBAR  first\r\nTITLEBAR\tsecond\n",
      "INSTTO\tx\n[EOF]\nTITLEBAR\tafter the end\n",
      repeat_lines("/ filler\n", 400) + "TITLEBAR\ttoo late\n",
      "TITLEBAR\n",
      "TITLEBAR\t" + std::string(200, 'a') + "\n",
  };
  for (const std::string& text : texts) {
    // The one-key reader, with the installer's own record loaded...
    reload("TITLEBAR\t自分のゲーム\n");
    FILE* stream = stream_of(text);
    ASSERT_NE(stream, nullptr);
    char out[128] = "<none>";
    int found = read_setting_from_stream(stream, "TITLEBAR", out, sizeof out);
    std::fclose(stream);
    EXPECT_EQ("自分のゲーム", lookup("TITLEBAR")) << "the store was changed";
    // ...gives what a fresh store makes of the text, with the same 128-byte cut.
    reload(text);
    std::string stored = setting_exists("TITLEBAR") ? lookup("TITLEBAR", 128) : "<none>";
    EXPECT_EQ(stored, std::string(out)) << text.substr(0, 40);
    EXPECT_EQ(stored != "<none>" ? 0 : -1, found) << text.substr(0, 40);
  }
}
