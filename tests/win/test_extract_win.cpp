// The package passes on the real file system: which entries each pass writes, the stored
// times, the damage kinds, the escaping names and where the package is found.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/wide.h"
#include "package/extract.h"
#include "package/progress.h"
#include "package_test_support.h"

namespace talven {
namespace {

using namespace talven_test;

constexpr uint64_t time_a = 0x01D4A3B2C0FFEE00ull;  // late 2018
constexpr uint64_t time_b = 0x01C1234500000000ull;  // 2001

std::string u32le(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// One entry laid out by hand, so that any field can be made wrong.
std::string raw_entry(unsigned n, const std::string& name_bytes, int32_t size, int32_t packed,
                      const std::string& rest = "") {
  std::string b;
  b += static_cast<char>(n & 0xFF);
  b += static_cast<char>(n >> 8);
  b += name_bytes;
  b += u32le(static_cast<uint32_t>(size));
  b += u32le(static_cast<uint32_t>(packed));
  return b + rest;
}

std::string zlib_of(const std::string& data) {
  std::vector<unsigned char> packed;
  compress_data(reinterpret_cast<const unsigned char*>(data.data()), data.size(), 9, &packed);
  return std::string(packed.begin(), packed.end());
}

const std::string terminator("\0\0", 2);

int extract_bytes(const scratch_folder& scratch, const std::string& bytes, const std::string& destination,
                  pass_mode mode) {
  return extract_package_from(open_bytes(scratch, bytes), static_cast<int32_t>(bytes.size()), destination.c_str(),
                              mode);
}

struct pass_fixture : ::testing::Test {
  scratch_folder scratch;
  std::string dest = scratch / "dest";
  void SetUp() override { ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr)); }
};

using ExtractStartupPass = pass_fixture;

TEST_F(ExtractStartupPass, WritesExactlyTheMenuFilesAndNoFolder) {
  std::string picture = sample_data(200000, 1), env = "TITLEBAR=ゲーム\n";
  std::string bytes = package_bytes({
      file_item("insttscr.rct", picture, time_a),
      file_item("game.exe", sample_data(5000, 2), time_a),
      file_item("install.env", env, time_b),
      file_item("Readme.TXT", "read me", time_a),
      file_item("notes.txt.old", "old notes", time_a),
      file_item("insttscr.rc", "not the picture", time_a),
      file_item("ソフト表.Txt", "double-byte name", time_a),
      folder_item("DATA\\"),
      folder_item("LOOSE"),
      file_item("after.txt", "after the top-level folders", time_a),
      file_item("data.bin", "skipped", time_a),
  });
  ASSERT_EQ(extract_bytes(scratch, bytes, dest, startup_pass), 0);
  std::vector<std::string> expected = {"Readme.TXT", "after.txt", "insttscr.rct", "install.env",
                                       "notes.txt.old", "ソフト表.Txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_tree(dest), expected);
  EXPECT_EQ(read_file(dest + "\\insttscr.rct"), picture);
  EXPECT_EQ(read_file(dest + "\\install.env"), env);
  EXPECT_EQ(read_file(dest + "\\ソフト表.Txt"), "double-byte name");
  uint64_t created, written;
  ASSERT_TRUE(file_times(dest + "\\install.env", &created, &written));
  EXPECT_EQ(written, time_b);
}

TEST_F(ExtractStartupPass, NestedFolderEndsThePassAndLaterEntriesAreNotRead) {
  std::string bytes = package_bytes({
      file_item("install.env", "A=1\n", time_a),
      folder_item("DATA\\"),
      folder_item("DATA\\SUB\\"),
      file_item("late.txt", "never", time_a),
  });
  // Damage after the nested folder is never reached either.
  bytes.resize(bytes.size() - terminator.size());
  bytes += "garbage";
  ASSERT_EQ(extract_bytes(scratch, bytes, dest, startup_pass), 0);
  EXPECT_EQ(list_tree(dest), std::vector<std::string>{"install.env"});
}

TEST_F(ExtractStartupPass, MatchingFileInsideAFolderCannotBeWritten) {
  std::string bytes = package_bytes({folder_item("DATA\\"), file_item("DATA\\install.env", "A=1\n", time_a)});
  EXPECT_EQ(extract_bytes(scratch, bytes, dest, startup_pass), -1);
  EXPECT_TRUE(list_tree(dest).empty());
}

TEST(NameContains, SubstringIgnoringCaseByCodePage932Characters) {
  EXPECT_EQ(name_contains("Readme.TXT", ".txt"), 1);
  EXPECT_EQ(name_contains("notes.txt.old", ".TXT"), 1);
  EXPECT_EQ(name_contains("DATA\\Install.Env", "install.env"), 1);
  EXPECT_EQ(name_contains("insttscr.rc", "insttscr.rct"), 0);
  // "ア" is 0x83 0x41: its trail byte is not an "A" to lower-case, and a pattern can
  // only match from the start of a character.
  EXPECT_EQ(name_contains("\x83\x41", "\x83\x61"), 0);
  EXPECT_EQ(name_contains("\x83\x41" "B", "\x41" "b"), 0);
  EXPECT_EQ(name_contains("\x83\x41" "B", "\x83\x41" "b"), 1);
}

using ExtractFullPass = pass_fixture;

TEST_F(ExtractFullPass, WritesEveryFolderAndFileWithItsStoredTime) {
  std::string big = sample_data(3 * 131072 + 777, 3);  // several blocks, a partial last one
  std::vector<package_item> items = {
      folder_item("DATA\\"),
      folder_item("DATA\\SUB\\"),
      file_item("DATA\\SUB\\big.bin", big, time_a),
      file_item("top.txt", "top", time_b),
      folder_item("ソフト\\"),  // 0x83 0x5C: a trail byte that looks like a backslash
      file_item("ソフト\\表.txt", "表", time_a),
      file_item("DATA\\exact.bin", sample_data(131072, 4), time_b),
  };
  uint64_t before = now_filetime();
  ASSERT_EQ(extract_bytes(scratch, package_bytes(items), dest, full_pass_quiet), 0);
  uint64_t after = now_filetime();

  std::vector<std::string> expected = {"DATA\\", "DATA\\SUB\\", "DATA\\SUB\\big.bin", "DATA\\exact.bin",
                                       "top.txt", "ソフト\\", "ソフト\\表.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_tree(dest), expected);
  for (const package_item& item : items) {
    if (item.folder) continue;
    std::string path = dest + "\\" + item.name;
    EXPECT_EQ(read_file(path), item.data) << item.name;
    uint64_t created = 0, written = 0, accessed = 0;
    ASSERT_TRUE(file_times(path, &created, &written, &accessed)) << item.name;
    EXPECT_EQ(written, item.time) << item.name;
    // Only the last-write time is set: the last access stays the moment of extraction
    // (two seconds of slack for coarse clocks). Creation would be checked the same way,
    // but Wine reports the older of change and modification time as creation on file
    // systems without a birth time, so here it equals the stored time.
    EXPECT_GE(accessed + 20000000ull, before) << item.name;
    EXPECT_LE(accessed, after + 20000000ull) << item.name;
  }
}

TEST_F(ExtractFullPass, ZeroLengthFileAndExistingFolders) {
  CreateDirectoryA((dest + "\\DATA").c_str(), nullptr);
  std::string bytes = package_bytes({folder_item("DATA\\"), file_item("DATA\\empty.dat", "", time_b)});
  ASSERT_EQ(extract_bytes(scratch, bytes, dest, full_pass_quiet), 0);
  std::string path = dest + "\\DATA\\empty.dat";
  ASSERT_TRUE(path_exists(path));
  EXPECT_EQ(read_file(path), "");
  uint64_t created, written;
  ASSERT_TRUE(file_times(path, &created, &written));
  EXPECT_EQ(written, time_b);
}

TEST_F(ExtractFullPass, WithTheDialogWritesTheSameAndClosesIt) {
  std::vector<package_item> items;
  for (int i = 0; i < 12; ++i)
    items.push_back(file_item("f" + std::to_string(i) + ".bin", sample_data(40000 * i + 1, 10 + i), time_a));
  ASSERT_EQ(extract_bytes(scratch, package_bytes(items), dest, full_pass), 0);
  EXPECT_EQ(state().progress_dialog, nullptr);
  for (const package_item& item : items) EXPECT_EQ(read_file(dest + "\\" + item.name), item.data);
}

// Every bar and text message the dialog receives during a full pass.
struct dialog_message {
  int id;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::string text;
  int width;
};
std::vector<dialog_message> dialog_messages;
HHOOK message_hook = nullptr;

LRESULT CALLBACK record_dialog_messages(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (state().progress_dialog && GetParent(m->hwnd) == state().progress_dialog &&
        (m->message == PBM_SETPOS || m->message == PBM_SETRANGE || m->message == WM_SETTEXT)) {
      RECT client = {0, 0, 0, 0};
      GetClientRect(m->hwnd, &client);
      dialog_message d = {GetDlgCtrlID(m->hwnd), m->message, m->wParam, m->lParam, "", client.right};
      // The dialog is a Unicode window: its texts arrive as UTF-16, compared as CP932.
      if (m->message == WM_SETTEXT) {
        char text[1024];
        shown_to_cp932(reinterpret_cast<const wchar_t*>(m->lParam), text, sizeof text);
        d.text = text;
      }
      dialog_messages.push_back(d);
    }
  }
  return CallNextHookEx(message_hook, code, wparam, lparam);
}

// A pass with every message to the dialog recorded in dialog_messages.
int extract_recording_dialog(const scratch_folder& scratch, const std::string& bytes, const std::string& out,
                             pass_mode mode) {
  dialog_messages.clear();
  message_hook = SetWindowsHookExW(WH_CALLWNDPROC, record_dialog_messages, nullptr, GetCurrentThreadId());
  if (!message_hook) return -2;
  int result = extract_bytes(scratch, bytes, out, mode);
  UnhookWindowsHookEx(message_hook);
  return result;
}

// Filled pixels of a smooth bar of this width at a position of 0 .. top.
int filled(int width, int top, int position) { return top <= 0 ? 0 : position * width / top; }

TEST_F(ExtractFullPass, DialogShowsEveryFileAndEndsBothBarsWhereTheDataEnds) {
  std::string noise(5 * 131072 + 100, '\0');
  uint32_t x = 99;
  for (char& c : noise) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);  // incompressible
  std::vector<package_item> items = {
      folder_item("DATA\\"),
      file_item("DATA\\a.bin", noise, time_a),
      file_item("b.txt", "small", time_a),
      file_item("c.bin", sample_data(3 * 131072 + 5, 5), time_b),
      file_item("d.bin", noise.substr(0, 2 * 131072), time_b),
  };
  std::string bytes = package_bytes(items);
  DWORD began = GetTickCount();
  ASSERT_EQ(extract_recording_dialog(scratch, bytes, dest, full_pass), 0);
  DWORD took = GetTickCount() - began;

  // The file name: once per file, the output path, in package order.
  std::vector<std::string> names;
  for (const dialog_message& m : dialog_messages)
    if (m.id == 1012 && !m.text.empty()) names.push_back(m.text);
  EXPECT_EQ(names, (std::vector<std::string>{dest + "\\DATA\\a.bin", dest + "\\b.txt", dest + "\\c.bin",
                                             dest + "\\d.bin"}));

  // Each file's bar has the range of its size while it is named; positions go out only
  // as the time comes, and the last picture ends the last file's bar where its data ends.
  const int32_t sizes[] = {5 * 131072 + 100, 5, 3 * 131072 + 5, 2 * 131072};
  int file = -1, file_top = 1, file_position = 0, total_top = 1, total_position = 0, width = 0;
  int moves = 0, last_total_fill = -1;
  auto check_file_range = [&]() {
    if (file >= 0) {
      EXPECT_EQ(file_top, sizes[file] / 131072) << "file " << file;
    }
  };
  for (const dialog_message& m : dialog_messages) {
    if (m.id == 1012 && !m.text.empty()) {
      check_file_range();
      ++file;
    }
    width = m.width;
    if (m.id == 1010 && m.message == PBM_SETRANGE) file_top = HIWORD(m.lparam);
    if (m.id == 1010 && m.message == PBM_SETPOS) file_position = static_cast<int>(m.wparam);
    if (m.id == 1019 && m.message == PBM_SETRANGE) total_top = HIWORD(m.lparam);
    if (m.message == PBM_SETPOS) ++moves;
    if (m.id == 1019 && m.message == PBM_SETPOS) {
      total_position = static_cast<int>(m.wparam);
      int fill = filled(width, total_top, total_position);
      EXPECT_NE(fill, last_total_fill) << "a move of the overall bar that shows nothing new";
      last_total_fill = fill;
    }
  }
  check_file_range();
  EXPECT_EQ(file, 3);
  ASSERT_GT(width, 0);
  EXPECT_EQ(filled(width, file_top, file_position), filled(width, file_top, file_top));
  // The overall bar: the package length in 128 KiB steps, ending at the last entry's data.
  int32_t top = static_cast<int32_t>(bytes.size()) / 131072;
  EXPECT_EQ(total_top, top);
  int32_t end = static_cast<int32_t>(bytes.size() - 2) / 131072;  // all but the terminator
  EXPECT_EQ(filled(width, total_top, total_position), filled(width, top, end));
  // Both bars move at most once per interval, plus the last picture.
  EXPECT_LE(moves, 2 * static_cast<int>(took / progress_interval_ms + 2));
}

// A file of an earlier install is replaced with the stored bytes and time, whether or not
// an earlier file of the pass went into its folder; a folder link on a file's way stops the
// pass even after files of other folders were written. (Wine shows a link to a file as a
// plain file and makes no links itself, so there the link case is left to security_install.)
TEST_F(ExtractFullPass, EarlierFilesAreReplacedAndFolderLinksRefused) {
  std::string outside = scratch / "outside";
  ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
  struct {
    const char* label;
    const char* existing;  // a plain file under dest before the pass; null: none
    const char* link;      // a folder link to outside, made before the pass; null: none
    std::vector<package_item> items;
    int result;
  } cases[] = {
      {"after a file of its folder", "DATA\\a.txt", nullptr,
       {folder_item("DATA\\"), file_item("DATA\\first.txt", "1", time_a), file_item("DATA\\a.txt", "new", time_b)}, 0},
      {"first of its folder", "DATA\\a.txt", nullptr,
       {file_item("top.txt", "1", time_a), file_item("DATA\\a.txt", "new", time_b)}, 0},
      {"folder link after a file of another folder", nullptr, "LINKED",
       {file_item("top.txt", "1", time_a), file_item("LINKED\\a.txt", "evil", time_b)}, -1},
  };
  // Looked up: the headers declare it only for newer systems than the installer targets.
  auto make_link = reinterpret_cast<BOOLEAN(WINAPI*)(const char*, const char*, DWORD)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  for (const auto& c : cases) {
    scratch_folder::remove_tree(dest);
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    CreateDirectoryA((dest + "\\DATA").c_str(), nullptr);
    if (c.existing) {
      ASSERT_TRUE(write_file(dest + "\\" + c.existing, "old contents")) << c.label;
    }
    if (c.link) {
      std::string link = dest + "\\" + c.link;
      if (!make_link || !make_link(link.c_str(), outside.c_str(), 1 /* a folder */) ||
          !(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) ||
          GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("%s: no folder link can be made here; case left out\n", c.label);
        continue;
      }
    }
    EXPECT_EQ(extract_bytes(scratch, package_bytes(c.items), dest, full_pass_quiet), c.result) << c.label;
    if (c.result != 0) {
      EXPECT_TRUE(list_tree(outside).empty()) << c.label;
      RemoveDirectoryA((dest + "\\" + c.link).c_str());
      continue;
    }
    for (const package_item& item : c.items) {
      if (item.folder) continue;
      EXPECT_EQ(read_file(dest + "\\" + item.name), item.data) << c.label;
      uint64_t created = 0, written = 0;
      ASSERT_TRUE(file_times(dest + "\\" + item.name, &created, &written)) << c.label;
      EXPECT_EQ(written, item.time) << c.label;
    }
  }
}

TEST_F(ExtractFullPass, TerminatorOnlyWritesNothing) {
  ASSERT_EQ(extract_bytes(scratch, terminator, dest, full_pass), 0);
  EXPECT_EQ(state().progress_dialog, nullptr);
  ASSERT_EQ(extract_bytes(scratch, terminator, dest, startup_pass), 0);
  EXPECT_TRUE(list_tree(dest).empty());
}

TEST_F(ExtractFullPass, EmptyDestinationIsRefused) {
  std::string bytes = package_bytes({file_item("a.txt", "a", time_a)});
  EXPECT_EQ(extract_bytes(scratch, bytes, "", full_pass_quiet), -1);
}

TEST_F(ExtractFullPass, OutputPathLimitIsExactAndRefusedBeyond) {
  std::string name = std::string(16, 'n') + ".bin";
  // destination + "\" + name + NUL must fit in 256 bytes.
  std::string fits = scratch.path + "\\";
  fits += std::string(256 - 2 - name.size() - fits.size(), 'd');
  std::string too_long = fits + "e";
  ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(too_long.c_str(), nullptr));
  std::string bytes = package_bytes({file_item(name, "limit", time_a)});
  ASSERT_EQ(extract_bytes(scratch, bytes, fits, full_pass_quiet), 0);
  EXPECT_EQ(read_file(fits + "\\" + name), "limit");
  EXPECT_EQ(extract_bytes(scratch, bytes, too_long, full_pass_quiet), -1);
  EXPECT_TRUE(list_tree(too_long).empty());
}

