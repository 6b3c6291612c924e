// Code page 932 path rules. "表" (0x95 0x5C), "ソ" (0x83 0x5C) and "ア" (0x83 0x41) carry
// a backslash or a capital letter as their second byte, which is where byte-wise code fails.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/cp932.h"

using namespace talven;

TEST(Cp932, LeadByteTable) {
  int count = 0;
  for (int b = 0; b < 256; ++b) count += is_lead_byte(static_cast<unsigned char>(b));
  EXPECT_EQ(count, 31 + 29);  // 0x81..0x9F and 0xE0..0xFC
  for (int b : {0x81, 0x82, 0x95, 0x9F, 0xE0, 0xEA, 0xFC}) EXPECT_EQ(is_lead_byte(b), 1) << b;
  for (int b : {0x00, 0x5C, 0x7F, 0x80, 0xA0, 0xB1, 0xDF, 0xFD, 0xFE, 0xFF}) EXPECT_EQ(is_lead_byte(b), 0) << b;
  // The literal is really CP932: the first byte of 表 is a lead byte, the second is 0x5C.
  const unsigned char* omote = reinterpret_cast<const unsigned char*>("表");
  ASSERT_EQ(std::strlen("表"), 2u);
  EXPECT_EQ(omote[0], 0x95);
  EXPECT_EQ(omote[1], 0x5C);
}

TEST(Cp932, EnsureTrailingSeparator) {
  // The 0x5C of 表, and of ソ as a path's only character, is no separator: one is appended.
  const char* const rows[][2] = {{"C:\\Games", "C:\\Games\\"}, {"C:\\表", "C:\\表\\"}, {"ソ", "ソ\\"}, {"", "\\"}};
  for (const auto& r : rows) {
    char path[32];
    std::strcpy(path, r[0]);
    for (int again = 0; again < 2; ++again) {  // a second call finds the separator there
      EXPECT_EQ(ensure_trailing_separator(path, sizeof path), path) << r[0];
      EXPECT_STREQ(path, r[1]);
    }
  }
}

TEST(Cp932, EnsureTrailingSeparatorRefusesAFullBuffer) {
  char path[6] = "abcde";
  EXPECT_EQ(ensure_trailing_separator(path, sizeof path), nullptr);
  EXPECT_STREQ(path, "abcde");
  char room[6] = "abcd";
  EXPECT_EQ(ensure_trailing_separator(room, sizeof room), room);
  EXPECT_STREQ(room, "abcd\\");
  // Already ending in a real backslash needs no room.
  char done[4] = "ab\\";
  EXPECT_EQ(ensure_trailing_separator(done, sizeof done), done);
}

TEST(Cp932, StripTrailingSeparator) {
  // a\\ loses one byte at most; in 表表 the last 0x5C is a second byte even with a 0x5C
  // byte before its lead byte.
  const char* const rows[][2] = {{"C:\\Games\\", "C:\\Games"}, {"C:\\表", "C:\\表"}, {"C:\\表\\", "C:\\表"},
                                 {"a\\\\", "a\\"}, {"\\", ""}, {"表表", "表表"}};
  for (const auto& r : rows) {
    char path[32];
    std::strcpy(path, r[0]);
    EXPECT_STREQ(strip_trailing_separator(path), r[1]) << r[0];
  }
}

TEST(Cp932, SearchesStepOverSecondBytes) {
  const char* text = "表\\ソ\\x";
  EXPECT_EQ(mb_find_char(text, '\\'), text + 2);
  EXPECT_EQ(mb_find_last_char(text, '\\'), text + 5);
  EXPECT_EQ(mb_find_char("表ソ", '\\'), nullptr);
  const char* tail = "a\\表";
  EXPECT_EQ(mb_find_last_char(tail, '\\'), tail + 1);
  // "ア" is 0x83 0x41: its second byte is the letter A.
  EXPECT_EQ(mb_find_char("アB", 'A'), nullptr);
  const char* marker_like = "コEP_INSTALL REP_INSTALL";  // コ = 0x83 0x52 ("R")
  EXPECT_EQ(mb_find_text(marker_like, "REP_INSTALL"), marker_like + 13);
  EXPECT_EQ(mb_find_text("コEP_INSTALL", "REP_INSTALL"), nullptr);
  // A lead byte just before the NUL counts as one byte: the search stops at the end.
  const char dangling[] = {'a', '\x95', '\0', '\\', '\0'};
  EXPECT_EQ(mb_find_char(dangling, '\\'), nullptr);
}

TEST(Cp932, LowerAndReplaceKeepDoubleByteCharacters) {
  char text[32];
  std::strcpy(text, "アBC表Z");
  mb_lower(text);
  EXPECT_STREQ(text, "アbc表z");
  EXPECT_EQ(static_cast<unsigned char>(text[1]), 0x41);
  // Full-width Ａ..Ｚ fold too; a trail byte in 0x60..0x79 under another lead byte stays.
  std::strcpy(text, "ＡＺ\x83\x60Ｚa");
  mb_lower(text);
  EXPECT_STREQ(text, "ａｚ\x83\x60ｚa");
  std::strcpy(text, "C:\\表\\ソ\\x");
  mb_replace_char(text, '\\', '/');
  EXPECT_STREQ(text, "C:/表/ソ/x");
  std::strcpy(text, "a/b/表");
  mb_replace_char(text, '/', '\\');
  EXPECT_STREQ(text, "a\\b\\表");
}

TEST(Cp932, BoundedCopyAndAppend) {
  char out[8];
  EXPECT_EQ(copy_text(out, sizeof out, "1234567"), 0);
  EXPECT_STREQ(out, "1234567");
  EXPECT_EQ(copy_text(out, sizeof out, "12345678"), -1);
  EXPECT_STREQ(out, "1234567");
  EXPECT_EQ(copy_text(out, 0, ""), -1);
  EXPECT_EQ(copy_text(out, sizeof out, "ab"), 0);
  EXPECT_EQ(append_text(out, sizeof out, "cdefg"), 0);
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_EQ(append_text(out, sizeof out, "h"), -1);
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_EQ(append_text(out, sizeof out, ""), 0);
  // The bytes after the buffer are never touched.
  char guarded[12];
  std::memset(guarded, '#', sizeof guarded);
  guarded[0] = '\0';
  EXPECT_EQ(append_text(guarded, 4, "abcd"), -1);
  EXPECT_EQ(append_text(guarded, 4, "abc"), 0);
  EXPECT_EQ(guarded[4], '#');
}
