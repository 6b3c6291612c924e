// The uninstaller's decisions: which [delfiles] lines stay inside the install folder,
// what a kept [delfiles_user] line protects, the shortcut names, the helper's arguments
// and the closing text. Install folder D:\Games\X and CD-ROM Q:\ throughout.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/sections.h"
#include "base/cp932.h"
#include "uninstall/uninstall_plan.h"

using namespace talven;

namespace {

const char* const folder = "D:\\Games\\X";
const char* const cd = "Q:\\";

struct line_case {
  const char* line;
  int rc;
  const char* relative;
  int kind;
};

delete_item item_of(const char* relative, int kind) {
  delete_item item;
  std::strcpy(item.relative, relative);
  item.kind = kind;
  item.user = 0;
  return item;
}

}  // namespace

TEST(UninstallLines, AcceptedAndRefused) {
  const line_case cases[] = {
      {"readme.txt", delete_line_ok, "readme.txt", delete_file},
      {"データ\\", delete_line_ok, "データ", delete_folder},
      {"  セーブ/予備/", delete_line_ok, "セーブ\\予備", delete_folder},
      {"REP_INSTALL\\readme.txt", delete_line_ok, "readme.txt", delete_file},
      {"d:\\games\\x\\データ\\", delete_line_ok, "データ", delete_folder},
      {"セーブ\\*.sav", delete_line_ok, "セーブ\\*.sav", delete_pattern},
      {"a?.dat", delete_line_ok, "a?.dat", delete_pattern},
      // The second byte of ソ is 0x5C: neither a folder mark nor a separator.
      {"ソ", delete_line_ok, "ソ", delete_file},
      {"表示\\ソ\\", delete_line_ok, "表示\\ソ", delete_folder},
      // Out of the folder, or the folder itself.
      {"REP_INSTALL", delete_line_refused, nullptr, 0},
      {"REP_INSTALL\\", delete_line_refused, nullptr, 0},
      {"D:\\Games\\Xother\\a.txt", delete_line_refused, nullptr, 0},
      {"C:\\Windows\\win.ini", delete_line_refused, nullptr, 0},
      {"REP_CDROMDRIVE\\setup.exe", delete_line_refused, nullptr, 0},
      {"REP_CDROM\\setup.exe", delete_line_refused, nullptr, 0},
      {"\\a.txt", delete_line_refused, nullptr, 0},
      {"/a.txt", delete_line_refused, nullptr, 0},
      {"..\\a.txt", delete_line_refused, nullptr, 0},
      {"a\\..\\..\\b", delete_line_refused, nullptr, 0},
      {"REP_INSTALL\\..\\b", delete_line_refused, nullptr, 0},
      {"a\\ . \\b", delete_line_refused, nullptr, 0},
      {"a\\\\b", delete_line_refused, nullptr, 0},
      {"a.txt:stream", delete_line_refused, nullptr, 0},
      {"", delete_line_refused, nullptr, 0},
      // Wildcards only among one folder's files.
      {"*\\a.txt", delete_line_refused, nullptr, 0},
      {"セーブ\\*\\", delete_line_refused, nullptr, 0},
      {"*", delete_line_ok, "*", delete_pattern},
  };
  for (const line_case& c : cases) {
    delete_item item = item_of("untouched", -1);
    int rc = parse_delete_line(c.line, folder, cd, &item);
    EXPECT_EQ(rc, c.rc) << c.line;
    if (c.rc == delete_line_ok && rc == delete_line_ok) {
      EXPECT_STREQ(item.relative, c.relative) << c.line;
      EXPECT_EQ(item.kind, c.kind) << c.line;
    }
  }
}

TEST(UninstallLines, PathLengthIsBounded) {
  delete_item item;
  // The folder (10 bytes), a backslash, the name and its NUL must fit 260 bytes.
  std::string fits(248, 'a'), too_long(249, 'a');
  EXPECT_EQ(parse_delete_line(fits.c_str(), folder, cd, &item), delete_line_ok);
  EXPECT_EQ(parse_delete_line(too_long.c_str(), folder, cd, &item), delete_line_too_long);
  std::string huge(600, 'b');  // longer than any line buffer
  EXPECT_EQ(parse_delete_line(huge.c_str(), folder, cd, &item), delete_line_too_long);
}

