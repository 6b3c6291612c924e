#include "cleanup.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace talven::pack {

namespace {

char pending[4096];
volatile sig_atomic_t armed = 0;

// Every signal that ends a process by default and can be caught: Ctrl-C, kill, a closed
// terminal or pipe (pack -v | head), timers and resource limits.
constexpr int ending_signals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE, SIGQUIT,   SIGALRM, SIGUSR1,
                                  SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT};

void on_signal(int sig) {
  if (armed) ::unlink(pending);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void remove_on_signal(const char* path) {
  static bool installed = false;
  armed = 0;
  if (!path) return;
  if (std::strlen(path) >= sizeof pending) return;
  std::strcpy(pending, path);
  armed = 1;
  if (!installed) {
    installed = true;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : ending_signals) {
      // One the caller ignores stays ignored (nohup, trap '' XFSZ): its failure then shows
      // as an error of the call, which cleans up the same way.
      struct sigaction old;
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      sigaction(sig, &sa, nullptr);
    }
  }
}

int make_temporary_beside(const char* target, char* name, unsigned long size) {
  int n = std::snprintf(name, size, "%s.tmp-XXXXXX", target);
  if (n < 0 || static_cast<unsigned long>(n) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // A signal between creating the file and registering it would leave it behind: hold
  // the signals until both are done.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : ending_signals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  int fd = ::mkstemp(name);
  int saved = errno;
  if (fd >= 0) remove_on_signal(name);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return fd;
}

}  // namespace talven::pack
