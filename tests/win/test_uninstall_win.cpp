// The uninstaller's file removal against the real file system: what each kind of line
// removes, what a kept [delfiles_user] line protects inside a removed folder, the folders
// emptied on the way, and the names reported as left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_test_support.h"
#include "uninstall/uninstall.h"

namespace talven {
namespace {

using namespace talven_test;

struct removal_case {
  const char* what;
  std::vector<std::string> tree;  // folders end in a backslash
  std::vector<std::string> delfiles, user;
  int keep_user;
  std::vector<std::string> left;  // as list_tree gives it
};

void make_tree(const scratch_folder& root, const std::vector<std::string>& tree) {
  for (const std::string& p : tree) {
    if (p.back() == '\\')
      CreateDirectoryA((root / p.substr(0, p.size() - 1)).c_str(), nullptr);
    else
      ASSERT_TRUE(write_file(root / p, p)) << p;
  }
}

void plan_lines(delete_plan* plan, const std::string& folder, const std::vector<std::string>& lines, int user) {
  for (const std::string& line : lines) {
    ASSERT_EQ(parse_delete_line(line.c_str(), folder.c_str(), "Q:\\", &plan->items[plan->count]), delete_line_ok)
        << line;
    plan->items[plan->count].user = user;
    plan->count++;
    plan->user_count += user;
  }
}

TEST(UninstallFiles, RemovesWhatTheLinesNameAndNothingElse) {
  const std::vector<std::string> game = {
      "UnInst.exe", "install.env", "readme.txt", "メモ.txt", "データ\\", "データ\\a.dat", "データ\\下\\",
      "データ\\下\\b.dat", "セーブ\\", "セーブ\\info.ini", "セーブ\\s1.sav", "セーブ\\s1.save", "空\\"};
  const removal_case cases[] = {
      {"saves kept",
       game,
       {"readme.txt", "データ\\", "セーブ\\info.ini", "空\\", "ない.txt", "UnInst.exe"},
       {"セーブ\\*.sav"},
       1,
       {"UnInst.exe", "install.env", "セーブ\\", "セーブ\\s1.sav", "セーブ\\s1.save", "メモ.txt"}},
      {"saves removed (a longer extension is not matched)",
       game,
       {"readme.txt", "データ\\", "セーブ\\info.ini", "空\\"},
       {"セーブ\\*.sav"},
       0,
       {"UnInst.exe", "install.env", "セーブ\\", "セーブ\\s1.save", "メモ.txt"}},
      {"a kept folder inside a removed one",
       {"データ\\", "データ\\a.dat", "データ\\save\\", "データ\\save\\1.sav"},
       {"データ\\"},
       {"データ\\save\\"},
       1,
       {"データ\\", "データ\\save\\", "データ\\save\\1.sav"}},
      {"emptied folders go, a folder with the player's file stays",
       {"a\\", "a\\b\\", "a\\b\\c.txt", "p\\", "p\\q\\", "p\\q\\r.txt", "p\\mine.txt"},
       {"a\\b\\c.txt", "p\\q\\r.txt"},
       {},
       1,
       {"p\\", "p\\mine.txt"}},
  };
  for (const removal_case& c : cases) {
    scratch_folder root;
    make_tree(root, c.tree);
    // A read-only file is still the game's.
    SetFileAttributesA((root / "データ\\a.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    static delete_plan plan;
    plan.count = plan.user_count = 0;
    plan_lines(&plan, root.path, c.delfiles, 0);
    plan_lines(&plan, root.path, c.user, 1);
    remove_planned_files(&plan, root.path.c_str(), c.keep_user);
    std::vector<std::string> expected = c.left;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list_tree(root.path), expected) << c.what;
  }
}

TEST(UninstallFiles, ListsWhatIsLeftWithoutTheProgram) {
  scratch_folder root;
  make_tree(root, {"UnInst.exe", "a.txt", "b\\", "b\\c.txt", "d.txt"});
  char names[2][uninstall_path_size];
  ASSERT_EQ(list_left_over(root.path.c_str(), "uninst.exe", names, 2), 3);
  std::vector<std::string> got = {names[0], names[1]};
  for (const std::string& n : got) EXPECT_TRUE(n == "a.txt" || n == "b\\" || n == "d.txt") << n;
  EXPECT_NE(got[0], got[1]);
}

}  // namespace
}  // namespace talven
