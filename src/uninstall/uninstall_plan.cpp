// The uninstaller's decisions, kept apart from the Win32 calls that carry them out.
#include "uninstall/uninstall_plan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/cp932.h"
#include "install/markers.h"
#include "package/entry_names.h"

namespace talven {

namespace {

inline size_t char_length(const char* p) {
  return (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

const char* skip_blanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Splits relative into its folder part (length) and its last name.
const char* last_name(const char* relative, size_t* folder_length) {
  const char* slash = mb_find_last_char(relative, '\\');
  *folder_length = slash ? static_cast<size_t>(slash - relative) : 0;
  return slash ? slash + 1 : relative;
}

}  // namespace

int wildcard_match(const char* pattern, const char* name) {
  const char* star = nullptr;  // last '*' seen, and where the name stood then
  const char* star_name = nullptr;
  while (*name) {
    size_t pl = *pattern ? char_length(pattern) : 0;
    size_t nl = char_length(name);
    if (pl == 1 && *pattern == '*') {
      star = ++pattern;
      star_name = name;
      continue;
    }
    bool same = pl == nl && (pl == 1 ? (*pattern == '?' || lower(*pattern) == lower(*name))
                                     : (pattern[0] == name[0] && pattern[1] == name[1]));
    if (pl == 1 && *pattern == '?' && nl == 2) same = true;  // ? takes one character
    if (same) {
      pattern += pl;
      name += nl;
    } else if (star) {
      star_name += char_length(star_name);
      name = star_name;
      pattern = star;
    } else {
      return 0;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

int parse_delete_line(const char* line, const char* install_folder, const char* cd_root, delete_item* out) {
  // Both disc markers name the disc, never the install folder.
  if (mb_find_text(line, "REP_CDROM")) return delete_line_refused;
  const char* expanded = expand_ini_markers_with(skip_blanks(line), install_folder, cd_root);
  if (!expanded) return delete_line_too_long;
  char text[marker_line_size];
  if (copy_text(text, sizeof text, expanded) != 0) return delete_line_too_long;
  mb_replace_char(text, '/', '\\');

  // An absolute path is taken only inside the install folder; anything else absolute is
  // refused below by the entry-name rules (colon, leading backslash).
  const char* relative = text;
  path_inside(install_folder, text, &relative);
  if (check_entry_name(relative) != 0) return delete_line_refused;

  char name[marker_line_size];
  copy_text(name, sizeof name, relative);
  size_t length = std::strlen(name);
  int kind = delete_file;
  if (std::strlen(strip_trailing_separator(name)) != length) kind = delete_folder;

  size_t folder_length = 0;
  const char* last = last_name(name, &folder_length);
  const char* wild = mb_find_char(name, '*');
  if (!wild) wild = mb_find_char(name, '?');
  if (wild) {
    // Wildcards only among one folder's files: never in a folder part, never a folder.
    if (kind == delete_folder || wild < last) return delete_line_refused;
    kind = delete_pattern;
  }
  // The whole path (install folder, separator, name, NUL) must fit the system's 260 bytes.
  if (trimmed_length(install_folder) + 1 + std::strlen(name) + 1 > uninstall_path_size) return delete_line_too_long;
  copy_text(out->relative, sizeof out->relative, name);
  out->kind = kind;
  out->user = 0;
  return delete_line_ok;
}

int build_delete_plan(delete_plan* plan, const line_entry* delfiles, const line_entry* user_lines,
                      const char* install_folder, const char* cd_root, const char** bad_line) {
  plan->count = 0;
  plan->user_count = 0;
  if (bad_line) *bad_line = nullptr;
  const line_entry* lists[2] = {delfiles, user_lines};
  for (int user = 0; user < 2; ++user) {
    for (const line_entry* e = lists[user]; e; e = e->next) {
      int rc = delete_line_too_long;
      if (plan->count < max_delete_items)
        rc = parse_delete_line(e->text, install_folder, cd_root, &plan->items[plan->count]);
      if (rc != delete_line_ok) {
        if (bad_line) *bad_line = e->text;
        return rc;
      }
      plan->items[plan->count].user = user;
      plan->count++;
      plan->user_count += user;
    }
  }
  return 0;
}

int item_covers(const delete_item* item, const char* relative) {
  switch (item->kind) {
    case delete_file:
      return same_path(item->relative, relative);
    case delete_folder:
      return same_path(item->relative, relative) || path_inside(item->relative, relative, nullptr);
    default: {
      size_t item_folder = 0, folder = 0;
      const char* pattern = last_name(item->relative, &item_folder);
      const char* name = last_name(relative, &folder);
      if (item_folder != folder || !equal_nocase(item->relative, relative, folder)) return 0;
      return wildcard_match(pattern, name);
    }
  }
}

int plan_keeps(const delete_plan* plan, const char* relative, int keep_user) {
  if (!keep_user) return 0;
  for (int i = 0; i < plan->count; ++i)
    if (plan->items[i].user && item_covers(&plan->items[i], relative)) return 1;
  return 0;
}

int is_own_file(const char* relative) {
  return same_path(relative, "UnInst.exe") || same_path(relative, "install.env");
}

int compose_uninstall_key(char* out, size_t size, const char* title) {
  int n = std::snprintf(out, size, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoDod%s", title);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : 0;
}

int compose_app_key(char* out, size_t size, const char* global, const char* local) {
  int n = std::snprintf(out, size, "Software\\%s\\%s", global, local);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : 0;
}

int compose_app_parent_key(char* out, size_t size, const char* global) {
  int n = std::snprintf(out, size, "Software\\%s", global);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : 0;
}

int compose_shortcut_set(shortcut_set* set, const char* programs, const char* group, const char* title,
                         const char* readme_label, const char* readme, const char* desktop) {
  std::memset(set, 0, sizeof *set);
  char* folder = set->program_folder;
  const size_t size = sizeof set->program_folder;
  if (copy_text(folder, size, programs) != 0 || !ensure_trailing_separator(folder, size)) return -1;
  if (group && *group) {
    if (append_text(folder, size, group) != 0) return -1;
    copy_text(set->group_folder, sizeof set->group_folder, folder);
    if (append_text(folder, size, "\\") != 0) return -1;
  }
  if (append_text(folder, size, title) != 0) return -1;

  const char* tails[3] = {"", nullptr, " アンインストール"};
  char readme_tail[uninstall_path_size];
  if (readme && readme[0] && readme[0] != '-') {
    if (std::snprintf(readme_tail, sizeof readme_tail, " %s", readme_label) >= static_cast<int>(sizeof readme_tail))
      return -1;
    tails[1] = readme_tail;
  }
  for (const char* tail : tails) {
    if (!tail) continue;
    char* link = set->links[set->link_count++];
    if (copy_text(link, uninstall_path_size, folder) != 0 || append_text(link, uninstall_path_size, "\\") != 0 ||
        append_text(link, uninstall_path_size, title) != 0 || append_text(link, uninstall_path_size, tail) != 0 ||
        append_text(link, uninstall_path_size, ".LNK") != 0)
      return -1;
  }
  if (desktop && *desktop) {
    char* link = set->desktop_link;
    if (copy_text(link, uninstall_path_size, desktop) != 0 || !ensure_trailing_separator(link, uninstall_path_size) ||
        append_text(link, uninstall_path_size, title) != 0 || append_text(link, uninstall_path_size, ".LNK") != 0)
      return -1;
  }
  return 0;
}

int compose_cleanup_args(char* out, size_t size, unsigned long long handle, const char* program) {
  int n = std::snprintf(out, size, "/cleanup %llu \"%s\"", handle, program);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : 0;
}

int parse_cleanup_args(const char* args, unsigned long long* handle, char* program, size_t size) {
  const char prefix[] = "/cleanup ";
  if (std::strncmp(args, prefix, sizeof prefix - 1) != 0) return -1;
  const char* p = args + sizeof prefix - 1;
  if (*p < '0' || *p > '9') return -1;
  char* end = nullptr;
  unsigned long long value = std::strtoull(p, &end, 10);
  if (end == p || *end != ' ' || end[1] != '"') return -1;
  const char* start = end + 2;
  const char* close = mb_find_char(start, '"');  // a quote is never part of a path
  if (!close || close == start || close[1] != '\0') return -1;
  size_t n = static_cast<size_t>(close - start);
  if (n + 1 > size) return -1;
  std::memcpy(program, start, n);
  program[n] = '\0';
  *handle = value;
  return 0;
}

int compose_end_message(char* out, size_t size, const char* title, const char* folder,
                        const char* const* names, int name_count, int left_total) {
  int n = std::snprintf(out, size, "「%s」のアンインストールが終了しました。", title);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    if (size) out[0] = '\0';
    return -1;
  }
  if (left_total <= 0) return 0;
  if (name_count > left_total) name_count = left_total;
  char line[uninstall_path_size * 2];
  std::snprintf(line, sizeof line, "\n\n次のものは削除していません（フォルダ[%s]）。", folder);
  if (append_text(out, size, line) != 0) return 0;
  // Room is kept for the closing count, so the text never ends in the middle of a name.
  const size_t reserve = 32;
  int shown = 0;
  for (; shown < name_count; ++shown) {
    std::snprintf(line, sizeof line, "\n  %s", names[shown]);
    if (std::strlen(out) + std::strlen(line) + reserve + 1 > size) break;
    append_text(out, size, line);
  }
  if (shown < left_total) {
    std::snprintf(line, sizeof line, "\n  ほか%d個", left_total - shown);
    append_text(out, size, line);
  }
  return 0;
}

}  // namespace talven

namespace talven {

namespace {

// One line's bounds [begin, end) with blanks and a trailing CR trimmed.
void trim_line(const char* line, size_t length, size_t* begin, size_t* end) {
  size_t b = 0, e = length;
  while (e > 0 && (line[e - 1] == '\r' || line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
  while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
  *begin = b;
  *end = e;
}

// text[0, length) names the same as name, blanks around both ignored.
int same_name(const char* text, size_t length, const char* name) {
  name = skip_blanks(name);
  size_t n = std::strlen(name);
  while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == '\t')) --n;
  return n == length && equal_nocase(text, name, n);
}

// The section a header line names, or -1 when the line is no header.
int header_name(const char* line, size_t length, size_t* name_begin, size_t* name_end) {
  size_t b, e;
  trim_line(line, length, &b, &e);
  if (e - b < 2 || line[b] != '[') return -1;
  // The closing bracket is searched for character by character: a trail byte may be 0x5D.
  size_t close = 0;
  for (size_t i = b + 1; i < e; i += char_length(line + i))
    if (line[i] == ']') {
      close = i;
      break;
    }
  if (close == 0) return -1;
  trim_line(line + b + 1, close - b - 1, name_begin, name_end);
  *name_begin += b + 1;
  *name_end += b + 1;
  return 0;
}

}  // namespace

size_t ini_remove_keys(char* text, size_t length, const char* section, const char* const* keys, int key_count) {
  size_t read = 0, write = 0;
  int inside = 0;
  size_t header_at = 0;  // where the target section's header was written
  int kept_lines = 0;    // non-blank lines kept in the target section
  while (read < length) {
    size_t end = read;
    while (end < length && text[end] != '\n') ++end;
    size_t next = end < length ? end + 1 : end;
    const char* line = text + read;
    size_t line_length = end - read;
    size_t b, e;
    trim_line(line, line_length, &b, &e);
    int drop = 0;
    size_t nb, ne;
    if (header_name(line, line_length, &nb, &ne) == 0) {
      if (inside && kept_lines == 0) write = header_at;  // the section before was emptied
      inside = same_name(line + nb, ne - nb, section);
      header_at = write;
      kept_lines = 0;
    } else if (inside && b < e) {
      size_t eq = b;
      while (eq < e && line[eq] != '=') eq += char_length(line + eq);
      size_t key_end = eq;
      while (key_end > b && (line[key_end - 1] == ' ' || line[key_end - 1] == '\t')) --key_end;
      for (int k = 0; k < key_count && !drop; ++k) drop = eq < e && same_name(line + b, key_end - b, keys[k]);
      if (!drop) ++kept_lines;
    }
    if (!drop) {
      std::memmove(text + write, line, next - read);
      write += next - read;
    }
    read = next;
  }
  if (inside && kept_lines == 0) write = header_at;
  return write;
}

}  // namespace talven
