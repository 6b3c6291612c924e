// The settings and section readers on the Windows runtime's own text mode ("rt"): CR LF and
// the 0x1A end-of-file byte must give what the host tests expect from the byte-wise reader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/sections.h"
#include "config/settings.h"
#include "install/markers.h"

using namespace talven;

namespace {

// Writes the bytes to a file in the temp folder and gives its path.
std::string write_temp_file(const char* name, const std::string& bytes) {
  char folder[MAX_PATH];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder) return "";
  std::string path = std::string(folder) + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

}  // namespace

TEST(ConfigWin, SettingsThroughTextMode) {
  reset_settings_for_tests();
  std::string path = write_temp_file("config_win_settings.env",
                                     "TITLEBAR Game\r\n"
                                     "INSTTO " + std::string(506, 'v') + std::string(89, 'w') + "\r\n"
                                     "EXENAME ab\x1A" "cd\r\nINSTFOL never\r\n");
  // CR LF is one byte in both readers: after 398 comments and a 510-byte line, HELP_FILE is
  // the 400th read and still counts.
  std::string counted = write_temp_file("config_win_count.env", [] {
    std::string text;
    for (int i = 0; i < 398; ++i) text += "//\r\n";
    return text + "REG_LOCAL " + std::string(500, 'L') + "\r\nHELP_FILE h.txt\r\n";
  }());
  ASSERT_FALSE(path.empty());
  FILE* stream = std::fopen(path.c_str(), "rt");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(load_settings_stream(stream), 0);
  std::fclose(stream);
  std::remove(path.c_str());
  EXPECT_STREQ(get_titlebar(), "Game");
  // The 511-byte read took the key, the space and 504 bytes of value; the rest of the
  // line is a key without a value.
  char area[600];
  setting_string("INSTTO", area, sizeof area, "");
  EXPECT_EQ(std::string(area), std::string(504, 'v'));
  EXPECT_STREQ(get_exename(), "ab");
  EXPECT_EQ(get_instfol(), nullptr);
  ASSERT_FALSE(counted.empty());
  stream = std::fopen(counted.c_str(), "rt");
  ASSERT_NE(stream, nullptr);
  load_settings_stream(stream);
  std::fclose(stream);
  std::remove(counted.c_str());
  EXPECT_EQ(std::string(get_reg_local()), std::string(127, 'L'));
  char help[260];
  EXPECT_STREQ(setting_string("HELP_FILE", help, sizeof help, ""), "h.txt");
  reset_settings_for_tests();
}

TEST(ConfigWin, SectionsThroughTextMode) {
  reset_sections_for_tests();
  std::string path = write_temp_file("config_win_sections.env",
                                     "TITLEBAR x\r\n[reg]\r\n\"Path\"=\"REP_INSTALL\"  \r\n-\r\n"
                                     "[ini]\r\nk=v\r\n\x1A-\r\n");
  ASSERT_FALSE(path.empty());
  FILE* stream = std::fopen(path.c_str(), "rt");
  ASSERT_NE(stream, nullptr);
  const char* open = nullptr;
  EXPECT_EQ(load_sections_stream(stream, &open), -1);
  std::fclose(stream);
  std::remove(path.c_str());
  ASSERT_NE(open, nullptr);
  EXPECT_STREQ(open, "ini");
  ASSERT_NE(state().reg_lines, nullptr);
  EXPECT_STREQ(state().reg_lines->text, "\"Path\"=\"REP_INSTALL\"");
  EXPECT_EQ(state().reg_lines->next, nullptr);
  reset_sections_for_tests();
}

TEST(ConfigWin, CdromRootIsTheFirstCdromDriveOrE) {
  const char* root = cdrom_root();
  ASSERT_EQ(std::strlen(root), 3u);
  EXPECT_EQ(root[1], ':');
  EXPECT_EQ(root[2], '\\');
  // No drive before the answer is a CD-ROM drive, and the answer is one unless it is the
  // fallback of a machine without any.
  for (char letter = 'A'; letter < root[0]; ++letter) {
    char other[4] = {letter, ':', '\\', '\0'};
    EXPECT_NE(GetDriveTypeA(other), static_cast<UINT>(DRIVE_CDROM)) << other;
  }
  if (GetDriveTypeA(root) != DRIVE_CDROM) {
    EXPECT_STREQ(root, "E:\\");
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      char other[4] = {letter, ':', '\\', '\0'};
      EXPECT_NE(GetDriveTypeA(other), static_cast<UINT>(DRIVE_CDROM)) << other;
    }
  }
}
