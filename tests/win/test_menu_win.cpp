// The menu dialog in the test process: its picture painted without scaling at the signed
// centred origin (smaller, exact and larger than the client area), no background for a
// file that is not a picture, and the end of the menu releasing the picture and removing
// the work folder. The template comes from the same .rc as setup.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/dib_image.h"
#include "engine/rct.h"
#include "engine/resolver.h"
#include "startup/menu.h"
#include "base/services.h"
#include "startup/startup.h"

using namespace talven;

namespace {

using bytes = std::vector<unsigned char>;

constexpr COLORREF magenta = RGB(255, 0, 255);
constexpr COLORREF green = RGB(0, 255, 0);

// A magenta picture (packed BGR rows) with a green square of `mark` pixels at (mx, my).
bytes marked_picture(int width, int height, int mx, int my, int mark) {
  bytes p(3 * static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned char* px = &p[3 * (static_cast<size_t>(y) * width + x)];
      bool marked = x >= mx && x < mx + mark && y >= my && y < my + mark;
      px[0] = marked ? 0 : 255;  // blue
      px[1] = marked ? 255 : 0;  // green
      px[2] = marked ? 0 : 255;  // red
    }
  return p;
}

void write_bytes(const std::string& name, const bytes& b) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
  std::fclose(f);
}

void write_picture(const bytes& picture, int width, int height) {
  bytes out(rct_encode_bound(width, height, 0));
  out.resize(rct_encode(picture.data(), width, height, rct_tc00, nullptr, 0, out.data(), out.size()));
  ASSERT_FALSE(out.empty());
  write_bytes("insttscr.rct", out);
}

void pump_for(DWORD milliseconds) {
  DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

INT_PTR CALLBACK measuring_proc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The client size of MAINDIALOG under this system's font and dpi.
SIZE menu_client_size() {
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "MAINDIALOG", nullptr, measuring_proc, 0);
  RECT client = {};
  if (dialog) {
    GetClientRect(dialog, &client);
    DestroyWindow(dialog);
  }
  return SIZE{client.right, client.bottom};
}

// Each test runs in a fresh work folder of its own, made current, holding install.env and
// insttscr.rct as the start-up pass leaves them; the process-wide state that the menu
// touches (settings, main window, work folder) is put back afterwards.
class MenuDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_main = main_window();
    std::memcpy(saved_work, state().work_folder, sizeof saved_work);
    std::memcpy(saved_start, state().start_directory, sizeof saved_start);
    GetCurrentDirectoryA(sizeof saved_cwd, saved_cwd);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::snprintf(folder, sizeof folder, "%smenu_test_%lu_%lu", temp, GetCurrentProcessId(), GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    std::snprintf(state().work_folder, sizeof state().work_folder, "%s", folder);
    std::snprintf(state().start_directory, sizeof state().start_directory, "%s", saved_cwd);
    set_open_as_given(1);
    write_bytes("install.env", bytes{});
    load_env("TITLEBAR\tメニュー\n");
  }

  void TearDown() override {
    if (dialog && IsWindow(dialog)) {
      // Ends the menu properly, so that its picture leaves the image list.
      SendMessageA(dialog, WM_CLOSE, 0, 0);
      DestroyWindow(dialog);
    }
    free_settings();
    set_main_window(saved_main);
    SetCurrentDirectoryA(saved_cwd);
    DeleteFileA((std::string(folder) + "\\install.env").c_str());
    DeleteFileA((std::string(folder) + "\\insttscr.rct").c_str());
    RemoveDirectoryA(folder);
    std::memcpy(state().work_folder, saved_work, sizeof saved_work);
    std::memcpy(state().start_directory, saved_start, sizeof saved_start);
  }

  void load_env(const char* text) {
    free_settings();
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fputs(text, stream);
    std::rewind(stream);
    load_settings_stream(stream);
    std::fclose(stream);
  }

  void open_menu() {
    dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "MAINDIALOG", nullptr, menu_dialog_proc, 0);
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    pump_for(300);
    GetClientRect(dialog, &client);
  }

  // The client pixel as painted on the screen.
  COLORREF pixel(int x, int y) {
    HDC dc = GetDC(dialog);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(dialog, dc);
    return c;
  }

  HWND dialog = nullptr;
  HWND saved_main = nullptr;
  RECT client = {};
  char folder[MAX_PATH];
  char saved_cwd[MAX_PATH];
  char saved_work[sizeof state().work_folder];
  char saved_start[sizeof state().start_directory];
};

