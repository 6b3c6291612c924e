// The write probe and the background access grant.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "install/access.h"
#include "install/install_steps.h"
#include "startup/services.h"

namespace talven {

int probe_write_access(const char* destination) {
  char probe[260];
  // A probe path that does not fit cannot be created by anything later either.
  if (compose_in_folder(probe, sizeof probe, destination, probe_file_name) != 0) return 1;
  FILE* file = std::fopen(probe, "wb");
  if (!file) return 1;
  std::fclose(file);
  DeleteFileA(probe);
  return 0;
}

void grant_full_access(const char* destination) {
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return;
  // The sequence goes on from the temporary folder whether or not the batch gets written.
  SetCurrentDirectoryA(temp);
  char batch[260];
  char companion[260];
  if (compose_in_folder(batch, sizeof batch, temp, batch_file_name) != 0) return;
  if (replace_extension(companion, sizeof companion, batch, "pif") != 0) return;

  // The lines carry their own CR LF, so the file is written as binary.
  char text[2048];
  if (compose_grant_batch(text, sizeof text, destination, companion, batch) != 0) return;
  FILE* file = std::fopen(batch, "wb");
  if (!file) return;  // no batch, no grant; the install goes on
  size_t length = std::strlen(text);
  size_t written = std::fwrite(text, 1, length, file);
  if (std::fclose(file) != 0 || written != length) {
    DeleteFileA(batch);  // a partial batch would run a partial command
    return;
  }

  start_program(batch, 1);
}

}  // namespace talven
