// talven-pack as a maker's kit, through the real binary: check reports each way an
// install.env or a game tree breaks the installer, with its line and exit code; convert
// and check --fix; pack refusing what check finds, its temporary file and signals, its
// levels; medium's layout. Literals are CP932 (as install.env is); u8 ones are UTF-8.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/rct.h"
#include "package_kit.h"

namespace {

namespace fs = std::filesystem;

const char* const tool = package_kit::tool_under_test();

using package_kit::exits_with;
using package_kit::holds;
using package_kit::lacks;
using package_kit::read_text;
using package_kit::result;
std::string sh_quote(const std::string& s) { return package_kit::quoted(s); }

void write_text(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// The shared scratch folder, with the tool (or a copy of it elsewhere) run inside it.
struct scratch : package_kit::scratch {
  result run(const std::vector<std::string>& args, const std::string& program = tool) const {
    return package_kit::run_tool(dir, args, program);
  }
};

// A sound game folder: settings in CP932 with CR LF, the menu picture, the readme and the
// program they name, and a data file.
const char* const good_env =
    "// 設定\r\n"
    "TITLEBAR\t月影の譜\r\n"
    "INSTTO\tTsukikage\r\n"
    "INSTREADME\tお読みください\r\n"
    "INSTREADMEFL\treadme.txt\r\n"
    "EXENAME\tgame.exe\r\n"
    "REG_GLOBAL\tTALVEN\r\n"
    "REG_LOCAL\tTsukikage\r\n"
    "INI_FILE\tgame.ini\r\n"
    "INI_SECTION\tgame\r\n"
    "[reg]\r\n"
    "\"InstTo\"=\"REP_INSTALL\"\r\n"
    "-\r\n"
    "[ini]\r\n"
    "Path=REP_INSTALL\\data\r\n"
    "-\r\n";

fs::path make_game(const fs::path& dir, const std::string& env = good_env) {
  write_text(dir / "install.env", env);
  // The size the menu shows; any other is a warning.
  std::vector<unsigned char> pixels(410 * 291 * 3, 0);
  std::vector<unsigned char> rct(talven::rct_encode_bound(410, 291, 0));
  size_t n = talven::rct_encode(pixels.data(), 410, 291, talven::rct_tc00, nullptr, 0, rct.data(), rct.size());
  write_text(dir / "insttscr.rct", std::string(rct.begin(), rct.begin() + static_cast<long>(n)));
  write_text(dir / "readme.txt", "お読みください\r\n");
  write_text(dir / "game.exe", "MZ program\r\n");
  write_text(dir / u8"データ/画像.dat", std::string(1000, 'x'));
  return dir;
}

// The finding lines of the output that hold all the given pieces.
bool has_finding(const std::string& out, const std::string& head, const std::string& text) {
  size_t at = 0;
  while ((at = out.find(head, at)) != std::string::npos) {
    size_t end = out.find('\n', at);
    if (out.substr(at, end - at).find(text) != std::string::npos) return true;
    at = end;
  }
  return false;
}

TEST(TalvenPackCheck, SoundGameIsCleanAndEachBrokenKindIsNamedWithItsLine) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  result r = s.run({"check", game.string()});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "") << r.out;

  std::string env = (game / "install.env").string();
  struct kind {
    const char* what;
    std::string text;
    int code;
    std::string head;   // "FILE:LINE: severity"
    std::string piece;  // part of the text
  };
  std::string long_instto(200, 'a');
  std::string comments;
  for (int i = 0; i < 401; ++i) comments += "// comment\r\n";
  std::string utf16 = std::string("\xFF\xFE", 2);
  for (char c : std::string("EXENAME\tgame.exe\r\n")) utf16 += std::string(1, c) + '\0';
  const kind kinds[] = {
      {"utf-8", u8"TITLEBAR\t月影の譜\r\nEXENAME\tgame.exe\r\n", 1, env + ":1: warning", "UTF-8"},
      {"unclosed ini", std::string(good_env) + "[ini]\r\nA=B\r\n", 2, env + ":17: error", "[ini] is not closed"},
      {"reg without key", "EXENAME\tgame.exe\r\n[reg]\r\n\"A\"=\"B\"\r\n-\r\n", 1, env + ":2: warning",
       "REG_GLOBAL is not set"},
      {"misspelt key", "TITELBAR\tx\r\nEXENAME\tgame.exe\r\n", 1, env + ":1: warning", "did you mean TITLEBAR?"},
      {"misspelt key 2", "EXENAME\tgame.exe\r\n\r\nEXE_NAME\ty\r\n", 1, env + ":3: warning", "did you mean EXENAME?"},
      {"semicolon comment", "EXENAME\tgame.exe\r\n; note here\r\n", 1, env + ":2: warning", "write //"},
      {"lower case", "EXENAME\tgame.exe\r\ntitlebar\tx\r\n", 1, env + ":2: warning", "case-sensitive"},
      {"400 lines", comments + "EXENAME\tgame.exe\r\n", 2, env + ":402: warning", "first 400 lines"},
      {"cut value", "EXENAME\tgame.exe\r\nINSTTO\t" + long_instto + "\r\n", 1, env + ":2: warning",
       "reads the first 127"},
      {"utf-16", utf16, 2, env + ":1: error", "UTF-16"},
      {"not cp932", "EXENAME\tgame.exe\r\nTITLEBAR\tab\xFF\r\n", 2, env + ":2: error", "column 12: byte 0xFF"},
      {"bad reg line", "EXENAME\tgame.exe\r\n[regall]\r\n\"Name\"\r\n-\r\n", 2, env + ":3: error", "[regall] line"},
      {"bad ini line", "EXENAME\tgame.exe\r\n[ini]\r\nno equals sign\r\n-\r\n", 2, env + ":3: error", "no '='"},
      {"long reg value", "EXENAME\tgame.exe\r\n[reg]\r\n\"N\"=\"REP_INSTALL" + std::string(250, 'b') + "\"\r\n-\r\n",
       2, env + ":3: error", "does not fit"},
      {"readme missing", "EXENAME\tgame.exe\r\nINSTREADMEFL\tnone.txt\r\n", 2, env + ":2: error", "none.txt"},
      {"program missing", "EXENAME\tother.exe\r\n", 2, env + ":1: error", "other.exe"},
      {"no program named", "// nothing\r\n", 2, env + ": error", "talven.exe"},
      {"ini file path", "EXENAME\tgame.exe\r\nINI_FILE\tC:\\other\\a.ini\r\n", 2, env + ":2: error",
       "INI_FILE must be one name"},
      {"group climbing", "EXENAME\tgame.exe\r\nINST_GROUP\t..\r\n", 2, env + ":2: error", "INST_GROUP must be"},
  };
  for (const kind& k : kinds) {
    write_text(game / "install.env", k.text);
    r = s.run({"check", game.string()});
    EXPECT_EQ(r.code, k.code) << k.what << "\n" << r.out;
    EXPECT_TRUE(has_finding(r.out, k.head, k.piece)) << k.what << "\n" << r.out;
  }