struct escaping_case {
  const char* name;
  const char* outside;  // where the name would land, relative to the scratch folder
};

TEST_F(ExtractFullPass, EscapingNamesAreRefusedBeforeAnythingIsWritten) {
  const escaping_case cases[] = {
      {"..\\evil.txt", "evil.txt"},
      {"DATA\\..\\..\\evil2.txt", "evil2.txt"},
      {"a/../../evil3.txt", "evil3.txt"},
      {"\\evil4.txt", nullptr},
      {"C:\\evil5.txt", nullptr},
      {"DATA\\. .\\..\\..\\evil6.txt", nullptr},
  };
  for (const escaping_case& c : cases) {
    for (pass_mode mode : {full_pass_quiet, startup_pass}) {
      scratch_folder::remove_tree(dest);
      ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
      std::string bytes = package_bytes({file_item("first.txt", "first", time_a), folder_item("DATA\\"),
                                         file_item(c.name, "evil", time_a), file_item("after.txt", "after", time_a)});
      EXPECT_EQ(extract_bytes(scratch, bytes, dest, mode), -1) << c.name;
      std::vector<std::string> expected = {"first.txt"};
      if (mode == full_pass_quiet) expected = {"DATA\\", "first.txt"};
      EXPECT_EQ(list_tree(dest), expected) << c.name << " mode " << mode;
      if (c.outside) {
        EXPECT_FALSE(path_exists(scratch / c.outside)) << c.name;
      }
      EXPECT_FALSE(path_exists("C:\\evil5.txt"));
    }
  }
}

