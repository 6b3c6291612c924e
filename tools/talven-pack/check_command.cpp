// check GAME_DIR: the findings of check.h, with 7-Zip's exit codes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "command.h"
#include "pack_common.h"
#include "platform.h"
#include "text_convert.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

void check_usage(FILE* to) {
  std::fputs(
      "usage: talven-pack check [--fix] [--strict] [--json] [-q] [--exclude PATTERN]... GAME_DIR\n\n"
      "Reads GAME_DIR/install.env as the installer will (its own settings store, section\n"
      "reader and entry-line parsers, fed the same bytes) and the tree pack would store,\n"
      "and prints each finding as FILE:LINE: error|warning: text.\n"
      "Errors stop or break the installer: a section still open at the end, a file that\n"
      "is UTF-16 or not CP932, a [reg]/[regall]/[ini] line its parser skips, insttscr.rct,\n"
      "the readme or EXENAME missing, names the installer refuses (device names such as\n"
      "aux.txt or con/, < > | ? * \", names leaving the folder) or pack cannot store.\n"
      "Warnings: unknown keys (with the nearest known one), values cut to their buffer or\n"
      "at a blank, a single backslash in a [reg] value, settings past the 400 lines read,\n"
      "UTF-8 text (pack converts it), a menu picture that is not 410x291, names that clash\n"
      "on Windows, paths over 255 bytes under the default folder.\n"
      "  --fix      first convert a UTF-8 install.env to CP932 with CR LF, in place (the\n"
      "             UTF-8 text is kept as install.env.bak)\n"
      "  --strict   count warnings as errors\n"
      "  --json     one JSON object a line per finding: file, line, column (0: none),\n"
      "             severity, code, text\n"
      "  -q         the findings only, without the count\n"
      "  --exclude  leave matching names out, as pack does (also GAME_DIR/.talvenignore)\n"
      "  --include-vcs  keep .git/.svn/.hg, Thumbs.db, desktop.ini, .DS_Store and editor\n"
      "             backups (*~, *.bak, .*.swp), which are left out by default\n"
      "Exit codes: 0 clean, 1 warnings only, 2 errors (or a usage error).\n",
      to);
}

int run_check(int argc, char** argv) {
  static const char* const known_options[] = {"--fix", "--strict", "--exclude", "--json", "--include-vcs",
                                               "-q", "--quiet", "--help", nullptr};
  if (wants_help(argc, argv)) {
    check_usage(stdout);
    return exit_ok;
  }
  bool fix = false, strict = false, json = false, quiet = false, include_vcs = false;
  std::vector<std::string> patterns;
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--fix") {
      fix = true;
    } else if (a == "--strict") {
      strict = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a == "--include-vcs") {
      include_vcs = true;
    } else if (a == "--exclude") {
      if (i + 1 == argc) return usage_error("check", "--exclude needs a pattern");
      patterns.push_back(argv[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return unknown_option("check", argv[i], known_options);
    } else {
      plain.push_back(argv[i]);
    }
  }
  if (plain.size() != 1) return operand_error("check", "GAME_DIR", plain.size());
  fs::path dir = path_of(plain[0]);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return not_a_folder("check", plain[0]);
  if (fix) {
    std::string env = text_of(dir / "install.env"), bytes;
    FILE* f = open_file(env.c_str(), "rb");
    if (f) {
      char buffer[65536];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
      std::fclose(f);
    }
    if (is_utf8_text(bytes) || bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      check_report conversion;
      std::string error;
      // The maker's own text is kept beside it; pack leaves *.bak out by default.
      std::string copy = env + ".bak";
      fs::copy_file(env, copy, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        fail("cannot keep a copy of %s as %s: %s", env.c_str(), copy.c_str(), ec.message().c_str());
        return 2;
      }
      if (convert_to_cp932(env, env, &conversion, &error) != 0) {
        json ? print_report_json(conversion, stdout) : print_report(conversion, stdout);
        if (!error.empty()) fail("%s", error.c_str());
        return 2;
      }
      if (!quiet && !json)
        std::printf("%s: converted from UTF-8 to CP932 with CR LF (the UTF-8 text is kept as %s)\n", env.c_str(),
                    copy.c_str());
    }
  }
  game_tree tree;
  tree.patterns = patterns;
  tree.include_vcs = include_vcs;
  std::string error;
  if (read_ignore_file(dir, &tree.patterns, &error) != 0) {
    fail("cannot read %s", error.c_str());
    return 2;
  }
  collect_tree(&tree, dir);
  check_report report;
  check_game(dir, tree, &report);
  if (json) {
    print_report_json(report, stdout);
  } else {
    print_report(report, stdout);
    if (!quiet && (report.errors || report.warnings))
      std::printf("%s, %s\n", count_of(report.errors, "error", "errors").c_str(),
                  count_of(report.warnings, "warning", "warnings").c_str());
  }
  if (report.errors || (strict && report.warnings)) return 2;
  return report.warnings ? 1 : 0;
}

}  // namespace

TALVEN_PACK_COMMAND(check, "check", "GAME_DIR: find what would break the installer (exit 0/1/2)", run_check);

}  // namespace talven::pack