  // pack refuses the errors and names them; --no-check packs anyway.
  write_text(game / "install.env", "EXENAME\tgame.exe\r\n[ini]\r\n");
  r = s.run({"pack", game.string(), (s.dir / "out.arc").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has_finding(r.err, env + ":2: error", "[ini] is not closed")) << r.err;
  EXPECT_NE(r.err.find("nothing written: check found 1 error"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(s.dir / "out.arc"));
  EXPECT_EQ(s.run({"pack", "--no-check", game.string(), (s.dir / "out.arc").string()}).code, 0);
}

TEST(TalvenPackCheck, TreeFindings) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  if (!package_kit::windows_build()) write_text(game / "CON.txt", "x");
  write_text(game / u8"データ/Save.dat", "x");
  write_text(game / u8"データ/save.DAT", "x");
  write_text(game / "DATA/notes.txt", "x");  // the start-up pass reaches it before a nested folder
  // 40 bytes of default folder (C:\Program Files\Tsukikage), "\", then 220 bytes.
  std::string deep = std::string(100, 'd') + "/" + std::string(119, 'e');
  write_text(game / deep, "x");
  result r = s.run({"check", game.string()});
  EXPECT_EQ(r.code, 2) << r.out;
  if (!package_kit::windows_build()) {
    EXPECT_TRUE(has_finding(r.out, (game / "CON.txt").string() + ": error", "device")) << r.out;
  }
  EXPECT_TRUE(has_finding(r.out, (game / u8"データ/save.DAT").string() + ": warning", "only in case")) << r.out;
  EXPECT_TRUE(has_finding(r.out, (game / "DATA/notes.txt").string() + ": error", "start-up pass")) << r.out;
  // C:\Program Files\Tsukikage (26) + "\" + 220 = 247 bytes: within 255.
  EXPECT_EQ(r.out.find("over what the installer writes"), std::string::npos) << r.out;
  write_text(game / "install.env", std::string(good_env) + "INSTFOL\t" + std::string(20, 'f') + "\r\n");
  r = s.run({"check", game.string()});
  EXPECT_TRUE(has_finding(r.out, (game / deep).string() + ": warning", "268 bytes, 13 over")) << r.out;

  // --exclude and the ignore file leave names out of check and pack alike.
  fs::remove_all(game / "DATA");
  write_text(game / ".talvenignore", "# stand-ins\nCON.txt\n");
  r = s.run({"check", "--exclude", "save.DAT", game.string()});
  EXPECT_TRUE(lacks(r.out, {"CON.txt", "only in case"}));
  EXPECT_EQ(r.code, 1) << r.out;  // the long path under INSTFOL is left
  EXPECT_TRUE(exits_with(s.run({"pack", "--strict", game.string(), (s.dir / "o.arc").string()}), 1, "--strict"));
  r = s.run({"pack", "--exclude", "save.DAT", game.string(), (s.dir / "o.arc").string()});
  EXPECT_EQ(r.code, 0) << r.err;
  r = s.run({"list", (s.dir / "o.arc").string()});
  EXPECT_TRUE(lacks(r.out, {"CON.txt", ".talvenignore", "save.DAT"}));
  EXPECT_NE(r.out.find("Save.dat"), std::string::npos) << r.out;
}

TEST(TalvenPackCheck, SampleGameChecksClean) {
  scratch s;
  std::string cmd = "bash " + sh_quote(std::string(TEST_SOURCE_DIR) + "/examples/sample-game/build.sh") + " " +
                    sh_quote(s.dir.string()) + " " + sh_quote(tool) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  result r = s.run({"check", (s.dir / "sample-game").string()});
  EXPECT_EQ(r.code, 0) << r.out;
}

TEST(TalvenPackCheck, ConvertAndFixTurnUtf8IntoCp932) {
  scratch s;
  fs::path in = s.dir / "env.utf8", out = s.dir / "install.env";
  write_text(in, u8"\xEF\xBB\xBFTITLEBAR\t月影\nEXENAME\tgame.exe\n");
  result r = s.run({"convert", in.string(), out.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_text(out), "TITLEBAR\t月影\r\nEXENAME\tgame.exe\r\n");

  // A character CP932 lacks: named with line and column, nothing written.
  write_text(in, u8"TITLEBAR\tok\nINSTTO\tab😀\n");
  fs::remove(out);
  r = s.run({"convert", in.string(), out.string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has_finding(r.err, in.string() + ":2: error", "column 10")) << r.err;
  EXPECT_FALSE(fs::exists(out));

  fs::path game = make_game(s.dir / "game", std::string(u8"TITLEBAR\t月影\n") + "EXENAME\tgame.exe\n");
  EXPECT_EQ(s.run({"check", game.string()}).code, 1);
  r = s.run({"check", "--fix", game.string()});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(read_text(game / "install.env"), "TITLEBAR\t月影\r\nEXENAME\tgame.exe\r\n");
}

TEST(TalvenPackMedium, LayoutBinFolderAndSetupLookup) {
  scratch s;
  fs::path game = make_game(s.dir / "game", std::string(good_env) + "FORCEINSTALL\t1\r\n");
  write_text(s.dir / "setup.exe", "MZ installer");
  write_text(s.dir / "un.exe", "MZ uninstaller");
  fs::path out = s.dir / "medium";
  result r = s.run({"medium", "--setup", (s.dir / "setup.exe").string(), "--uninst", (s.dir / "un.exe").string(),
                    game.string(), out.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string exe = read_text(out / "setup.exe");
  ASSERT_GT(exe.size(), 16u);
  EXPECT_EQ(exe.substr(0, 12), "MZ installer");
  // The trailer points just past the installer's bytes and the zeros that end the file
  // on 8 bytes.
  const unsigned char* t = reinterpret_cast<const unsigned char*>(exe.data() + exe.size() - 4);
  int start = t[0] | t[1] << 8 | t[2] << 16 | t[3] << 24;
  EXPECT_EQ(exe.size() % 8, 0u);
  EXPECT_GE(start, 12);
  EXPECT_LT(start, 20);
  EXPECT_EQ(exe.substr(12, static_cast<size_t>(start) - 12), std::string(static_cast<size_t>(start) - 12, '\0'));
  EXPECT_FALSE(fs::exists(out / "instdat.arc"));
  EXPECT_EQ(read_text(out / "bin/game.exe"), "MZ program\r\n");
  EXPECT_EQ(read_text(out / "bin/UnInst.exe"), "MZ uninstaller");
  EXPECT_EQ(read_text(out / "readme.txt"), read_text(game / "readme.txt"));
  EXPECT_EQ(s.run({"verify", (out / "setup.exe").string()}).code, 0);

  // A folder that is not empty is refused.
  EXPECT_TRUE(exits_with(s.run({"medium", "--setup", (s.dir / "setup.exe").string(), game.string(), out.string()}),
      1, "not empty"));

  // A copy of the tool in build/host finds build/win32/setup.exe; with no uninstaller
  // anywhere it says so, and bin/ holds the program alone.
  if (package_kit::windows_build()) GTEST_SKIP() << "a copy of the Wine wrapper still starts the program where it was built";
  fs::create_directories(s.dir / "build/host");
  fs::copy_file(tool, s.dir / "build/host/talven-pack");
  write_text(s.dir / "build/win32/setup.exe", "MZ built");
  r = s.run({"medium", "--separate", game.string(), (s.dir / "m2").string()},
            (s.dir / "build/host/talven-pack").string());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_text(s.dir / "m2/setup.exe"), "MZ built");
  EXPECT_TRUE(fs::exists(s.dir / "m2/instdat.arc"));
  EXPECT_TRUE(fs::exists(s.dir / "m2/bin/game.exe"));
  EXPECT_TRUE(holds(r.err, {"no UnInst.exe found", "--uninst"}));
}

// A tree of compressible text, incompressible noise and one file above the in-memory
// limit, which is streamed.
void make_mixed_tree(const fs::path& root) {
  make_game(root);
  std::string text, noise, big;
  uint32_t x = 7;
  for (int i = 0; i < 200000; ++i) text += "line " + std::to_string(i % 977) + " of the scenario\r\n";
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
  for (int i = 0; i < 9; ++i) big += text.substr(0, 1 << 20);
  write_text(root / "text.scn", text);
  write_text(root / "noise.ogg", noise);
  write_text(root / "big.dat", big);
}

TEST(TalvenPackLevels, ThreadCountNeverChangesThePackageAndEveryLevelVerifies) {
  scratch s;
  make_mixed_tree(s.dir / "game");
  std::string one = (s.dir / "one.arc").string(), four = (s.dir / "four.arc").string();
  ASSERT_EQ(s.run({"pack", "-q", "--threads", "1", (s.dir / "game").string(), one}).code, 0);
  ASSERT_EQ(s.run({"pack", "-q", "--threads", "4", (s.dir / "game").string(), four}).code, 0);
  EXPECT_EQ(read_text(one), read_text(four));
  EXPECT_EQ(s.run({"verify", one}).code, 0);
  uintmax_t sizes[3];
  int levels[3] = {0, 1, 12};
  for (int i = 0; i < 3; ++i) {
    std::string p = (s.dir / ("l" + std::to_string(levels[i]) + ".arc")).string();
    result r = s.run({"pack", "-q", "--level", std::to_string(levels[i]), (s.dir / "game").string(), p});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(s.run({"verify", p}).code, 0) << levels[i];
    sizes[i] = fs::file_size(p);
  }
  EXPECT_GT(sizes[0], sizes[1]);
  EXPECT_GE(sizes[1], sizes[2]);
  result r = s.run({"pack", "--level", "13", (s.dir / "game").string(), one});
  EXPECT_TRUE(exits_with(r, 2, "--level takes 0 to 12"));
  EXPECT_TRUE(exits_with(s.run({"pack", "--frobnicate", (s.dir / "game").string(), one}),
      2, "unknown option --frobnicate"));
}

TEST(TalvenPackTemporary, UsersTmpFileIsLeftAloneAndSignalsRemoveOurs) {
  scratch s;
  make_mixed_tree(s.dir / "game");
  fs::path out = s.dir / "instdat.arc";
  write_text(s.dir / "instdat.arc.tmp", "the maker's own file");
  write_text(s.dir / "game/install.env", "EXENAME\tgame.exe\r\n[reg]\r\n");  // refused by check
  EXPECT_EQ(s.run({"pack", (s.dir / "game").string(), out.string()}).code, 1);
  write_text(s.dir / "game/install.env", good_env);
  EXPECT_EQ(s.run({"pack", (s.dir / "game").string(), out.string()}).code, 0);
  EXPECT_EQ(read_text(s.dir / "instdat.arc.tmp"), "the maker's own file");

  // Interrupted while packing: neither the package nor a temporary file is left.
  if (package_kit::windows_build()) GTEST_SKIP() << "POSIX signals do not reach a Windows program";
  fs::remove(out);
  for (int sig : {SIGINT, SIGTERM}) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::execl(tool, tool, "pack", "-q", "--best", "--threads", "1", (s.dir / "game").c_str(), out.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(101);
    }
    bool seen = false;
    for (int i = 0; i < 10000 && !seen; ++i) {
      for (const fs::directory_entry& e : fs::directory_iterator(s.dir))
        if (e.path().filename().string().rfind("instdat.arc.tmp-", 0) == 0) seen = true;
      if (!seen) ::usleep(1000);
    }
    ::kill(child, sig);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    for (const fs::directory_entry& e : fs::directory_iterator(s.dir))
      EXPECT_EQ(e.path().filename().string().rfind("instdat.arc.tmp-", 0), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists(out));
  }
}

// Runs a shell line in the scratch folder (for ulimit and trap), with the tool as $P.
result shell(const scratch& s, const std::string& line) {
  std::string cmd = "cd " + sh_quote(s.dir.string()) + " && P=" + sh_quote(tool) + " && (" + line + ") >stdout.txt 2>stderr.txt";
  int status = std::system(("bash -c " + sh_quote(cmd)).c_str());
  result r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_text(s.dir / "stdout.txt");
  r.err = read_text(s.dir / "stderr.txt");
  return r;
}

TEST(TalvenPackExtract, FullDiskClashesAndChosenEntries) {
  scratch s;
  make_mixed_tree(s.dir / "game");
  std::string pkg = (s.dir / "p.arc").string();
  ASSERT_EQ(s.run({"pack", "-q", (s.dir / "game").string(), pkg}).code, 0);

  // A write that fails (here the file-size limit, as a full disk would) is named with its
  // reason, not taken for package damage.
  result r = shell(s, "trap '' XFSZ; ulimit -f 200; $P extract p.arc out");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(package_kit::windows_build() ? "cannot write the file: " : "cannot write the file: File too large"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(lacks(r.err, {"does not inflate", "damaged"}));

  // Existing files: refused and listed by default, kept with -n, overwritten with -y.
  fs::remove_all(s.dir / "out");
  write_text(s.dir / "out/readme.txt", "mine");
  r = s.run({"extract", pkg, (s.dir / "out").string()});
  EXPECT_TRUE(exits_with(r, 1, (s.dir / "out/readme.txt").string()));
  EXPECT_NE(r.err.find("1 file already exists"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(s.dir / "out/game.exe"));
  r = s.run({"extract", "-n", pkg, (s.dir / "out").string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_text(s.dir / "out/readme.txt"), "mine");
  EXPECT_EQ(read_text(s.dir / "out/text.scn"), read_text(s.dir / "game/text.scn"));
  r = s.run({"extract", "-y", pkg, (s.dir / "out").string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_text(s.dir / "out/readme.txt"), read_text(s.dir / "game/readme.txt"));

  // Chosen entries: a name with either separator and a folder.
  r = s.run({"extract", pkg, (s.dir / "some").string(), u8"データ\\画像.dat", "game.exe"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(s.dir / u8"some/データ/画像.dat"));
  EXPECT_TRUE(fs::exists(s.dir / "some/game.exe"));
  EXPECT_FALSE(fs::exists(s.dir / "some/readme.txt"));
  EXPECT_TRUE(exits_with(s.run({"extract", pkg, (s.dir / "none").string(), "missing.txt"}), 1, "no entry missing.txt"));
}

TEST(TalvenPackExtract, InterruptedExtractLeavesNoPartialFile) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  write_text(game / "zeros.dat", "");
  fs::resize_file(game / "zeros.dat", 512ull << 20);  // inflates for a while, packs small
  std::string pkg = (s.dir / "p.arc").string();
  ASSERT_EQ(s.run({"pack", "-q", "--level", "1", game.string(), pkg}).code, 0);
  fs::path target = s.dir / "out/zeros.dat";
  if (package_kit::windows_build()) GTEST_SKIP() << "POSIX signals do not reach a Windows program";
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(tool, tool, "extract", "-q", pkg.c_str(), (s.dir / "out").c_str(), "zeros.dat",
            static_cast<char*>(nullptr));
    ::_exit(101);
  }
  bool seen = false;
  for (int i = 0; i < 5000 && !seen; ++i) {
    std::error_code ec;
    seen = fs::exists(target, ec) && fs::file_size(target, ec) > 0;
    if (!seen) ::usleep(1000);
  }
  ::kill(child, SIGINT);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(seen);
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_FALSE(fs::exists(target));
  } else {
    // Finished before the signal came: then the file is whole.
    EXPECT_EQ(fs::file_size(target), 512ull << 20);
  }
}

TEST(TalvenPackDefects, AppendListAndRctMessages) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  // A file too large for an entry is not a name problem, and one of them is singular.
  write_text(game / "huge.dat", "");
  fs::resize_file(game / "huge.dat", 0x80000000ull);
  EXPECT_TRUE(exits_with(s.run({"pack", game.string(), (s.dir / "big.arc").string()}),
      1, "nothing written: 1 file or folder above cannot be packed"));
  fs::remove(game / "huge.dat");
  std::string pkg = (s.dir / "p.arc").string();
  ASSERT_EQ(s.run({"pack", "-q", game.string(), pkg}).code, 0);
  write_text(s.dir / "setup.exe", "MZ installer");
  std::string one = (s.dir / "one.exe").string(), two = (s.dir / "two.exe").string();
  ASSERT_EQ(s.run({"append", (s.dir / "setup.exe").string(), pkg, one}).code, 0);
  write_text(two + ".tmp", "the maker's own file");
  result r = s.run({"append", one, pkg, two});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(read_text(two + ".tmp"), "the maker's own file");
  EXPECT_NE(r.err.find("already carries a package"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(two));
  ASSERT_EQ(s.run({"append", "--replace", one, pkg, two}).code, 0);
  EXPECT_EQ(read_text(one), read_text(two));

  EXPECT_TRUE(exits_with(s.run({"list", game.string()}), 1, "is a folder, not a package"));

  // What archive writes is recognised by list and verify, through its index.
  std::string arc = (s.dir / "data.arc").string();
  ASSERT_EQ(s.run({"archive", (game / u8"データ").string(), arc}).code, 0);
  r = s.run({"list", arc});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("engine archive"), std::string::npos) << r.out;
  EXPECT_EQ(s.run({"verify", (s.dir / "data.idx").string()}).code, 0);
  fs::resize_file(arc, 10);
  EXPECT_TRUE(exits_with(s.run({"verify", arc}), 1, "runs past the end"));

  // rct: a failed write leaves no file under the target's name and one line of message.
  {
    std::vector<unsigned char> pixels(300 * 300 * 3);
    uint32_t x = 3;
    for (unsigned char& p : pixels) p = static_cast<unsigned char>((x = x * 1664525u + 1013904223u) >> 24);
    std::vector<unsigned char> rct(talven::rct_encode_bound(300, 300, 0));
    size_t n = talven::rct_encode(pixels.data(), 300, 300, talven::rct_tc00, nullptr, 0, rct.data(), rct.size());
    write_text(game / "insttscr.rct", std::string(rct.begin(), rct.begin() + static_cast<long>(n)));
  }
  r = shell(s, "trap '' XFSZ; ulimit -f 1; $P rct decode game/insttscr.rct pic.png");
  EXPECT_EQ(r.code, 1);
  if (!package_kit::windows_build()) {
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
  }
  EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << r.err;
  for (const fs::directory_entry& e : fs::directory_iterator(s.dir))
    EXPECT_EQ(e.path().filename().string().rfind("pic.png", 0), std::string::npos) << e.path();
  r = s.run({"rct", "decode", (s.dir / "nothing.rct").string(), (s.dir / "x.png").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << r.err;
}

TEST(TalvenPackConventions, VersionHelpAndAProgressLineThatFits) {
  scratch s;
  result r = s.run({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("talven-pack ", 0), 0u) << r.out;
  r = s.run({"help", "medium"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("usage: talven-pack medium"), std::string::npos) << r.out;
  EXPECT_TRUE(exits_with(s.run({"verify", "--frob", "x"}), 2, "unknown option --frob"));

  // On a 50-column terminal no line of the progress passes 49 columns.
  if (package_kit::windows_build()) GTEST_SKIP() << "a pseudo-terminal is no Windows console";
  make_mixed_tree(s.dir / "game");
  r = shell(s, "COLUMNS=50 script -qfec \"$P pack --threads 1 --best game p.arc\" /dev/null");
  ASSERT_EQ(r.code, 0) << r.err;
  std::string seen = r.out;
  EXPECT_NE(seen.find("100%"), std::string::npos) << seen;
  size_t start = 0;
  int lines = 0;
  while (start < seen.size()) {
    size_t end = seen.find_first_of("\r\n", start);
    if (end == std::string::npos) end = seen.size();
    std::string line = seen.substr(start, end - start);
    size_t esc = line.find("\x1b[K");
    if (esc != std::string::npos) line.erase(esc, 3);
    if (line.rfind("packing", 0) == 0) {
      ++lines;
      EXPECT_LE(line.size(), 49u) << line;
    }
    start = end + 1;
  }
  EXPECT_GT(lines, 0) << seen;
}


// The JSON findings of check, one object a line, each as "code@line:column severity".
std::vector<std::string> json_findings(const std::string& out) {
  std::vector<std::string> found;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    std::string o = out.substr(at, end - at);
    auto field = [&](const std::string& name) {
      size_t p = o.find("\"" + name + "\":");
      if (p == std::string::npos) return std::string("?");
      p += name.size() + 3;
      if (o[p] == '"') return o.substr(p + 1, o.find('"', p + 1) - p - 1);
      return o.substr(p, o.find_first_of(",}", p) - p);
    };
    EXPECT_TRUE(holds(o, {"\"file\":\"", "\"text\":\""}));
    found.push_back(field("code") + "@" + field("line") + ":" + field("column") + " " + field("severity"));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return found;
}

TEST(TalvenPackFrictions, CheckFindingsAsJsonWithCodeLineAndColumn) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  struct row {
    const char* what;
    std::string env;                          // after three lines of settings
    void (*tree)(const fs::path&);            // a change to the game folder, or null
    std::string expected;                     // "code@line:column severity", "" for none
    int code;
  };
  const row rows[] = {
      {"plain space in the title", "TITLEBAR\t月影の譜 体験版\r\n", nullptr, "value-space@4:14 warning", 1},
      {"comment after a value", "INSTFOL\tTALVEN  // note\r\n", nullptr, "", 0},
      {"single backslash", "[reg]\r\n\"Save\"=\"REP_INSTALL\\save\"\r\n-\r\n", nullptr,
       "reg-single-backslash@5:20 warning", 1},
      {"doubled backslash", "[reg]\r\n\"Save\"=\"REP_INSTALL\\\\save\"\r\n-\r\n", nullptr, "", 0},
      // The section reader ends [reg] at the next header: only the last one open stops it.
      {"reg closed by the next header", "[reg]\r\n\"A\"=\"1\"\r\n[delfiles]\r\nsave\\\r\n-\r\n", nullptr, "", 0},
      {"last section open", "[delfiles]\r\nsave\\\r\n", nullptr, "section-unclosed@4:0 error", 2},
      {"device file", "", [](const fs::path& g) { write_text(g / "aux.txt", "x"); }, "name-refused@0:0 error", 2},
      {"device folder", "", [](const fs::path& g) { write_text(g / "con/data.bin", "x"); }, "name-refused@0:0 error",
       2},
      {"picture of another size", "",
       [](const fs::path& g) {
         unsigned char pixels[640 * 4 * 3] = {};
         std::vector<unsigned char> rct(talven::rct_encode_bound(640, 4, 0));
         size_t n = talven::rct_encode(pixels, 640, 4, talven::rct_tc00, nullptr, 0, rct.data(), rct.size());
         write_text(g / "insttscr.rct", std::string(rct.begin(), rct.begin() + static_cast<long>(n)));
       },
       "picture-size@0:0 warning", 1},
      {"over 2 GiB in all", "",
       [](const fs::path& g) {
         for (const char* big : {"movie1.mpg", "movie2.mpg"}) {
           write_text(g / big, "");
           fs::resize_file(g / big, 1100ull << 20);  // sparse: nothing is read or stored
         }
       },
       "package-size@0:0 warning", 1},
  };
  for (const row& r : rows) {
    // A device name is no file on Windows.
    if (package_kit::windows_build() && std::string(r.what).rfind("device", 0) == 0) continue;
    fs::remove_all(game);
    make_game(game, "EXENAME\tgame.exe\r\nREG_GLOBAL\tTALVEN\r\nREG_LOCAL\tGame\r\n" + r.env);
    if (r.tree) r.tree(game);
    result got = s.run({"check", "--json", game.string()});
    std::vector<std::string> found = json_findings(got.out);
    EXPECT_EQ(got.code, r.code) << r.what << "\n" << got.out;
    if (r.expected.empty())
      EXPECT_TRUE(found.empty()) << r.what << "\n" << got.out;
    else
      EXPECT_NE(std::find(found.begin(), found.end(), r.expected), found.end()) << r.what << "\n" << got.out;
  }
}

TEST(TalvenPackFrictions, RefusedNamesNeverReachAPackageOrMedium) {
  if (package_kit::windows_build()) GTEST_SKIP() << "a name the reader refuses cannot be made on Windows";
  scratch s;
  fs::path game = make_game(s.dir / "game");
  write_text(game / "con/data.bin", "x");
  write_text(s.dir / "setup.exe", "MZ installer");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"pack", "--no-check", game.string(), (s.dir / "p.arc").string()},
        std::vector<std::string>{"medium", "--setup", (s.dir / "setup.exe").string(), game.string(),
                                 (s.dir / "medium").string()}}) {
    EXPECT_TRUE(exits_with(s.run(args), 1, "device name")) << args[0];
  }
  EXPECT_FALSE(fs::exists(s.dir / "p.arc"));
  EXPECT_FALSE(fs::exists(s.dir / "medium"));  // the refused run takes back the folder it made
}

TEST(TalvenPackFrictions, Utf8TextGoesIntoThePackageAsCp932) {
  scratch s;
  std::string env = std::string(u8"TITLEBAR\t月影の譜\n") + "EXENAME\tgame.exe\nINSTREADMEFL\treadme.txt\n";
  fs::path game = make_game(s.dir / "game", env);
  write_text(game / "readme.txt", u8"お読みください\n");
  result r = s.run({"check", "--json", game.string()});
  std::vector<std::string> found = json_findings(r.out);
  EXPECT_NE(std::find(found.begin(), found.end(), "settings-utf8@1:0 warning"), found.end()) << r.out;
  EXPECT_NE(std::find(found.begin(), found.end(), "readme-utf8@0:0 warning"), found.end()) << r.out;
  std::string pkg = (s.dir / "p.arc").string();
  r = s.run({"pack", game.string(), pkg});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("2 warnings above"), std::string::npos) << r.out;
  ASSERT_EQ(s.run({"extract", pkg, (s.dir / "x").string()}).code, 0);
  EXPECT_EQ(read_text(s.dir / "x/install.env"), "TITLEBAR\t月影の譜\r\nEXENAME\tgame.exe\r\nINSTREADMEFL\treadme.txt\r\n");
  EXPECT_EQ(read_text(s.dir / "x/readme.txt"), "お読みください\r\n");
  EXPECT_EQ(read_text(game / "install.env"), env);  // the game folder as it was

  // check --fix converts in place and keeps the UTF-8 text, which pack leaves out.
  ASSERT_EQ(s.run({"check", "--fix", game.string()}).code, 1) << "the readme is still UTF-8";
  EXPECT_EQ(read_text(game / "install.env.bak"), env);
  r = s.run({"pack", "-q", game.string(), pkg});
  ASSERT_EQ(r.code, 0) << r.err;  // errors are printed whatever -q says
  EXPECT_EQ(s.run({"list", pkg}).out.find("install.env.bak"), std::string::npos);
}

TEST(TalvenPackFrictions, ExtractPatternsFollowTar) {
  scratch s;
  fs::path game = s.dir / "game";
  write_text(game / "top.csv", "1");
  write_text(game / u8"表示/a.csv", "2");
  write_text(game / u8"表示/sub/b.csv", "3");
  write_text(game / u8"表示/c.txt", "4");
  std::string pkg = (s.dir / "p.arc").string();
  ASSERT_EQ(s.run({"pack", "-q", "--no-check", game.string(), pkg}).code, 0);
  struct row {
    std::vector<std::string> names;
    std::vector<std::string> written;  // every file the run leaves
  };
  const row rows[] = {
      {{"*.csv"}, {"top.csv", u8"表示/a.csv", u8"表示/sub/b.csv"}},
      {{u8"表示/*"}, {u8"表示/a.csv", u8"表示/sub/b.csv", u8"表示/c.txt"}},
      {{u8"表示\\sub"}, {u8"表示/sub/b.csv"}},
      {{"top.csv", "*.png"}, {}},  // one NAME matches nothing: nothing at all is written
  };
  for (const row& r : rows) {
    fs::path out = s.dir / "out";
    fs::remove_all(out);
    std::vector<std::string> args = {"extract", "-q", pkg, out.string()};
    args.insert(args.end(), r.names.begin(), r.names.end());
    result got = s.run(args);
    EXPECT_EQ(got.code, r.written.empty() ? 1 : 0) << r.names[0] << got.err;
    std::vector<std::string> files;
    if (fs::exists(out))
      for (const fs::directory_entry& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), out).string());
    std::sort(files.begin(), files.end());
    std::vector<std::string> want = r.written;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(files, want) << r.names[0];
    EXPECT_EQ(fs::exists(out), !r.written.empty()) << r.names[0];
  }
}

TEST(TalvenPackFrictions, UsageErrorsAreOneLineWithExitTwo) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  write_text(s.dir / "p.arc", "x");
  write_text(s.dir / "readme.txt", u8"お読みください\n");
  struct row {
    std::vector<std::string> args;
    int code;
    const char* piece;
  };
  const row rows[] = {
      {{"pack", "--levle", "8", game.string(), "o.arc"}, 2, "did you mean --level?"},
      {{"pack", game.string()}, 2, "missing OUT"},
      {{"pack", (s.dir / "p.arc").string(), game.string()}, 2, "the game folder comes first"},
      {{"check", "nosuch"}, 2, "no such folder: nosuch"},
      {{"pakc"}, 2, "did you mean pack?"},
      {{"extract", "p.arc"}, 2, "missing DIR"},
      {{"medium", "--forse", game.string(), "m"}, 2, "did you mean --force?"},
      {{"medium", game.string(), (game / "out").string()}, 2, "inside the game folder"},
      {{"medium", "--iso", (s.dir / "g.iso").string(), "--label", std::string(33, 'L'), game.string(),
        (s.dir / "m").string()},
       package_kit::windows_build() ? 1 : 2,
       package_kit::windows_build() ? "makes no ISO image" : "holds 32"},
      {{"verify", (s.dir / "readme.txt").string()}, 1, "not an install package"},
  };
  for (const row& r : rows) {
    result got = s.run(r.args);
    EXPECT_EQ(got.code, r.code) << r.args[0] << " " << r.args[1] << "\n" << got.err;
    EXPECT_NE(got.err.find(r.piece), std::string::npos) << got.err;
    EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1) << got.err;
  }
  EXPECT_FALSE(fs::exists(s.dir / "m"));
  EXPECT_FALSE(fs::exists(game / "out"));
}

