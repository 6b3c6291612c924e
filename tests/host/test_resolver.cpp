// The engine file resolver: lookup order, sound names, folder parts, the base folder and
// the 260-byte bounds. Each test runs in a fresh temporary folder made current. On the
// host a backslash is an ordinary file-name byte, so "bg\x.rct" is one file here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/mounts.h"
#include "engine/resolver.h"
#include "temp_folder.h"

using namespace talven;

namespace {

class Resolver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cwd_.ok());
    mount_clear();
    set_base_folder("");
    set_open_as_given(1);
  }
  void TearDown() override {
    mount_clear();
    set_base_folder("");
    set_open_as_given(0);
  }
  // Contents from the stream's position to its end, then closes it; "<none>" for null.
  static std::string drain(FILE* f) {
    if (!f) return "<none>";
    std::string s;
    int c;
    while ((c = std::fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
    std::fclose(f);
    return s;
  }
  static std::string located(const std::string& name) {
    char out[engine_path_size];
    std::memset(out, 'x', sizeof out);
    char* r = locate_engine_file(name.c_str(), out);
    if (!r) {
      EXPECT_EQ(out[0], '\0') << "a miss empties the area";
      return "<none>";
    }
    EXPECT_EQ(r, out);
    return out;
  }
  // An archive "<file>" holding one member called `member` at offset 4.
  static void mount_archive(const std::string& file, const char* member, const char* bytes) {
    write_file(file, std::string("hdr:") + bytes);
    char norm[engine_path_size];
    ASSERT_EQ(normalise_name(member, norm, sizeof norm), 0);
    hash_entry index[] = {{name_hash64(norm), 4, static_cast<uint32_t>(std::strlen(bytes))}};
    ASSERT_EQ(mount_add(file.c_str(), mount_hash_archive, index, 1, nullptr, 0), 0);
  }
  temp_cwd cwd_;
};

}  // namespace

TEST_F(Resolver, OpenAsGivenOpensTheNameInTheCurrentFolder) {
  write_file("install.env", "TITLE=x\n");
  EXPECT_EQ(drain(try_open_engine_file("install.env", "rt")), "TITLE=x\n");
  EXPECT_EQ(drain(open_engine_file("install.env", "rb")), "TITLE=x\n");
  EXPECT_EQ(engine_file_exists("install.env"), 1);
  EXPECT_EQ(located("install.env"), "install.env");
  EXPECT_EQ(engine_file_exists("missing.env"), 0);
  EXPECT_EQ(drain(try_open_engine_file("missing.env", "rb")), "<none>");
  EXPECT_EQ(located("missing.env"), "<none>");
}

TEST_F(Resolver, WithoutOpenAsGivenOrBaseFolderLooseFilesAreNotTried) {
  write_file("install.env", "x");
  set_open_as_given(0);
  EXPECT_EQ(engine_file_exists("install.env"), 0);
  EXPECT_EQ(drain(try_open_engine_file("install.env", "rb")), "<none>");
}

TEST_F(Resolver, BaseFolderIsJoinedAndTheBareNameIsNotTried) {
  ASSERT_EQ(mkdir("base", 0755), 0);
  write_file("base/pic.rct", "in base");
  write_file("pic.rct", "current");
  write_file("only-here.rct", "current");
  ASSERT_EQ(set_base_folder("base/"), 0);
  EXPECT_EQ(drain(try_open_engine_file("pic.rct", "rb")), "in base");
  EXPECT_EQ(located("pic.rct"), "base/pic.rct");
  // Missing in the base folder: the same name in the current folder is not used.
  EXPECT_EQ(drain(try_open_engine_file("only-here.rct", "rb")), "<none>");
  EXPECT_EQ(engine_file_exists("only-here.rct"), 0);
  // A sound name goes to the base folder too, after the mounts, never unchanged.
  write_file("base/a.wav", "base wav");
  write_file("b.wav", "current wav");
  EXPECT_EQ(drain(try_open_engine_file("a.wav", "rb")), "base wav");
  EXPECT_EQ(drain(try_open_engine_file("b.wav", "rb")), "<none>");
}

TEST_F(Resolver, SoundNamesLookInMountsBeforeLooseFiles) {
  write_file("BGM.OGG", "loose ogg");
  write_file("Jump.Wav", "loose wav");
  write_file("pic.rct", "loose rct");
  mount_archive("sound.arc", "bgm.ogg", "archived ogg");
  mount_archive("other.arc", "pic.rct", "archived rct");
  // Sound name in capitals: the archive member wins over the loose file.
  EXPECT_EQ(drain(try_open_engine_file("BGM.OGG", "rb")), "archived ogg");
  EXPECT_EQ(located("BGM.OGG"), "sound.arc");
  // Not held by any node: the loose file after the mounts.
  EXPECT_EQ(drain(try_open_engine_file("Jump.Wav", "rb")), "loose wav");
  EXPECT_EQ(located("Jump.Wav"), "Jump.Wav");
  // Any other name: the loose file first, the archive only when it is missing.
  EXPECT_EQ(drain(try_open_engine_file("pic.rct", "rb")), "loose rct");
  ASSERT_EQ(std::remove("pic.rct"), 0);
  EXPECT_EQ(drain(try_open_engine_file("pic.rct", "rb")), "archived rct");
  EXPECT_EQ(located("pic.rct"), "other.arc");
}

