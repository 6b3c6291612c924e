#include "game_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "pack_common.h"
#include "pattern.h"
#include "platform.h"

namespace talven::pack {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t largest_file = 0x7FFFFFFFull;  // sizes are signed 32-bit

// Characters Windows cannot hold in a file name, plus the separators themselves.
bool has_forbidden_char(const std::string& utf8) {
  for (unsigned char c : utf8)
    if (c < 0x20 || std::strchr("<>:\"|?*\\", c)) return true;
  return false;
}

bool is_excluded(const game_tree& t, const fs::path& p) {
  std::error_code ec;
  for (const fs::path& x : t.excluded)
    if (fs::equivalent(p, x, ec)) return true;
  return false;
}

// Checks one name component and appends its CP932 form to *name.
bool add_component(game_tree* t, const std::string& shown, const std::string& component, std::string* name) {
  std::string cp;
  if (!utf8_to_cp932(component, &cp)) {
    t->errors.push_back(shown + ": the name cannot be written in CP932 (Shift-JIS)");
    return false;
  }
  if (has_forbidden_char(component)) {
    t->errors.push_back(shown + ": the name holds a character Windows does not allow (<>:\"|?*\\ or a control character)");
    return false;
  }
  if (component.back() == '.' || component.back() == ' ') {
    t->errors.push_back(shown + ": Windows drops a dot or space at the end of a name");
    return false;
  }
  *name += cp;
  return true;
}

void collect(game_tree* t, const fs::path& dir, const std::string& prefix_shown, const std::string& prefix_name) {
  std::vector<fs::directory_entry> children;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) children.push_back(*it);
  if (ec) {
    t->errors.push_back((prefix_shown.empty() ? text_of(dir) : prefix_shown) + ": cannot read the folder: " + ec.message());
    return;
  }
  std::sort(children.begin(), children.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
    return text_of(a.path().filename()) < text_of(b.path().filename());
  });
  std::vector<fs::directory_entry> folders;
  for (const fs::directory_entry& child : children) {
    std::string component = text_of(child.path().filename());
    std::string shown = prefix_shown + component;
    if (is_excluded(*t, child.path())) continue;
    if (prefix_shown.empty() && component == ignore_file_name) continue;
    file_info st;
    if (look_at(text_of(child.path()).c_str(), &st) != 0) {
      t->errors.push_back(shown + ": cannot read: " + std::strerror(errno));
      continue;
    }
    if (!t->include_vcs && is_litter(component, st.folder)) {
      ++t->litter;
      continue;
    }
    if (pattern_excludes(t->patterns, shown, st.folder)) {
      ++t->skipped;
      continue;
    }
    if (st.folder) {
      if (child.is_symlink(ec)) {
        t->errors.push_back(shown + ": a link to a folder is not packed (it could loop)");
        continue;
      }
      folders.push_back(child);
      continue;
    }
    if (!st.regular) {
      t->errors.push_back(shown + ": neither a file nor a folder");
      continue;
    }
    pack_item item;
    item.name = prefix_name;
    if (!add_component(t, shown, component, &item.name)) continue;
    item.shown = shown;
    item.path = child.path();
    item.size = st.size;
    item.filetime = st.filetime;
    if (item.size > largest_file) {
      t->errors.push_back(shown + ": 2 GiB or more; a package entry holds less");
      continue;
    }
    t->items.push_back(std::move(item));
  }
  for (const fs::directory_entry& child : folders) {
    std::string component = text_of(child.path().filename());
    std::string shown = prefix_shown + component + "/";
    pack_item item;
    item.name = prefix_name;
    item.folder = true;
    if (!add_component(t, prefix_shown + component, component, &item.name)) continue;
    item.name += '\\';
    item.shown = shown;
    item.path = child.path();
    std::string name = item.name;
    t->items.push_back(std::move(item));
    collect(t, child.path(), shown, name);
  }
}

}  // namespace

int read_ignore_file(const fs::path& dir, std::vector<std::string>* patterns, std::string* error) {
  fs::path p = dir / ignore_file_name;
  std::error_code ec;
  if (!fs::exists(p, ec)) return 0;
  std::ifstream in(p);
  if (!in) {
    *error = text_of(p) + ": " + std::strerror(errno);
    return -1;
  }
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    patterns->push_back(line.substr(start));
  }
  return 0;
}

bool pattern_excludes(const std::vector<std::string>& patterns, const std::string& relative, bool folder) {
  std::string base = relative.substr(relative.find_last_of('/') + 1);
  for (std::string p : patterns) {
    if (!p.empty() && p.back() == '/') {
      if (!folder) continue;
      p.pop_back();
    }
    if (!p.empty() && p[0] == '/') p.erase(0, 1);  // anchored at the game folder
    bool has_slash = p.find('/') != std::string::npos;
    if (match_pattern(p.c_str(), relative.c_str(), true)) return true;
    if (!has_slash && match_pattern(p.c_str(), base.c_str(), false)) return true;
  }
  return false;
}

bool is_litter(const std::string& name, bool folder) {
  static const char* const folders[] = {".git", ".svn", ".hg", nullptr};
  static const char* const files[] = {"thumbs.db", "desktop.ini", ".ds_store", "*~", "*.bak", ".*.swp", ".git", nullptr};
  // Any case matches (Thumbs.db, THUMBS.DB): the patterns are in lower case.
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const char* const* p = folder ? folders : files; *p; ++p)
    if (match_pattern(*p, lower.c_str(), false)) return true;
  return false;
}

void collect_tree(game_tree* tree, const fs::path& dir) { collect(tree, dir, "", ""); }

std::string count_of(size_t n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace talven::pack
