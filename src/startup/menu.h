// The main menu dialog MAINDIALOG.
#pragma once
#include <windows.h>

namespace talven {

INT_PTR CALLBACK menu_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace talven