TEST(TalvenPackFrictions, VersionControlLitterIsLeftOutUnlessKept) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  for (const char* litter : {".git/config", ".svn/entries", "Thumbs.db", u8"データ/desktop.ini", ".DS_Store",
                             "install.env~", "old.bak", ".game.exe.swp"})
    write_text(game / litter, "x");
  std::string pkg = (s.dir / "p.arc").string();
  result r = s.run({"pack", game.string(), pkg});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("left out 8 version-control folders, system files and editor backups (--include-vcs"),
            std::string::npos)
      << r.out;
  std::string listed = s.run({"list", pkg}).out;
  for (const char* gone : {".git", ".svn", "Thumbs.db", "desktop.ini", ".DS_Store", "install.env~", "old.bak", ".swp"})
    EXPECT_EQ(listed.find(gone), std::string::npos) << gone;
  ASSERT_EQ(s.run({"pack", "-q", "--no-check", "--include-vcs", game.string(), pkg}).code, 0);
  listed = s.run({"list", pkg}).out;
  for (const char* kept : {".git\\config", "Thumbs.db", "install.env~"})
    EXPECT_NE(listed.find(kept), std::string::npos) << kept;
}

TEST(TalvenPackFrictions, MediumForceSummaryAndQuietXorriso) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  write_text(s.dir / "setup.exe", "MZ installer");
  fs::path out = s.dir / "medium";
  write_text(out / "old.txt", "from before");
  std::vector<std::string> args = {"medium", "--setup", (s.dir / "setup.exe").string(), game.string(), out.string()};
  // The Windows build makes no image (no xorriso there).
  bool iso = !package_kit::windows_build();
  if (iso) args.insert(args.begin() + 3, {"--iso", (s.dir / "g.iso").string()});
  result r = s.run(args);
  EXPECT_TRUE(exits_with(r, 1, "--force"));
  args.insert(args.begin() + 1, "-y");
  r = s.run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(fs::exists(out / "old.txt"));
  EXPECT_EQ(fs::exists(s.dir / "g.iso"), iso);
  EXPECT_EQ(r.err, "");  // xorriso's banner and notes stay hidden when it works
  EXPECT_EQ(r.out.find("instdat.arc"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find((out / "setup.exe").string()), std::string::npos) << r.out;
  // -q: nothing but warnings and errors.
  EXPECT_EQ(s.run({"medium", "-q", "-y", "--setup", (s.dir / "setup.exe").string(), game.string(), out.string()}).out,
            "");
}

