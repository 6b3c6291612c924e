// sign KEY.p12 EXE...: signs a medium's programs in place (Authenticode). A setup.exe
// with its package appended is signed as it is: the installer finds the package before
// the certificate table, and the signature covers the package too.
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"
#include "pack_common.h"
#include "signing.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fprintf(to,
               "usage: talven-pack sign [OPTIONS] KEY.p12 EXE...\n\n"
               "Signs each EXE in place with the PKCS#12 key file KEY.p12 (osslsigncode on Linux,\n"
               "signtool.exe on Windows). Sign after appending the package: 'append' refuses a\n"
               "signed setup.exe. 'verify' checks a signed setup.exe's signature.\n\n"
               "%s",
               sign_options_help);
}

int run_sign(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  sign_options o;
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    int r = parse_sign_option("sign", argc, argv, &i, &o, false);
    if (r < 0) return exit_usage;
    if (r > 0) continue;
    if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "talven-pack sign: unknown option %s\n", argv[i]);
      usage(stderr);
      return exit_usage;
    }
    plain.push_back(argv[i]);
  }
  if (plain.size() < 2) {
    usage(stderr);
    return exit_usage;
  }
  o.key = plain[0];
  for (size_t i = 1; i < plain.size(); ++i) {
    if (int status = sign_executable(plain[i], o); status != exit_ok) return status;
    std::printf("%s: signed\n", plain[i]);
  }
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(sign, "sign", "KEY.p12 EXE...: sign setup.exe (package appended) and UnInst.exe", run_sign);

}  // namespace talven::pack
