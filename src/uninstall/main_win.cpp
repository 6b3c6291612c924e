// GUI entry of UnInst.exe. Its arguments are read only by the helper that removes the
// program after it has ended.
#include <windows.h>

#include "base/services.h"

#include "uninstall/uninstall.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  talven::restrict_dll_search();
  return talven::run_uninstall();
}
