// The line hooks of the settings store and the section reader, which the maker's checker
// uses to put line numbers on what the installer's readers make of install.env.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/sections.h"
#include "config/settings.h"
#include "env_folder.h"

using namespace talven;

namespace {

struct seen_line {
  int kind;
  std::string key, value;
};

void on_setting(void* context, int kind, const char* raw, const char* key, const char* value) {
  static_cast<std::vector<seen_line>*>(context)->push_back({kind, key ? key : "", value ? value : ""});
}

TEST(ConfigHooks, SettingsHookSeesEveryReadTheStoreCounts) {
  reset_settings_for_tests();
  std::vector<seen_line> seen;
  set_settings_line_hook(on_setting, &seen);
  FILE* f = stream_of("A\tb|c\r\n// note\r\nKEY\r\n" + std::string(600, 'k') + " v\r\n[EOF]\r\nX\ty\r\n");
  load_settings_stream(f);
  std::fclose(f);
  set_settings_line_hook(nullptr, nullptr);
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0].kind, settings_line_entry);
  EXPECT_EQ(seen[0].key, "A");
  EXPECT_EQ(seen[0].value, "b|c");  // as written; the store holds "b c"
  EXPECT_EQ(seen[1].kind, settings_line_skipped);
  EXPECT_EQ(seen[2].kind, settings_line_no_value);
  EXPECT_EQ(seen[2].key, "KEY");
  EXPECT_EQ(seen[3].kind, settings_line_no_value);  // 511 bytes of key, no value in the piece
  EXPECT_EQ(seen[4].kind, settings_line_entry);  // the rest of the line forms its own entry
  EXPECT_EQ(seen[4].key, std::string(89, 'k'));
  EXPECT_EQ(seen[4].value, "v");
  EXPECT_EQ(seen[5].kind, settings_line_end_marker);
  char area[16];
  EXPECT_STREQ(setting_string("A", area, sizeof area, "-"), "b c");
  EXPECT_STREQ(setting_string("X", area, sizeof area, "-"), "-");
  reset_settings_for_tests();
}

struct seen_section {
  int line, kind;
  std::string section, text;
};

void on_section(void* context, int line, int kind, const char* section, const char* text) {
  static_cast<std::vector<seen_section>*>(context)->push_back({line, kind, section ? section : "", text});
}

TEST(ConfigHooks, SectionsHookGivesPhysicalLines) {
  reset_sections_for_tests();
  std::vector<seen_section> seen;
  set_sections_line_hook(on_section, &seen);
  const char* open = nullptr;
  FILE* f = stream_of("KEY\tv\r\n[reg]\r\n\"a\"=\"b\"\r\n" + std::string(600, 'x') + "\r\n-\r\n\r\n[ini]\r\nA=B\r\n");
  EXPECT_EQ(load_sections_stream(f, &open), -1);
  std::fclose(f);
  set_sections_line_hook(nullptr, nullptr);
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0].line, 2);
  EXPECT_EQ(seen[0].kind, section_line_open);
  EXPECT_EQ(seen[0].section, "reg");
  EXPECT_EQ(seen[1].line, 3);
  EXPECT_EQ(seen[1].text, "\"a\"=\"b\"");
  EXPECT_EQ(seen[2].line, 4);  // both pieces of the long line are entries of line 4
  EXPECT_EQ(seen[3].line, 4);
  EXPECT_EQ(seen[4].kind, section_line_close);
  EXPECT_EQ(seen[4].line, 5);
  EXPECT_EQ(seen[5].line, 7);
  EXPECT_EQ(seen[5].section, "ini");
  EXPECT_EQ(seen[6].line, 8);
  EXPECT_STREQ(open, "ini");
  ASSERT_NE(state().reg_lines, nullptr);
  EXPECT_STREQ(state().reg_lines->text, "\"a\"=\"b\"");
  reset_sections_for_tests();
}

}  // namespace