TEST_F(ExtractFullPass, DamagedPackagesFail) {
  std::string good_name("good.txt\0", 9);
  std::string stream = zlib_of(sample_data(50000, 7));
  std::string time = u32le(0x11111111) + u32le(0x01D00000);
  std::string good = raw_entry(9, good_name, 50000, static_cast<int32_t>(stream.size()), time + stream);
  struct damaged_case {
    const char* what;
    std::string bytes;
  };
  const damaged_case cases[] = {
      {"empty file", ""},
      {"one byte", std::string(1, '\0')},
      {"name length above 260", raw_entry(261, std::string(260, 'a') + std::string(1, '\0'), 0, 0) + terminator},
      {"name without its NUL", raw_entry(5, "abcde", -1, 0) + terminator},
      {"negative packed size", raw_entry(6, std::string("a.txt\0", 6), 10, -5, time) + terminator},
      {"bad zlib stream", raw_entry(6, std::string("a.txt\0", 6), 10, 12, time + "not zlib!!!!") + terminator},
      {"stream cut short", raw_entry(9, good_name, 50000, static_cast<int32_t>(stream.size() - 9),
                                     time + stream.substr(0, stream.size() - 9)) + terminator},
      {"packed size past the data", good.substr(0, good.size() - 20)},
      {"missing terminator", good},
      {"header cut in the name", good + raw_entry(9, good_name, 1, 1).substr(0, 6)},
      {"time stamp cut", raw_entry(9, good_name, 0, 8, time.substr(0, 5))},
      {"size below -1", raw_entry(6, std::string("a.txt\0", 6), -2, 0, time) + terminator},
  };
  for (const damaged_case& c : cases) {
    for (pass_mode mode : {full_pass_quiet, startup_pass}) {
      EXPECT_EQ(extract_bytes(scratch, c.bytes, dest, mode), -1) << c.what << " mode " << mode;
    }
  }
  // The sound package the cases were cut from is accepted, so the cuts are what fails.
  EXPECT_EQ(extract_bytes(scratch, good + terminator, dest, full_pass_quiet), 0);
  EXPECT_EQ(read_file(dest + "\\good.txt"), sample_data(50000, 7));
}

