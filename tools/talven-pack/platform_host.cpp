// The Linux side of talven-pack's platform seam: file names are bytes, so UTF-8 as given.
#include "platform.h"

#include <fcntl.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pack_common.h"

extern char** environ;

namespace talven::pack {

std::filesystem::path path_of(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string text_of(const std::filesystem::path& path) { return path.string(); }

FILE* open_file(const char* utf8, const char* mode) { return std::fopen(utf8, mode); }

namespace {

void fill(const struct stat& st, file_info* info) {
  info->folder = S_ISDIR(st.st_mode);
  info->regular = S_ISREG(st.st_mode);
  info->link = S_ISLNK(st.st_mode);
  info->size = static_cast<uint64_t>(st.st_size);
  info->filetime = filetime_from_unix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

// One converter per direction for the whole run: opening one costs far more than
// converting a name, and list or extract convert one name per entry.
iconv_t converter(const char* to, const char* from) {
  static iconv_t to_cp932 = reinterpret_cast<iconv_t>(-1), to_utf8 = reinterpret_cast<iconv_t>(-1);
  iconv_t* cd = std::strcmp(to, "CP932") == 0 ? &to_cp932 : &to_utf8;
  if (*cd == reinterpret_cast<iconv_t>(-1)) *cd = iconv_open(to, from);
  return *cd;
}

bool convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = converter(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  out->clear();
  std::string buffer(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = &buffer[0];
  size_t dst_left = buffer.size();
  size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  bool ok = r != static_cast<size_t>(-1) && src_left == 0;
  // Flush any shift state (none for these encodings, but iconv asks for it).
  if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<size_t>(-1);
  if (!ok) return false;
  out->assign(buffer.data(), buffer.size() - dst_left);
  return true;
}

}  // namespace

int look_at(const char* utf8, file_info* info) {
  struct stat st;
  if (::stat(utf8, &st) != 0) return -1;
  fill(st, info);
  return 0;
}

int look_at_link(const char* utf8, file_info* info) {
  struct stat st;
  if (::lstat(utf8, &st) != 0) return -1;
  fill(st, info);
  return 0;
}

FILE* create_file_no_link(const char* utf8) {
  int fd = ::open(utf8, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* out = ::fdopen(fd, "wb");
  if (!out) {
    int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return out;
}

int replace_file(const char* from, const char* to) { return std::rename(from, to); }
int remove_file(const char* utf8) { return ::unlink(utf8); }

int set_write_time(const char* utf8, uint64_t filetime) {
  int64_t seconds;
  long nanoseconds;
  unix_from_filetime(filetime, &seconds, &nanoseconds);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = nanoseconds;
  return ::utimensat(AT_FDCWD, utf8, times, 0);
}

void give_default_mode(FILE* file) {
  // mkstemp makes temporaries 0600; the finished file gets what the umask allows.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(::fileno(file), 0666 & ~mask);
}

void copy_mode(const char* from, const char* to) {
  struct stat st;
  if (::stat(from, &st) == 0) ::chmod(to, st.st_mode & 07777);
}

void make_executable(const char* utf8) { ::chmod(utf8, 0755); }

std::string process_tag() { return std::to_string(::getpid()); }

std::string program_folder() {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  return std::filesystem::path(self).parent_path().string();
}

bool convert_to_cp932(const std::string& utf8, std::string* cp932) { return convert("CP932", "UTF-8", utf8, cp932); }
bool convert_to_utf8(const std::string& cp932, std::string* utf8) { return convert("UTF-8", "CP932", cp932, utf8); }

FILE* scratch_stream() { return std::tmpfile(); }

bool error_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }
bool output_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

int terminal_columns() {
  struct winsize ws;
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 0;
}

const char* iso_unavailable() { return nullptr; }

int run_program(const std::vector<std::string>& args, FILE* output, std::string* error) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) {
    std::fflush(output);
    posix_spawn_file_actions_adddup2(&actions, fileno(output), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(output), STDERR_FILENO);
  }
  pid_t pid;
  int r = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) {
    *error = std::strerror(r);
    return -1;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace talven::pack

int main(int argc, char** argv) { return talven_pack_main(argc, argv); }
