// The Win32 side of the name rules: which names survive the CP932 round trip, the held
// install folder compared with what a path names later, and the self-removal helper
// waiting for a program that has not ended.
#include <gtest/gtest.h>

#include "install/removal.h"
#include "base/wide.h"
#include "package_test_support.h"
#include "uninstall/uninstall.h"

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

struct waiting_removal {
  HANDLE process;
  std::string program;
};

DWORD WINAPI remove_in_thread(void* arg) {
  auto* w = static_cast<waiting_removal*>(arg);
  return remove_after_exit(w->process, w->program.c_str()) == 0 ? 0 : 1;
}

TEST(security, HelperRemovesTheProgramOnlyOnceItHasEnded) {
  scratch_folder root;
  std::string folder = root / "game";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  waiting_removal w = {nullptr, folder + "\\UnInst.exe"};
  ASSERT_TRUE(write_file(w.program, "program"));
  // A program that has not ended: a child held suspended until it is ended here.
  char command[MAX_PATH + 16];
  UINT n = GetSystemDirectoryA(command, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  lstrcatA(command, "\\cmd.exe");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  ASSERT_TRUE(CreateProcessA(command, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                             &child));
  w.process = child.hProcess;
  HANDLE thread = CreateThread(nullptr, 0, remove_in_thread, &w, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_TIMEOUT));  // still waiting
  EXPECT_TRUE(path_exists(w.program));
  TerminateProcess(child.hProcess, 0);
  ASSERT_EQ(WaitForSingleObject(thread, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(path_exists(w.program));
  EXPECT_FALSE(path_exists(folder));  // emptied, so removed
  CloseHandle(thread);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

}  // namespace
}  // namespace talven
