// Entry-line parsing and marker replacement, with the install folder D:\Games\X and the
// CD-ROM drive Q: unless a test says otherwise.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/install.h"
#include "install/markers.h"

using namespace talven;

namespace {

const char* const folder = "D:\\Games\\X";
const char* const cd = "Q:\\";

// A parsed line: the result, then the key (an [ini] key or a registry value's name) and value.
struct entry {
  int rc;
  std::string key, value;
  bool operator==(const entry& o) const { return rc == o.rc && key == o.key && value == o.value; }
};
void PrintTo(const entry& e, std::ostream* os) { *os << "{" << e.rc << ", \"" << e.key << "\", \"" << e.value << "\"}"; }
// A refused line leaves both buffers as they were.
const entry refused = {-1, "untouched", "untouched"};

entry ini(const std::string& line, const char* install = folder) {
  char key[ini_key_size], value[ini_value_size];
  std::strcpy(key, "untouched");
  std::strcpy(value, "untouched");
  int rc = parse_ini_entry_with(line.c_str(), install, cd, key, value);
  return {rc, key, value};
}

entry reg(const std::string& line, const char* install = folder) {
  char name[reg_name_size], value[reg_value_size];
  std::strcpy(name, "untouched");
  std::strcpy(value, "untouched");
  int rc = parse_reg_entry_with(line.c_str(), install, cd, name, value);
  return {rc, name, value};
}

std::string quoted(const std::string& name, const std::string& value) {
  return "\"" + name + "\"=\"" + value + "\"";
}

}  // namespace

TEST(Markers, WorkedExamples) {
  EXPECT_EQ(ini("SavePath=REP_INSTALL\\save"), (entry{0, "SavePath", "D:\\Games\\X\\save"}));
  EXPECT_EQ(ini("Disc=REP_CDROMDRIVE"), (entry{0, "Disc", "Q:\\"}));
  // Unescaping came first: the folder keeps its backslashes.
  EXPECT_EQ(reg(quoted("Path", "REP_INSTALL")), (entry{0, "Path", "D:\\Games\\X"}));
  EXPECT_EQ(reg(quoted("Sub", "D:\\\\Data")), (entry{0, "Sub", "D:\\Data"}));
}

TEST(Markers, WhichMarkersEachFormKnows) {
  // Only the first occurrence of a marker is replaced.
  EXPECT_EQ(ini("k=REP_INSTALL;REP_INSTALL").value, "D:\\Games\\X;REP_INSTALL");
  // [ini] knows only the long CD marker.
  EXPECT_EQ(ini("k=REP_CDROM").value, "REP_CDROM");
  // A registry line gets the root followed by the letters DRIVE.
  EXPECT_EQ(reg(quoted("k", "REP_CDROMDRIVE")).value, "Q:\\DRIVE");
  // Both markers in one line, and in the key.
  EXPECT_EQ(ini("REP_INSTALL=REP_CDROMDRIVE"), (entry{0, "D:\\Games\\X", "Q:\\"}));
  EXPECT_EQ(reg(quoted("REP_CDROM", "REP_INSTALL\\\\bin")), (entry{0, "Q:\\", "D:\\Games\\X\\bin"}));
  // No install folder known: the marker goes away rather than staying literally.
  EXPECT_EQ(ini("k=REP_INSTALL\\s", nullptr).value, "\\s");
}

TEST(Markers, IniForm) {
  EXPECT_EQ(ini("Opt=a=b=c"), (entry{0, "Opt", "a=b=c"}));
  EXPECT_EQ(ini("=value only"), (entry{0, "", "value only"}));
  EXPECT_EQ(ini(" spaced key = spaced value "), (entry{0, " spaced key ", " spaced value "}));
  EXPECT_EQ(ini("no separator REP_INSTALL"), refused);
}

TEST(Markers, RegistryForm) {
  // A backslash before a quote keeps the quote and loses the backslash.
  EXPECT_EQ(reg(quoted("Say", "a\\\"b")).value, "a\"b");
  // The first byte is dropped whatever it is.
  EXPECT_EQ(reg("xName\"=\"v\""), (entry{0, "Name", "v"}));
  // Only a closing quote is removed.
  EXPECT_EQ(reg("\"Open\"=\"no close").value, "no close");
  EXPECT_EQ(reg("\"Empty\"=\"").value, "");
  // A separator at the very start gives an empty name.
  EXPECT_EQ(reg("\"=\"v\""), (entry{0, "", "v"}));
  // The form needs the three characters together.
  EXPECT_EQ(reg("\"Name\" = \"v\""), refused);
  EXPECT_EQ(reg("Name=v").rc, -1);
  // Later `"="` belong to the value.
  EXPECT_EQ(reg(quoted("a", "b\"=\"c")).value, "b\"=\"c");
}

TEST(Markers, DoubleByteCharactersAreSteppedOver) {
  // "コ" is 0x83 0x52: its second byte is "R", so "コEP_INSTALL" holds the bytes of the
  // marker without holding the marker.
  EXPECT_EQ(ini("k=コEP_INSTALL").value, "コEP_INSTALL");
  EXPECT_EQ(ini("k=コEP_INSTALLREP_INSTALL").value, "コEP_INSTALLD:\\Games\\X");
  // "表" is 0x95 0x5C: never taken for a backslash, and survives the unescaping.
  EXPECT_STREQ(unescape_backslashes("C:表x"), "C:表x");
  EXPECT_STREQ(unescape_backslashes("表\\\\表"), "表\\表");
  // A backslash escaping a double-byte character keeps the whole character.
  EXPECT_STREQ(unescape_backslashes("\\表x"), "表x");
  EXPECT_EQ(reg(quoted("名前", "C:\\\\ゲーム表\\\\")), (entry{0, "名前", "C:\\ゲーム表\\"}));
  // A folder ending in 表 is inserted unchanged.
  EXPECT_EQ(ini("Path=REP_INSTALL", "C:\\表").value, "C:\\表");
}

