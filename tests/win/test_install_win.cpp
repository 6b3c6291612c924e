// The install steps against the real Win32: folders, registry, shortcuts, the file copy,
// the write probe and the background access batch.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "install/access.h"
#include "install/install_steps.h"
#include "package/progress.h"
#include "package_test_support.h"

namespace talven {
namespace {

using namespace talven_test;

const std::string hyo = "\x95\x5C";  // "表": second byte 0x5C

std::string current_directory() {
  char path[MAX_PATH];
  GetCurrentDirectoryA(sizeof path, path);
  return path;
}

struct com_scope {
  com_scope() { CoInitialize(nullptr); }
  ~com_scope() { CoUninitialize(); }
};

// A key under Software of its own per test, removed with its values at the end.
struct app_key {
  std::string global, local;
  HKEY hive;
  explicit app_key(HKEY h) : hive(h) {
    char name[64];
    std::snprintf(name, sizeof name, "TalvenTest%lu_%lu", GetCurrentProcessId(), GetTickCount());
    global = name;
    local = "ゲーム";
  }
  ~app_key() {
    RegDeleteKeyA(hive, ("Software\\" + global + "\\" + local).c_str());
    RegDeleteKeyA(hive, ("Software\\" + global).c_str());
  }
  std::string key_name() const { return "Software\\" + global + "\\" + local; }
  void set_raw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(hive, key_name().c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
};

std::string query_string(HKEY hive, const std::string& key_name, const char* value, DWORD* size_out = nullptr) {
  HKEY key;
  if (RegOpenKeyExA(hive, key_name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  char data[1024];
  DWORD type = 0, size = sizeof data - 1;
  LONG rc = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
  if (size_out) *size_out = size;
  data[size] = '\0';
  return data;
}

FILETIME make_time(int year, int month, int day, int hour) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

bool set_times(const std::string& path, FILETIME c, FILETIME a, FILETIME w) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFileTime(h, &c, &a, &w) != 0;
  CloseHandle(h);
  return ok;
}

bool get_times(const std::string& path, FILETIME* c, FILETIME* a, FILETIME* w) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileTime(h, c, a, w) != 0;
  CloseHandle(h);
  return ok;
}

bool same_time(FILETIME x, FILETIME y) {
  return x.dwLowDateTime == y.dwLowDateTime && x.dwHighDateTime == y.dwHighDateTime;
}


// Cancels the copy in progress once the progress label names the file, as the dialog's
// button would: checked on a timer, which the copy loop's message pump serves.
const char* cancel_when_copying = nullptr;
LRESULT CALLBACK cancel_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && state().progress_dialog && cancel_when_copying) {
    char label[MAX_PATH] = "";
    GetDlgItemTextA(state().progress_dialog, 1012, label, sizeof label);
    if (std::strstr(label, cancel_when_copying)) state().copy_cancelled = 1;
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// Reads and answers (OK) the first message box of this thread; runs inside its modal loop.
std::string box_text;
BOOL CALLBACK find_message_box(HWND window, LPARAM found) {
  char cls[32];
  GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && GetDlgItem(window, 0xFFFF)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}
void CALLBACK answer_message_box(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), find_message_box, reinterpret_cast<LPARAM>(&box));
  if (!box) return;
  char text[512] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  box_text = text;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace

TEST(InstallFolderChain, CreatesEveryLevelAndRestoresTheDirectory) {
  scratch_folder scratch;
  std::string before = current_directory();
  std::string deep = scratch / ("ゲーム" + hyo + "\\Sub\\最後");
  EXPECT_EQ(0, make_folder_chain(deep.c_str()));
  EXPECT_TRUE(is_folder(scratch / ("ゲーム" + hyo)));
  EXPECT_TRUE(is_folder(deep));
  EXPECT_EQ(before, current_directory());
  // Existing levels and a trailing backslash are fine.
  EXPECT_EQ(0, make_folder_chain((deep + "\\").c_str()));
  EXPECT_EQ(before, current_directory());
}

TEST(InstallFolderChain, FailsOnShortPathsAndOnAFileInTheWay) {
  scratch_folder scratch;
  std::string before = current_directory();
  EXPECT_EQ(1, make_folder_chain("C:"));
  EXPECT_EQ(1, make_folder_chain(""));
  ASSERT_TRUE(write_file(scratch / "file", "x"));
  EXPECT_EQ(1, make_folder_chain((scratch / "file\\below").c_str()));
  EXPECT_FALSE(path_exists(scratch / "file\\below"));
  EXPECT_EQ(before, current_directory());
  // A drive that does not exist fails at its first level.
  EXPECT_EQ(1, make_folder_chain("B:\\nowhere\\x"));
  std::string too_long = scratch.path + "\\" + std::string(270, 'a');
  EXPECT_EQ(1, make_folder_chain(too_long.c_str()));
}

TEST(InstallRegistry, UserValuesRoundTripThroughTheReaders) {
  app_key key(HKEY_CURRENT_USER);
  EXPECT_EQ(0, write_user_value(key.global.c_str(), key.local.c_str(), "InstTo", "D:\\ゲーム\\表"));
  EXPECT_EQ(0, write_user_value(key.global.c_str(), key.local.c_str(), "IsInst", " 12x"));
  DWORD size = 0;
  EXPECT_EQ("D:\\ゲーム\\表", query_string(HKEY_CURRENT_USER, key.key_name(), "InstTo", &size));
  EXPECT_EQ(std::strlen("D:\\ゲーム\\表") + 1, size);  // stored with its NUL

  char out[260];
  EXPECT_EQ(0, read_app_string(key.global.c_str(), key.local.c_str(), "InstTo", "default", out, sizeof out));
  EXPECT_STREQ("D:\\ゲーム\\表", out);
  EXPECT_EQ(12, read_app_int(key.global.c_str(), key.local.c_str(), "IsInst", 0));
  // Missing values keep the defaults.
  EXPECT_EQ(-1, read_app_string(key.global.c_str(), key.local.c_str(), "Missing", "fallback", out, sizeof out));
  EXPECT_STREQ("fallback", out);
  EXPECT_EQ(-5, read_app_int(key.global.c_str(), key.local.c_str(), "Missing", -5));
  EXPECT_EQ(7, read_app_int("NoSuchGlobalKey", "x", "IsInst", 7));
}

TEST(InstallRegistry, UnusableValuesKeepTheDefault) {
  app_key key(HKEY_CURRENT_USER);
  DWORD number = 5;
  key.set_raw("Number", REG_DWORD, &number, sizeof number);
  char out[260];
  EXPECT_EQ(-1, read_app_string(key.global.c_str(), key.local.c_str(), "Number", "def", out, sizeof out));
  EXPECT_STREQ("def", out);
  EXPECT_EQ(3, read_app_int(key.global.c_str(), key.local.c_str(), "Number", 3));
  // Longer than the 512-byte query buffer, and longer than the caller's buffer.
  std::string huge(600, 'h');
  key.set_raw("Huge", REG_SZ, huge.c_str(), static_cast<DWORD>(huge.size() + 1));
  EXPECT_EQ(-1, read_app_string(key.global.c_str(), key.local.c_str(), "Huge", "def", out, sizeof out));
  EXPECT_STREQ("def", out);
  std::string folder = "D:\\" + std::string(300, 'f');
  key.set_raw("Long", REG_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(-1, read_app_string(key.global.c_str(), key.local.c_str(), "Long", "def", out, sizeof out));
  EXPECT_STREQ("def", out);  // never a cut folder, never past the buffer
  // A stored text without its NUL is still read whole.
  key.set_raw("NoNul", REG_SZ, "abc", 3);
  EXPECT_EQ(0, read_app_string(key.global.c_str(), key.local.c_str(), "NoNul", "def", out, sizeof out));
  EXPECT_STREQ("abc", out);
}

TEST(InstallRegistry, MachineKeyProbeValuesAndUninstallEntry) {
  app_key key(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(0, probe_app_key(key.global.c_str(), key.local.c_str()));
  HKEY opened;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.key_name().c_str(), 0, KEY_READ, &opened));
  RegCloseKey(opened);
  EXPECT_EQ(0, write_machine_value(key.global.c_str(), key.local.c_str(), "Path", "C:\\x"));
  EXPECT_EQ("C:\\x", query_string(HKEY_LOCAL_MACHINE, key.key_name(), "Path"));

  // Default title (no settings loaded): the key is named after its CP932 bytes.
  std::string uninstall =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDodＴＡＬＶＥＮ アプリケーション";
  write_uninstall_entry("D:\\Program Files\\ゲーム");
  EXPECT_EQ("ＴＡＬＶＥＮ アプリケーション", query_string(HKEY_LOCAL_MACHINE, uninstall, "DisplayName"));
  // Quoted, or a launcher would start "D:\\Program.exe".
  EXPECT_EQ("\"D:\\Program Files\\ゲーム\\UnInst.exe\"",
            query_string(HKEY_LOCAL_MACHINE, uninstall, "UninstallString"));
  // A second install elsewhere overwrites the command in the same key.
  write_uninstall_entry("E:\\Other");
  EXPECT_EQ("\"E:\\Other\\UnInst.exe\"", query_string(HKEY_LOCAL_MACHINE, uninstall, "UninstallString"));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, uninstall.c_str());
}

TEST(InstallShortcut, LinkReadsBackWithPathFolderAndDescription) {
  com_scope com;
  scratch_folder scratch;
  std::string target = scratch / "ゲーム\\表\\game.exe";
  ASSERT_EQ(0, make_folder_chain((scratch / "ゲーム\\表").c_str()));
  ASSERT_TRUE(write_file(target, "MZ"));
  std::string link_file = scratch / "ゲーム お読みください.LNK";
  ASSERT_GE(create_shortcut(target.c_str(), link_file.c_str(), "説明TALVEN"), 0);
  ASSERT_TRUE(path_exists(link_file));

  IShellLinkA* link = nullptr;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkA, reinterpret_cast<void**>(&link))));
  IPersistFile* file = nullptr;
  ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, link_file.c_str(), -1, wide, MAX_PATH);
  EXPECT_TRUE(SUCCEEDED(file->Load(wide, STGM_READ)));
  char text[MAX_PATH];
  text[0] = '\0';
  link->GetPath(text, sizeof text, nullptr, 0);
  EXPECT_STREQ(target.c_str(), text);
  text[0] = '\0';
  link->GetWorkingDirectory(text, sizeof text);
  EXPECT_STREQ((scratch / "ゲーム\\表").c_str(), text);  // cut at the real backslash
  text[0] = '\0';
  link->GetDescription(text, sizeof text);
  EXPECT_STREQ("説明TALVEN", text);
  file->Release();
  link->Release();
}

