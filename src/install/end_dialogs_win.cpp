// The desktop-shortcut question and the end-of-install dialog.
#include <windows.h>

#include "config/settings.h"
#include "install/install_steps.h"
#include "base/services.h"
#include "base/wide.h"
#include "resource_ids.h"

namespace talven {

namespace {

// What the end dialog shows and what the player chose there.
struct end_choice {
  char readme_label[512];
  int readme_chosen;
};

// lparam at creation: the install folder the shortcut points into.
INT_PTR CALLBACK shortcut_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SendDlgItemMessageW(dialog, IDC_CHECK, BM_SETCHECK, 1, 0);
      center_on_top(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == 1) {
        const char* destination = reinterpret_cast<const char*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (SendDlgItemMessageW(dialog, IDC_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED && destination)
          make_desktop_shortcut(destination);
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

// lparam at creation: the end_choice.
INT_PTR CALLBACK end_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  end_choice* choice = reinterpret_cast<end_choice*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SendDlgItemMessageW(dialog, IDC_CHECK, BM_SETCHECK, 0, 0);
      SetDlgItemTextW(dialog, IDC_CHECK, wide_shown(reinterpret_cast<end_choice*>(lparam)->readme_label).text);
      center_on_top(dialog);
      return TRUE;
    case WM_COMMAND:
      if (!choice) return FALSE;
      if (LOWORD(wparam) == 1) {
        // Without the check box (the short template) the query yields 0.
        choice->readme_chosen = SendDlgItemMessageW(dialog, IDC_CHECK, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == 2) {
        choice->readme_chosen = 0;
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void ask_desktop_shortcut(const char* destination) {
  DialogBoxParamW(owner_instance(), L"MAKESHORTCUT", main_window(), shortcut_dialog_proc,
                  reinterpret_cast<LPARAM>(destination));
}

int show_end_dialog() {
  end_choice choice = {};
  setting_string("INSTREADME", choice.readme_label, sizeof choice.readme_label, "-");
  LPARAM param = reinterpret_cast<LPARAM>(&choice);
  if (choice.readme_label[0] == '-') {
    DialogBoxParamW(owner_instance(), L"ENDINSTALL_VISTA_SHORT", main_window(), end_dialog_proc, param);
    return 0;
  }
  DialogBoxParamW(owner_instance(), L"ENDINSTALL_VISTA", main_window(), end_dialog_proc, param);
  return choice.readme_chosen;
}

}  // namespace talven
