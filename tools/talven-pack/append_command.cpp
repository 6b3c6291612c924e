// append SETUP.EXE PACKAGE OUT.EXE: the one-file form of the installer. The package
// follows the executable's bytes, and a 4-byte little-endian trailer holds the offset
// of its first byte.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cleanup.h"
#include "command.h"
#include "pack_common.h"
#include "signing.h"
#include "platform.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack append [--replace] SETUP.EXE PACKAGE OUT.EXE\n\n"
      "Writes OUT.EXE: the bytes of SETUP.EXE, then PACKAGE, then the offset of the\n"
      "package's first byte as a 4-byte little-endian number. The package's entries\n"
      "are checked first (headers only; verify inflates them).\n"
      "A SETUP.EXE that already carries a package is refused, since the installer reads\n"
      "only the last one; --replace puts the new package in place of the old one.\n"
      "A signed SETUP.EXE is refused: append first, then sign (talven-pack sign).\n",
      to);
}

int run_append(int argc, char** argv) {
  static const char* const known_options[] = {"--replace", "--help", nullptr};
  bool replace = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--replace") == 0)
      replace = true;
    else
      args.push_back(argv[i]);
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (int code = check_arguments(argc, argv, "SETUP.EXE PACKAGE OUT.EXE", known_options, usage); code >= 0) return code;
  const char *exe_path = argv[1], *package_path = argv[2], *out_path = argv[3];
  std::vector<unsigned char> exe;
  std::string error;
  if (!read_whole_file(exe_path, &exe, &error)) return fail("cannot read %s: %s", exe_path, error.c_str());
  if (exe.size() < 2 || exe[0] != 'M' || exe[1] != 'Z') return fail("%s is not a Windows executable (no MZ)", exe_path);
  if (is_signed_executable(exe_path))
    return fail("%s is signed: appending would break its signature, and the installer would not find the "
                "package. Append to the unsigned setup.exe, then sign the result (talven-pack sign)",
                exe_path);
  long carried = 0;
  int32_t carried_length = 0;
  if (carries_package(exe_path, &carried, &carried_length)) {
    size_t start = static_cast<size_t>(carried);
    if (!replace)
      return fail("%s already carries a package (at offset %zu); the installer would read only the new one. "
                  "Use the plain setup.exe, or --replace to put this package in its place",
                  exe_path, start);
    exe.resize(start);
  }
  {
    package_input input;
    if (open_package_input(package_path, &input) != 0) return exit_failure;
    if (input.appended) return fail("%s is an executable, not a package", package_path);
    if (read_headers(package_path, &input) != 0) return exit_failure;
  }
  std::vector<unsigned char> package;
  if (!read_whole_file(package_path, &package, &error))
    return fail("cannot read %s: %s", package_path, error.c_str());
  // The installer seeks with signed 32-bit offsets: the whole file stays below 2 GiB.
  if (exe.size() + package.size() + 4 > 0x7FFFFFFFull) return fail("%s would pass 2 GiB", out_path);
  // Zeros before the package put the trailer on 8 bytes, where a signer's table will follow it.
  exe.resize(exe.size() + appended_padding(exe.size(), package.size()), 0);
  uint32_t offset = static_cast<uint32_t>(exe.size());
  unsigned char trailer[4];
  for (int i = 0; i < 4; ++i) trailer[i] = static_cast<unsigned char>(offset >> (8 * i));

  char tmp_name[4096];
  int fd = make_temporary_beside(out_path, tmp_name, sizeof tmp_name);
  if (fd < 0) return fail("cannot create a temporary file beside %s: %s", out_path, std::strerror(errno));
  std::string tmp = tmp_name;
  FILE* out = ::fdopen(fd, "wb");
  if (!out) {
    ::close(fd);
    remove_file(tmp_name);
    remove_on_signal(nullptr);
    return fail("cannot write %s: %s", tmp_name, std::strerror(errno));
  }
  bool ok = std::fwrite(exe.data(), 1, exe.size(), out) == exe.size() &&
            std::fwrite(package.data(), 1, package.size(), out) == package.size() &&
            std::fwrite(trailer, 1, 4, out) == 4;
  int saved = errno;
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok) copy_mode(exe_path, tmp.c_str());
  if (ok && replace_file(tmp.c_str(), out_path) != 0) {
    ok = false;
    saved = errno;
  }
  remove_on_signal(nullptr);
  if (!ok) {
    remove_file(tmp.c_str());
    return fail("cannot write %s: %s", out_path, std::strerror(saved));
  }
  std::printf("%s: %zu bytes of executable, %zu bytes of package at offset %u\n", out_path, exe.size(),
              package.size(), offset);
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(append, "append", "SETUP.EXE PACKAGE OUT.EXE: put a package at the end of the installer",
                    run_append);

}  // namespace talven::pack
