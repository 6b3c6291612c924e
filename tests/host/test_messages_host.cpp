// The host's message boxes: the text goes to stderr within its 1024-byte buffer, and each
// question takes the answer that stops.
#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"

using namespace talven;

TEST(HostMessages, TextIsFormattedAndBounded) {
  testing::internal::CaptureStderr();
  show_error("[%s]にインストールします", "D:\\Games");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[D:\\Games]にインストールします\n");
  // A text longer than the buffer is cut to 1023 bytes, never written past it.
  std::string long_argument(3000, 'x');
  testing::internal::CaptureStderr();
  show_error("%s", long_argument.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(1023, 'x') + "\n");
}

TEST(HostMessages, QuestionsAnswerNoAndThereIsNoClipboard) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(ask_yes_no("%s?", "go on"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "go on?\n");
  EXPECT_EQ(copy_text_to_clipboard("text"), -1);
  EXPECT_STREQ(owner_title(), "");
}

TEST(HostMessagesDeathTest, RetryBoxEndsAsCancel) {
  EXPECT_EXIT(show_error_retry("Ffopen : %s", "gone.env"), testing::ExitedWithCode(255), "Ffopen : gone\\.env");
}