TEST(UninstallPlan, SectionsMakeOnePlanAndTheFirstBadLineStopsIt) {
  const char env[] =
      "TITLEBAR\tx\n"
      "[delfiles]\nreadme.txt\nデータ\\\n-\n"
      "[delfiles_user]\nセーブ\\\n-\n";
  FILE* f = fmemopen(const_cast<char*>(env), sizeof env - 1, "r");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(load_sections_stream(f, nullptr), 0);
  std::fclose(f);
  static delete_plan plan;
  const char* bad = "untouched";
  ASSERT_EQ(build_delete_plan(&plan, state().delfiles_lines, state().delfiles_user_lines, folder, cd, &bad), 0);
  EXPECT_EQ(bad, nullptr);
  ASSERT_EQ(plan.count, 3);
  EXPECT_EQ(plan.user_count, 1);
  EXPECT_STREQ(plan.items[2].relative, "セーブ");
  EXPECT_EQ(plan.items[2].user, 1);
  EXPECT_EQ(plan.items[0].user, 0);

  line_entry outside = {const_cast<char*>("..\\boot.ini"), nullptr};
  line_entry good = {const_cast<char*>("a.txt"), &outside};
  EXPECT_EQ(build_delete_plan(&plan, &good, nullptr, folder, cd, &bad), delete_line_refused);
  EXPECT_STREQ(bad, "..\\boot.ini");

  // More lines than the plan holds: refused, not cut.
  static line_entry many[max_delete_items + 1];
  for (int i = 0; i <= max_delete_items; ++i) {
    many[i].text = const_cast<char*>("a.txt");
    many[i].next = i < max_delete_items ? &many[i + 1] : nullptr;
  }
  EXPECT_EQ(build_delete_plan(&plan, many, nullptr, folder, cd, &bad), delete_line_too_long);
  reset_sections_for_tests();
}

TEST(UninstallPlan, WhatAnItemCoversAndWhatAKeptItemProtects) {
  struct cover_case {
    const char* item;
    int kind;
    const char* path;
    int covered;
  };
  const cover_case cases[] = {
      {"readme.txt", delete_file, "README.TXT", 1},
      {"readme.txt", delete_file, "readme.txt.bak", 0},
      {"セーブ", delete_folder, "セーブ", 1},
      {"セーブ", delete_folder, "セーブ\\slot1.sav", 1},
      {"セーブ", delete_folder, "セーブ2\\slot1.sav", 0},
      {"セーブ\\*.sav", delete_pattern, "セーブ\\SLOT1.SAV", 1},
      {"セーブ\\*.sav", delete_pattern, "セーブ\\slot1.save", 0},
      {"セーブ\\*.sav", delete_pattern, "セーブ\\sub\\a.sav", 0},
      {"セーブ\\*.sav", delete_pattern, "a.sav", 0},
      {"*.sav", delete_pattern, "a.sav", 1},
  };
  for (const cover_case& c : cases) {
    delete_item item = item_of(c.item, c.kind);
    EXPECT_EQ(item_covers(&item, c.path), c.covered) << c.item << " / " << c.path;
  }

  static delete_plan plan;
  plan.count = 2;
  plan.items[0] = item_of("データ", delete_folder);
  plan.items[1] = item_of("データ\\save", delete_folder);
  plan.items[1].user = 1;
  EXPECT_EQ(plan_keeps(&plan, "データ\\save\\1.dat", 1), 1);
  EXPECT_EQ(plan_keeps(&plan, "データ\\save\\1.dat", 0), 0);
  EXPECT_EQ(plan_keeps(&plan, "データ\\bgm.dat", 1), 0);  // only [delfiles_user] items keep

  EXPECT_EQ(is_own_file("uninst.EXE"), 1);
  EXPECT_EQ(is_own_file("install.env"), 1);
  EXPECT_EQ(is_own_file("sub\\install.env"), 0);
}

