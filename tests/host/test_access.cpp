// The access-grant batch text and the file names around it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/access.h"

using namespace talven;

namespace {
const std::string hyo = "\x95\x5C";  // "表": second byte 0x5C

std::string batch_for(const std::string& destination, const std::string& companion,
                      const std::string& batch) {
  char out[2048];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(0, compose_grant_batch(out, sizeof out, destination.c_str(), companion.c_str(),
                                   batch.c_str()));
  return out;
}
}  // namespace

TEST(AccessBatch, ThreeCrLfLinesWithQuotedArguments) {
  std::string text = batch_for("C:\\Program Files\\ゲーム", "C:\\TEMP\\k.pif", "C:\\TEMP\\k.bat");
  EXPECT_EQ(
      "echo y| cacls \"C:\\Program Files\\ゲーム\" /p everyone:F\r\n"
      "del \"C:\\TEMP\\k.pif\"\r\n"
      "del \"C:\\TEMP\\k.bat\"\r\n",
      text);
  // Every line feed belongs to a CR LF pair.
  int lines = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ++lines;
      ASSERT_GT(i, 0u);
      EXPECT_EQ('\r', text[i - 1]);
    }
  EXPECT_EQ(3, lines);
}

TEST(AccessBatch, PercentSignsAreDoubledSoCmdKeepsTheFolder) {
  // Unescaped, cmd would expand %TEMP% and hand cacls another folder.
  std::string text = batch_for("D:\\%TEMP%\\100%", "C:\\T\\%a.pif", "C:\\T\\%a.bat");
  EXPECT_EQ(
      "echo y| cacls \"D:\\%%TEMP%%\\100%%\" /p everyone:F\r\n"
      "del \"C:\\T\\%%a.pif\"\r\n"
      "del \"C:\\T\\%%a.bat\"\r\n",
      text);
}

TEST(AccessBatch, DoubleBytePathsPassUnchanged) {
  std::string folder = "D:\\" + hyo + "\\" + hyo;
  std::string text = batch_for(folder, "c.pif", "c.bat");
  EXPECT_EQ(0u, text.find("echo y| cacls \"" + folder + "\" /p everyone:F\r\n"));
}

TEST(AccessBatch, TooSmallOutputIsRefusedAndLeftEmpty) {
  char out[64];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(-1, compose_grant_batch(out, sizeof out, "C:\\Program Files\\Game", "a.pif", "a.bat"));
  EXPECT_STREQ("", out);
  // A 259-byte folder of percent signs doubles to 518 bytes and still fits its line.
  std::string percents(259, '%');
  char big[2048];
  EXPECT_EQ(0, compose_grant_batch(big, sizeof big, percents.c_str(), "a.pif", "a.bat"));
  EXPECT_EQ(0u, std::string(big).find("echo y| cacls \"" + std::string(518, '%') + "\""));
}

TEST(AccessBatch, DoublePercentBounds) {
  char out[8];
  EXPECT_EQ(0, double_percent(out, sizeof out, "a%b%"));
  EXPECT_STREQ("a%%b%%", out);
  EXPECT_EQ(-1, double_percent(out, sizeof out, "%%%%"));  // 8 bytes + NUL
  EXPECT_EQ(0, double_percent(out, sizeof out, "%%%"));
  EXPECT_STREQ("%%%%%%", out);
}

TEST(AccessFiles, FileInFolderAddsOneSeparator) {
  char out[260] = "unchanged";
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, "C:\\TEMP", batch_file_name));
  EXPECT_STREQ("C:\\TEMP\\Kelvanrothe_fullaccess.bat", out);
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, "C:\\TEMP\\", probe_file_name));
  EXPECT_STREQ("C:\\TEMP\\UserAccountCheck.id", out);
  EXPECT_EQ(0, compose_in_folder(out, sizeof out, ("C:\\" + hyo).c_str(), "n"));
  EXPECT_EQ("C:\\" + hyo + "\\n", std::string(out));
  std::strcpy(out, "unchanged");
  std::string long_folder = "C:\\" + std::string(240, 'a');
  EXPECT_EQ(-1, compose_in_folder(out, sizeof out, long_folder.c_str(), probe_file_name));
  EXPECT_STREQ("unchanged", out);
}

TEST(AccessFiles, ReplaceExtension) {
  char out[260];
  EXPECT_EQ(0, replace_extension(out, sizeof out, "C:\\TEMP\\Kelvanrothe_fullaccess.bat", "pif"));
  EXPECT_STREQ("C:\\TEMP\\Kelvanrothe_fullaccess.pif", out);
  // A dot in a folder name is no extension.
  EXPECT_EQ(0, replace_extension(out, sizeof out, "C:\\a.b\\name", "pif"));
  EXPECT_STREQ("C:\\a.b\\name.pif", out);
  EXPECT_EQ(0, replace_extension(out, sizeof out, "C:\\name.", "pif"));
  EXPECT_STREQ("C:\\name.pif", out);
  // The name "a." left after dropping ".bat" loses its dot too.
  EXPECT_EQ(0, replace_extension(out, sizeof out, "C:\\a..bat", "pif"));
  EXPECT_STREQ("C:\\a.pif", out);
  EXPECT_EQ(0, replace_extension(out, sizeof out, "C:file.txt", "pif"));
  EXPECT_STREQ("C:file.pif", out);
  EXPECT_EQ(0, replace_extension(out, sizeof out, ("C:\\" + hyo + ".txt").c_str(), "pif"));
  EXPECT_EQ("C:\\" + hyo + ".pif", std::string(out));
  char small[8] = "keep";
  EXPECT_EQ(-1, replace_extension(small, sizeof small, "C:\\long.bat", "pif"));
  EXPECT_STREQ("keep", small);
}
