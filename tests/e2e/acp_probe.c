/* Prints the code pages this process was given: "acp=N oemcp=N". The rig's locale
   switch and the UTF-8 manifest are checked with it (tests/e2e/test_codepages_*.sh). */
#include <windows.h>
#include <stdio.h>
int main(void) {
  printf("acp=%u oemcp=%u\n", GetACP(), GetOEMCP());
  return 0;
}