TEST_F(MenuDialog, SmallerPictureIsCentredWithTheDialogBackgroundAround) {
  const int w = 120, h = 80;
  write_picture(marked_picture(w, h, 0, 0, 1), w, h);  // one green pixel at its top-left
  open_menu();
  EXPECT_EQ(main_window(), dialog);
  const int ox = (client.right - w) / 2, oy = (client.bottom - h) / 2;
  EXPECT_EQ(pixel(ox, oy), green) << "top-left of the picture at " << ox << "," << oy;
  EXPECT_EQ(pixel(ox + 1, oy), magenta);
  EXPECT_EQ(pixel(ox + w - 1, oy + h - 1), magenta) << "drawn at its own size";
  const COLORREF face = pixel(ox - 1, oy);
  EXPECT_NE(face, magenta);
  EXPECT_EQ(pixel(ox + w, oy + h - 1), face) << "right of the picture";
  EXPECT_EQ(pixel(ox, oy - 1), face) << "above the picture";
  EXPECT_EQ(pixel(ox + w - 1, oy + h), face) << "below the picture";
  EXPECT_EQ(face, GetSysColor(COLOR_BTNFACE));
}

TEST_F(MenuDialog, PictureOfTheClientSizeIsDrawnAtTheOrigin) {
  SIZE size = menu_client_size();
  ASSERT_GT(size.cx, 0);
  write_picture(marked_picture(size.cx, size.cy, 0, 0, 2), size.cx, size.cy);
  open_menu();
  ASSERT_EQ(client.right, size.cx);
  EXPECT_EQ(pixel(0, 0), green);
  EXPECT_EQ(pixel(1, 1), green);
  EXPECT_EQ(pixel(2, 2), magenta);
  EXPECT_EQ(pixel(size.cx - 1, 0), magenta);
  EXPECT_EQ(pixel(0, size.cy - 1), magenta);
}

TEST_F(MenuDialog, LargerPictureGetsANegativeOriginAndIsClippedEvenly) {
  SIZE size = menu_client_size();
  ASSERT_GT(size.cx, 0);
  // 101 and 61 more pixels: origin (-50, -30) by division toward zero, so the picture's
  // pixel (50, 30) lands on the client's top-left corner.
  const int w = size.cx + 101, h = size.cy + 61;
  write_picture(marked_picture(w, h, 50, 30, 3), w, h);
  open_menu();
  EXPECT_EQ(pixel(0, 0), green);
  EXPECT_EQ(pixel(2, 2), green);
  EXPECT_EQ(pixel(3, 3), magenta);
  EXPECT_EQ(pixel(size.cx - 1, 0), magenta);
}

TEST_F(MenuDialog, FileThatIsNoPictureLeavesTheBackgroundPlain) {
  write_bytes("insttscr.rct", bytes{'n', 'o', 't', ' ', 'r', 'c', 't', ' ', 'd', 'a', 't', 'a',
                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  dib_image* before = state().image_list;
  open_menu();
  EXPECT_EQ(state().image_list, before) << "nothing was loaded";
  EXPECT_EQ(pixel(client.right / 2, client.bottom / 2), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(pixel(5, 5), GetSysColor(COLOR_BTNFACE));
  SendMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(state().image_list, before);
}

TEST_F(MenuDialog, CloseReleasesThePictureAndRemovesTheWorkFolder) {
  write_picture(marked_picture(40, 30, 0, 0, 1), 40, 30);
  dib_image* before = state().image_list;
  open_menu();
  ASSERT_NE(state().image_list, before) << "the menu holds its picture";
  EXPECT_EQ(state().image_list->width, 40);
  SendMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(state().image_list, before);
  EXPECT_EQ(GetFileAttributesA(folder), INVALID_FILE_ATTRIBUTES) << "the work folder is gone";
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  EXPECT_STREQ(cwd, saved_cwd) << "back in the start directory";
  // Painting after the end must not touch the released picture.
  InvalidateRect(dialog, nullptr, TRUE);
  UpdateWindow(dialog);
}

TEST_F(MenuDialog, CommandsOtherThanAClickOnASlotDoNothing) {
  load_env("TITLEBAR\tメニュー\nINSTREADME\t説明\n");
  write_picture(marked_picture(40, 30, 0, 0, 1), 40, 30);
  open_menu();
  char caption[128];
  GetWindowTextA(dialog, caption, sizeof caption);
  EXPECT_STREQ(caption, "メニュー スタートアップ");
  char label[64];
  GetDlgItemTextA(dialog, 1001, label, sizeof label);
  EXPECT_STREQ(label, "説明");
  EXPECT_EQ(GetDlgItem(dialog, 1003), nullptr);
  // IDOK and IDCANCEL (Enter and Esc), a notification other than a click on the exit
  // button, and an id of a destroyed slot: the menu stays and its folder stays.
  SendMessageA(dialog, WM_COMMAND, IDOK, 0);
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1000, BN_SETFOCUS), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_NE(GetFileAttributesA(folder), INVALID_FILE_ATTRIBUTES);
  // A click on the exit slot ends it.
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_EQ(GetFileAttributesA(folder), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
