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
  std::string text;
};

struct check_report {
  std::vector<finding> findings;
  size_t errors = 0, warnings = 0;
  void add(int severity, const std::string& file, int line, const std::string& text);
};

// Checks DIR/install.env and the tree (collected from DIR by collect_tree).
void check_game(const std::filesystem::path& dir, const game_tree& tree, check_report* report);

// "FILE:LINE: error|warning: text" lines, then a count when there is anything to count.
void print_report(const check_report& report, FILE* to);

// UTF-8 (with or without a BOM) or CP932 text to CP932 with CR LF line ends, written
// through a temporary file and a rename. Characters CP932 cannot hold are findings with
// their line and column (in characters), and nothing is written. 0 on success, -1
// otherwise (report filled or *error set).
int convert_to_cp932(const std::string& in, const std::string& out, check_report* report, std::string* error);

// Whether the bytes are UTF-8 holding anything beyond ASCII (so not meant as CP932).
bool is_utf8_text(const std::string& bytes);

}  // namespace talven::pack
