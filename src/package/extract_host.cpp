// The host side of the extraction seam: the same passes as on Windows, writing with "/"
// between folders and without a dialog, so that tests and the fuzzing harness run the
// installer's walk on Linux.
#include <sys/stat.h>

#include <cstring>

#include "base/cp932.h"
#include "package/extract.h"

namespace talven {

namespace {

// The composed "destination\name" with its real backslashes turned into "/".
const char* host_path(char* out, const char* path) {
  std::memcpy(out, path, std::strlen(path) + 1);
  return mb_replace_char(out, '\\', '/');
}

int make_folder(void*, const package_entry*, const char* path) {
  char host[output_path_size];
  ::mkdir(host_path(host, path), 0777);  // an existing folder is fine, as on Windows
  return 0;
}

void* open_output(void*, const package_entry*, const char* path) {
  char host[output_path_size];
  return std::fopen(host_path(host, path), "wb");
}

int close_output(void*, void* out, const package_entry*, const char*, int) {
  return std::fclose(static_cast<FILE*>(out)) != 0;
}

}  // namespace

int extract_package_from(FILE* package, int32_t length, const char* destination, pass_mode mode,
                         const char** refusal) {
  if (refusal) *refusal = nullptr;
  if (!package) return -1;
  pass_output output = {nullptr, nullptr, make_folder, open_output, close_output, {nullptr, nullptr}, nullptr, nullptr};
  const char* why = nullptr;
  int result = extract_with(package, length, destination, mode, &output, &why);
  if (refusal) *refusal = why;
  return result;
}

}  // namespace talven