TEST(Markers, Unescaping) {
  const char* const rows[][2] = {
      {"a\\\\b", "a\\b"}, {"a\\\\\\\\b", "a\\\\b"}, {"\\a\\b\\c", "abc"}, {"end\\", "end"}, {"none", "none"}};
  for (const auto& r : rows) EXPECT_STREQ(unescape_backslashes(r[0]), r[1]) << r[0];
}

TEST(Markers, ExpansionReturnsItsOwnBuffer) {
  const char* a = expand_ini_markers_with("x=REP_INSTALL", folder, cd);
  const char* b = expand_reg_markers_with("\"x\"=\"REP_CDROM\"", folder, cd);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, "x=D:\\Games\\X");
  EXPECT_STREQ(b, "\"x\"=\"Q:\\\"");
  EXPECT_STREQ(expand_ini_markers_with("plain", folder, cd), "plain");
}

TEST(Markers, OverlongTextsAreRefused) {
  // The expansion may use 511 bytes and no more.
  std::string install(250, 'i');
  std::string filler(511 - 2 - 250, 'f');
  std::string line = "k=" + filler + "REP_INSTALL";
  const char* fitting = expand_ini_markers_with(line.c_str(), install.c_str(), cd);
  ASSERT_NE(fitting, nullptr);
  EXPECT_EQ(std::strlen(fitting), 511u);
  EXPECT_EQ(expand_ini_markers_with((line + "+").c_str(), install.c_str(), cd), nullptr);
  EXPECT_EQ(ini(line + "+", install.c_str()), refused);
  EXPECT_EQ(ini(line, install.c_str()).rc, 0);
  // An input line that is itself too long.
  EXPECT_EQ(expand_reg_markers_with(std::string(512, 'a').c_str(), folder, cd), nullptr);
  EXPECT_EQ(unescape_backslashes(std::string(512, 'a').c_str()), nullptr);
  EXPECT_EQ(ini(std::string(300, 'k') + "=" + std::string(300, 'v')).rc, -1);

  // INI key: 259 bytes fit its 260-byte buffer, 260 do not.
  EXPECT_EQ(ini(std::string(259, 'k') + "=v").rc, 0);
  EXPECT_EQ(ini(std::string(260, 'k') + "=v").rc, -1);

  // Registry value: 259 bytes fit, 260 are refused; the folder counts after insertion.
  EXPECT_EQ(reg(quoted("n", std::string(259, 'v'))).value, std::string(259, 'v'));
  EXPECT_EQ(reg(quoted("n", std::string(260, 'v'))), refused);
  std::string near(259 - std::strlen(folder), 'v');
  EXPECT_EQ(reg(quoted("n", "REP_INSTALL" + near)).rc, 0);
  EXPECT_EQ(reg(quoted("n", "REP_INSTALL" + near + "v")).rc, -1);
  // A long name fits its 512-byte buffer.
  EXPECT_EQ(reg(quoted(std::string(400, 'n'), "v")).key, std::string(400, 'n'));
}

TEST(Markers, ReplaceFirstMarkerBounds) {
  char text[16] = "aMbMc";
  EXPECT_EQ(replace_first_marker(text, sizeof text, "M", "<>"), 0);
  EXPECT_STREQ(text, "a<>bMc");
  EXPECT_EQ(replace_first_marker(text, sizeof text, "absent", "zzz"), 0);
  EXPECT_STREQ(text, "a<>bMc");
  // 6 - 1 + 10 = 15 bytes and the NUL fill the 16 exactly; one more is refused.
  EXPECT_EQ(replace_first_marker(text, sizeof text, "M", "0123456789"), 0);
  EXPECT_STREQ(text, "a<>b0123456789c");
  char full[16] = "xMx";
  EXPECT_EQ(replace_first_marker(full, sizeof full, "M", "0123456789abcd"), -1);
  EXPECT_STREQ(full, "xMx");
}

TEST(Markers, HostRootFillsBothCdMarkers) {
  // The host has no CD-ROM drive, so both CD markers give the fallback root.
  const char* root = cdrom_root();
  EXPECT_STREQ(root, "E:\\");
  const char* folder = "C:\\Program Files\\Game";
  char key[ini_key_size], value[ini_value_size];
  ASSERT_EQ(parse_ini_entry_with("Disc=REP_CDROMDRIVE|REP_INSTALL", folder, root, key, value), 0);
  EXPECT_STREQ(key, "Disc");
  EXPECT_STREQ(value, "E:\\|C:\\Program Files\\Game");
  char name[reg_name_size], text[reg_value_size];
  ASSERT_EQ(parse_reg_entry_with("\"Cd\"=\"REP_CDROM\"", folder, root, name, text), 0);
  EXPECT_STREQ(name, "Cd");
  EXPECT_STREQ(text, "E:\\");
}
