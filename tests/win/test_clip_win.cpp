// The file-copy clip as the animation control of the progress dialogs sees it: the
// AVI_FILECOPY resource (linked into this test program from the same .rc as setup.exe)
// opens and plays, and a damaged clip is refused, so the opening is a real check.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#define MAKE_CLIP_NO_MAIN
#include "../../tools/make-clip/make_clip.cpp"

namespace {

// A host window with one animation control styled like control 1020 of the dialogs.
struct animation_window {
  HWND host = nullptr;
  HWND control = nullptr;

  animation_window() {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&init);
    host = CreateWindowExA(0, "STATIC", "clip test", WS_POPUP | WS_VISIBLE, 100, 100, 300, 80,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    control = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE | ACS_CENTER | ACS_TRANSPARENT,
                              10, 10, 270, 40, host, reinterpret_cast<HMENU>(1020),
                              GetModuleHandleA(nullptr), nullptr);
  }
  ~animation_window() {
    if (control) {
      SendMessageA(control, ACM_STOP, 0, 0);
      SendMessageA(control, ACM_OPENA, 0, 0);  // closes the clip
    }
    if (host) DestroyWindow(host);
  }
};

void pump_for(DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

// The control's client pixels as 32-bit values, read back from the screen.
std::vector<DWORD> grab(HWND window) {
  RECT rect;
  GetClientRect(window, &rect);
  int width = rect.right, height = rect.bottom;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  GdiFlush();
  if (bits) std::memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
}

std::string temp_file(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + name;
}

size_t find_text(const std::vector<uint8_t>& data, const char* text) {
  size_t length = std::strlen(text);
  for (size_t i = 0; i + length <= data.size(); ++i)
    if (std::memcmp(&data[i], text, length) == 0) return i;
  return 0;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& data) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  return std::fclose(file) == 0 && ok;
}

TEST(clip, resource_opens_and_the_picture_moves_while_playing) {
  animation_window window;
  ASSERT_TRUE(window.control != nullptr);
  LRESULT opened = SendMessageA(window.control, ACM_OPENA,
                                reinterpret_cast<WPARAM>(GetModuleHandleA(nullptr)),
                                reinterpret_cast<LPARAM>("AVI_FILECOPY"));
  ASSERT_TRUE(opened) << "ACM_OPENA refused AVI_FILECOPY";
  ASSERT_TRUE(SendMessageA(window.control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF)));

  // Ten frames a second: samples 150 ms apart show different frames of the travelling sheet.
  pump_for(300);
  std::vector<std::vector<DWORD>> samples;
  for (int i = 0; i < 4; ++i) {
    samples.push_back(grab(window.control));
    pump_for(150);
  }
  int changes = 0;
  for (size_t i = 1; i < samples.size(); ++i)
    if (samples[i] != samples[i - 1]) ++changes;
  EXPECT_GE(changes, 2) << "the clip did not move";

  // Stopped, it stays on one frame.
  SendMessageA(window.control, ACM_STOP, 0, 0);
  pump_for(200);
  std::vector<DWORD> stopped = grab(window.control);
  pump_for(300);
  EXPECT_EQ(grab(window.control), stopped);
}

TEST(clip, generated_file_opens_and_damaged_copies_are_refused) {
  std::vector<uint8_t> clip = make_clip::build_clip();
  std::string good = temp_file("talven_clip_good.avi");
  ASSERT_TRUE(write_file(good, clip));
  {
    animation_window window;
    EXPECT_TRUE(SendMessageA(window.control, ACM_OPENA, 0, reinterpret_cast<LPARAM>(good.c_str())));
    EXPECT_TRUE(SendMessageA(window.control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF)));
  }

  // Cut in the middle of the frames: fewer frames than the header promises.
  std::vector<uint8_t> cut(clip.begin(), clip.begin() + clip.size() / 2);
  std::string cut_path = temp_file("talven_clip_cut.avi");
  ASSERT_TRUE(write_file(cut_path, cut));
  // A codec that does not exist in place of RLE8: nothing can decode the frames.
  std::vector<uint8_t> no_codec = clip;
  size_t handler = find_text(no_codec, "mrle");
  ASSERT_NE(handler, 0u);
  std::memcpy(&no_codec[handler], "zzzz", 4);
  size_t strf = find_text(no_codec, "strf");
  ASSERT_NE(strf, 0u);
  std::memcpy(&no_codec[strf + 8 + 16], "zzzz", 4);  // biCompression
  std::string no_codec_path = temp_file("talven_clip_codec.avi");
  ASSERT_TRUE(write_file(no_codec_path, no_codec));
  {
    animation_window window;
    EXPECT_FALSE(SendMessageA(window.control, ACM_OPENA, 0, reinterpret_cast<LPARAM>(cut_path.c_str())));
    EXPECT_FALSE(SendMessageA(window.control, ACM_OPENA, 0, reinterpret_cast<LPARAM>(no_codec_path.c_str())));
  }
  DeleteFileA(good.c_str());
  DeleteFileA(cut_path.c_str());
  DeleteFileA(no_codec_path.c_str());
}

}  // namespace