TEST(UninstallPlan, WildcardsAndPaths) {
  struct match_case {
    const char* pattern;
    const char* name;
    int match;
  };
  const match_case matches[] = {
      {"*", "anything", 1},         {"*.sav", "a.SAV", 1},       {"*.sav", "a.sav.bak", 0},
      {"a?c", "abc", 1},            {"a?c", "ac", 0},            {"?", "ソ", 1},
      {"*ソ", "表ソ", 1},           {"a*b*c", "aXbYbZc", 1},     {"a*b*c", "aXbYc d", 0},
      {"ソ", "ソ", 1},              {"\x83\x5c", "\x83\x7c", 0},  // whole characters, not bytes
  };
  for (const match_case& c : matches) EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << c.pattern << " " << c.name;

  EXPECT_EQ(same_path("C:\\Game\\UnInst.exe", "c:\\game\\uninst.exe"), 1);
  EXPECT_EQ(same_path("C:\\Game\\", "C:\\GAME"), 1);
  EXPECT_EQ(same_path("C:\\Game", "C:\\Game2"), 0);
  EXPECT_EQ(same_path("C:\\ソ", "C:\\ソ\\"), 1);  // the second byte of ソ is no separator
  const char* rest = nullptr;
  EXPECT_EQ(path_inside("C:\\Game", "c:\\game\\data\\a.dat", &rest), 1);
  EXPECT_STREQ(rest, "data\\a.dat");
  EXPECT_EQ(path_inside("C:\\Game\\", "C:\\Game\\a", nullptr), 1);
  EXPECT_EQ(path_inside("C:\\Game", "C:\\Game", nullptr), 0);
  EXPECT_EQ(path_inside("C:\\Game", "C:\\Game\\", nullptr), 0);
  EXPECT_EQ(path_inside("C:\\Game", "C:\\Games\\a", nullptr), 0);
  EXPECT_EQ(path_inside("C:\\表", "C:\\表示\\a", nullptr), 0);
}

TEST(UninstallNames, ShortcutsAndHelperArguments) {
  static shortcut_set set;
  ASSERT_EQ(compose_shortcut_set(&set, "C:\\P", "TALVEN", "月影", "説明", "readme.txt", "C:\\D\\"), 0);
  EXPECT_STREQ(set.program_folder, "C:\\P\\TALVEN\\月影");
  EXPECT_STREQ(set.group_folder, "C:\\P\\TALVEN");
  ASSERT_EQ(set.link_count, 3);
  EXPECT_STREQ(set.links[0], "C:\\P\\TALVEN\\月影\\月影.LNK");
  EXPECT_STREQ(set.links[1], "C:\\P\\TALVEN\\月影\\月影 説明.LNK");
  EXPECT_STREQ(set.links[2], "C:\\P\\TALVEN\\月影\\月影 アンインストール.LNK");
  EXPECT_STREQ(set.desktop_link, "C:\\D\\月影.LNK");

  ASSERT_EQ(compose_shortcut_set(&set, "C:\\P\\", nullptr, "T", "x", "-", ""), 0);
  EXPECT_STREQ(set.program_folder, "C:\\P\\T");
  EXPECT_STREQ(set.group_folder, "");
  ASSERT_EQ(set.link_count, 2);  // no readme link for "-"
  EXPECT_STREQ(set.links[1], "C:\\P\\T\\T アンインストール.LNK");
  EXPECT_STREQ(set.desktop_link, "");
  std::string long_title(250, 't');
  EXPECT_EQ(compose_shortcut_set(&set, "C:\\P", nullptr, long_title.c_str(), "x", "", ""), -1);

  char args[300], program[260];
  unsigned long long handle = 0;
  ASSERT_EQ(compose_cleanup_args(args, sizeof args, 0x1a4, "C:\\ゲーム 試験\\UnInst.exe"), 0);
  ASSERT_EQ(parse_cleanup_args(args, &handle, program, sizeof program), 0);
  EXPECT_EQ(handle, 0x1a4u);
  EXPECT_STREQ(program, "C:\\ゲーム 試験\\UnInst.exe");
  const char* refused[] = {"", "/cleanup", "/cleanup x \"C:\\a\"", "/cleanup 12 C:\\a", "/cleanup 12 \"\"",
                           "/cleanup 12 \"C:\\a\" more", "/clean 12 \"C:\\a\""};
  for (const char* a : refused) EXPECT_EQ(parse_cleanup_args(a, &handle, program, sizeof program), -1) << a;
  EXPECT_EQ(parse_cleanup_args("/cleanup 1 \"C:\\abcdef\"", &handle, program, 5), -1);
}