TEST(InstallShortcut, FolderOfAndTheSystemVersion) {
  char out[260] = "untouched";
  EXPECT_EQ(0, folder_of(out, "game.exe"));
  EXPECT_STREQ("untouched", out);
  EXPECT_EQ(1, folder_of(out, ("D:\\" + hyo + "\\sub\\" + hyo).c_str()));
  EXPECT_EQ("D:\\" + hyo + "\\sub", std::string(out));
  EXPECT_EQ(1, folder_of(out, ("D:\\" + hyo).c_str()));
  EXPECT_STREQ("D:", out);

  // Checked against GetVersion's low byte, the major version by another route.
  DWORD version = GetVersion();
  int expected = !(version & 0x80000000u) && (version & 0xFF) >= 6 ? 1 : 0;
  EXPECT_EQ(expected, is_vista_or_later());
  EXPECT_EQ(is_vista_or_later(), is_vista_or_later());
  char programs[260];
  EXPECT_EQ(1, get_special_folder(nullptr, expected ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, programs));
  EXPECT_TRUE(is_folder(programs));
}

TEST(InstallCopy, KeepsTimesAndContentAcrossBlocks) {
  scratch_folder scratch;
  std::string source = scratch / "元.bin";
  std::string data;
  for (int i = 0; i < 300 * 1024 + 17; ++i) data += static_cast<char>((i * 31) ^ (i >> 9));
  ASSERT_TRUE(write_file(source, data));
  FILETIME c = make_time(2001, 2, 3, 4), a = make_time(2002, 3, 4, 5), w = make_time(2003, 4, 5, 6);
  ASSERT_TRUE(set_times(source, c, a, w));
  // The copy carries what the system reports for the source. Creation times are not
  // compared: under Wine the creation time is the Unix change time, which any write moves.
  FILETIME c1, a1, w1;
  ASSERT_TRUE(get_times(source, &c1, &a1, &w1));
  EXPECT_TRUE(same_time(w, w1));
  int32_t before = state().copied_total;
  std::string target = scratch / "先.bin";
  EXPECT_EQ(1, copy_file_with_progress(source.c_str(), target.c_str()));
  FILETIME c2, a2, w2;
  ASSERT_TRUE(get_times(target, &c2, &a2, &w2));  // before reading: reading moves atime
  EXPECT_TRUE(same_time(w1, w2));
  // Reading the source moves its own access time (relatime), before the copy takes it.
  FILETIME c3, a3, w3;
  ASSERT_TRUE(get_times(source, &c3, &a3, &w3));
  EXPECT_TRUE(same_time(a3, a2));
  EXPECT_EQ(data, read_file(target));
  EXPECT_EQ(static_cast<int32_t>(data.size()), state().copied_total - before);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(target.c_str()));
  EXPECT_EQ(nullptr, state().progress_dialog);  // the window this call opened is closed again
}