TEST(TalvenPackFrictions, ClosedPipeLeavesNoTemporaryFile) {
  scratch s;
  make_mixed_tree(s.dir / "game");
  // Killed by SIGPIPE, and with SIGPIPE ignored (or on Windows) ended by the failure of its
  // first write: the reader is gone long before the first entry is packed at --best.
  for (const char* line : {"$P pack -v --best --threads 1 game p.arc | true",
                           "trap '' PIPE; $P pack -v --best --threads 1 game p.arc | true"}) {
    shell(s, line);
    for (const fs::directory_entry& e : fs::directory_iterator(s.dir))
      EXPECT_EQ(e.path().filename().string().rfind("p.arc", 0), std::string::npos) << line << ": " << e.path();
  }
}

TEST(TalvenPackFrictions, SummariesWrapBetweenWordsAndProgressEndsAtHundred) {
  if (package_kit::windows_build()) GTEST_SKIP() << "a pseudo-terminal is no Windows console";
  scratch s;
  make_game(s.dir / "game");
  result r = shell(s, "COLUMNS=30 script -qfec \"$P pack game p.arc; $P verify p.arc\" /dev/null");
  ASSERT_EQ(r.code, 0) << r.err;
  std::string words;
  size_t start = 0;
  while (start < r.out.size()) {
    size_t end = r.out.find_first_of("\r\n", start);
    if (end == std::string::npos) end = r.out.size();
    std::string line = r.out.substr(start, end - start);
    start = end + 1;
    if (line.rfind("packed", 0) != 0 && line.rfind("  ", 0) != 0) continue;
    // Within 29 columns, unless the line is one word (a path) too long to break.
    if (line.size() > 29) {
      EXPECT_EQ(line.find(' ', 2), std::string::npos) << line;
    }
    words += line + " ";
  }
  EXPECT_NE(words.find("packed 5 files and 1 folder"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("verifying 100%"), std::string::npos) << r.out;
}

TEST(TalvenPackFrictions, SmallerPoints) {
  scratch s;
  fs::path game = make_game(s.dir / "game");
  // A missing output folder is named as such.
  result r = s.run({"pack", game.string(), (s.dir / "no/such/p.arc").string()});
  EXPECT_TRUE(exits_with(r, 1, "does not exist"));
  // The text list shows the refused entry before the error that names it.
  std::string pkg = (s.dir / "bad.arc").string();
  package_kit::write_bytes(pkg, package_kit::package_of({package_kit::file_entry("ok.txt", "x"),
                                                         package_kit::file_entry("aux.txt", "y")}));
  r = s.run({"list", pkg});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("aux.txt"), std::string::npos) << r.out;
  // archive: clashes in path order, counted.
  for (const char* name : {"D/y.dat", "A/x.dat", "C/Y.dat", "B/X.dat"}) write_text(s.dir / "data" / name, name);
  r = s.run({"archive", (s.dir / "data").string(), (s.dir / "data.arc").string()});
  EXPECT_EQ(r.code, 1);
  size_t first = r.err.find("A/x.dat and B/X.dat"), second = r.err.find("C/Y.dat and D/y.dat");
  EXPECT_NE(first, std::string::npos) << r.err;
  EXPECT_NE(second, std::string::npos) << r.err;
  EXPECT_LT(first, second) << r.err;
  EXPECT_NE(r.err.find("2 clashes"), std::string::npos) << r.err;
}
}  // namespace
