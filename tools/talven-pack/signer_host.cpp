// The Linux signer: osslsigncode (Debian package osslsigncode). The password goes to it
// through a pipe ("-readpass -"), never through its command line.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "signing.h"

extern char** environ;

namespace talven::pack {

namespace {

// Runs argv with input on its stdin, collecting stdout and stderr (at most 1 MiB). The
// exit code, or -1 when it cannot start (*output then says why).
int run_collecting(std::vector<std::string> args, const std::string& input, std::string* output) {
  output->clear();
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int in_pipe[2], out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) return -1;
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
  pid_t pid;
  int r = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  if (r != 0) {
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    *output = std::strerror(r);
    return -1;
  }
  // The password is short, far below a pipe's buffer: written whole before reading.
  void (*old)(int) = std::signal(SIGPIPE, SIG_IGN);
  if (!input.empty() && ::write(in_pipe[1], input.data(), input.size()) < 0) {
  }
  ::close(in_pipe[1]);
  std::signal(SIGPIPE, old);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(out_pipe[0], buffer, sizeof buffer)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (output->size() < (1u << 20)) output->append(buffer, static_cast<size_t>(got));
  }
  ::close(out_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The value after "label:" on the output's line that starts with label.
std::string field(const std::string& text, const char* label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return "";
  at = text.find(':', at);
  if (at == std::string::npos) return "";
  size_t end = text.find('\n', at);
  std::string v = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
  size_t first = v.find_first_not_of(" \t"), last = v.find_last_not_of(" \t\r");
  return first == std::string::npos ? "" : v.substr(first, last - first + 1);
}

std::string last_lines(const std::string& text) {
  size_t end = text.find_last_not_of("\n");
  if (end == std::string::npos) return "no output";
  size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

int run_signer(const char* key, const std::string& password, const char* timestamp, const char* in,
               const char* out, std::string* error) {
  std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", key, "-readpass", "-", "-h", "sha256"};
  if (timestamp) {
    args.push_back("-ts");
    args.push_back(timestamp);
  }
  args.insert(args.end(), {"-in", in, "-out", out});
  std::string output;
  int code = run_collecting(args, password, &output);
  if (code == -1) {
    *error = "cannot run osslsigncode (apt-get install osslsigncode): " + output;
    return -1;
  }
  if (code != 0) {
    *error = "osslsigncode: " + last_lines(output);
    return -1;
  }
  return 0;
}

int check_signature(const char* path, const char* ca_file, bool* trusted, std::string* detail) {
  *trusted = false;
  std::vector<std::string> args = {"osslsigncode", "verify"};
  if (ca_file) {
    args.push_back("-CAfile");
    args.push_back(ca_file);
  }
  args.insert(args.end(), {"-in", path});
  std::string output;
  int code = run_collecting(args, "", &output);
  if (code == -1) {
    *detail = "not checked: osslsigncode is not installed";
    return signature_unchecked;
  }
  // The digest over the signed bytes tells whether the file was changed; the chain
  // whether the certificate is trusted here, which a throw-away or private one is not.
  std::string current = field(output, "Current message digest"), computed = field(output, "Calculated message digest");
  if (current.empty() || computed.empty()) {
    *detail = "osslsigncode cannot read it: " + last_lines(output);
    return signature_broken;
  }
  if (current != computed) {
    *detail = "the signed bytes were changed after signing (digest " + computed + ", signed " + current + ")";
    return signature_broken;
  }
  *trusted = code == 0;
  std::string signer = field(output, "Subject");
  *detail = "signed bytes intact, signer " + (signer.empty() ? std::string("unknown") : signer) +
            (*trusted ? ", certificate chain verified" : ", certificate not trusted on this machine");
  return signature_intact;
}

}  // namespace talven::pack
