#include "install/access.h"

#include <cstring>

#include "install/cp932.h"

namespace talven {

const char probe_file_name[] = "UserAccountCheck.id";
const char batch_file_name[] = "Kelvanrothe_fullaccess.bat";

int compose_in_folder(char* out, size_t size, const char* folder, const char* name) {
  char work[1024];
  if (copy_text(work, sizeof work, folder) != 0) return -1;
  if (!ensure_trailing_separator(work, sizeof work)) return -1;
  if (append_text(work, sizeof work, name) != 0) return -1;
  return copy_text(out, size, work);
}

int double_percent(char* out, size_t size, const char* text) {
  size_t n = 0;
  for (const char* p = text; *p; ++p) {
    // A '%' byte is never the second byte of a double-byte character (those start at 0x40).
    size_t need = (*p == '%') ? 2 : 1;
    if (n + need + 1 > size) return -1;
    out[n++] = *p;
    if (*p == '%') out[n++] = '%';
  }
  if (n + 1 > size) return -1;
  out[n] = '\0';
  return 0;
}

int compose_grant_batch(char* out, size_t size, const char* destination, const char* companion,
                        const char* batch) {
  // Each argument is at most a 259-byte path, doubled at worst.
  char quoted[3][520];
  const char* args[3] = {destination, companion, batch};
  if (size) out[0] = '\0';
  for (int i = 0; i < 3; ++i)
    if (double_percent(quoted[i], sizeof quoted[i], args[i]) != 0) return -1;
  const char* parts[] = {"echo y| cacls \"", quoted[0], "\" /p everyone:F\r\n",
                         "del \"",           quoted[1], "\"\r\n",
                         "del \"",           quoted[2], "\"\r\n"};
  char work[2048];
  work[0] = '\0';
  for (const char* part : parts)
    if (append_text(work, sizeof work, part) != 0) return -1;
  return copy_text(out, size, work);
}

int replace_extension(char* out, size_t size, const char* path, const char* extension) {
  // The name starts after the last real separator (or the drive's colon); the old extension
  // is the text from the name's last dot.
  const char* name = path;
  const char* slash = mb_find_last_char(path, '\\');
  const char* forward = mb_find_last_char(path, '/');
  if (forward && (!slash || forward > slash)) slash = forward;
  if (slash) {
    name = slash + 1;
  } else if (const char* colon = mb_find_char(path, ':')) {
    name = colon + 1;
  }
  const char* dot = mb_find_last_char(name, '.');
  size_t keep = dot ? static_cast<size_t>(dot - path) : std::strlen(path);
  // A name that ends with a dot once the extension is gone loses that dot as well.
  if (keep > static_cast<size_t>(name - path) && path[keep - 1] == '.') --keep;
  char work[1024];
  if (keep + 1 > sizeof work) return -1;
  std::memcpy(work, path, keep);
  work[keep] = '\0';
  if (append_text(work, sizeof work, ".") != 0) return -1;
  if (append_text(work, sizeof work, extension) != 0) return -1;
  return copy_text(out, size, work);
}

}  // namespace talven
