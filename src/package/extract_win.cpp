// Extraction of the install package: the start-up pass into the work folder and the
// full pass, with its two-bar dialog, into the install destination.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "install/cp932.h"
#include "package/extract.h"
#include "package/package_pass.h"
#include "package/package_format.h"
#include "package/progress.h"
#include "resource_ids.h"
#include "startup/startup.h"
#include "ui/messages.h"

namespace talven {

int32_t package_length = 0;
const char* package_refusal = nullptr;

namespace {

const char damaged_package_text[] =
    "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";

// After every 128 KiB of output and at the end of each entry: the bars' positions kept,
// sent and pumped only when a tick is due.
void on_block(void* context, int32_t written, int32_t position) {
  if (context) {
    show_progress_bytes(IDC_FILE_BAR, written);
    show_progress_bytes(IDC_TOTAL_BAR, position);
  }
  progress_tick();
}

// The one place a file of the package is made: created for writing, replacing one of the
// same name (sharing as the C runtime's fopen did). Any check on the path before it is
// created belongs here.
HANDLE create_output_file(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file side of the passes: one open per file, written straight from the inflate
// buffer, its time set on the same handle before it is closed.
void* open_output(void* dialog, const package_entry* entry, const char* path) {
  HANDLE file = create_output_file(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (dialog) {
    show_progress_text(path);
    show_progress_range(IDC_FILE_BAR, entry->size);
    show_progress_bytes(IDC_FILE_BAR, 0);
  }
  return file;
}

int write_output(void* file, const unsigned char* data, size_t size) {
  DWORD put = 0;
  return WriteFile(static_cast<HANDLE>(file), data, static_cast<DWORD>(size), &put, nullptr) && put == size ? 0 : 1;
}

int close_output(void*, void* file, const package_entry* entry, const char*, int sound) {
  // A failed entry's partial file stays on disk, with the time of now.
  if (sound) {
    // Only the last-write time is stored; creation and last access stay those of now.
    FILETIME written;
    written.dwLowDateTime = entry->time_low;
    written.dwHighDateTime = entry->time_high;
    SetFileTime(static_cast<HANDLE>(file), nullptr, nullptr, &written);
  }
  return CloseHandle(static_cast<HANDLE>(file)) ? 0 : 1;
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
  }
  pass_output output = {dialog, nullptr, make_folder, open_output, close_output, {dialog, on_block}, nullptr,
                        write_output};
  int result = extract_with(package, package_length, destination, mode, &output, &package_refusal);
  if (dialog) {
    progress_show_now();  // both bars where the pass ended
    close_progress_dialog();
  }
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
