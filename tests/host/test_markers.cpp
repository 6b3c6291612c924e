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

struct ini_result {
  int rc;
  std::string key, value;
};

struct reg_result {
  int rc;
  std::string name, value;
};

ini_result ini(const std::string& line, const char* install = folder) {
  char key[ini_key_size], value[ini_value_size];
  std::strcpy(key, "untouched");
  std::strcpy(value, "untouched");
  int rc = parse_ini_entry_with(line.c_str(), install, cd, key, value);
  return {rc, key, value};
}

reg_result reg(const std::string& line, const char* install = folder) {
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
  ini_result a = ini("SavePath=REP_INSTALL\\save");
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.key, "SavePath");
  EXPECT_EQ(a.value, "D:\\Games\\X\\save");

  ini_result b = ini("Disc=REP_CDROMDRIVE");
  EXPECT_EQ(b.rc, 0);
  EXPECT_EQ(b.key, "Disc");
  EXPECT_EQ(b.value, "Q:\\");

  reg_result c = reg(quoted("Path", "REP_INSTALL"));
  EXPECT_EQ(c.rc, 0);
  EXPECT_EQ(c.name, "Path");
  EXPECT_EQ(c.value, "D:\\Games\\X");  // unescaping came first: the folder keeps its backslashes

  reg_result d = reg(quoted("Sub", "D:\\\\Data"));
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.name, "Sub");
  EXPECT_EQ(d.value, "D:\\Data");
}

TEST(Markers, WhichMarkersEachFormKnows) {
  // Only the first occurrence of a marker is replaced.
  EXPECT_EQ(ini("k=REP_INSTALL;REP_INSTALL").value, "D:\\Games\\X;REP_INSTALL");
  // [ini] knows only the long CD marker.
  EXPECT_EQ(ini("k=REP_CDROM").value, "REP_CDROM");
  // A registry line gets the root followed by the letters DRIVE.
  EXPECT_EQ(reg(quoted("k", "REP_CDROMDRIVE")).value, "Q:\\DRIVE");
  // Both markers in one line, and in the key.
  EXPECT_EQ(ini("REP_INSTALL=REP_CDROMDRIVE").key, "D:\\Games\\X");
  EXPECT_EQ(ini("REP_INSTALL=REP_CDROMDRIVE").value, "Q:\\");
  EXPECT_EQ(reg(quoted("REP_CDROM", "REP_INSTALL\\\\bin")).name, "Q:\\");
  EXPECT_EQ(reg(quoted("REP_CDROM", "REP_INSTALL\\\\bin")).value, "D:\\Games\\X\\bin");
  // No install folder known: the marker goes away rather than staying literally.
  EXPECT_EQ(ini("k=REP_INSTALL\\s", nullptr).value, "\\s");
}

TEST(Markers, IniForm) {
  ini_result r = ini("Opt=a=b=c");
  EXPECT_EQ(r.key, "Opt");
  EXPECT_EQ(r.value, "a=b=c");
  r = ini("=value only");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.key, "");
  EXPECT_EQ(r.value, "value only");
  r = ini(" spaced key = spaced value ");
  EXPECT_EQ(r.key, " spaced key ");
  EXPECT_EQ(r.value, " spaced value ");
  r = ini("no separator REP_INSTALL");
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.key, "untouched");
  EXPECT_EQ(r.value, "untouched");
}

TEST(Markers, RegistryForm) {
  // A backslash before a quote keeps the quote and loses the backslash.
  EXPECT_EQ(reg(quoted("Say", "a\\\"b")).value, "a\"b");
  // The first byte is dropped whatever it is.
  reg_result r = reg("xName\"=\"v\"");
  EXPECT_EQ(r.name, "Name");
  EXPECT_EQ(r.value, "v");
  // Only a closing quote is removed.
  EXPECT_EQ(reg("\"Open\"=\"no close").value, "no close");
  EXPECT_EQ(reg("\"Empty\"=\"").value, "");
  // A separator at the very start gives an empty name.
  r = reg("\"=\"v\"");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.name, "");
  EXPECT_EQ(r.value, "v");
  // The form needs the three characters together.
  r = reg("\"Name\" = \"v\"");
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.name, "untouched");
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
  EXPECT_EQ(reg(quoted("名前", "C:\\\\ゲーム表\\\\")).value, "C:\\ゲーム表\\");
  EXPECT_EQ(reg(quoted("名前", "C:\\\\ゲーム表\\\\")).name, "名前");
  // A folder ending in 表 is inserted unchanged.
  EXPECT_EQ(ini("Path=REP_INSTALL", "C:\\表").value, "C:\\表");
}

TEST(Markers, Unescaping) {
  EXPECT_STREQ(unescape_backslashes("a\\\\b"), "a\\b");
  EXPECT_STREQ(unescape_backslashes("a\\\\\\\\b"), "a\\\\b");
  EXPECT_STREQ(unescape_backslashes("\\a\\b\\c"), "abc");
  EXPECT_STREQ(unescape_backslashes("end\\"), "end");
  EXPECT_STREQ(unescape_backslashes("none"), "none");
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
  ini_result over = ini(line + "+", install.c_str());
  EXPECT_EQ(over.rc, -1);
  EXPECT_EQ(over.key, "untouched");
  EXPECT_EQ(over.value, "untouched");
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
  reg_result over_value = reg(quoted("n", std::string(260, 'v')));
  EXPECT_EQ(over_value.rc, -1);
  EXPECT_EQ(over_value.name, "untouched");
  EXPECT_EQ(over_value.value, "untouched");
  std::string near(259 - std::strlen(folder), 'v');
  EXPECT_EQ(reg(quoted("n", "REP_INSTALL" + near)).rc, 0);
  EXPECT_EQ(reg(quoted("n", "REP_INSTALL" + near + "v")).rc, -1);
  // A long name fits its 512-byte buffer.
  EXPECT_EQ(reg(quoted(std::string(400, 'n'), "v")).name, std::string(400, 'n'));
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
