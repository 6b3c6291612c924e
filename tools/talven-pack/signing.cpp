#include "signing.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cleanup.h"
#include "pack_common.h"
#include "pe/pe_image.h"
#include "platform.h"

namespace talven::pack {

const char* const sign_options_help =
    "signing (the key's password is never taken on the command line):\n"
    "  --pass-file F     the password is the first line of F; without it the\n"
    "                    TALVEN_SIGN_PASSWORD environment variable, else none\n"
    "  --timestamp URL   a time-stamp server, passed to the signer\n";

int parse_sign_option(const char* command, int argc, char** argv, int* i, sign_options* o, bool with_key) {
  std::string a = argv[*i];
  if (a == "--pass" || a == "--password" || a.rfind("--pass=", 0) == 0 || a.rfind("--password=", 0) == 0) {
    std::fprintf(stderr,
                 "talven-pack %s: a password on the command line is readable by every user of the machine: "
                 "give --pass-file FILE or set %s\n",
                 command, password_variable);
    return -1;
  }
  std::string* value = a == "--pass-file" ? &o->pass_file : a == "--timestamp" ? &o->timestamp
                       : with_key && a == "--sign" ? &o->key : nullptr;
  if (!value) return 0;
  if (*i + 1 >= argc) {
    std::fprintf(stderr, "talven-pack %s: %s needs a value\n", command, argv[*i]);
    return -1;
  }
  *value = argv[++*i];
  return 1;
}

bool is_signed_executable(const char* path) {
  FILE* f = open_file(path, "rb");
  if (!f) return false;
  bool found = false;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long size = std::ftell(f);
    uint32_t at, bytes;
    found = size > 0 && find_certificate_table_in(f, static_cast<uint64_t>(size), &at, &bytes) != certificate_none;
  }
  std::fclose(f);
  return found;
}

uint64_t appended_padding(uint64_t exe_size, uint64_t package_size) {
  return (8 - (exe_size + package_size + 4) % 8) % 8;
}

namespace {

bool read_password(const sign_options& o, std::string* password) {
  password->clear();
  if (o.pass_file.empty()) {
    if (const char* env = std::getenv(password_variable)) *password = env;
    return true;
  }
  std::vector<unsigned char> data;
  std::string error;
  if (!read_whole_file(o.pass_file.c_str(), &data, &error, 4096)) {
    fail("cannot read the password file %s: %s", o.pass_file.c_str(), error.c_str());
    return false;
  }
  if (data.size() > 4096) {
    fail("%s: a password file of one line is expected", o.pass_file.c_str());
    return false;
  }
  password->assign(data.begin(), data.end());
  size_t line = password->find_first_of("\r\n");
  if (line != std::string::npos) password->resize(line);
  return true;
}

// The bytes to sign: the file itself, or (an executable carrying a package whose end is
// not on 8 bytes) the same with the package moved so that it is.
bool aligned_layout(const char* path, std::vector<unsigned char>* file, bool* changed) {
  std::string error;
  *changed = false;
  if (!read_whole_file(path, file, &error)) {
    fail("cannot read %s: %s", path, error.c_str());
    return false;
  }
  long at = 0;
  int32_t length = 0;
  if (!carries_package(path, &at, &length)) return true;
  uint64_t start = static_cast<uint64_t>(at);
  uint64_t end = start + static_cast<uint64_t>(length) + 4;
  if (end != file->size() || end % 8 == 0) return true;  // signed already, or aligned
  uint64_t pad = appended_padding(start, static_cast<uint64_t>(length));
  file->insert(file->begin() + static_cast<long>(start), pad, 0);
  uint32_t moved = static_cast<uint32_t>(start + pad);
  for (int i = 0; i < 4; ++i) (*file)[file->size() - 4 + i] = static_cast<unsigned char>(moved >> (8 * i));
  *changed = true;
  return true;
}

}  // namespace

int sign_executable(const char* path, const sign_options& o) {
  std::string password;
  if (!read_password(o, &password)) return exit_failure;
  std::vector<unsigned char> file;
  bool changed = false;
  if (!aligned_layout(path, &file, &changed)) return exit_failure;
  if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z') return fail("%s is not a Windows executable (no MZ)", path);
  char in_name[4096], out_name[4096];
  int fd = make_temporary_beside(path, in_name, sizeof in_name);
  if (fd < 0) return fail("cannot create a temporary file beside %s: %s", path, std::strerror(errno));
  FILE* in = ::fdopen(fd, "wb");
  bool written = in && std::fwrite(file.data(), 1, file.size(), in) == file.size();
  if (in) written = std::fclose(in) == 0 && written;
  std::string in_path = in_name;
  remove_on_signal(nullptr);
  if (!written) {
    remove_file(in_path.c_str());
    return fail("cannot write %s", in_path.c_str());
  }
  // The signer writes a file of its own; a fresh name beside the target, removed first,
  // so that it never writes through a link planted there.
  fd = make_temporary_beside(path, out_name, sizeof out_name);
  if (fd >= 0) ::close(fd);
  std::string out_path = fd >= 0 ? out_name : "";
  if (!out_path.empty()) remove_file(out_path.c_str());
  std::string error;
  int signed_ok = out_path.empty() ? -1
                                   : run_signer(o.key.c_str(), password, o.timestamp.empty() ? nullptr : o.timestamp.c_str(),
                                                in_path.c_str(), out_path.c_str(), &error);
  remove_file(in_path.c_str());
  remove_on_signal(nullptr);
  if (signed_ok != 0) {
    if (!out_path.empty()) remove_file(out_path.c_str());
    return fail("cannot sign %s: %s", path, out_path.empty() ? std::strerror(errno) : error.c_str());
  }
  copy_mode(path, out_path.c_str());
  if (replace_file(out_path.c_str(), path) != 0) {
    int saved = errno;
    remove_file(out_path.c_str());
    return fail("cannot replace %s: %s", path, std::strerror(saved));
  }
  if (changed) std::printf("%s: package moved by a few bytes so that the signature follows its trailer\n", path);
  return exit_ok;
}

}  // namespace talven::pack