TEST(InstallCopy, ReadOnlyTargetEmptySourceAndFailures) {
  scratch_folder scratch;
  std::string source = scratch / "empty";
  ASSERT_TRUE(write_file(source, ""));
  FILETIME w = make_time(1999, 12, 31, 23);
  ASSERT_TRUE(set_times(source, w, w, w));
  std::string target = scratch / "target";
  ASSERT_TRUE(write_file(target, "old contents"));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(1, copy_file_with_progress(source.c_str(), target.c_str()));
  EXPECT_EQ("", read_file(target));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(target.c_str()));
  FILETIME c2, a2, w2;
  ASSERT_TRUE(get_times(target, &c2, &a2, &w2));
  EXPECT_TRUE(same_time(w, w2));

  EXPECT_EQ(0, copy_file_with_progress((scratch / "missing").c_str(), (scratch / "out").c_str()));
  EXPECT_FALSE(path_exists(scratch / "out"));
  EXPECT_EQ(0, copy_file_with_progress(source.c_str(), (scratch / "no\\such\\folder").c_str()));
  // Folder entries count as copied without touching anything.
  EXPECT_EQ(1, copy_file_with_progress((scratch.path + "\\.").c_str(), (scratch / "dot").c_str()));
  EXPECT_EQ(1, copy_file_with_progress((scratch.path + "\\..").c_str(), (scratch / "dot").c_str()));
  EXPECT_FALSE(path_exists(scratch / "dot"));
}

