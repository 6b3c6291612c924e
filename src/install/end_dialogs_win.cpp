// The desktop-shortcut question and the end-of-install dialog.
#include <windows.h>

#include "config/settings.h"
#include "install/install_steps.h"
#include "base/services.h"
#include "base/wide.h"
#include "resource_ids.h"

namespace talven {

int readme_chosen = 0;

namespace {

char readme_label[512];
const char* shortcut_destination = nullptr;

void put_on_top(HWND dialog) {
  center_on_screen(dialog);
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

INT_PTR CALLBACK shortcut_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(dialog, IDC_CHECK, BM_SETCHECK, 1, 0);
      put_on_top(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == 1) {
        if (SendDlgItemMessageW(dialog, IDC_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED &&
            shortcut_destination)
          make_desktop_shortcut(shortcut_destination);
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == 2) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

INT_PTR CALLBACK end_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(dialog, IDC_CHECK, BM_SETCHECK, 0, 0);
      SetDlgItemTextW(dialog, IDC_CHECK, wide_shown(readme_label).text);
      put_on_top(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == 1) {
        // Without the check box (the short template) the query yields 0.
        readme_chosen = SendDlgItemMessageW(dialog, IDC_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == 2) {
        readme_chosen = 0;
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void ask_desktop_shortcut(const char* destination) {
  shortcut_destination = destination;
  DialogBoxParamW(owner_instance(), L"MAKESHORTCUT", main_window(), shortcut_dialog_proc, 0);
  shortcut_destination = nullptr;
}

void show_end_dialog() {
  setting_string("INSTREADME", readme_label, sizeof readme_label, "-");
  if (readme_label[0] == '-') {
    DialogBoxParamW(owner_instance(), L"ENDINSTALL_VISTA_SHORT", main_window(), end_dialog_proc, 0);
    readme_chosen = 0;
  } else {
    DialogBoxParamW(owner_instance(), L"ENDINSTALL_VISTA", main_window(), end_dialog_proc, 0);
  }
}

}  // namespace talven