TEST(UninstallNames, EndMessageListsWhatWasLeftWithinItsBuffer) {
  char text[1000];
  ASSERT_EQ(compose_end_message(text, sizeof text, "月影", "C:\\G", nullptr, 0, 0), 0);
  EXPECT_STREQ(text, "「月影」のアンインストールが終了しました。");

  const char* names[] = {"memo.txt", "セーブ\\"};
  ASSERT_EQ(compose_end_message(text, sizeof text, "月影", "C:\\G", names, 2, 5), 0);
  EXPECT_STREQ(text,
               "「月影」のアンインストールが終了しました。\n\n次のものは削除していません（フォルダ[C:\\G]）。"
               "\n  memo.txt\n  セーブ\\\n  ほか3個");

  // Names that do not fit are counted, and the text stays within its buffer.
  std::string long_name(200, 'n');
  const char* many[] = {long_name.c_str(), long_name.c_str(), long_name.c_str(), long_name.c_str()};
  char small[500];
  std::memset(small, 'Z', sizeof small);
  ASSERT_EQ(compose_end_message(small, 400, "月影", "C:\\G", many, 4, 4), 0);
  EXPECT_LT(std::strlen(small), 400u);
  EXPECT_NE(std::strstr(small, long_name.c_str()), nullptr);
  EXPECT_NE(std::strstr(small, "ほか3個"), nullptr);
  EXPECT_EQ(small[400], 'Z');
  EXPECT_EQ(compose_end_message(small, 10, "月影", "C:\\G", nullptr, 0, 0), -1);
}

// The INI file as a Japanese system wrote it: the game's keys go, everything else stays
// byte for byte, and an emptied section loses its header. 表 (0x95 0x5C) and ゾ (trail byte
// 0x5D) inside a name must not end a name or a header early.
TEST(UninstallIni, GameKeysGoOtherLinesStayByteForByte) {
  const char* const keys[] = {"DataPath", "Disc"};
  struct ini_case {
    const char* section;
    const char* before;
    const char* after;
  } cases[] = {
      {"月影の譜", "[月影の譜]\r\nDataPath=C:\\x\r\nDisc=Q:\\\r\n", ""},
      {"月影の譜", "[a]\nk=1\n[月影の譜]\ndatapath = x\nVolume=3\n[b]\nDisc=1\n",
       "[a]\nk=1\n[月影の譜]\nVolume=3\n[b]\nDisc=1\n"},
      {"表ゾ", "[表ゾ]\nDisc=1\n\n[他]\nDisc=2", "[他]\nDisc=2"},
      {" 表ゾ ", "  [ 表ゾ ]  \nDataPath=1\n", ""},
      {"表ゾ", "[表ゾ\n", "[表ゾ\n"},  // no header: nothing inside it
      {"x", "[x]\nDataPathX=1\n; DataPath\nDisc\n", "[x]\nDataPathX=1\n; DataPath\nDisc\n"},
      {"x", "[y]\nDisc=1\n", "[y]\nDisc=1\n"},
  };
  for (const ini_case& c : cases) {
    std::string text = c.before;
    size_t n = ini_remove_keys(&text[0], text.size(), c.section, keys, 2);
    EXPECT_EQ(std::string(text.data(), n), c.after) << c.before;
  }
}