int dialogs_made = 0;
LRESULT CALLBACK count_dialogs_made(int code, WPARAM wparam, LPARAM lparam) {
  char name[16];
  if (code == HCBT_CREATEWND && GetClassNameA(reinterpret_cast<HWND>(wparam), name, sizeof name) &&
      std::strcmp(name, "#32770") == 0)
    ++dialogs_made;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(InstallCopy, BinFolderBesideTheCurrentDirectory) {
  scratch_folder scratch;
  std::string before = current_directory();
  std::string dest = scratch / "dest";
  ASSERT_EQ(0, make_folder_chain(dest.c_str()));
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.path.c_str()));
  // No bin folder (or a file called bin): nothing copied, result 0.
  EXPECT_EQ(0, copy_bin_files(dest.c_str()));
  ASSERT_TRUE(write_file(scratch / "bin", "not a folder"));
  EXPECT_EQ(0, copy_bin_files(dest.c_str()));
  EXPECT_FALSE(path_exists(dest + "\\talven.exe"));
  DeleteFileA((scratch / "bin").c_str());
  ASSERT_TRUE(CreateDirectoryA((scratch / "bin").c_str(), nullptr));
  ASSERT_TRUE(write_file(scratch / "bin\\talven.exe", "game"));
  ASSERT_TRUE(write_file(scratch / "bin\\UnInst.exe", "uninstaller"));
  EXPECT_EQ(0, copy_bin_files(dest.c_str()));
  EXPECT_EQ("game", read_file(dest + "\\talven.exe"));
  EXPECT_EQ("uninstaller", read_file(dest + "\\UnInst.exe"));
  // Without the uninstaller the game is still copied.
  DeleteFileA((scratch / "bin\\UnInst.exe").c_str());
  DeleteFileA((dest + "\\UnInst.exe").c_str());
  EXPECT_EQ(0, copy_bin_files(dest.c_str()));
  EXPECT_FALSE(path_exists(dest + "\\UnInst.exe"));
  EXPECT_EQ(nullptr, state().progress_dialog);
  // After the extraction of an immediate install its two-bar dialog is still open: the
  // copy carries on in it, no window of its own, and closes it.
  for (int extraction_open = 0; extraction_open < 2; ++extraction_open) {
    if (extraction_open) {
      ASSERT_NE(nullptr, open_extract_dialog(4 * 131072));
    }
    dialogs_made = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, count_dialogs_made, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    EXPECT_EQ(0, copy_bin_files(dest.c_str()));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(extraction_open ? 0 : 1, dialogs_made) << extraction_open;
    EXPECT_EQ(nullptr, state().progress_dialog);
    EXPECT_EQ("game", read_file(dest + "\\talven.exe"));
  }
  SetCurrentDirectoryA(before.c_str());
}

