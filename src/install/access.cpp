#include "install/access.h"

#include "base/cp932.h"
#include "install/destination.h"

namespace talven {

const char probe_file_name[] = "UserAccountCheck.id";
const char* const protected_file_names[2] = {"UnInst.exe", "install.env"};

int compose_in_folder(char* out, size_t size, const char* folder, const char* name) {
  char work[1024];
  if (copy_text(work, sizeof work, folder) != 0) return -1;
  if (!ensure_trailing_separator(work, sizeof work)) return -1;
  if (append_text(work, sizeof work, name) != 0) return -1;
  return copy_text(out, size, work);
}

int grant_users_write(const char* destination, int created_by_install, const char* const* system_folders,
                      int count) {
  if (!created_by_install || !destination || !destination[0]) return 0;
  return is_system_folder(destination, system_folders, count) ? 0 : 1;
}

int protected_file_entries(access_entry* out, int max) {
  static const access_entry entries[] = {
      {who_administrators, access_full, 0},
      {who_system, access_full, 0},
      {who_users, access_read_execute, 0},
  };
  int count = 0;
  for (const access_entry& e : entries) {
    if (count >= max) break;
    out[count++] = e;
  }
  return count;
}

}  // namespace talven
