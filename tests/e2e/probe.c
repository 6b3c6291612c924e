/* The e2e tests' probe: a stand-in for a program that setup.exe starts. It reports how it
   was started; see tests/e2e/menu_lib.sh. */
#include <windows.h>
#include <stdio.h>
int main(int argc, char** argv) {
  char report[MAX_PATH], copy[MAX_PATH + 8], cwd[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("PROBE_REPORT", report, sizeof report);
  if (n == 0 || n >= sizeof report) return 3;
  FILE* f = fopen(report, "wb");
  if (!f) return 4;
  GetCurrentDirectoryA(sizeof cwd, cwd);
  fprintf(f, "cwd=%s\ncmdline=%s\narg1=%s\n", cwd, GetCommandLineA(), argc > 1 ? argv[1] : "");
  fclose(f);
  if (argc > 1) {
    snprintf(copy, sizeof copy, "%s.copy", report);
    CopyFileA(argv[1], copy, FALSE);
  }
  return 0;
}