TEST_F(ExtractFullPass, CutStreamLeavesItsPartialFile) {
  std::string data = sample_data(3 * 131072, 8);
  std::string stream = zlib_of(data);
  std::string cut = stream.substr(0, stream.size() / 2);
  std::string bytes = raw_entry(9, std::string("part.bin\0", 9), static_cast<int32_t>(data.size()),
                                static_cast<int32_t>(cut.size()), u32le(1) + u32le(2) + cut) + terminator;
  EXPECT_EQ(extract_bytes(scratch, bytes, dest, full_pass_quiet), -1);
  std::string partial = read_file(dest + "\\part.bin");
  ASSERT_NE(partial, "<missing>");
  EXPECT_LT(partial.size(), data.size());
  EXPECT_EQ(partial, data.substr(0, partial.size()));
}

// --- Where the package is found: this program is copied and run again beside it. ----

const char child_dest_variable[] = "E1_CHILD_DEST";

struct location_fixture : ::testing::Test {
  scratch_folder scratch;
  std::string exe = scratch / "child.exe";
  std::string dest = scratch / "out";
  std::string program = read_file(this_program());
  void SetUp() override { ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr)); }
  int run_child(const std::string& destination) {
    return run_self(exe, "ExtractPackageLocation.DISABLED_ChildExtractsItsOwnPackage", child_dest_variable,
                    destination);
  }
  std::string appended(const std::string& package, uint32_t offset) { return program + package + u32le(offset); }
};

