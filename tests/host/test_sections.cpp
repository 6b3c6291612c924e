// The entry sections of install.env: line trimming, section rules and the two fatal ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/sections.h"
#include "env_folder.h"

using namespace talven;

namespace {

// Loads text; the result of load_sections_stream, with the open section's name.
int load_text(const std::string& text, std::string* open_name = nullptr) {
  FILE* stream = stream_of(text);
  if (!stream) return -2;
  const char* open = nullptr;
  int result = load_sections_stream(stream, &open);
  std::fclose(stream);
  if (open_name) *open_name = open ? open : "";
  return result;
}

std::vector<std::string> texts(const line_entry* list) {
  std::vector<std::string> out;
  for (; list; list = list->next) out.push_back(list->text);
  return out;
}

// A regular expression that matches exactly the given bytes.
std::string literal_regex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

class Sections : public ::testing::Test {
 protected:
  void SetUp() override { reset_sections_for_tests(); }
  void TearDown() override { reset_sections_for_tests(); }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(Sections, TrimmedLineReading) {
  std::string long_line = "  lead" + std::string(594, 'x');  // 600 bytes
  FILE* stream = stream_of("  keep leading \t\r\n" + long_line + "\n\ntrailing\x01\x02");
  ASSERT_NE(stream, nullptr);
  char area[512];
  for (const std::string& line : {std::string("  keep leading"), long_line.substr(0, 511), long_line.substr(511),
                                  std::string(), std::string("trailing")}) {
    ASSERT_NE(read_trimmed_line(area, sizeof area, stream), nullptr) << line;
    EXPECT_EQ(std::string(area), line);
  }
  EXPECT_EQ(read_trimmed_line(area, sizeof area, stream), nullptr);
  std::fclose(stream);
}

TEST_F(Sections, KeyValueFileLeavesListsEmpty) {
  EXPECT_EQ(load_text("TITLEBAR Game\nINSTTO x\n[EOF]\nmore text\n"), 0);
  for (const line_entry* list : {state().ini_lines, state().reg_lines, state().regall_lines, state().delfiles_lines,
                                 state().delfiles_user_lines})
    EXPECT_EQ(list, nullptr);
}

TEST_F(Sections, EntriesInFileOrderPerSection) {
  EXPECT_EQ(load_text("TITLEBAR Game\n"
                      "[reg] trailing remark\n"
                      "\"A\"=\"1\"\n"
                      "\"B\"=\"2\"\n"
                      "-\n"
                      "outside\n"
                      "[regall]\n\"M\"=\"m\"\n-\n"
                      "[delfiles]\nsave\\*.dat\n-\n"
                      "[delfiles_user]\nuser.dat\n-\n"
                      "[ini]\nk=v\n-\n"),
            0);
  EXPECT_EQ(texts(state().reg_lines), (Strings{"\"A\"=\"1\"", "\"B\"=\"2\""}));
  EXPECT_EQ(texts(state().regall_lines), (Strings{"\"M\"=\"m\""}));
  EXPECT_EQ(texts(state().delfiles_lines), (Strings{"save\\*.dat"}));
  EXPECT_EQ(texts(state().delfiles_user_lines), (Strings{"user.dat"}));
  EXPECT_EQ(texts(state().ini_lines), (Strings{"k=v"}));
}

TEST_F(Sections, CommentsBlanksAndWhiteSpaceInsideASection) {
  EXPECT_EQ(load_text("[ini]\n"
                      "; remark\n"
                      "// remark\n"
                      "\n"
                      "   \t\n"
                      "   indented=1   \n"
                      "[EOF]\n"
                      "/single=slash\n"
                      "--- end of ini\n"
                      "after=close\n"),
            0);
  EXPECT_EQ(texts(state().ini_lines), (Strings{"   indented=1", "[EOF]", "/single=slash"}));
}

TEST_F(Sections, RepeatedSectionReplacesItsLines) {
  EXPECT_EQ(load_text("[reg]\n\"old1\"=\"1\"\n\"old2\"=\"2\"\n-\n"
                      "[ini]\nkeep=1\n-\n"
                      "[reg]\n\"new\"=\"3\"\n-\n"),
            0);
  EXPECT_EQ(texts(state().reg_lines), (Strings{"\"new\"=\"3\""}));
  EXPECT_EQ(texts(state().ini_lines), (Strings{"keep=1"}));
  // A header met while another section is open simply switches to it.
  reset_sections_for_tests();
  EXPECT_EQ(load_text("[ini]\na=1\n[reg]\n\"b\"=\"2\"\n-\n"), 0);
  EXPECT_EQ(texts(state().ini_lines), (Strings{"a=1"}));
  EXPECT_EQ(texts(state().reg_lines), (Strings{"\"b\"=\"2\""}));
}

TEST_F(Sections, SimilarHeadersDoNotClash) {
  EXPECT_EQ(load_text("[delfiles_user]\nu\n-\n[delfiles]\nd\n-\n[regall]\nall\n-\n[reg]\nuser\n-\n"
                      "[regallx]\n[register]\n[Reg]\n"),
            0);
  EXPECT_EQ(texts(state().delfiles_user_lines), (Strings{"u"}));
  EXPECT_EQ(texts(state().delfiles_lines), (Strings{"d"}));
  EXPECT_EQ(texts(state().regall_lines), (Strings{"all"}));
  EXPECT_EQ(texts(state().reg_lines), (Strings{"user"}));
}

TEST_F(Sections, EndOfReadingAndUnclosedSections) {
  std::string open;
  // "EOF" stops the reading: lines after it are never seen.
  EXPECT_EQ(load_text("[ini]\na=1\n-\nEOF\n[ini]\nb=2\n-\n", &open), 0);
  EXPECT_EQ(texts(state().ini_lines), (Strings{"a=1"}));
  EXPECT_EQ(open, "");
  // Unclosed, named by the section left open; the end-of-file byte ends a section's file too.
  const char* const unclosed[][2] = {{"[regall]\n\"a\"=\"b\"\n", "regall"},
                                     {"[ini]\nx=1\nEOF\n-\n", "ini"},
                                     {"[delfiles_user]\n", "delfiles_user"},
                                     {"[reg]\n\"a\"=\"1\"\n\x1A-\n", "reg"}};
  for (const auto& u : unclosed) {
    reset_sections_for_tests();
    EXPECT_EQ(load_text(u[0], &open), -1) << u[0];
    EXPECT_EQ(open, u[1]);
  }
}

TEST_F(Sections, LoadsFromTheCurrentFolder) {
  env_folder here("TITLEBAR x\r\n[ini]\r\nSavePath=REP_INSTALL\\save\r\n-\r\n[EOF]\r\n");
  ASSERT_TRUE(here.ok());
  load_uninstall_sections("install.env");
  EXPECT_EQ(texts(state().ini_lines), (Strings{"SavePath=REP_INSTALL\\save"}));
}

using SectionsDeathTest = Sections;

TEST_F(SectionsDeathTest, MissingFileEndsTheProgram) {
  // Cancel is what the host's message box answers; exit(-1) shows as status 255.
  EXPECT_EXIT(load_uninstall_sections("/nonexistent/no_such.env"), ::testing::ExitedWithCode(255),
              literal_regex("[/nonexistent/no_such.env]ファイルを開けませんでした。"));
}

TEST_F(SectionsDeathTest, UnclosedSectionEndsTheProgram) {
  char name[] = "/tmp/sections_open_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const char text[] = "[reg]\n\"a\"=\"1\"\nEOF\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  close(fd);
  EXPECT_EXIT(load_uninstall_sections(name), ::testing::ExitedWithCode(255),
              literal_regex("[設定.env]の[reg]が終了していません"));
  std::remove(name);
}
