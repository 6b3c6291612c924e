// Extraction of the install package: the start-up pass into the work folder and the
// full pass, with its two-bar dialog, into the install destination.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/cp932.h"
#include "base/process_state.h"
#include "base/wide.h"
#include "package/reparse.h"
#include "package/extract.h"
#include "package/package_digest.h"
#include "package/package_pass.h"
#include "package/package_format.h"
#include "package/progress.h"
#include "resource_ids.h"
#include "base/messages.h"

namespace talven {

namespace {

const char damaged_package_text[] =
    "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char linked_destination_text[] =
    "インストール先にリンク（リパースポイント）があるため、書き込みを中止しました。\n[%s]";

// The folder the running pass writes into, and the first output refused for a link on its way.
const char* pass_destination = nullptr;
char linked_path[260];

// 1 when the output must not be written: a link on its way out of the destination.
int refuse_linked_output(const char* path) {
  if (!pass_destination || path_has_reparse_point(pass_destination, path) == 0) return 0;
  if (linked_path[0] == '\0') copy_text(linked_path, sizeof linked_path, path);
  return 1;
}

// After every 128 KiB of output and at the end of each entry: the bars' positions kept,
// sent and pumped only when a tick is due.
void on_block(void* context, int32_t written, int32_t position) {
  if (context) {
    show_progress_bytes(IDC_FILE_BAR, written);
    show_progress_bytes(IDC_TOTAL_BAR, position);
  }
  progress_tick();
}

// The folder of the last file made in this pass, found to be no link at any level: its
// next files skip those lookups (under Wine each level costs a few system calls per file).
char clear_folder[260];

// 1 when no folder on the way to path, from the destination down, is a link: the clear
// folder, or one checked now (which then becomes the clear folder); 0 otherwise.
int folder_clear(const char* path) {
  const char* last = mb_find_last_char(path, '\\');
  size_t length = last ? static_cast<size_t>(last - path) : 0;
  if (length > 0 && length < sizeof clear_folder && std::strncmp(clear_folder, path, length) == 0 &&
      clear_folder[length] == '\0')
    return 1;
  clear_folder[0] = '\0';
  if (length == 0 || length >= sizeof clear_folder) return 0;
  char folder[260];
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  if (path_has_reparse_point(pass_destination, folder) != 0) return 0;
  std::memcpy(clear_folder, folder, length + 1);
  return 1;
}

HANDLE create_with(const char* path, DWORD disposition) {
  wide_text wide = wide_name(path);
  if (!wide.ok) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The one place a file of the package is made: created for writing, replacing one of the
// same name (sharing as the C runtime's fopen did). Any check on the path before it is
// created belongs here.
HANDLE create_output_file(const char* path) {
  // A name that nothing holds yet cannot be a link: made new in one step, it needs no
  // lookup of its own. Anything already there (a file of an earlier install, a link)
  // is looked at in full first, as is every path under a folder not found clear.
  if (pass_destination && folder_clear(path)) {
    HANDLE made = create_with(path, CREATE_NEW);
    if (made != INVALID_HANDLE_VALUE) return made;
  }
  if (refuse_linked_output(path)) return INVALID_HANDLE_VALUE;
  return create_with(path, CREATE_ALWAYS);
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
  if (refuse_linked_output(path)) return 1;
  wide_text wide = wide_name(path);
  if (!wide.ok) return 1;
  CreateDirectoryW(wide.text, nullptr);  // an existing folder is fine
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

// A signed medium's setup.exe may carry the SHA-256 of the instdat.arc beside it (made
// by talven-pack medium --separate --sign): then only that package is read.
bool package_digest_differs(FILE* package) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(package_digest_resource), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return false;
  HGLOBAL loaded = SizeofResource(nullptr, found) == sha256_bytes ? LoadResource(nullptr, found) : nullptr;
  const void* expected = loaded ? LockResource(loaded) : nullptr;
  return !expected || check_package_digest(package, static_cast<const unsigned char*>(expected)) != 0;
}

}  // namespace

FILE* open_install_package(int32_t* length) {
  char module[260];
  if (module_path(module, sizeof module) != 0) return nullptr;

  // The package the program carries wins: a file dropped beside a downloaded installer
  // must not be installed in its place. instdat.arc serves the separate medium only.
  FILE* exe = open_stream(module, "rb");
  if (!exe) return nullptr;
  long start = 0, image_end = 0;
  // A program without a package has no trailer: its last bytes point into its own image.
  if (pe_image_end(exe, &image_end) == 0 && locate_appended_package(exe, &start, length) == 0 &&
      start >= image_end)
    return exe;
  std::fclose(exe);

  char separate[260];
  if (beside_executable(separate, sizeof separate, module, "instdat.arc") != 0) return nullptr;
  FILE* package = open_stream(separate, "rb");
  if (!package) return nullptr;
  long size = -1;
  if (std::fseek(package, 0, SEEK_END) == 0) size = std::ftell(package);
  if (size >= 0 && std::fseek(package, 0, SEEK_SET) == 0 && !package_digest_differs(package)) {
    *length = static_cast<int32_t>(size);
    return package;
  }
  std::fclose(package);
  return nullptr;
}

int extract_package_from(FILE* package, int32_t length, const char* destination, pass_mode mode,
                         const char** refusal) {
  if (refusal) *refusal = nullptr;
  linked_path[0] = '\0';
  if (!package) return -1;
  HWND dialog = nullptr;
  if (mode == full_pass) {
    dialog = open_extract_dialog(length);
  }
  pass_destination = destination;
  clear_folder[0] = '\0';
  pass_output output = {dialog, nullptr, make_folder, open_output, close_output, {dialog, on_block}, nullptr,
                        write_output};
  const char* why = nullptr;
  int result = extract_with(package, length, destination, mode, &output, &why);
  if (refusal) *refusal = why;
  if (dialog) {
    progress_show_now();  // both bars where the pass ended
    // A copy carrying on counts from the package's end, so the overall bar stays full.
    if (state().keep_extract_dialog && result == 0)
      state().copied_total = length;
    else
      close_progress_dialog();
  }
  pass_destination = nullptr;
  return result;
}

void extract_install_package(const char* destination, pass_mode mode, void (*clean_up)()) {
  int32_t length = 0;
  FILE* package = open_install_package(&length);
  if (package && extract_package_from(package, length, destination, mode) == 0) return;
  close_progress_dialog();
  if (linked_path[0] != '\0')
    show_error(linked_destination_text, linked_path);
  else
    show_error(damaged_package_text);
  clean_up();
  std::exit(-1);
}

}  // namespace talven