using ExtractPackageLocation = location_fixture;

// Runs only when started by the tests below (the variable names the destination).
TEST_F(ExtractPackageLocation, DISABLED_ChildExtractsItsOwnPackage) {
  const char* dest = std::getenv(child_dest_variable);
  ASSERT_NE(dest, nullptr);
  int32_t length = 0;
  FILE* package = open_install_package(&length);
  if (std::strcmp(dest, "-") == 0) {
    EXPECT_EQ(package, nullptr);
    if (package) std::fclose(package);
    return;
  }
  ASSERT_NE(package, nullptr);
  ASSERT_EQ(extract_package_from(package, length, dest, full_pass_quiet), 0);
}


TEST_F(ExtractPackageLocation, AppendedToTheExecutable) {
  std::string package = package_bytes({folder_item("SUB\\"), file_item("SUB\\inside.txt", "appended", time_a)});
  ASSERT_TRUE(write_file(exe, appended(package, static_cast<uint32_t>(program.size()))));
  ASSERT_EQ(run_child(dest), 0);
  EXPECT_EQ(read_file(dest + "\\SUB\\inside.txt"), "appended");
}

using SecurityPackageSource = location_fixture;

// A file named instdat.arc dropped beside a downloaded installer used to be installed in
// place of the package the program carries.
TEST_F(SecurityPackageSource, AppendedPackageWinsOverInstdatBeside) {
  std::string inner = package_bytes({file_item("from_exe.txt", "appended", time_a)});
  ASSERT_TRUE(write_file(exe, appended(inner, static_cast<uint32_t>(program.size()))));
  ASSERT_TRUE(write_file(scratch / "instdat.arc", package_bytes({file_item("from_arc.txt", "separate", time_b)})));
  ASSERT_EQ(run_child(dest), 0);
  EXPECT_EQ(list_tree(dest), std::vector<std::string>{"from_exe.txt"});
  EXPECT_EQ(read_file(dest + "\\from_exe.txt"), "appended");
}

