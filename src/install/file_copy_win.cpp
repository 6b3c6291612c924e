// Copies from the bin folder beside the executable, and the copy routine with its bar.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "base/alloc.h"
#include "config/settings.h"
#include "base/cp932.h"
#include "install/install_steps.h"
#include "install/removal.h"
#include "base/wide.h"
#include "package/reparse.h"
#include "package/package_format.h"
#include "package/progress.h"
#include "resource_ids.h"
#include "base/messages.h"

namespace talven {

namespace {

constexpr DWORD block_size = package_block;

int ends_with(const char* text, const char* tail) {
  size_t n = std::strlen(text);
  size_t m = std::strlen(tail);
  return n >= m && std::strcmp(text + n - m, tail) == 0;
}

int copy_bin_entry(const char* destination, const char* name) {
  char source[260];
  char target[260];
  // A name or destination too long for the 260-byte paths fails like an unreadable file.
  if (copy_text(source, sizeof source, "BIN\\") != 0 || append_text(source, sizeof source, name) != 0)
    return 0;
  if (copy_text(target, sizeof target, destination) != 0 ||
      append_text(target, sizeof target, "\\") != 0 || append_text(target, sizeof target, name) != 0)
    return 0;
  // Never through a link standing in the install folder under the file's name.
  if (path_has_reparse_point(destination, target)) return 0;
  return copy_file_with_progress(source, target);
}

}  // namespace

int copy_bin_files(const char* destination) {
  DWORD attributes = attributes_of("bin");
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  // The extraction's dialog, when still open, shows these files too.
  if (!state().progress_dialog) open_copy_dialog();
  copy_from_bin(destination, "UnInst.exe");
  int copied = copy_from_bin_or_report(destination, get_exename());
  close_progress_dialog();
  return copied ? 0 : 1;
}

int copy_from_bin(const char* destination, const char* name) {
  return copy_bin_entry(destination, name);
}

int copy_from_bin_or_report(const char* destination, const char* name) {
  int copied = copy_bin_entry(destination, name);
  if (!copied)
    show_error("ファイル[%s]のコピーに失敗しました。\nインストール先の容量を確認してください。", name);
  return copied;
}

int copy_file_with_progress(const char* source, const char* target) {
  if (ends_with(source, "\\.") || ends_with(source, "\\..")) return 1;

  int had_window = state().progress_dialog != nullptr;
  state().copy_cancelled = 0;
  char* buffer = static_cast<char*>(checked_alloc(block_size));
  if (!had_window) open_copy_dialog();

  wide_text wide_source = wide_name(source);
  wide_text wide_target = wide_name(target);
  SetFileAttributesW(wide_target.text, FILE_ATTRIBUTE_NORMAL);
  int ok = 0;
  HANDLE in = INVALID_HANDLE_VALUE;
  if (wide_source.ok && wide_target.ok)
    in = CreateFileW(wide_source.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = INVALID_HANDLE_VALUE;
  if (in != INVALID_HANDLE_VALUE) {
    out = CreateFileW(wide_target.text, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  }
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE) {
    DWORD size = GetFileSize(in, nullptr);
    show_progress_text(source);
    show_progress_range(IDC_FILE_BAR, size);
    show_progress_bytes(IDC_FILE_BAR, 0);
    progress_show_now();  // a few files only: each is shown as it starts
    DWORD done = 0;
    ok = 1;
    while (done < size) {
      // Cancel is taken within a block (an empty pump is cheap); the bars move by the tick.
      if (progress_tick() == 0) drain_messages();
      if (state().copy_cancelled) {
        ok = 0;
        break;
      }
      DWORD want = size - done < block_size ? size - done : block_size;
      DWORD got = 0;
      // A read of 0 bytes before the size is reached: the source shrank under us.
      if (!ReadFile(in, buffer, want, &got, nullptr) || got == 0) {
        ok = 0;
        break;
      }
      DWORD put = 0;
      if (!WriteFile(out, buffer, got, &put, nullptr) || put != got) {
        ok = 0;
        break;
      }
      done += got;
      state().copied_total += static_cast<int32_t>(got);
      show_progress_bytes(IDC_FILE_BAR, done);
      show_progress_bytes(IDC_TOTAL_BAR, state().copied_total);
    }
    if (ok) {
      FILETIME created, accessed, written;
      if (!GetFileTime(in, &created, &accessed, &written) ||
          !SetFileTime(out, &created, &accessed, &written))
        ok = 0;
    }
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);

  checked_free(buffer);
  if (!had_window) close_progress_dialog();
  if (ok) SetFileAttributesW(wide_target.text, FILE_ATTRIBUTE_ARCHIVE);
  return ok;
}

}  // namespace talven