TEST_F(Resolver, SoundExtensionIsTheLastDotOnly) {
  mount_archive("s.arc", "x.wav.bak", "archived");
  write_file("x.wav.bak", "loose");
  // ".bak" is the extension, so this is not a sound name: the loose file comes first.
  EXPECT_EQ(drain(try_open_engine_file("x.wav.bak", "rb")), "loose");
}

TEST_F(Resolver, NamesWithAFolderPartAreNotSearchedInMounts) {
  mount_archive("a.arc", "x.rct", "archived");
  mount_archive("b.arc", "se.wav", "archived wav");
  // Tried as a loose file only.
  EXPECT_EQ(drain(try_open_engine_file("bg\\x.rct", "rb")), "<none>");
  EXPECT_EQ(located("bg\\x.rct"), "<none>");
  write_file("bg\\x.rct", "loose");
  EXPECT_EQ(drain(try_open_engine_file("bg\\x.rct", "rb")), "loose");
  // A sound name with a folder part is not found at all, even with the loose file there.
  write_file("snd\\se.wav", "loose wav");
  EXPECT_EQ(drain(try_open_engine_file("snd\\se.wav", "rb")), "<none>");
  EXPECT_EQ(engine_file_exists("snd\\se.wav"), 0);
  // 表 ends in a 0x5C byte that is not a backslash: this name is searched in the mounts.
  mount_archive("c.arc", "\x95\x5C.rct", "kanji");
  EXPECT_EQ(drain(try_open_engine_file("\x95\x5C.rct", "rb")), "kanji");
}

TEST_F(Resolver, OverLongNamesAndCompositionsAreNotFound) {
  std::string long_name(300, 'n');
  EXPECT_EQ(drain(try_open_engine_file(long_name.c_str(), "rb")), "<none>");
  EXPECT_EQ(located(long_name), "<none>");
  EXPECT_EQ(engine_file_exists(long_name.c_str()), 0);

  // Base folder of 200 bytes: a 59-byte name fits the 260-byte area, a 60-byte one not.
  std::string folder(199, 'd');
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::string fits(59, 'f'), too_long(60, 'g');
  write_file(folder + "/" + fits, "fits");
  write_file(folder + "/" + too_long, "too long");
  ASSERT_EQ(set_base_folder((folder + "/").c_str()), 0);
  EXPECT_EQ(drain(try_open_engine_file(fits.c_str(), "rb")), "fits");
  EXPECT_EQ(located(fits), folder + "/" + fits);
  EXPECT_EQ(drain(try_open_engine_file(too_long.c_str(), "rb")), "<none>");
  EXPECT_EQ(located(too_long), "<none>");

  // A base folder that cannot fit is refused and the old one kept.
  EXPECT_EQ(set_base_folder(std::string(260, 'b').c_str()), -1);
  EXPECT_EQ(located(fits), folder + "/" + fits);
}

TEST_F(Resolver, LocateGivesTheArchivePathAndOpenTheMemberPosition) {
  mount_archive("music.arc", "theme.ogg", "member bytes");
  EXPECT_EQ(located("THEME.OGG"), "music.arc");
  FILE* f = try_open_engine_file("Theme.ogg", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::ftell(f), 4);
  EXPECT_EQ(drain(f), "member bytes");
}

TEST_F(Resolver, EmptyMountListEndsWithNone) {
  EXPECT_EQ(mount_list_front(), nullptr);
  EXPECT_EQ(drain(try_open_engine_file("voice.ogg", "rb")), "<none>");
  EXPECT_EQ(located("voice.ogg"), "<none>");
}

TEST_F(Resolver, OpenEngineFileAsksToRetryAndCancelEnds) {
  // The host's retry box prints its text and ends the process as Cancel does.
  EXPECT_EXIT(open_engine_file("nowhere.rct", "rb"), ::testing::ExitedWithCode(255),
              "Ffopen : .*\\[nowhere\\.rct\\]");
  // The Japanese text arrives as CP932 bytes, as this file's literals are.
  EXPECT_EXIT(open_engine_file("n.rct", "rb"), ::testing::ExitedWithCode(255),
              "ファイル\\[n\\.rct\\]の読み込みで失敗しました");
}
