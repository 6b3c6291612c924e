// The tree of a game folder as pack will store it: every folder and file in package order,
// with its CP932 name, and the names that cannot be packed. Shared by pack, check and
// medium so that all three see the same entries.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talven::pack {

// Names of files in the game folder that are read by the tool and never packed.
constexpr const char* ignore_file_name = ".talvenignore";

struct pack_item {
  std::string name;   // CP932, backslashes, folders end in one
  std::string shown;  // UTF-8 relative path for messages ("/" separators, folders end in one)
  std::filesystem::path path;
  bool folder = false;
  bool convert = false;  // install.env or the readme: UTF-8 text is stored as CP932
  uint64_t size = 0;
  uint64_t filetime = 0;
};

struct game_tree {
  std::vector<pack_item> items;
  std::vector<std::string> errors;  // "relative/path: why", each a name that cannot be packed
  std::vector<std::filesystem::path> excluded;  // paths never packed (the output itself)
  // Shell patterns (fnmatch) tested against each relative path and each name; one that
  // ends in "/" matches folders only. From --exclude and the ignore file.
  std::vector<std::string> patterns;
  size_t skipped = 0;  // entries left out by a pattern
  // Version-control folders, OS litter and editor backups are left out unless kept.
  bool include_vcs = false;
  size_t litter = 0;  // entries left out as such
};

// Reads DIR/.talvenignore, if any: one pattern a line, "#" starts a comment. 0, or -1 with
// *error set when it exists but cannot be read.
int read_ignore_file(const std::filesystem::path& dir, std::vector<std::string>* patterns, std::string* error);

// True when a pattern of the tree leaves this relative path out.
bool pattern_excludes(const std::vector<std::string>& patterns, const std::string& relative, bool folder);

// .git/.svn/.hg folders, Thumbs.db, desktop.ini, .DS_Store, *~, *.bak, .*.swp: never part
// of a game, and easily packed by accident from a work tree.
bool is_litter(const std::string& name, bool folder);

// Fills tree->items and tree->errors from DIR.
void collect_tree(game_tree* tree, const std::filesystem::path& dir);

// "1 name" / "2 names".
std::string count_of(size_t n, const char* singular, const char* plural);

}  // namespace talven::pack
