// The message boxes and the clipboard copy. The boxes are answered by a hook on this
// thread as soon as they are activated, after it has read what they show.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "package_test_support.h"
#include "base/services.h"
#include "base/messages.h"

namespace talven {
namespace {

using namespace talven_test;

std::string clipboard_text() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr)) return "<not opened>";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// A visible top-level window of this thread, active, with a CP932 title.
struct owner_window {
  HWND window = nullptr;
  owner_window() {
    window = CreateWindowExA(0, "STATIC", "ゲームのタイトル", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  ~owner_window() {
    set_main_window(nullptr);
    DestroyWindow(window);
  }
};

// What the hook saw of the last box, and how it answers.
struct seen_box {
  int count = 0;
  std::string text, caption;
  HICON icon = nullptr;
  bool has[8] = {};  // buttons by id: IDOK 1 .. IDNO 7
  HWND owner = nullptr;
};
seen_box seen;
int answer = IDOK;
HHOOK hook = nullptr;

HWND pending_box = nullptr;

// Reads the box once its start is complete (inside its own modal loop), then answers it.
void CALLBACK read_and_answer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = pending_box;
  pending_box = nullptr;
  if (!box || !IsWindow(box)) return;
  ++seen.count;
  char text[2048] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  seen.text = text;
  char caption[260] = "";
  GetWindowTextA(box, caption, sizeof caption);
  seen.caption = caption;
  // The style's icon is the system's shared one. (MB_TOPMOST cannot be seen here: Wine
  // leaves the box's extended style without WS_EX_TOPMOST whatever the flags say.)
  seen.icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, 1088, STM_GETICON, 0, 0));
  for (int id = 1; id < 8; ++id) seen.has[id] = GetDlgItem(box, id) != nullptr;
  seen.owner = GetWindow(box, GW_OWNER);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

LRESULT CALLBACK answer_boxes(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    char class_name[32] = "";
    GetClassNameA(box, class_name, sizeof class_name);
    if (std::string(class_name) == "#32770" && !pending_box) {
      pending_box = box;
      SetTimer(nullptr, 0, 30, read_and_answer);
    }
  }
  return CallNextHookEx(hook, code, wparam, lparam);
}

struct box_fixture : ::testing::Test {
  void SetUp() override {
    seen = seen_box();
    hook = SetWindowsHookExA(WH_CBT, answer_boxes, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
  }
  void TearDown() override {
    UnhookWindowsHookEx(hook);
    set_main_window(nullptr);
  }
};

using MessageBoxes = box_fixture;

TEST_F(MessageBoxes, ErrorIsOwnedCaptionedAndCopied) {
  owner_window owner;
  set_main_window(owner.window);
  answer = IDOK;
  show_error("ファイル[%s]のコピーに失敗しました。\nインストール先の容量を確認してください。", "a.exe");
  ASSERT_EQ(seen.count, 1);
  std::string expected = "ファイル[a.exe]のコピーに失敗しました。\nインストール先の容量を確認してください。";
  EXPECT_EQ(seen.text, expected);
  EXPECT_EQ(seen.caption, "ゲームのタイトル");
  EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_HAND));
  EXPECT_EQ(seen.owner, owner.window);
  EXPECT_TRUE(seen.has[IDOK]);
  EXPECT_FALSE(seen.has[IDRETRY]);
  EXPECT_EQ(clipboard_text(), expected);
}

TEST_F(MessageBoxes, RetryReturnsAndOffersCancel) {
  owner_window owner;
  set_main_window(owner.window);
  answer = IDRETRY;
  show_error_retry("[%s]ファイルを開けませんでした。", "install.env");
  ASSERT_EQ(seen.count, 1);
  EXPECT_EQ(seen.text, "[install.env]ファイルを開けませんでした。");
  EXPECT_TRUE(seen.has[IDRETRY]);
  EXPECT_TRUE(seen.has[IDCANCEL]);
  EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_HAND));
  EXPECT_EQ(clipboard_text(), "[install.env]ファイルを開けませんでした。");
}

TEST_F(MessageBoxes, QuestionAnswersAndLeavesTheClipboardAlone) {
  owner_window owner;
  set_main_window(owner.window);
  ASSERT_EQ(copy_text_to_clipboard("before the question"), 0);
  answer = IDYES;
  EXPECT_EQ(ask_yes_no("[%s]にインストールします", "C:\\Game"), 1);
  ASSERT_EQ(seen.count, 1);
  EXPECT_EQ(seen.text, "[C:\\Game]にインストールします");
  EXPECT_TRUE(seen.has[IDYES]);
  EXPECT_TRUE(seen.has[IDNO]);
  EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_QUESTION));
  answer = IDNO;
  EXPECT_EQ(ask_yes_no("[%s]にインストールします", "C:\\Game"), 0);
  EXPECT_EQ(seen.count, 2);
  EXPECT_EQ(clipboard_text(), "before the question");
}

TEST_F(MessageBoxes, WithoutMainWindowTheCaptionIsEmpty) {
  set_main_window(nullptr);
  EXPECT_STREQ(owner_title(), "");
  answer = IDOK;
  show_error("インストールを中止しました");
  ASSERT_EQ(seen.count, 1);
  EXPECT_EQ(seen.caption, "");
  EXPECT_EQ(seen.owner, nullptr);
  EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_HAND));
}

TEST_F(MessageBoxes, OverlongTextIsCutAt1023Bytes) {
  owner_window owner;
  set_main_window(owner.window);
  std::string long_name(3000, 'x');
  answer = IDOK;
  show_error("[%s]", long_name.c_str());
  std::string expected = ("[" + long_name).substr(0, 1023);
  EXPECT_EQ(clipboard_text(), expected);
  EXPECT_EQ(seen.text, expected);
}

// Runs only when started by the test below.
TEST_F(MessageBoxes, DISABLED_ChildCancelsRetry) {
  ASSERT_NE(std::getenv("E1_CANCEL_CHILD"), nullptr);
  answer = IDCANCEL;
  show_error_retry("ルートにはインストールできません");
  ADD_FAILURE() << "show_error_retry returned after Cancel";
}

TEST(MessageBoxExit, CancelInRetryEndsTheProcessWithMinusOne) {
  EXPECT_EQ(run_self(this_program(), "MessageBoxes.DISABLED_ChildCancelsRetry", "E1_CANCEL_CHILD", "1"), -1);
}

TEST(Clipboard, HoldsExactlyTheTextReplacingWhatWasThere) {
  owner_window owner;
  ASSERT_EQ(copy_text_to_clipboard("a much longer text that was there before"), 0);
  ASSERT_EQ(copy_text_to_clipboard("エラー\n表示"), 0);
  EXPECT_EQ(clipboard_text(), "エラー\n表示");
  ASSERT_EQ(copy_text_to_clipboard(""), 0);
  EXPECT_EQ(clipboard_text(), "");
}

}  // namespace
}  // namespace talven
