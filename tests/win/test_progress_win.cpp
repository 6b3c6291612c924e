// The progress dialogs as the program creates them, and the message pump.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>

#include "package/progress.h"
#include "package_test_support.h"
#include "base/services.h"

namespace talven {
namespace {

using namespace talven_test;

int range_top(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageA(dialog, id, PBM_GETRANGE, FALSE, 0));
}

int bar_position(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageA(dialog, id, PBM_GETPOS, 0, 0));
}

std::string text_of(HWND window) {
  char text[260] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

struct dialog_fixture : ::testing::Test {
  void TearDown() override {
    close_progress_dialog();
    drain_messages();
  }
};

using ProgressDialogs = dialog_fixture;

TEST_F(ProgressDialogs, ExtractDialogStartsAsTheProgramShowsIt) {
  state().copied_total = 1234;
  HWND dialog = open_extract_dialog(1000);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(state().progress_dialog, dialog);
  EXPECT_EQ(state().copied_total, 0);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU);
  EXPECT_EQ(text_of(dialog), "ファイルのコピー中...");
  EXPECT_EQ(text_of(GetDlgItem(dialog, 1012)), "");
  EXPECT_EQ(text_of(GetDlgItem(dialog, 2)), "ｷｬﾝｾﾙ");
  // A package shorter than 128 KiB still gets one step on the overall bar.
  EXPECT_EQ(range_top(dialog, 1019), 1);
  EXPECT_EQ(bar_position(dialog, 1019), 0);
  EXPECT_EQ(range_top(dialog, 1010), 1);
  EXPECT_EQ(bar_position(dialog, 1010), 0);

  HWND larger = open_extract_dialog(5 * 131072 + 5);
  ASSERT_NE(larger, nullptr);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(range_top(larger, 1019), 5);
}

TEST_F(ProgressDialogs, TheClipOpensFromTheProgramsModule) {
  HWND dialog = open_extract_dialog(1);
  ASSERT_NE(dialog, nullptr);
  HWND animation = GetDlgItem(dialog, 1020);
  ASSERT_NE(animation, nullptr);
  EXPECT_TRUE(IsWindowVisible(animation));
  // The same request the dialog makes when it starts: no instance, the clip's name.
  EXPECT_NE(SendMessageA(animation, ACM_OPENA, 0, reinterpret_cast<LPARAM>("AVI_FILECOPY")), 0);
  EXPECT_NE(SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)), 0);
  EXPECT_EQ(SendMessageA(animation, ACM_OPENA, 0, reinterpret_cast<LPARAM>("NO_SUCH_CLIP")), 0);
}