TEST(InstallCopy, CancelledGameCopyReportsTheCapacityMessage) {
  scratch_folder scratch;
  std::string before = current_directory();
  std::string dest = scratch / "dest";
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((scratch / "bin").c_str(), nullptr));
  // Big enough for many blocks, so that the cancel lands inside the loop.
  std::string data(24 * 1024 * 1024, 'g');
  ASSERT_TRUE(write_file(scratch / "bin\\talven.exe", data));
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.path.c_str()));

  WNDCLASSA wc = {};
  wc.lpfnWndProc = cancel_window_proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "talven_test_cancel";
  RegisterClassA(&wc);
  HWND helper = CreateWindowA("talven_test_cancel", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_NE(nullptr, helper);
  cancel_when_copying = "talven.exe";
  box_text.clear();
  SetTimer(helper, 1, 10, nullptr);
  UINT_PTR answer = SetTimer(nullptr, 0, 200, answer_message_box);

  // UnInst.exe is missing (silently skipped); the game copy is cancelled.
  EXPECT_EQ(1, copy_bin_files(dest.c_str()));

  KillTimer(nullptr, answer);
  KillTimer(helper, 1);
  DestroyWindow(helper);
  cancel_when_copying = nullptr;
  SetCurrentDirectoryA(before.c_str());
  EXPECT_EQ("ファイル[talven.exe]のコピーに失敗しました。\nインストール先の容量を確認してください。", box_text);
  EXPECT_FALSE(path_exists(dest + "\\UnInst.exe"));
  EXPECT_EQ(nullptr, state().progress_dialog);
  // The partly written target stays; it is not the whole file.
  std::string partial = read_file(dest + "\\talven.exe");
  EXPECT_LT(partial.size(), data.size());
}

TEST(InstallAccess, ProbeLeavesNothingAndFailsWhereNothingCanBeWritten) {
  scratch_folder scratch;
  EXPECT_EQ(0, probe_write_access(scratch.path.c_str()));
  EXPECT_FALSE(path_exists(scratch / "UserAccountCheck.id"));
  EXPECT_EQ(0, probe_write_access((scratch.path + "\\").c_str()));
  EXPECT_EQ(1, probe_write_access((scratch / "missing").c_str()));
  std::string too_long = scratch.path + "\\" + std::string(250, 'a');
  EXPECT_EQ(1, probe_write_access(too_long.c_str()));
}

// The allowed entries of a well-known group in a list: their masks OR-ed, and their
// inheritance. Wine keeps no access list on files (it maps them to Unix modes and hands
// back one made from those), so the tests look at the list the system API composed and
// at the system's acceptance of it, not at the list read back from the disk.
ACCESS_MASK allowed(PACL list, WELL_KNOWN_SID_TYPE type, BYTE* flags = nullptr) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  CreateWellKnownSid(type, nullptr, sid, &size);
  ACCESS_MASK mask = 0;
  for (int i = 0; list && i < list->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(list, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (!EqualSid(&ace->SidStart, sid)) continue;
    mask |= ace->Mask;
    if (flags) *flags |= ace->Header.AceFlags;
  }
  return mask;
}

