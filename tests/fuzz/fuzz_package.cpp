// Fuzzing harness: raw bytes as an install package (or, beginning with "MZ", as an
// executable carrying one: located as the installer does, signed or not), through the
// installer's start-up and full passes (the shared walk with the host file side, into a scratch folder) and
// through the check pass that verify runs. The passes must agree: the check refuses
// exactly what the full pass refuses as damage, for the same reason, and nothing may
// appear beside the scratch folder's target.
#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/extract.h"
#include "package/package_format.h"

namespace {

std::string scratch, target;

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

void empty_target() {
  ::nftw(target.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  ::mkdir(target.c_str(), 0777);
}

// Only the target may stand in the scratch folder.
bool scratch_is_clean() {
  DIR* d = ::opendir(scratch.c_str());
  if (!d) return false;
  bool clean = true;
  while (dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..") && std::strcmp(e->d_name, "target")) clean = false;
  ::closedir(d);
  return clean;
}

// A refusal the output side caused (a path too long for the installer's buffer, a name
// the host's file system refuses), not damage of the package.
bool output_failure(const char* why) {
  return why && (!std::strcmp(why, "the output path would pass 256 bytes") || !std::strcmp(why, "the file cannot be made") ||
                 !std::strcmp(why, "the folder cannot be made") || !std::strcmp(why, "the file could not be written") ||
                 !std::strcmp(why, "the output could not be written"));
}

// One pass over the bytes; the reason of a refusal, or null.
const char* pass(const uint8_t* data, size_t size, talven::pass_mode mode) {
  empty_target();
  FILE* package = size ? ::fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
  if (!package) std::abort();
  const char* refusal = nullptr;
  int result = talven::extract_package_from(package, static_cast<int32_t>(size), target.c_str(), mode, &refusal);
  if ((result == 0) != (refusal == nullptr)) std::abort();
  return refusal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFF) return 0;
  if (scratch.empty()) {
    // In memory where there is a memory file system: three passes write files per input.
    std::string name = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    name += "/fuzz-package-XXXXXX";
    if (!::mkdtemp(&name[0])) std::abort();
    scratch = name;
    target = scratch + "/target";
  }
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
    FILE* exe = ::fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!exe) std::abort();
    long start = 0;
    int32_t length = 0;
    int located = talven::locate_appended_package(exe, &start, &length);
    std::fclose(exe);
    if (located != 0) return 0;
    // The package and its trailer lie inside the file, whatever its headers claim.
    if (start < 0 || length < 2 || static_cast<uint64_t>(start) + static_cast<uint64_t>(length) + 4 > size)
      std::abort();
    data += start;
    size = static_cast<size_t>(length);
  }
  const char* checked = pass(data, size, talven::check_pass);
  pass(data, size, talven::startup_pass);
  const char* full = pass(data, size, talven::full_pass_quiet);
  if (!output_failure(full)) {
    if ((checked == nullptr) != (full == nullptr)) std::abort();
    if (checked && std::strcmp(checked, full) != 0) std::abort();
  }
  if (!scratch_is_clean()) std::abort();
  return 0;
}
