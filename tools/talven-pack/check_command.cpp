// check GAME_DIR: the findings of check.h, with 7-Zip's exit codes. convert IN OUT: UTF-8
// text to the CP932 and CR LF the installer and Japanese Windows read.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "command.h"
#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace {

namespace fs = std::filesystem;

void check_usage(FILE* to) {
  std::fputs(
      "usage: talven-pack check [--fix] [--strict] [--exclude PATTERN]... GAME_DIR\n\n"
      "Reads GAME_DIR/install.env as the installer will (its own settings store, section\n"
      "reader and entry-line parsers, fed the same bytes) and the tree pack would store,\n"
      "and prints each finding as FILE:LINE: error|warning: text.\n"
      "Errors stop or break the installer: an unclosed section, a file that is UTF-16 or\n"
      "not CP932, a [reg]/[regall]/[ini] line its parser skips, insttscr.rct, the readme or\n"
      "EXENAME missing, names pack cannot store. Warnings: unknown keys (with the nearest\n"
      "known one), values cut to their buffer, settings past the 400 lines read, UTF-8\n"
      "text, names that clash on Windows, paths over 255 bytes under the default folder.\n"
      "  --fix      first convert a UTF-8 install.env to CP932 with CR LF, in place\n"
      "  --strict   count warnings as errors\n"
      "  --exclude  leave matching names out, as pack does (also GAME_DIR/.talvenignore)\n"
      "Exit codes: 0 clean, 1 warnings only, 2 errors (or a usage error).\n",
      to);
}

void convert_usage(FILE* to) {
  std::fputs(
      "usage: talven-pack convert IN OUT\n\n"
      "Writes the text file IN (UTF-8, with or without a byte order mark, or CP932) to OUT\n"
      "in CP932 (Shift-JIS) with CR LF line ends, as the installer reads install.env and\n"
      "as Japanese Windows opens a readme. A character CP932 cannot hold is reported as\n"
      "IN:LINE: error: column N: ... and nothing is written. IN and OUT may be one file.\n",
      to);
}

int run_check(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    check_usage(stdout);
    return exit_ok;
  }
  bool fix = false, strict = false;
  std::vector<std::string> patterns;
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--fix") {
      fix = true;
    } else if (a == "--strict") {
      strict = true;
    } else if (a == "--exclude" && i + 1 < argc) {
      patterns.push_back(argv[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "talven-pack check: unknown option %s\n", argv[i]);
      check_usage(stderr);
      return 2;
    } else {
      plain.push_back(argv[i]);
    }
  }
  if (plain.size() != 1) {
    check_usage(stderr);
    return 2;
  }
  fs::path dir = path_of(plain[0]);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    fail("%s is not a folder", plain[0]);
    return 2;
  }
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
      if (convert_to_cp932(env, env, &conversion, &error) != 0) {
        print_report(conversion, stdout);
        if (!error.empty()) fail("%s", error.c_str());
        return 2;
      }
      std::printf("%s: converted from UTF-8 to CP932 with CR LF\n", env.c_str());
    }
  }
  game_tree tree;
  tree.patterns = patterns;
  std::string error;
  if (read_ignore_file(dir, &tree.patterns, &error) != 0) {
    fail("cannot read %s", error.c_str());
    return 2;
  }
  collect_tree(&tree, dir);
  check_report report;
  check_game(dir, tree, &report);
  print_report(report, stdout);
  if (report.errors || report.warnings)
    std::printf("%s, %s\n", count_of(report.errors, "error", "errors").c_str(),
                count_of(report.warnings, "warning", "warnings").c_str());
  if (report.errors || (strict && report.warnings)) return 2;
  return report.warnings ? 1 : 0;
}

int run_convert(int argc, char** argv) {
  if (int code = check_arguments(argc, argv, 2, convert_usage); code >= 0) return code;
  check_report report;
  std::string error;
  if (convert_to_cp932(argv[1], argv[2], &report, &error) != 0) {
    print_report(report, stderr);
    if (!error.empty()) fail("%s", error.c_str());
    return exit_failure;
  }
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(check, "check", "GAME_DIR: find what would break the installer (exit 0/1/2)", run_check);
TALVEN_PACK_COMMAND(convert, "convert", "IN OUT: UTF-8 text to CP932 with CR LF (install.env, readme)", run_convert);

}  // namespace talven::pack
