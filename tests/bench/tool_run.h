// Runs a program of the benchmarks (talven-pack) directly, without a shell, its output
// thrown away, and reports its own processor time and peak memory.
#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

struct child_run {
  double cpu = 0;
  long max_rss_kb = 0;
  bool ok = false;
};

inline child_run run_tool(const std::vector<std::string>& args) {
  child_run r;
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage u;
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid) return r;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  r.max_rss_kb = u.ru_maxrss;
  return r;
}