TEST_F(ProgressDialogs, OwnedByTheMainWindowAndTakenFromItsModule) {
  HWND owner = CreateWindowA("STATIC", "menu", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  set_main_window(owner);
  HWND dialog = open_extract_dialog(1);
  set_main_window(nullptr);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
  EXPECT_NE(SendDlgItemMessageA(dialog, 1020, ACM_OPENA, 0, reinterpret_cast<LPARAM>("AVI_FILECOPY")), 0);
  close_progress_dialog();
  DestroyWindow(owner);
}

TEST_F(ProgressDialogs, OneDialogAtATime) {
  EXPECT_EQ(close_progress_dialog(), 1);
  HWND extract = open_extract_dialog(10 * 131072);
  ASSERT_NE(extract, nullptr);
  ASSERT_EQ(open_copy_dialog(), 1);
  EXPECT_FALSE(IsWindow(extract));
  ASSERT_NE(state().progress_dialog, nullptr);
  EXPECT_EQ(GetDlgItem(state().progress_dialog, 1019), nullptr);  // the one-bar dialog
  EXPECT_NE(GetDlgItem(state().progress_dialog, 1010), nullptr);
  HWND copy = state().progress_dialog;
  EXPECT_EQ(close_progress_dialog(), 0);
  EXPECT_FALSE(IsWindow(copy));
  EXPECT_EQ(state().progress_dialog, nullptr);
  EXPECT_EQ(close_progress_dialog(), 1);
}

// Between ticks the name control keeps what it is sent and reads it back; the window
// itself (what another program or the screen sees) takes the last name at the tick.
TEST_F(ProgressDialogs, NamesBetweenTicksAreKeptAndTheLastIsShownAtTheTick) {
  HWND dialog = open_extract_dialog(4 * 131072);
  ASSERT_NE(dialog, nullptr);
  HWND name = GetDlgItem(dialog, 1012);
  auto window_text = [&]() {
    wchar_t text[260] = L"";
    InternalGetWindowText(name, text, 260);  // the window's own text, no message
    return std::wstring(text);
  };
  progress_show_now();
  show_progress_text("C:\\dest\\a.dat");
  show_progress_text("C:\\dest\\b.dat");
  EXPECT_EQ(text_of(name), "C:\\dest\\b.dat");
  EXPECT_EQ(SendMessageA(name, WM_GETTEXTLENGTH, 0, 0), 13);
  char cut[5] = "";
  EXPECT_EQ(SendMessageA(name, WM_GETTEXT, sizeof cut, reinterpret_cast<LPARAM>(cut)), 4);
  EXPECT_STREQ(cut, "C:\\d");
  EXPECT_EQ(window_text(), L"");
  progress_show_now();
  EXPECT_EQ(window_text(), L"C:\\dest\\b.dat");
  EXPECT_EQ(text_of(name), "C:\\dest\\b.dat");
}

TEST_F(ProgressDialogs, CancelSetsTheFlagAndLeavesTheDialogOpen) {
  ASSERT_EQ(open_copy_dialog(), 1);
  state().copy_cancelled = 0;
  SendMessageA(state().progress_dialog, WM_COMMAND, 2, 0);
  EXPECT_EQ(state().copy_cancelled, 1);
  EXPECT_TRUE(IsWindow(state().progress_dialog));
  // Only the click itself counts: a notification from the same button does not.
  state().copy_cancelled = 0;
  SendMessageA(state().progress_dialog, WM_COMMAND, MAKEWPARAM(2, BN_SETFOCUS), 0);
  EXPECT_EQ(state().copy_cancelled, 0);
}

int dispatched_user = 0;
int dispatched_registered = 0;
UINT registered_message = 0;

LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER + 1) ++dispatched_user;
  if (registered_message && message == registered_message) ++dispatched_registered;
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(DrainMessages, CountsWhatItTakesAndDropsRegisteredMessages) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = counting_proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "e1_counting";
  RegisterClassA(&window_class);
  HWND window = CreateWindowA("e1_counting", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  registered_message = RegisterWindowMessageA("e1_test_broadcast");
  ASSERT_GE(registered_message, 0xC000u);
  drain_messages();
  EXPECT_EQ(drain_messages(), 0);

  dispatched_user = dispatched_registered = 0;
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(window, registered_message, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 0, 0);
  EXPECT_EQ(drain_messages(), 4);
  EXPECT_EQ(dispatched_user, 2);
  EXPECT_EQ(dispatched_registered, 0);
  EXPECT_EQ(drain_messages(), 0);
  DestroyWindow(window);
  drain_messages();
}

// Runs only when started by the test below.
TEST(DrainMessages, DISABLED_ChildEndsOnQuit) {
  ASSERT_NE(std::getenv("E1_QUIT_CHILD"), nullptr);
  ASSERT_NE(open_extract_dialog(3 * 131072), nullptr);
  PostQuitMessage(57);
  drain_messages();
  ADD_FAILURE() << "drain_messages returned after WM_QUIT";
}

TEST(DrainMessages, QuitEndsTheProcessWithItsCode) {
  EXPECT_EQ(run_self(this_program(), "DrainMessages.DISABLED_ChildEndsOnQuit", "E1_QUIT_CHILD", "1"), 57);
}

}  // namespace
}  // namespace talven
