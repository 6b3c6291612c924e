// Extraction of the install package: the start-up pass into the work folder and the
// full pass, with its two-bar dialog, into the install destination.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "install/cp932.h"
#include "package/extract.h"
#include "package/package_pass.h"
#include "package/package_format.h"
#include "package/progress.h"
#include "startup/startup.h"
#include "ui/messages.h"

namespace talven {

int32_t package_length = 0;
const char* package_refusal = nullptr;

namespace {

constexpr int file_bar = 1010;
constexpr int file_name_text = 1012;
constexpr int total_bar = 1019;

const char damaged_package_text[] =
    "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";

// What the dialog shows now. Under Wine a bar repaint costs about a millisecond and a
// text repaint a third of that, so a package of many files would spend most of its time
// drawing the same picture again: a message goes out only when what it shows changes,
// for a bar the filled width in pixels, not just its position.
struct shown_bar {
  int id;
  int range;     // top of the bar's range, 0 .. range
  int position;  // the last position sent
  int fill;      // filled pixels at that position; -1 after a range change
  int width;     // client width of the bar in pixels
};

struct shown_progress {
  HWND dialog;
  shown_bar file;
  shown_bar total;
  char file_name[output_path_size];
};
shown_progress shown;

void reset_bar(shown_bar* bar, int id, int range) {
  bar->id = id;
  bar->range = range;
  bar->position = 0;
  bar->fill = 0;
  RECT client = {0, 0, 0, 0};
  GetClientRect(GetDlgItem(shown.dialog, id), &client);
  bar->width = client.right - client.left;
}

void reset_shown(HWND dialog) {
  // As the dialog starts: bar 1010 at 0 of 0..1, bar 1019 at 0 of the package's range.
  shown.dialog = dialog;
  shown.file_name[0] = '\0';
  reset_bar(&shown.file, file_bar, 1);
  int total_range = dialog ? static_cast<int>(SendDlgItemMessageA(dialog, total_bar, PBM_GETRANGE, FALSE, 0)) : 1;
  reset_bar(&shown.total, total_bar, total_range);
}

int fill_of(const shown_bar* bar, int position) {
  if (bar->range <= 0) return 0;
  if (position > bar->range) position = bar->range;
  if (position < 0) position = 0;
  return static_cast<int>(static_cast<int64_t>(position) * bar->width / bar->range);
}

void show_file_name(const char* path) {
  if (std::strcmp(shown.file_name, path) == 0) return;
  copy_text(shown.file_name, sizeof shown.file_name, path);
  SendDlgItemMessageA(shown.dialog, file_name_text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
}

void show_file_range(int32_t size) {
  int top = (size / package_block) & 0xFFFF;
  if (top == shown.file.range) return;
  shown.file.range = top;
  shown.file.fill = -1;  // the control re-fits its position to the new range
  SendDlgItemMessageA(shown.dialog, file_bar, PBM_SETRANGE, 0, MAKELPARAM(0, top));
}

void show_bar(shown_bar* bar, int32_t bytes) {
  int step = bytes / package_block;
  if (step == bar->position && bar->fill >= 0) return;
  int fill = fill_of(bar, step);
  if (fill == bar->fill) return;
  bar->position = step;
  bar->fill = fill;
  SendDlgItemMessageA(shown.dialog, bar->id, PBM_SETPOS, static_cast<WPARAM>(step), 0);
}

// After every 128 KiB of output and at the end of each entry: both bars, then the pump.
void on_block(void* context, int32_t written, int32_t position) {
  if (context) {
    show_bar(&shown.file, written);
    show_bar(&shown.total, position);
  }
  drain_messages();
}

// The file side of the passes: the output file, the dialog's view of it, its time.
FILE* open_output(void* dialog, const package_entry* entry, const char* path) {
  FILE* out = std::fopen(path, "wb");
  if (out && dialog) {
    show_file_name(path);
    show_file_range(entry->size);
    show_bar(&shown.file, 0);
  }
  return out;
}

int close_output(void*, FILE* out, const package_entry* entry, const char* path, int sound) {
  // Buffered bytes that cannot be flushed are a short write as well. A failed entry's
  // partial file stays on disk.
  if (std::fclose(out) != 0) return 1;
  if (!sound) return 0;
  // Only the last-write time is stored; creation and last access stay those of now.
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    FILETIME written;
    written.dwLowDateTime = entry->time_low;
    written.dwHighDateTime = entry->time_high;
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
  }
  return 0;
}

int make_folder(void*, const package_entry*, const char* path) {
  CreateDirectoryA(path, nullptr);  // an existing folder is fine
  return 0;
}

// Module folder (drive and folder of the executable's path) joined with a name.
int beside_executable(char* out, size_t size, const char* module, const char* name) {
  const char* back = mb_find_last_char(module, '\\');
  const char* slash = mb_find_last_char(module, '/');
  const char* last = back;
  if (slash && (!last || slash > last)) last = slash;
  size_t folder = 0;
  if (last)
    folder = static_cast<size_t>(last - module) + 1;
  else if (module[0] != '\0' && module[1] == ':')
    folder = 2;
  if (folder + std::strlen(name) + 1 > size) return -1;
  std::memcpy(out, module, folder);
  out[folder] = '\0';
  return append_text(out, size, name);
}

}  // namespace

FILE* open_install_package() {
  char module[260];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  if (n == 0 || n >= sizeof module) return nullptr;

  char separate[260];
  if (beside_executable(separate, sizeof separate, module, "instdat.arc") == 0) {
    if (FILE* package = std::fopen(separate, "rb")) {
      long size = -1;
      if (std::fseek(package, 0, SEEK_END) == 0) size = std::ftell(package);
      if (size >= 0 && std::fseek(package, 0, SEEK_SET) == 0) {
        package_length = static_cast<int32_t>(size);
        return package;
      }
      std::fclose(package);
      return nullptr;
    }
  }

  FILE* exe = std::fopen(module, "rb");
  if (!exe) return nullptr;
  long start = 0;
  int32_t length = 0;
  // An offset past the end is refused here; the caller then ends as for a missing package.
  if (locate_appended_package(exe, &start, &length) != 0) {
    std::fclose(exe);
    return nullptr;
  }
  package_length = length;
  return exe;
}

int extract_package_from(FILE* package, const char* destination, int mode) {
  package_refusal = nullptr;
  if (!package) return -1;
  HWND dialog = nullptr;
  if (mode == full_pass) {
    dialog = open_extract_dialog(package_length);
    reset_shown(dialog);
  }
  pass_output output = {dialog, nullptr, make_folder, open_output, close_output, {dialog, on_block}};
  int result = extract_with(package, package_length, destination, mode, &output, &package_refusal);
  if (dialog) close_progress_dialog();
  return result;
}

void extract_install_package(const char* destination, int mode) {
  FILE* package = open_install_package();
  if (package && extract_package_from(package, destination, mode) == 0) return;
  close_progress_dialog();
  show_error(damaged_package_text);
  remove_work_folder();
  std::exit(-1);
}

}  // namespace talven