struct present_list {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  explicit present_list(const std::string& path) {
    GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                          &descriptor);
  }
  ~present_list() {
    if (descriptor) LocalFree(descriptor);
  }
};

const ACCESS_MASK player_changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                   DELETE | WRITE_DAC | WRITE_OWNER;

// The old grant replaced the folder's list with full control for Everyone through a batch
// run from %TEMP%; the players' Modify right is added now, inherited, and only where this
// install made the folder.
TEST(SecurityAccess, MadeFolderGetsUsersModifyBesideItsEntries) {
  scratch_folder scratch;
  std::string folder = scratch / "100% ゲーム";
  int created = 0;
  ASSERT_EQ(0, make_folder_chain(folder.c_str(), &created));
  ASSERT_EQ(1, created);
  present_list before(folder);
  ASSERT_NE(nullptr, before.list);
  PACL list = nullptr;
  ASSERT_EQ(0, compose_access_list(folder.c_str(), &users_write_entry, 1, 1, &list));
  BYTE flags = 0;
  EXPECT_EQ(access_modify | allowed(before.list, WinBuiltinUsersSid), allowed(list, WinBuiltinUsersSid, &flags));
  EXPECT_EQ(CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE, flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE));
  // Added, not replaced: every group keeps what it had.
  for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinWorldSid})
    EXPECT_EQ(allowed(before.list, type), allowed(list, type)) << type;
  LocalFree(list);
  std::string before_directory = current_directory();
  install_preparation prepared;
  EXPECT_EQ(0, grant_users_write_access(folder.c_str(), created, prepared.system_folders()))
      << "the system refused the list";
  EXPECT_EQ(before_directory, current_directory()) << "the grant moved the current directory";
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  EXPECT_FALSE(path_exists(std::string(temp) + "Kelvanrothe_fullaccess.bat"));
}

TEST(SecurityAccess, ExistingAndSystemFoldersAreLeftAlone) {
  scratch_folder scratch;
  std::string folder = scratch / "existing";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  int created = 1;
  ASSERT_EQ(0, make_folder_chain(folder.c_str(), &created));
  EXPECT_EQ(0, created) << "an existing folder counted as made by the install";
  install_preparation prepared;
  const system_folder_list& system = prepared.system_folders();
  EXPECT_EQ(1, grant_users_write_access(folder.c_str(), created, system));
  // Even a folder reported as made is left alone when it is the system's own, as they
  // are named on this system.
  char windows[MAX_PATH], profile[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  EXPECT_EQ(1, grant_users_write_access(windows, 1, system));
  ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile));
  EXPECT_EQ(1, grant_users_write_access(profile, 1, system));
  EXPECT_EQ(1, grant_users_write_access("C:\\", 1, system));
}

TEST(SecurityAccess, UninstallerAndRecordGetAListOfTheirOwn) {
  access_entry entries[4];
  int count = protected_file_entries(entries, 4);
  PACL list = nullptr;
  ASSERT_EQ(0, compose_access_list("unused", entries, count, 0, &list));
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(3, list->AceCount) << "nothing of the folder's list is kept";
  BYTE flags = 0;
  EXPECT_EQ(0u, allowed(list, WinBuiltinUsersSid, &flags) & player_changes);
  EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), allowed(list, WinBuiltinUsersSid));
  EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_ALL_ACCESS), allowed(list, WinBuiltinAdministratorsSid, &flags));
  EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_ALL_ACCESS), allowed(list, WinLocalSystemSid, &flags));
  EXPECT_EQ(0, flags & (INHERITED_ACE | CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE));
  EXPECT_EQ(0u, allowed(list, WinWorldSid));
  LocalFree(list);

  // The system takes them; files that are not there are no error.
  scratch_folder scratch;
  for (const char* name : {"UnInst.exe", "install.env"}) ASSERT_TRUE(write_file(scratch / name, "x"));
  EXPECT_EQ(0, protect_install_files(scratch.path.c_str()));
  std::string bare = scratch / "bare";
  ASSERT_TRUE(CreateDirectoryA(bare.c_str(), nullptr));
  EXPECT_EQ(0, protect_install_files(bare.c_str()));
}

}  // namespace talven
