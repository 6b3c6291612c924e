// Sub-commands of talven-pack register themselves, so that each lives in its own file.
#pragma once

namespace talven::pack {

struct command {
  const char* name;     // first argument that selects it
  const char* summary;  // one line for the overall --help
  // argv[0] is the command name; returns the process exit code (0 ok, 1 failure, 2 usage).
  int (*run)(int argc, char** argv);
};

// Called from a static initialiser in each command's file; returns a dummy value.
int register_command(const command& cmd);

}  // namespace talven::pack

#define TALVEN_PACK_COMMAND(ident, ...) \
  static const int ident##_registered = ::talven::pack::register_command(::talven::pack::command{__VA_ARGS__})
