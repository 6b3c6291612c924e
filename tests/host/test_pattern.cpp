// talven-pack's own shell patterns against the C library's fnmatch, which the Linux
// build used before the Windows build needed one of its own: every ASCII case agrees.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include "pattern.h"

namespace {

TEST(ShellPattern, AgreesWithFnmatch) {
  const char* patterns[] = {"*",     "*.txt", "a?c",   "[ab]*",  "[!ab]*", "[a-c]x", "\\*",   "*/b",  "a/*",
                            "a*b",   "*a*b*", "a/**",  "[]]x",   "[!]]x",  "x[",     "*.*.*", "?",    "a\\?b",
                            "[^a]b", "**/c",  "*b/c*", "a[/]b",  ""};
  const char* texts[] = {"",     "a",      "abc",  "a.txt", "b.txt",  "dir/a.txt", "*",   "a/b",   "x/b",
                         "a/c",  "ab",     "axb",  "a/b/c", "cx",     "]x",        "x[",  "a.b.c", "a?b",
                         "axxb", "bb",     "a/xb", "aa/b",  "a/b/cd", "zb"};
  for (const char* p : patterns)
    for (const char* t : texts)
      for (bool path : {false, true}) {
        bool want = fnmatch(p, t, path ? FNM_PATHNAME : 0) == 0;
        EXPECT_EQ(talven::pack::match_pattern(p, t, path), want) << "'" << p << "' on '" << t << "' path " << path;
      }
}

TEST(ShellPattern, QuestionMarkTakesOneUtf8Character) {
  // u8: this test file is compiled with CP932 literals like the rest.
  EXPECT_TRUE(talven::pack::match_pattern("?.dat", u8"曲.dat", true));
  EXPECT_FALSE(talven::pack::match_pattern("??.dat", u8"曲.dat", true));
  EXPECT_TRUE(talven::pack::match_pattern(u8"表示/*", u8"表示/画像.bmp", true));
  EXPECT_FALSE(talven::pack::match_pattern(u8"表示/*", u8"表示/画像/a.bmp", true));
}

}  // namespace
