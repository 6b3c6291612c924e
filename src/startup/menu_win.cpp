// The main menu MAINDIALOG: the background picture, two to four buttons stacked from the
// bottom up, and the end of the run when the user leaves or an install completes.

#include "startup/menu.h"

#include <cstring>

#include "config/settings.h"
#include "engine/dib_image.h"
#include "base/cp932.h"
#include "install/install.h"
#include "base/wide.h"
#include "base/services.h"
#include "startup/startup.h"
#include "resource_ids.h"

namespace talven {

namespace {

constexpr int menu_slots = 9;
const int menu_button_ids[menu_slots] = {IDC_MENU_BUTTON1,     IDC_MENU_BUTTON1 + 1, IDC_MENU_BUTTON1 + 2,
                                         IDC_MENU_BUTTON1 + 3, IDC_MENU_BUTTON1 + 4, IDC_MENU_BUTTON1 + 5,
                                         IDC_MENU_BUTTON1 + 6, IDC_MENU_BUTTON1 + 7, IDC_MENU_BUTTON9};

enum menu_action {
  action_none = 0,
  action_install = 1,
  action_directx = 2,
  action_exit = 3,
  action_readme = 5,
};

int menu_actions[menu_slots];
int menu_busy = 0;
dib_image* menu_background = nullptr;
int image_x = 0;
int image_y = 0;
char menu_text[128];

// The DirectX setup is looked for beside the executable, not in the current directory:
// at menu start that is the work folder, which never holds folders, so a relative
// "DirectX" could never be found there. The medium's layout is what the maker controls:
// "<folder of setup.exe>\DirectX\dxsetup.exe". Both paths are empty when there is no
// such folder (a plain file named "DirectX" does not count) or when they would not fit.
char directx_folder[260];
char directx_setup[260];

void find_directx_setup() {
  directx_folder[0] = '\0';
  directx_setup[0] = '\0';
  char folder[260];
  if (module_path(folder, sizeof folder) != 0) return;  // cut or not CP932: do not guess
  const char* separator = mb_find_last_char(folder, '\\');
  if (!separator) return;
  folder[separator - folder + 1] = '\0';
  if (append_text(folder, sizeof folder, "DirectX") != 0) return;
  DWORD attributes = GetFileAttributesW(wide_name(folder).text);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  char setup[260];
  // The command line adds two quotes to the path: keep room for them in 260 bytes.
  if (copy_text(setup, sizeof setup - 2, folder) != 0 ||
      append_text(setup, sizeof setup - 2, "\\dxsetup.exe") != 0)
    return;
  copy_text(directx_folder, sizeof directx_folder, folder);
  copy_text(directx_setup, sizeof directx_setup, setup);
}

// Started from its own folder so that it finds the files beside it; the menu's current
// directory is restored at once (relative names of the menu resolve against it).
void start_directx_setup() {
  if (!directx_setup[0]) return;
  current_folder_keeper keeper;
  if (enter_folder(directx_folder) != 0) return;
  launch_program(directx_setup);
}

void set_slot(HWND dialog, int slot, const char* label, int action) {
  SetWindowTextW(GetDlgItem(dialog, menu_button_ids[slot]), wide_shown(label).text);
  menu_actions[slot] = action;
}

void init_menu(HWND dialog) {
  set_main_window(dialog);
  center_on_top(dialog);
  menu_busy = 0;
  SetWindowTextW(dialog, wide_shown(get_caption()).text);

  int n = 0;
  set_slot(dialog, n++, "終了", action_exit);
  find_directx_setup();
  if (directx_setup[0]) set_slot(dialog, n++, "DirectXインストール", action_directx);
  setting_string("INSTREADME", menu_text, sizeof menu_text, "-");
  if (menu_text[0] != '-') set_slot(dialog, n++, menu_text, action_readme);
  set_slot(dialog, n++, "インストール", action_install);
  for (int slot = n; slot < menu_slots; ++slot) {
    DestroyWindow(GetDlgItem(dialog, menu_button_ids[slot]));
    menu_actions[slot] = action_none;
  }

  menu_background = load_rct_image("insttscr.rct");
  if (menu_background) {
    RECT client;
    GetClientRect(dialog, &client);
    // Signed division: a picture larger than the client area is clipped evenly.
    image_x = (client.right - client.left - menu_background->width) / 2;
    image_y = (client.bottom - client.top - menu_background->height) / 2;
  }
}

void paint_menu(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (menu_background) {
    dib_image* image = menu_background;
    StretchDIBits(dc, image_x, image_y, image->width, image->height, 0, 0, image->width,
                  image->height, image->bits, reinterpret_cast<const BITMAPINFO*>(image->header),
                  DIB_RGB_COLORS, SRCCOPY);
  }
  EndPaint(dialog, &paint);
}

void end_menu(HWND dialog) {
  release_image(menu_background, 0);
  menu_background = nullptr;  // a paint before the dialog is gone must not use it
  remove_work_folder();
  EndDialog(dialog, 0);
}

void menu_command(HWND dialog, WPARAM wparam) {
  if (menu_busy) return;
  menu_busy = 1;
  // The whole parameter is compared: only a click (notification 0) on a slot's button
  // matches, so Enter and Esc (ids 1 and 2) do nothing.
  int slot = -1;
  for (int i = 0; i < menu_slots; ++i)
    if (wparam == static_cast<WPARAM>(menu_button_ids[i])) slot = i;
  if (slot >= 0) {
    switch (menu_actions[slot]) {
      case action_install:
        if (run_install(remove_work_folder) == 0) end_menu(dialog);
        break;
      case action_directx:
        start_directx_setup();
        break;
      case action_exit:
        end_menu(dialog);
        break;
      case action_readme:
        setting_string("INSTREADMEFL", menu_text, sizeof menu_text, "readme.txt");
        open_inside(state().work_folder, menu_text);
        break;
      default:
        break;
    }
  }
  menu_busy = 0;
}

}  // namespace

INT_PTR CALLBACK menu_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      init_menu(dialog);
      break;
    case WM_PAINT:
      paint_menu(dialog);
      break;
    case WM_COMMAND:
      menu_command(dialog, wparam);
      break;
    case WM_CLOSE:
      if (!menu_busy) end_menu(dialog);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace talven
