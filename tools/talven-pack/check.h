// check: what the installer will make of a game folder, found before it ships. The
// settings file is read by the installer's own store and section reader, its entry lines
// by the installer's parsers, and the tree is the one pack stores.
#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "game_tree.h"

namespace talven::pack {

enum { finding_warning = 0, finding_error = 1 };

struct finding {
  int severity;
  std::string file;  // as given on the command line, joined with the relative name
  int line;          // 0 when the finding has no line
  int column;        // in characters from 1; 0 when the finding has none
  const char* code;  // a stable short name of the kind ("name-refused"), for editors and CI
  std::string text;
};

struct check_report {
  std::vector<finding> findings;
  size_t errors = 0, warnings = 0;
  void add(int severity, const char* code, const std::string& file, int line, const std::string& text,
           int column = 0);
};

// The menu's client area in pixels at 96 DPI: MAINDIALOG's 234 x 179 dialog units with the
// base units of its font (7 x 13). The menu centres insttscr.rct in it: a larger picture is
// cut evenly on each side, a smaller one leaves a black border.
constexpr int menu_picture_width = 410, menu_picture_height = 291;

// Checks DIR/install.env and the tree (collected from DIR by collect_tree).
void check_game(const std::filesystem::path& dir, const game_tree& tree, check_report* report);

// "FILE:LINE: error|warning: text" lines.
void print_report(const check_report& report, FILE* to);
// One JSON object a line: file, line, column, severity, code, text.
void print_report_json(const check_report& report, FILE* to);

// Entry names of the tree the installer's package reader would refuse, and names pack
// cannot store, as errors: the reader's own rules (entry_names.h), so that check, pack and
// verify give one verdict. Shared by check and pack.
void check_tree_names(const game_tree& tree, const std::filesystem::path& dir, check_report* report);

// Loads the installer's settings store from DIR/install.env as the package will hold it
// (UTF-8 converted); the caller reads the getters, then calls reset_settings_for_tests.
void load_game_settings(const std::filesystem::path& dir);

}  // namespace talven::pack