// The separate medium: a program without a package reads instdat.arc beside it.
TEST_F(SecurityPackageSource, ProgramWithoutAPackageReadsInstdatBeside) {
  ASSERT_TRUE(write_file(exe, program));
  ASSERT_TRUE(write_file(scratch / "instdat.arc", package_bytes({file_item("from_arc.txt", "separate", time_b)})));
  ASSERT_EQ(run_child(dest), 0);
  EXPECT_EQ(list_tree(dest), std::vector<std::string>{"from_arc.txt"});
}

TEST_F(ExtractPackageLocation, AppendedOffsetPastTheEndGivesNoPackage) {
  std::string package = package_bytes({file_item("a.txt", "a", time_a)});
  ASSERT_TRUE(write_file(exe, appended(package, static_cast<uint32_t>(program.size() + package.size() + 100))));
  EXPECT_EQ(run_child("-"), 0);
}

}  // namespace
}  // namespace talven

namespace talven {
namespace {

// --- Measurement, not a test of speed: run it by name with --gtest_also_run_disabled_tests.
// It prints the full pass with its dialog against the same walk without one, on a
// generated package of many files (E1_BENCH_FILES files, E1_BENCH_MB MiB in all).

double seconds_since(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int env_number(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

TEST_F(ExtractFullPass, DISABLED_BenchmarkDialogAgainstNone) {
  const int files = env_number("E1_BENCH_FILES", 1000);
  const int megabytes = env_number("E1_BENCH_MB", 30);
  // Mostly small files with a few large ones, spread over folders of twenty.
  std::vector<package_item> items;
  int64_t total = 0, budget = static_cast<int64_t>(megabytes) << 20;
  for (int i = 0; i < files; ++i) {
    if (i % 20 == 0) items.push_back(folder_item("D" + std::to_string(i / 20) + "\\"));
    int64_t left = budget - total;
    int64_t share = left / (files - i);
    int64_t size = (i % 50 == 49) ? share * 20 : share / 2;
    if (size > left) size = left;
    if (size < 0) size = 0;
    items.push_back(file_item("D" + std::to_string(i / 20) + "\\f" + std::to_string(i) + ".dat",
                              sample_data(static_cast<size_t>(size), i), time_a));
    total += size;
  }
  std::string bytes = package_bytes(items);
  std::printf("package: %d files, %.1f MiB of data, %.1f MiB packed\n", files, total / 1048576.0,
              bytes.size() / 1048576.0);

  double best[2] = {1e9, 1e9};
  const pass_mode modes[2] = {full_pass_quiet, full_pass};
  for (int round = 0; round < 5; ++round) {
    for (int m = 0; m < 2; ++m) {
      std::string out = scratch / ("out" + std::to_string(round) + "_" + std::to_string(m));
      ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
      LARGE_INTEGER start;
      QueryPerformanceCounter(&start);
      ASSERT_EQ(extract_bytes(scratch, bytes, out, modes[m]), 0);
      double t = seconds_since(start);
      if (t < best[m]) best[m] = t;
      std::printf("round %d %-14s %.3f s\n", round, m ? "with dialog" : "without dialog", t);
      scratch_folder::remove_tree(out);
    }
  }
  // What the dialog was sent in one full pass, by kind.
  {
    std::string out = scratch / "counted";
    ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
    ASSERT_EQ(extract_recording_dialog(scratch, bytes, out, full_pass), 0);
    int file_moves = 0, total_moves = 0, ranges = 0, texts = 0;
    for (const dialog_message& m : dialog_messages) {
      if (m.message == WM_SETTEXT) ++texts;
      else if (m.message == PBM_SETRANGE) ++ranges;
      else if (m.id == 1010) ++file_moves;
      else ++total_moves;
    }
    std::printf("dialog messages in a full pass: %d file names, %d file bar moves, %d overall bar moves, "
                "%d range changes\n", texts, file_moves, total_moves, ranges);
    scratch_folder::remove_tree(out);
  }
  // The dialog's own start and end, without any entry, as a fixed cost apart.
  double frame = 1e9;
  for (int round = 0; round < 5; ++round) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    ASSERT_NE(open_extract_dialog(static_cast<int32_t>(bytes.size())), nullptr);
    close_progress_dialog();
    double t = seconds_since(start);
    if (t < frame) frame = t;
  }
  // What one block's work on the dialog costs: an empty pump, and a pump after one bar moved.
  HWND dialog = open_extract_dialog(1000 * 131072);
  ASSERT_NE(dialog, nullptr);
  SendDlgItemMessageA(dialog, 1010, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
  drain_messages();
  const int repeats = 500;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < repeats; ++i) drain_messages();
  double empty_pump = seconds_since(start) / repeats;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < repeats; ++i) {
    SendDlgItemMessageA(dialog, 1010, PBM_SETPOS, static_cast<WPARAM>(i * 2), 0);
    drain_messages();
  }
  double bar_pump = seconds_since(start) / repeats;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < repeats; ++i) {
    SendDlgItemMessageA(dialog, 1012, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(i % 2 ? "a\\b.dat" : "a\\c.dat"));
    drain_messages();
  }
  double text_pump = seconds_since(start) / repeats;
  // The same bar moves with the bar's visual style switched off: how much of a move is the
  // themed drawing itself, which no caller can make cheaper than not moving.
  HWND file_bar = GetDlgItem(dialog, 1010);
  SetWindowTheme(file_bar, L" ", L" ");
  drain_messages();
  QueryPerformanceCounter(&start);
  for (int i = 0; i < repeats; ++i) {
    SendMessageA(file_bar, PBM_SETPOS, static_cast<WPARAM>(1 + i * 2), 0);
    drain_messages();
  }
  double plain_bar_pump = seconds_since(start) / repeats;
  SetWindowTheme(file_bar, nullptr, nullptr);
  // The dialog traffic of a naive walk over the same entries, replayed without the
  // extraction: every file's name, range and start, then both bars and a pump per block
  // whether or not anything visible changed. Added to the walk without a dialog, this
  // estimates the naive full pass.
  SendDlgItemMessageA(dialog, 1019, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<int>(bytes.size() / 131072)));
  double packed_ratio = static_cast<double>(bytes.size()) / static_cast<double>(total > 0 ? total : 1);
  QueryPerformanceCounter(&start);
  double offset = 0;
  for (const package_item& item : items) {
    if (item.folder) continue;
    int32_t size = static_cast<int32_t>(item.data.size());
    std::string path = dest + "\\" + item.name;
    SendDlgItemMessageA(dialog, 1012, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    SendDlgItemMessageA(dialog, 1010, PBM_SETRANGE, 0, MAKELPARAM(0, size / 131072));
    SendDlgItemMessageA(dialog, 1010, PBM_SETPOS, 0, 0);
    int blocks = (size + 131071) / 131072;
    for (int b = 1; b <= blocks; ++b) {
      int32_t done = b * 131072 < size ? b * 131072 : size;
      SendDlgItemMessageA(dialog, 1010, PBM_SETPOS, static_cast<WPARAM>(done / 131072), 0);
      double at = offset + packed_ratio * done;
      SendDlgItemMessageA(dialog, 1019, PBM_SETPOS, static_cast<WPARAM>(at / 131072), 0);
      drain_messages();
    }
    offset += packed_ratio * size;
  }
  double naive_traffic = seconds_since(start);
  close_progress_dialog();
  std::printf("naive dialog traffic alone %.3f s: estimated naive full pass %.3f s, ratio %.2f\n", naive_traffic,
              best[0] + naive_traffic, (best[0] + naive_traffic) / best[0]);
  std::printf("per call: empty pump %.1f us, bar move + pump %.1f us (unthemed bar %.1f us), file name + pump "
              "%.1f us\n",
              empty_pump * 1e6, bar_pump * 1e6, plain_bar_pump * 1e6, text_pump * 1e6);
  std::printf("best: without dialog %.3f s, with dialog %.3f s, ratio %.2f\n", best[0], best[1],
              best[1] / best[0]);
  std::printf("dialog open+close alone %.3f s; per-entry cost of the dialog %.3f s, ratio %.2f\n", frame,
              best[1] - frame - best[0], (best[1] - frame) / best[0]);
}

}  // namespace
}  // namespace talven
