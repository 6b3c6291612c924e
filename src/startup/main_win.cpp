// GUI entry of setup.exe. The command line and the show-window argument are not used.
#include <windows.h>

#include "base/services.h"

#include "startup/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  talven::restrict_dll_search();
  return talven::run_startup(instance);
}
