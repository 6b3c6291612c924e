// The work folder, the file enumeration behind its removal, and the single-instance gate.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "base/cp932.h"
#include "package_test_support.h"
#include "base/services.h"
#include "startup/startup.h"

namespace talven {
namespace {

using namespace talven_test;

std::string current_directory() {
  char path[MAX_PATH];
  GetCurrentDirectoryA(sizeof path, path);
  return path;
}

// Keeps the process's current directory and the start-up's folder variables as they were.
struct startup_fixture : ::testing::Test {
  scratch_folder scratch;
  std::string saved_directory = current_directory();
  char saved_work[260];
  char saved_start[260];
  void SetUp() override {
    std::memcpy(saved_work, state().work_folder, sizeof saved_work);
    std::memcpy(saved_start, state().start_directory, sizeof saved_start);
  }
  void TearDown() override {
    SetCurrentDirectoryA(saved_directory.c_str());
    std::memcpy(state().work_folder, saved_work, sizeof saved_work);
    std::memcpy(state().start_directory, saved_start, sizeof saved_start);
  }
  void point_at(const std::string& work, const std::string& start) {
    ASSERT_EQ(copy_text(state().work_folder, sizeof state().work_folder, work.c_str()), 0);
    ASSERT_EQ(copy_text(state().start_directory, sizeof state().start_directory, start.c_str()), 0);
  }
};

using WorkFolder = startup_fixture;

TEST_F(WorkFolder, CreateNamesItAfterTheTickCountAndMakesItCurrent) {
  std::string before_directory = current_directory();
  int before = static_cast<int>(GetTickCount());
  create_work_folder();
  int after = static_cast<int>(GetTickCount());
  std::string made = state().work_folder;

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string prefix = std::string(temp) + "DireVEZiriruvOdador_";
  ASSERT_EQ(made.compare(0, prefix.size(), prefix), 0) << made;
  std::string number = made.substr(prefix.size());
  ASSERT_GE(number.size(), 9u) << number;  // zero-padded to nine characters
  char* end = nullptr;
  long value = std::strtol(number.c_str(), &end, 10);
  EXPECT_EQ(*end, '\0') << number;
  if (before <= after) {  // no wrap of the signed value in between
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
  }
  EXPECT_TRUE(is_folder(made));
  EXPECT_EQ(current_directory(), made);
  EXPECT_EQ(std::string(state().start_directory), before_directory);

  ASSERT_TRUE(write_file(made + "\\install.env", "A=1\n"));
  remove_work_folder();
  EXPECT_FALSE(path_exists(made));
  EXPECT_EQ(current_directory(), before_directory);
}

// A temporary folder without a CP932 name is handed back to the caller, cut to its buffer,
// and no work folder is made.
TEST_F(WorkFolder, ForeignTempFolderIsReturnedNotMade) {
  wchar_t saved_tmp[MAX_PATH] = L"";
  DWORD had = GetEnvironmentVariableW(L"TMP", saved_tmp, MAX_PATH);
  const wchar_t* foreign = L"C:\\\uD55C\uAE00\\";  // Hangul: no CP932 form
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", foreign));
  wchar_t name[MAX_PATH];
  wchar_t cut[4];
  int whole = create_work_folder(name, MAX_PATH);
  int shortened = create_work_folder(cut, 4);
  SetEnvironmentVariableW(L"TMP", had ? saved_tmp : nullptr);
  EXPECT_EQ(whole, -1);
  EXPECT_EQ(std::wstring(name), std::wstring(foreign));
  EXPECT_EQ(shortened, -1);
  EXPECT_EQ(std::wstring(cut), std::wstring(foreign, 3));
  EXPECT_STREQ(state().work_folder, "");
}

TEST_F(WorkFolder, RemoveDeletesFilesButNotSubfoldersAndReturnsToTheStart) {
  std::string work = scratch / "work";
  std::string start = scratch / "start";
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(start.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((work + "\\sub").c_str(), nullptr));
  for (const char* name : {"a.txt", "b.bin", "noext", "表.txt"}) ASSERT_TRUE(write_file(work + "\\" + name, name));
  ASSERT_TRUE(write_file(work + "\\sub\\kept.txt", "kept"));
  ASSERT_TRUE(write_file(start + "\\mine.txt", "mine"));
  point_at(work, start);
  SetCurrentDirectoryA(work.c_str());

  remove_work_folder();
  EXPECT_EQ(list_tree(work), (std::vector<std::string>{"sub\\", "sub\\kept.txt"}));
  EXPECT_EQ(current_directory(), start);
  EXPECT_TRUE(path_exists(start + "\\mine.txt"));

  // Once the sub-folder is gone the folder itself goes too.
  scratch_folder::remove_tree(work + "\\sub");
  remove_work_folder();
  EXPECT_FALSE(path_exists(work));
}

TEST_F(WorkFolder, RemoveWhenTheFolderIsGoneDeletesNothing) {
  std::string start = scratch / "start";
  ASSERT_TRUE(CreateDirectoryA(start.c_str(), nullptr));
  ASSERT_TRUE(write_file(start + "\\keep1.txt", "1"));
  ASSERT_TRUE(write_file(start + "\\keep2.dat", "2"));
  point_at(scratch / "gone", start);
  remove_work_folder();
  EXPECT_EQ(list_tree(start), (std::vector<std::string>{"keep1.txt", "keep2.dat"}));
  EXPECT_EQ(current_directory(), start);
}

TEST_F(WorkFolder, DeleteMatchingFilesKeepsTheCurrentDirectoryAndHonoursThePattern) {
  std::string folder = scratch / "f";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\x.txt").c_str(), nullptr));  // a folder that matches
  for (const char* name : {"a.txt", "b.txt", "c.bin"}) ASSERT_TRUE(write_file(folder + "\\" + name, name));
  SetCurrentDirectoryA(scratch.path.c_str());
  delete_matching_files(folder.c_str(), "*.txt");
  EXPECT_EQ(list_tree(folder), (std::vector<std::string>{"c.bin", "x.txt\\"}));
  EXPECT_EQ(current_directory(), scratch.path);
}

using FileScan = startup_fixture;

TEST_F(FileScan, BeginTellsWhetherAnythingMatched) {
  ASSERT_TRUE(write_file(scratch / "one.txt", "1"));
  ASSERT_TRUE(CreateDirectoryA((scratch / "only_folder").c_str(), nullptr));
  EXPECT_EQ(file_scan_begin((scratch / "*.none").c_str()), 1);
  EXPECT_EQ(file_scan_next(), nullptr);
  // A pattern matching only a folder counts as a match, yet yields no path.
  EXPECT_EQ(file_scan_begin((scratch / "only_*").c_str()), 0);
  EXPECT_EQ(file_scan_next(), nullptr);
  EXPECT_EQ(file_scan_next(), nullptr);
}

TEST_F(FileScan, NextSkipsFoldersAndKeepsThePatternsFolder) {
  std::string folder = scratch / "ソ";  // 0x83 0x5C: its trail byte is no separator
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\sub").c_str(), nullptr));
  for (const char* name : {"a.txt", "b.dat", "表"}) ASSERT_TRUE(write_file(folder + "\\" + name, name));

  ASSERT_EQ(file_scan_begin((folder + "\\*.*").c_str()), 0);
  std::set<std::string> seen;
  while (const char* path = file_scan_next()) seen.insert(path);
  EXPECT_EQ(seen, (std::set<std::string>{folder + "\\a.txt", folder + "\\b.dat", folder + "\\表"}));
  EXPECT_EQ(file_scan_next(), nullptr);

  // A relative pattern gives bare names, relative to the current directory.
  SetCurrentDirectoryA(folder.c_str());
  ASSERT_EQ(file_scan_begin("*.txt"), 0);
  const char* first = file_scan_next();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "a.txt");
  EXPECT_EQ(file_scan_next(), nullptr);
}

TEST_F(FileScan, BeginClosesAnOpenEnumeration) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(write_file(scratch / name, name));
  ASSERT_EQ(file_scan_begin((scratch / "*.txt").c_str()), 0);
  ASSERT_NE(file_scan_next(), nullptr);
  ASSERT_EQ(file_scan_begin((scratch / "b.*").c_str()), 0);
  const char* only = file_scan_next();
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(std::string(only), scratch / "b.txt");
  EXPECT_EQ(file_scan_next(), nullptr);
}

}  // namespace
}  // namespace talven

namespace talven {
namespace {

std::string gate_name(const char* what) {
  char name[96];
  std::snprintf(name, sizeof name, "TalvenGate %s %lu", what, GetCurrentProcessId());
  return name;
}

// The gate used to end the program without a word when its name was taken by another
// kind of object: any program of the player could keep the installer from ever starting.
TEST(SecurityInstanceGate, SquattedNameDoesNotKeepTheProgramOut) {
  std::string name = gate_name("squatted");
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + name).c_str());
  ASSERT_NE(nullptr, squatter);
  EXPECT_EQ(instance_gate_unusable, open_instance_gate(name.c_str()));
  CloseHandle(squatter);
}

TEST(SecurityInstanceGate, FirstCopyThenTheSecondIsTold) {
  std::string name = gate_name("copies");
  EXPECT_EQ(instance_first, open_instance_gate(name.c_str()));
  EXPECT_EQ(instance_running, open_instance_gate(name.c_str()));
  // The gate is the session's: the plain name is the same mutex.
  HANDLE plain = CreateMutexA(nullptr, FALSE, name.c_str());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  if (plain) CloseHandle(plain);
}

}  // namespace
}  // namespace talven
