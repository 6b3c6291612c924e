// talven-pack: the game maker's tool. Each sub-command lives in its own file and adds
// itself to the table below from a static initialiser (command.h).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "command.h"
#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace {

constexpr size_t max_commands = 32;
constexpr const char* talven_pack_version = "1.1.0";

struct command_table {
  std::array<command, max_commands> entries{};
  size_t count = 0;
};

// A function-local table: static initialisers of other files may run before this file's.
command_table& table() {
  static command_table t;
  return t;
}

void print_overview(FILE* out) {
  std::fputs(
      "usage: talven-pack COMMAND [ARGUMENTS]\n"
      "       talven-pack COMMAND --help   (or: talven-pack help COMMAND)\n"
      "       talven-pack --version\n\n"
      "Builds and checks the install package of a game and the files it carries.\n\n"
      "commands:\n",
      out);
  command_table& t = table();
  std::array<const command*, max_commands> sorted{};
  for (size_t i = 0; i < t.count; ++i) sorted[i] = &t.entries[i];
  std::sort(sorted.begin(), sorted.begin() + t.count,
            [](const command* a, const command* b) { return std::strcmp(a->name, b->name) < 0; });
  for (size_t i = 0; i < t.count; ++i) std::fprintf(out, "  %-10s %s\n", sorted[i]->name, sorted[i]->summary);
  std::fputs("\nexit codes: 0 ok, 1 failure, 2 usage (check: 0 clean, 1 warnings, 2 errors)\n", out);
}

// "unknown command X" with the nearest command, one line; exit 2.
int unknown_command(const char* name) {
  command_table& t = table();
  std::array<const char*, max_commands + 1> names{};
  for (size_t i = 0; i < t.count; ++i) names[i] = t.entries[i].name;
  std::string near = nearest_word(name, names.data());
  if (!near.empty())
    std::fprintf(stderr, "talven-pack: unknown command '%s'; did you mean %s? (talven-pack --help lists them)\n", name,
                 near.c_str());
  else
    std::fprintf(stderr, "talven-pack: unknown command '%s' (talven-pack --help lists them)\n", name);
  return 2;
}

}  // namespace

int register_command(const command& cmd) {
  command_table& t = table();
  for (size_t i = 0; i < t.count; ++i)
    if (std::strcmp(t.entries[i].name, cmd.name) == 0) {
      std::fprintf(stderr, "talven-pack: command %s registered twice\n", cmd.name);
      return 0;
    }
  if (t.count == max_commands) {
    std::fprintf(stderr, "talven-pack: too many commands, %s left out\n", cmd.name);
    return 0;
  }
  t.entries[t.count++] = cmd;
  return 1;
}

}  // namespace talven::pack

// The entry point itself is the platform's (platform_host.cpp, platform_win.cpp): it
// hands over the arguments as UTF-8.
int talven_pack_main(int argc, char** argv) {
  using namespace talven::pack;
  if (argc < 2) {
    std::fprintf(stderr, "talven-pack: a command is missing (talven-pack --help lists them)\n");
    return 2;
  }
  command_table& t = table();
  if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
    std::printf("talven-pack %s\n", talven_pack_version);
    return 0;
  }
  // "help CMD" is "CMD --help".
  if (std::strcmp(argv[1], "help") == 0 && argc > 2) {
    for (size_t i = 0; i < t.count; ++i)
      if (std::strcmp(t.entries[i].name, argv[2]) == 0) {
        char help[] = "--help";
        char* args[] = {argv[2], help, nullptr};
        return t.entries[i].run(2, args);
      }
    return unknown_command(argv[2]);
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    print_overview(stdout);
    return 0;
  }
  if (argv[1][0] == '-') {
    std::fprintf(stderr, "talven-pack: unknown option %s (talven-pack --help lists the commands)\n", argv[1]);
    return 2;
  }
  for (size_t i = 0; i < t.count; ++i)
    if (std::strcmp(t.entries[i].name, argv[1]) == 0) return t.entries[i].run(argc - 1, argv + 1);
  return unknown_command(argv[1]);
}
