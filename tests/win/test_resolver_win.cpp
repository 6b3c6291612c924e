// The resolver and its mounted sources on the real file system: Windows paths with real
// backslashes, text-mode streams and the critical section behind every lookup.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/mounts.h"
#include "engine/resolver.h"
#include "package_test_support.h"

namespace talven {
namespace {

using namespace talven_test;

class ResolverWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetCurrentDirectoryA(sizeof saved_, saved_), 0u);
    ASSERT_TRUE(is_folder(scratch_.path));
    ASSERT_TRUE(SetCurrentDirectoryA(scratch_.path.c_str()));
    mount_clear();
    set_base_folder("");
    set_open_as_given(1);
  }
  void TearDown() override {
    mount_clear();
    SetCurrentDirectoryA(saved_);
  }
  // Mounts path as a hash-indexed archive holding one member at offset.
  static void mount_member(const std::string& path, const char* member, uint32_t offset,
                           uint32_t size) {
    char norm[engine_path_size];
    ASSERT_EQ(normalise_name(member, norm, sizeof norm), 0);
    hash_entry index[] = {{name_hash64(norm), offset, size}};
    ASSERT_EQ(mount_add(path.c_str(), mount_hash_archive, index, 1, nullptr, 0), 0);
  }
  static std::string read_some(FILE* f, size_t n) {
    if (!f) return "<none>";
    std::string s(n, '\0');
    s.resize(std::fread(&s[0], 1, n, f));
    std::fclose(f);
    return s;
  }
  static std::string located(const char* name) {
    char out[engine_path_size];
    std::memset(out, 'x', sizeof out);
    if (!locate_engine_file(name, out)) return out[0] == '\0' ? "<none>" : "<not emptied>";
    return out;
  }
  char saved_[MAX_PATH];
  scratch_folder scratch_;
};

TEST_F(ResolverWin, SoundNameInCapitalsIsTakenFromTheArchiveBeforeTheLooseFile) {
  ASSERT_TRUE(write_file(scratch_ / "SE.WAV", "loose"));
  ASSERT_TRUE(write_file(scratch_ / "snd.arc", "....RIFFarchived"));
  mount_member(scratch_ / "snd.arc", "se.wav", 4, 12);
  EXPECT_EQ(read_some(try_open_engine_file("SE.WAV", "rb"), 100), "RIFFarchived");
  EXPECT_EQ(read_some(open_engine_file("Se.Wav", "rb"), 100), "RIFFarchived");
  // The same file as a name that is not a sound: the loose file comes first.
  ASSERT_TRUE(write_file(scratch_ / "SE.TXT", "loose text"));
  mount_member(scratch_ / "snd.arc", "se.txt", 4, 12);
  EXPECT_EQ(read_some(try_open_engine_file("SE.TXT", "rb"), 100), "loose text");
}

TEST_F(ResolverWin, ArchiveHitIsAtTheMemberOffsetInTheCallersMode) {
  ASSERT_TRUE(write_file(scratch_ / "text.arc", "skip-me|line one\r\nline two\r\n"));
  mount_member(scratch_ / "text.arc", "notes.txt", 8, 20);
  FILE* binary = try_open_engine_file("notes.txt", "rb");
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(std::ftell(binary), 8);
  EXPECT_EQ(read_some(binary, 100), "line one\r\nline two\r\n");
  // In mode "rt" the runtime turns CR LF into LF: the stream really is a text stream.
  EXPECT_EQ(read_some(try_open_engine_file("NOTES.TXT", "rt"), 100), "line one\nline two\n");
}

TEST_F(ResolverWin, LocateGivesTheArchivePath) {
  std::string arc = scratch_ / "music.arc";
  ASSERT_TRUE(write_file(arc, "0123456789"));
  mount_member(arc, "theme.ogg", 2, 8);
  EXPECT_EQ(located("THEME.OGG"), arc);
  EXPECT_EQ(engine_file_exists("Theme.ogg"), 1);
  EXPECT_EQ(located("other.ogg"), "<none>");
}

TEST_F(ResolverWin, NodeWhoseArchiveIsMissingIsPassedOver) {
  std::string present = scratch_ / "present.arc";
  ASSERT_TRUE(write_file(present, "abcdef"));
  mount_member(scratch_ / "absent.arc", "voice.ogg", 1, 2);
  mount_member(present, "voice.ogg", 3, 3);
  EXPECT_EQ(read_some(try_open_engine_file("VOICE.OGG", "rb"), 100), "def");
}

TEST_F(ResolverWin, EmptyListFindsNothing) {
  EXPECT_EQ(mount_list_front(), nullptr);
  EXPECT_EQ(read_some(try_open_engine_file("voice.ogg", "rb"), 10), "<none>");
  EXPECT_EQ(located("voice.ogg"), "<none>");
  EXPECT_EQ(engine_file_exists("install.env"), 0);
  // A loose file is still found by its name in the current folder.
  ASSERT_TRUE(write_file(scratch_ / "install.env", "KEY=1\n"));
  EXPECT_EQ(engine_file_exists("install.env"), 1);
  EXPECT_EQ(read_some(open_engine_file("install.env", "rt"), 100), "KEY=1\n");
}

TEST_F(ResolverWin, FolderSetJoinsFolderBackslashName) {
  std::string d1 = scratch_ / "d1", d2 = scratch_ / "d2";
  ASSERT_TRUE(CreateDirectoryA(d1.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(d2.c_str(), nullptr));
  ASSERT_TRUE(write_file(d2 + "\\Click.wav", "in d2"));
  char norm[engine_path_size];
  ASSERT_EQ(normalise_name("Click.wav", norm, sizeof norm), 0);
  uint64_t h = name_hash64(norm);
  folder_entry table[] = {{h, d1.c_str(), 0}, {h, d2.c_str(), 0}};
  ASSERT_EQ(mount_add("", mount_folder_set, nullptr, 0, table, 2), 0);
  EXPECT_EQ(read_some(try_open_engine_file("Click.wav", "rb"), 100), "in d2");
  EXPECT_EQ(located("Click.wav"), d2 + "\\Click.wav");
  // Windows names ignore case, so the capitals reach the same file.
  EXPECT_EQ(read_some(try_open_engine_file("CLICK.WAV", "rb"), 100), "in d2");
}

TEST_F(ResolverWin, BaseFolderAndFolderPartsOnRealPaths) {
  std::string base = scratch_ / "base";
  ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((scratch_ / "bg").c_str(), nullptr));
  ASSERT_TRUE(write_file(base + "\\pic.rct", "base"));
  ASSERT_TRUE(write_file(scratch_ / "bg\\x.rct", "folder part"));
  ASSERT_TRUE(write_file(scratch_ / "bg\\se.wav", "sound in folder"));
  // A name with a folder part opens as a loose file; a sound name with one is not found.
  EXPECT_EQ(read_some(try_open_engine_file("bg\\x.rct", "rb"), 100), "folder part");
  EXPECT_EQ(read_some(try_open_engine_file("bg\\se.wav", "rb"), 100), "<none>");
  ASSERT_EQ(set_base_folder((base + "\\").c_str()), 0);
  EXPECT_EQ(located("pic.rct"), base + "\\pic.rct");
  // Missing in the base folder: not tried in the current folder.
  EXPECT_EQ(read_some(try_open_engine_file("bg\\x.rct", "rb"), 100), "<none>");
  set_base_folder("");
}

}  // namespace
}  // namespace talven
