// Signing a medium's programs: the options sign and medium share, the layout a signer
// needs, and the platform's signer behind a seam (signer_host.cpp runs osslsigncode,
// signer_win.cpp signtool.exe).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace talven::pack {

// The environment variable read for the key's password when no --pass-file is given.
constexpr const char* password_variable = "TALVEN_SIGN_PASSWORD";

struct sign_options {
  std::string key;        // PKCS#12 file
  std::string pass_file;  // first line is the password
  std::string timestamp;  // time-stamp server URL, passed through
};

extern const char* const sign_options_help;

// One option of argv at *i: 1 when taken (*i moved past its value), 0 when not a signing
// option, -1 after printing a usage error. --sign KEY is taken only when with_key.
int parse_sign_option(const char* command, int argc, char** argv, int* i, sign_options* o, bool with_key);

// True when the executable at path carries a certificate table (it has been signed).
bool is_signed_executable(const char* path);

// Zero bytes to put between an executable and the package appended to it so that the
// whole file (trailer included) ends on 8 bytes: a signer pads the file to 8 before its
// certificate table, and the trailer must stand right before that table.
uint64_t appended_padding(uint64_t exe_size, uint64_t package_size);

// Signs the file at path in place: an executable carrying an unaligned package is laid
// out again first (package moved by the padding, trailer rewritten). 0, or exit_failure
// after printing why.
int sign_executable(const char* path, const sign_options& o);

// The seam. Runs the platform's signer on in, writing out. password is empty when the
// key has none. 0, or -1 with *error.
int run_signer(const char* key, const std::string& password, const char* timestamp, const char* in,
               const char* out, std::string* error);

enum { signature_intact = 0, signature_broken = 1, signature_unchecked = 2 };
// Checks the signature of a signed file: whether the signed bytes are unchanged, and
// (*trusted) whether its certificate chain verifies against the system's or ca_file's
// certificates. *detail says what was found, or why nothing could be checked.
int check_signature(const char* path, const char* ca_file, bool* trusted, std::string* detail);

}  // namespace talven::pack
