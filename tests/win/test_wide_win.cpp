// Names with a trail byte 0x5C or 0x7C through every kind of system name the install
// writes (file, folder, registry, INI, mutex), and names the system gives back that have
// no CP932 form. Run under any code page: the results must be those of a Japanese system.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/services.h"
#include "install/install_steps.h"
#include "install/removal.h"
#include "base/wide.h"

namespace talven {
namespace {

struct trail_name {
  const char* label;
  const char* cp932;
};
// 予 97 5C, ポ 83 7C, ソ 83 5C, 表 95 5C, each with a character after the trail byte.
const trail_name trail_names[] = {
    {"yo", "\x97\x5C\x94\xF5"},
    {"po", "\x83\x7C\x83\x67"},
    {"so", "\x83\x5C\x83\x74\x83\x67"},
    {"hyo", "\x95\x5C\x8E\xA6"},
};

std::string unique(const char* stem) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%lu_%lu", stem, GetCurrentProcessId(), GetTickCount());
  return text;
}

std::string back_to_cp932(const wchar_t* text) {
  char out[1024];
  return wide_to_cp932(text, out, sizeof out) == 0 ? std::string(out) : std::string("<refused>");
}

class WideNames : public ::testing::TestWithParam<trail_name> {};

// Made through the W functions, found again by the wide scan under the same CP932 name, as
// one level: the 0x5C is no separator.
TEST_P(WideNames, FolderAndFileRoundTrip) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::string root = back_to_cp932(temp) + unique("wide");
  std::string folder = root + "\\" + GetParam().cp932;
  ASSERT_EQ(make_folder_chain(folder.c_str()), 0);
  std::string file = folder + "\\" + GetParam().cp932 + ".dat";
  HANDLE h = CreateFileW(wide_name(file.c_str()).text, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  disk_scan scan;
  ASSERT_EQ(scan_open(&scan, (root + "\\*").c_str()), 0);
  char name[260];
  DWORD attributes = 0;
  ASSERT_EQ(scan_next(&scan, name, sizeof name, &attributes), 1);
  EXPECT_STREQ(name, GetParam().cp932);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(scan_next(&scan, name, sizeof name, &attributes), 0);  // one level only
  scan_close(&scan);
  EXPECT_NE(attributes_of(file.c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(delete_file_inside(root.c_str(), file.c_str()), 1);
  EXPECT_EQ(remove_folder_inside(root.c_str(), folder.c_str()), 1);
  RemoveDirectoryW(wide_name(root.c_str()).text);
  EXPECT_EQ(attributes_of(root.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Key names, value name and value keep their bytes, and the key is two levels deep.
TEST_P(WideNames, RegistryRoundTrip) {
  std::string global = unique("TalvenWide") + GetParam().cp932;
  const char* local = GetParam().cp932;
  const std::string value = std::string("C:\\") + GetParam().cp932 + "\\" + GetParam().cp932;
  ASSERT_EQ(write_user_value(global.c_str(), local, GetParam().cp932, value.c_str()), 0);
  char read[260];
  EXPECT_EQ(read_app_string(global.c_str(), local, GetParam().cp932, "-", read, sizeof read), 0);
  EXPECT_EQ(std::string(read), value);

  HKEY key;
  std::string above = "Software\\" + global;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, wide_name(above.c_str()).text, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  EXPECT_EQ(subkeys, 1u);
  RegDeleteKeyW(HKEY_CURRENT_USER, wide_name((above + "\\" + local).c_str()).text);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, wide_name(above.c_str()).text), ERROR_SUCCESS);
}

// Section, key and value read back through the wide profile call while the install
// writes, and the file's own bytes in CP932 as a Japanese system writes them; the file is
// named by the name too.
TEST_P(WideNames, IniRoundTrip) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::string file = back_to_cp932(temp) + unique("wide") + GetParam().cp932 + ".ini";
  const std::string value = std::string("C:\\") + GetParam().cp932 + "\\" + GetParam().cp932;
  int in_utf16 = begin_ini_writes(file.c_str());
  ASSERT_EQ(write_ini_value(GetParam().cp932, GetParam().cp932, value.c_str(), file.c_str()), 0);
  wchar_t read[260];
  GetPrivateProfileStringW(wide_name(GetParam().cp932).text, wide_name(GetParam().cp932).text, L"", read, 260,
                           wide_name(file.c_str()).text);
  EXPECT_EQ(back_to_cp932(read), value);
  // From here on the system, if not Japanese, reads the file through its own code page.
  if (in_utf16) end_ini_writes(file.c_str());

  FILE* stream = open_stream(file.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  char bytes[512];
  size_t got = std::fread(bytes, 1, sizeof bytes, stream);
  std::fclose(stream);
  const std::string expected = std::string("[") + GetParam().cp932 + "]\r\n" + GetParam().cp932 + "=" + value + "\r\n";
  EXPECT_EQ(std::string(bytes, got), expected);
  EXPECT_TRUE(DeleteFileW(wide_name(file.c_str()).text));
}

// The single-instance gate takes the name, and a second open finds the same mutex.
TEST_P(WideNames, InstanceGateName) {
  std::string title = unique("Talven") + GetParam().cp932;
  EXPECT_EQ(open_instance_gate(title.c_str()), instance_first);
  EXPECT_EQ(open_instance_gate(title.c_str()), instance_running);
}

INSTANTIATE_TEST_SUITE_P(TrailBytes, WideNames, ::testing::ValuesIn(trail_names),
                         [](const ::testing::TestParamInfo<trail_name>& info) { return info.param.label; });

// Texts the system may give that CP932 cannot hold exactly: refused, never best-fitted
// (U+00A5 would otherwise become a backslash).
TEST(WideNamesRefused, NoCp932Form) {
  const wchar_t* refused[] = {L"caf\u00E9", L"C:\\a\u00A5b", L"\u00C5ngstr\u00F6m", L"x\xD83D\xDE00"};
  for (const wchar_t* text : refused) {
    char out[64] = "unchanged";
    EXPECT_EQ(wide_to_cp932(text, out, sizeof out), -1);
    EXPECT_STREQ(out, "");
  }
  // And CP932 that is not valid (a lead byte alone) gives no name to hand to Windows.
  wide_text cut = wide_name("ab\x83");
  EXPECT_EQ(cut.ok, 0);
  EXPECT_EQ(cut.text[0], L'\0');
  EXPECT_NE(wide_shown("ab\x83").text[0], L'\0');  // shown all the same, as before
}

}  // namespace
}  // namespace talven
