#include "check.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "config/sections.h"
#include "config/settings.h"
#include "engine/rct.h"
#include "install/cp932.h"
#include "install/destination.h"
#include "install/markers.h"
#include "package/package_format.h"
#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace fs = std::filesystem;

namespace {

// The Windows folder the check assumes; only its drive matters for the default folder.
constexpr const char* assumed_windows_dir = "C:\\WINDOWS";
// A CD-ROM root of the usual length, for the markers of the entry lines.
constexpr const char* assumed_cd_root = "Q:\\";
constexpr size_t largest_settings_file = 1 << 20;

bool read_all(const fs::path& p, std::string* bytes, std::string* error) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    *error = std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    *error = "read error";
    return false;
  }
  return true;
}

// Line (from 1) and byte column (from 1) of an offset.
void position_of(const std::string& bytes, size_t offset, int* line, int* column) {
  *line = 1;
  size_t start = 0;
  for (size_t i = 0; i < offset && i < bytes.size(); ++i)
    if (bytes[i] == '\n') {
      ++*line;
      start = i + 1;
    }
  *column = static_cast<int>(offset - start) + 1;
}

// Length of the UTF-8 sequence at i, or 0 when it is not one.
size_t utf8_sequence(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  if (n == 2 && c < 0xC2) return 0;
  return n;
}

// Offset of the first byte that does not belong to a CP932 character, or npos.
size_t first_non_cp932(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (is_lead_byte(c)) {
      if (i + 1 >= s.size()) return i;
      unsigned char t = static_cast<unsigned char>(s[i + 1]);
      if (t < 0x40 || t == 0x7F || t > 0xFC) return i;
      ++i;
    } else if (c == 0x80 || c == 0xA0 || c >= 0xFD) {
      return i;
    }
  }
  return std::string::npos;
}

bool looks_utf16(const std::string& s) {
  if (s.size() >= 2 && ((s[0] == '\xFF' && s[1] == '\xFE') || (s[0] == '\xFE' && s[1] == '\xFF'))) return true;
  size_t zeros = 0, n = std::min<size_t>(s.size(), 512);
  for (size_t i = 0; i < n; ++i) zeros += s[i] == '\0';
  return n >= 4 && zeros * 4 >= n;
}

std::string lowered(const std::string& s) {
  std::string l = s;
  for (char& c : l)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return l;
}

// Edit distance with adjacent transpositions, ignoring ASCII case.
size_t key_distance(const std::string& a0, const std::string& b0) {
  std::string a = lowered(a0), b = lowered(b0);
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

const known_setting* find_known(const std::string& key) {
  for (const known_setting* k = known_settings; k->key; ++k)
    if (key == k->key) return k;
  return nullptr;
}

std::string nearest_known(const std::string& key) {
  const char* best = nullptr;
  size_t best_d = 0;
  for (const known_setting* k = known_settings; k->key; ++k) {
    size_t d = key_distance(key, k->key);
    if (!best || d < best_d) {
      best = k->key;
      best_d = d;
    }
  }
  size_t limit = std::max<size_t>(2, key.size() / 3);
  return best && best_d <= limit ? best : "";
}

// What the hooks of the store and the section reader saw, with physical line numbers.
struct settings_seen {
  struct entry {
    int line;
    std::string key, value;
  };
  std::vector<entry> entries;
  std::vector<std::pair<int, std::string>> no_value;  // line, key
  int reads = 0;
  int line = 1;  // physical line of the next read
  bool end_marker = false;
};

void on_settings_line(void* context, int kind, const char* raw, const char* key, const char* value) {
  settings_seen* s = static_cast<settings_seen*>(context);
  ++s->reads;
  int line = s->line;
  size_t n = std::strlen(raw);
  if (n > 0 && raw[n - 1] == '\n') ++s->line;
  if (kind == settings_line_entry) s->entries.push_back({line, key, value});
  if (kind == settings_line_no_value) s->no_value.push_back({line, key});
  if (kind == settings_line_end_marker) s->end_marker = true;
}

struct sections_seen {
  struct entry {
    int line;
    std::string section, text;
  };
  std::vector<entry> entries;
  std::set<int> lines;                       // every line that belongs to a section
  std::map<std::string, int> opened;         // section -> line of its last header
  std::vector<std::pair<int, std::string>> reopened;  // line, section met again
  int open_line = 0;
  std::string open_section;
};

void on_section_line(void* context, int line, int kind, const char* section, const char* text) {
  sections_seen* s = static_cast<sections_seen*>(context);
  s->lines.insert(line);
  if (kind == section_line_open) {
    if (s->opened.count(section)) s->reopened.push_back({line, section});
    s->opened[section] = line;
    s->open_line = line;
    s->open_section = section;
  } else if (kind == section_line_entry) {
    s->entries.push_back({line, section, text});
  } else if (kind == section_line_close) {
    s->open_line = 0;
  }
}

struct checker {
  fs::path dir;
  std::string env_file;  // shown name
  const game_tree* tree;
  check_report* report;
  settings_seen settings;
  sections_seen sections;
  std::string destination;  // the default install folder, CP932
  bool unreadable = false;  // UTF-16: what the store makes of it is noise

  void error(int line, const std::string& text) { report->add(finding_error, env_file, line, text); }
  void warning(int line, const std::string& text) { report->add(finding_warning, env_file, line, text); }
  void tree_finding(int severity, const std::string& relative, const std::string& text) {
    report->add(severity, text_of(dir / path_of(relative)), 0, text);
  }

  int line_of(const char* key) const {
    for (const settings_seen::entry& e : settings.entries)
      if (e.key == key) return e.line;
    return 0;
  }

  // The item whose CP932 name equals the given one, ignoring case as Windows does.
  const pack_item* find_item(const std::string& cp932) const {
    char want[max_entry_name + 1];
    if (copy_text(want, sizeof want, cp932.c_str()) != 0) return nullptr;
    mb_lower(want);
    for (const pack_item& item : tree->items) {
      char have[max_entry_name + 1];
      if (copy_text(have, sizeof have, item.name.c_str()) != 0) continue;
      mb_lower(have);
      if (std::strcmp(have, want) == 0) return &item;
    }
    return nullptr;
  }

  std::string shown(const std::string& cp932) const { return shown_name(cp932.c_str()); }

  void check_encoding(const std::string& bytes) {
    if (looks_utf16(bytes)) {
      error(1, "the file is UTF-16: the installer reads it byte by byte as CP932 and finds none of its "
               "settings; save it as CP932 (Shift-JIS)");
      unreadable = true;
      return;
    }
    size_t first_high = std::string::npos;
    for (size_t i = 0; i < bytes.size(); ++i)
      if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
        first_high = i;
        break;
      }
    int line, column;
    if (first_high != std::string::npos && is_utf8_text(bytes)) {
      position_of(bytes, first_high, &line, &column);
      warning(line, "the file is UTF-8: the installer reads CP932 (Shift-JIS), so its Japanese text would "
                    "show as garbage; 'talven-pack check --fix' or 'talven-pack convert' converts it");
      return;
    }
    size_t bad = first_non_cp932(bytes);
    if (bad != std::string::npos) {
      position_of(bytes, bad, &line, &column);
      char text[160];
      std::snprintf(text, sizeof text, "column %d: byte 0x%02X is not CP932 (Shift-JIS) text", column,
                    static_cast<unsigned char>(bytes[bad]));
      error(line, text);
    }
    size_t eof = bytes.find('\x1A');
    if (eof != std::string::npos && bytes.find_first_not_of(" \t\r\n\x1A", eof) != std::string::npos) {
      position_of(bytes, eof, &line, &column);
      warning(line, "a Ctrl-Z byte ends the file for the installer: what follows it is not read");
    }
    // Over-long lines are read in pieces of 511 bytes.
    size_t start = 0;
    int number = 1;
    while (start < bytes.size()) {
      size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      size_t length = end - start;
      if (length > 0 && bytes[end - 1] == '\r') --length;
      if (length > static_cast<size_t>(settings_line_size - 1))
        warning(number, "the line is " + std::to_string(length) +
                            " bytes: the installer reads lines in pieces of 511 bytes, the rest as a line of its own");
      start = end + 1;
      ++number;
    }
  }

  void load(const fs::path& env) {
    reset_settings_for_tests();
    reset_sections_for_tests();
    FILE* f = open_file(text_of(env).c_str(), "rb");
    if (f) {
      set_sections_line_hook(on_section_line, &sections);
      const char* open = nullptr;
      int r = load_sections_stream(f, &open);
      set_sections_line_hook(nullptr, nullptr);
      std::fclose(f);
      if (r != 0)
        error(sections.open_line, std::string("[") + (open ? open : "?") +
                                      "] is not closed (a line beginning with '-' closes it): the installer stops "
                                      "at start-up");
    }
    f = open_file(text_of(env).c_str(), "rb");
    if (!f) return;
    set_settings_line_hook(on_settings_line, &settings);
    load_settings_stream(f);
    set_settings_line_hook(nullptr, nullptr);
    if (settings.reads == settings_max_lines && !settings.end_marker) past_limit(f);
    std::fclose(f);
  }

  // The store stops after 400 reads; name the settings it never sees.
  void past_limit(FILE* f) {
    char line[settings_line_size];
    int number = settings.line;
    std::vector<std::pair<int, std::string>> lost;
    while (read_text_line(line, settings_line_size, f)) {
      int this_line = number;
      size_t n = std::strlen(line);
      if (n > 0 && line[n - 1] == '\n') ++number;
      if (std::strncmp(line, "[EOF]", 5) == 0) break;
      unsigned char first = static_cast<unsigned char>(line[0]);
      if (first <= 0x20 || first == '/' || sections.lines.count(this_line)) continue;
      size_t key_end = 0;
      while (key_end < n && static_cast<unsigned char>(line[key_end]) > 0x20) ++key_end;
      lost.push_back({this_line, std::string(line, key_end)});
    }
    if (lost.empty()) return;
    std::string keys;
    for (size_t i = 0; i < lost.size() && i < 5; ++i) keys += (i ? ", " : "") + lost[i].second;
    if (lost.size() > 5) keys += ", ...";
    warning(lost.front().first, "the installer reads the first 400 lines only (comments and blank lines count): " +
                                    count_of(lost.size(), "setting", "settings") + " after them " +
                                    (lost.size() == 1 ? "is" : "are") + " ignored (" + keys + ")");
  }

  void check_keys() {
    if (unreadable) return;
    std::map<std::string, int> first_line;
    for (const settings_seen::entry& e : settings.entries) {
      if (sections.lines.count(e.line)) continue;
      const known_setting* k = find_known(e.key);
      if (!k && e.key[0] == ';') {
        warning(e.line, "';' starts a comment only for the section reader; the settings store reads this line as "
                        "a key: write // for a comment");
        continue;
      }
      if (!k) {
        std::string near = nearest_known(e.key);
        std::string key = shown(e.key);
        if (!near.empty() && lowered(near) == lowered(e.key))
          warning(e.line, "unknown key " + key + ": keys are case-sensitive; did you mean " + near + "?");
        else if (!near.empty())
          warning(e.line, "unknown key " + key + ": did you mean " + near + "?");
        else
          warning(e.line, "unknown key " + key + ": the installer does not read it");
        continue;
      }
      auto seen = first_line.find(e.key);
      if (seen != first_line.end()) {
        warning(e.line, e.key + " is set again: the installer takes the first, at line " + std::to_string(seen->second));
        continue;
      }
      first_line[e.key] = e.line;
      if (k->area > 0 && e.value.size() > static_cast<size_t>(k->area - 1)) {
        char cut[600];
        setting_string(e.key.c_str(), cut, static_cast<size_t>(k->area), "");
        warning(e.line, e.key + " is " + std::to_string(e.value.size()) + " bytes: the installer reads the first " +
                            std::to_string(std::strlen(cut)) + " (" + shown(cut) + ")");
      }
    }
    for (const auto& [line, key] : settings.no_value) {
      if (sections.lines.count(line)) continue;
      if (find_known(key))
        warning(line, key + " has no value: the line is ignored (a space in a value is written |)");
      else
        warning(line, "the line is neither a setting (KEY, tab, VALUE) nor a comment (//): the installer ignores it");
    }
  }

  void check_sections() {
    if (unreadable) return;
    bool has_ini = false, has_reg = false;
    for (const sections_seen::entry& e : sections.entries) {
      has_ini |= e.section == "ini";
      has_reg |= e.section == "reg" || e.section == "regall";
    }
    if (has_reg && get_reg_global()[0] == '-')
      warning(sections.opened.count("reg") ? sections.opened["reg"] : sections.opened["regall"],
              "[reg]/[regall] lines, but REG_GLOBAL is not set: the installer writes none of them");
    if (has_ini && get_ini_file()[0] == '-')
      warning(sections.opened["ini"], "[ini] lines, but INI_FILE is not set: the installer writes them into a file "
                                      "named \"-\" in the Windows folder");
    for (const auto& [line, section] : sections.reopened)
      warning(line, "[" + section + "] again: its lines replace those of the earlier [" + section + "]");
    for (const sections_seen::entry& e : sections.entries) {
      if (e.section == "ini") {
        char key[ini_key_size], value[ini_value_size];
        if (parse_ini_entry_with(e.text.c_str(), destination.c_str(), assumed_cd_root, key, value) == 0) continue;
        if (!mb_find_char(e.text.c_str(), '='))
          error(e.line, "the installer skips this [ini] line: it has no '=' (KEY=VALUE)");
        else
          error(e.line, "the installer skips this [ini] line: with the install folder put in, it does not fit its "
                        "buffers (512-byte line, 260-byte key, 512-byte value)");
      } else if (e.section == "reg" || e.section == "regall") {
        char name[reg_name_size], value[reg_value_size];
        if (parse_reg_entry_with(e.text.c_str(), destination.c_str(), assumed_cd_root, name, value) == 0) continue;
        if (!mb_find_text(e.text.c_str(), "\"=\""))
          error(e.line, "the installer skips this [" + e.section + "] line: it is not \"NAME\"=\"VALUE\"");
        else
          error(e.line, "the installer skips this [" + e.section + "] line: with the install folder put in, it does "
                        "not fit its buffers (512-byte line and name, 260-byte value)");
      }
    }
  }

  void compute_destination() {
    char path[destination_size];
    std::string instfol = get_instfol() ? get_instfol() : "";
    std::string instto = get_instto();
    build_default_destination(path, sizeof path, assumed_windows_dir, setting_int("INSTTOPROGRAM", 1),
                              instfol.empty() ? nullptr : instfol.c_str(), instto.c_str());
    int r = normalise_destination(path, sizeof path, assumed_windows_dir, get_instmakefol(),
                                  instfol.empty() ? nullptr : instfol.c_str(), instto.c_str());
    destination = path;
    if (r == destination_too_long)
      warning(line_of("INSTTO"), "the default install folder would pass 259 bytes; the installer refuses it");
  }

  void check_named_files() {
    const pack_item* picture = find_item("insttscr.rct");
    if (!picture) {
      error(0, "no insttscr.rct in the game folder: the installer's menu keeps asking for its picture");
    } else {
      std::string bytes, why;
      rct_header header;
      if (read_all(picture->path, &bytes, &why) &&
          rct_parse_header(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &header) != rct_ok)
        tree_finding(finding_error, picture->shown, "not an RCT picture (talven-pack rct encode makes one): the menu "
                                                   "would have no background");
    }
    char readme_label[128], readme[128];
    setting_string("INSTREADME", readme_label, sizeof readme_label, "-");
    setting_string("INSTREADMEFL", readme, sizeof readme, "readme.txt");
    bool readme_asked = readme_label[0] != '-' || setting_exists("INSTREADMEFL");
    if (readme_asked) {
      int line = line_of("INSTREADMEFL") ? line_of("INSTREADMEFL") : line_of("INSTREADME");
      const pack_item* item = find_item(readme);
      if (!item || item->folder) {
        error(line, std::string("INSTREADMEFL names ") + shown(readme) + ", which is not in the game folder");
      } else {
        char lower[128];
        copy_text(lower, sizeof lower, readme);
        mb_lower(lower);
        if (!mb_find_text(lower, ".txt") && readme_label[0] != '-')
          warning(line, std::string("the menu opens ") + shown(readme) + " from its work folder, which holds only "
                                                                          "names with .txt: the readme button "
                                                                          "would do nothing");
        check_readme_text(*item);
      }
    }
    std::string exe = get_exename();
    const pack_item* program = find_item(exe);
    int force = setting_int("FORCEINSTALL", 0);
    if (!program || program->folder)
      error(line_of("EXENAME"), "EXENAME names " + shown(exe) + ", which is not in the game folder" +
                                    (force ? " (medium copies it into bin/ from there)" : "") +
                                    (line_of("EXENAME") ? "" : " (EXENAME is not set; talven.exe is its default)"));
  }

  void check_readme_text(const pack_item& item) {
    std::string bytes, why;
    if (!read_all(item.path, &bytes, &why)) return;
    bool high = std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high && is_utf8_text(bytes))
      tree_finding(finding_warning, item.shown, "the readme is UTF-8: Japanese Windows opens it as CP932 "
                                                "('talven-pack convert' converts it)");
    size_t lf = bytes.find('\n');
    if (lf != std::string::npos && (lf == 0 || bytes[lf - 1] != '\r'))
      tree_finding(finding_warning, item.shown, "the readme has LF line ends: older Notepad shows it as one line");
  }

  void check_tree() {
    for (const std::string& e : tree->errors) {
      size_t colon = e.find(": ");
      report->add(finding_error, text_of(dir / path_of(e.substr(0, colon))), 0, colon == std::string::npos ? e : e.substr(colon + 2));
    }
    std::map<std::string, const pack_item*> lower_names;
    startup_check startup;
    static const char* const devices[] = {"con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4",
                                          "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3",
                                          "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
    for (const pack_item& item : tree->items) {
      startup.see(item.name.c_str(), item.folder);
      if (item.name.size() + 1 > max_entry_name) {
        tree_finding(finding_error, item.shown, "the name is " + std::to_string(item.name.size()) +
                                                    " bytes in CP932; a package entry holds 259");
        continue;
      }
      if (check_entry_name(item.name.c_str()) != 0)
        tree_finding(finding_error, item.shown, "the name would not stay inside the install folder");
      char lower[max_entry_name + 1];
      copy_text(lower, sizeof lower, item.name.c_str());
      mb_lower(lower);
      auto [it, added] = lower_names.insert({lower, &item});
      if (!added)
        tree_finding(finding_warning, item.shown, "differs from " + it->second->shown +
                                                      " only in case: on Windows one overwrites the other");
      std::string base = item.shown;
      if (!base.empty() && base.back() == '/') base.pop_back();
      base = lowered(base.substr(base.find_last_of('/') + 1));
      base = base.substr(0, base.find('.'));
      while (!base.empty() && base.back() == ' ') base.pop_back();
      for (const char* d : devices)
        if (base == d) {
          tree_finding(finding_warning, item.shown, std::string("Windows takes ") + d +
                                                        " for a device: the file cannot be written there");
          break;
        }
      size_t length = destination.size() + 1 + item.name.size() + 1;
      if (length > output_path_size)
        tree_finding(finding_warning, item.shown,
                     "under the default install folder (" + shown(destination) + ") the path is " +
                         std::to_string(length - 1) + " bytes, " + std::to_string(length - output_path_size) +
                         " over what the installer writes (255): the install would stop here");
    }
    std::string fatal = startup.fatal;
    std::replace(fatal.begin(), fatal.end(), '\\', '/');
    if (!fatal.empty())
      tree_finding(finding_error, fatal, "the installer's start-up pass writes names holding .txt, "
                                                 "install.env or insttscr.rct into its work folder, which has no "
                                                 "sub-folders: this one in a folder (before the first nested "
                                                 "folder) stops it with its damaged-package message");
  }
};

}  // namespace

void check_report::add(int severity, const std::string& file, int line, const std::string& text) {
  findings.push_back({severity, file, line, text});
  (severity == finding_error ? errors : warnings) += 1;
}

bool is_utf8_text(const std::string& bytes) {
  bool high = false;
  for (size_t i = 0; i < bytes.size();) {
    size_t n = utf8_sequence(bytes, i);
    if (n == 0) return false;
    high |= n > 1;
    i += n;
  }
  return high;
}

void check_game(const fs::path& dir, const game_tree& tree, check_report* report) {
  checker c;
  c.dir = dir;
  c.env_file = text_of(dir / "install.env");
  c.tree = &tree;
  c.report = report;
  fs::path env = dir / "install.env";
  std::string bytes, why;
  std::error_code ec;
  if (!fs::exists(env, ec)) {
    report->add(finding_error, c.env_file, 0, "missing: the installer ends at start-up without it");
  } else if (!read_all(env, &bytes, &why)) {
    report->add(finding_error, c.env_file, 0, "cannot read: " + why);
  } else if (bytes.size() > largest_settings_file) {
    report->add(finding_error, c.env_file, 0, "over 1 MiB: not a settings file");
  } else {
    c.check_encoding(bytes);
    c.load(env);
    c.compute_destination();
    c.check_keys();
    c.check_sections();
  }
  if (c.destination.empty()) c.compute_destination();
  c.check_named_files();
  c.check_tree();
  std::stable_sort(report->findings.begin(), report->findings.end(), [&](const finding& a, const finding& b) {
    bool ae = a.file == c.env_file, be = b.file == c.env_file;
    if (ae != be) return ae;
    return ae && a.line < b.line;
  });
  reset_settings_for_tests();
  reset_sections_for_tests();
}

void print_report(const check_report& report, FILE* to) {
  for (const finding& f : report.findings) {
    if (f.line > 0)
      std::fprintf(to, "%s:%d: %s: %s\n", f.file.c_str(), f.line, f.severity == finding_error ? "error" : "warning",
                   f.text.c_str());
    else
      std::fprintf(to, "%s: %s: %s\n", f.file.c_str(), f.severity == finding_error ? "error" : "warning",
                   f.text.c_str());
  }
}

int convert_to_cp932(const std::string& in, const std::string& out, check_report* report, std::string* error) {
  std::string bytes;
  if (!read_all(in, &bytes, error)) {
    *error = "cannot read " + in + ": " + *error;
    return -1;
  }
  if (looks_utf16(bytes)) {
    *error = in + " is UTF-16; save it as UTF-8 or CP932 first";
    return -1;
  }
  bool utf8 = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 || is_utf8_text(bytes);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::string result;
  size_t start = 0;
  int line = 1;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    bool last = end == std::string::npos;
    if (last) end = bytes.size();
    std::string text = bytes.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::string cp;
    if (!utf8) {
      cp = text;
    } else if (!utf8_to_cp932(text, &cp)) {
      // Find the character that has no CP932 form, by column.
      int column = 1;
      for (size_t i = 0; i < text.size(); ++column) {
        size_t n = utf8_sequence(text, i);
        if (n == 0) n = 1;
        std::string one = text.substr(i, n), ignored;
        if (!utf8_to_cp932(one, &ignored)) {
          uint32_t code = static_cast<unsigned char>(one[0]);
          if (n > 1) {
            code &= 0xFFu >> (n + 1);
            for (size_t k = 1; k < n; ++k) code = code << 6 | (static_cast<unsigned char>(one[k]) & 0x3F);
          }
          char text_buf[96];
          std::snprintf(text_buf, sizeof text_buf, "column %d: %s (U+%04X) has no CP932 (Shift-JIS) form", column,
                        one.c_str(), code);
          report->add(finding_error, in, line, text_buf);
        }
        i += n;
      }
    }
    result += cp;
    if (!last || (!text.empty())) result += "\r\n";
    if (last) break;
    start = end + 1;
    ++line;
  }
  if (report->errors) return -1;
  std::string tmp = out + ".convert-" + process_tag();
  FILE* f = open_file(tmp.c_str(), "wb");
  if (!f) {
    *error = "cannot create " + tmp + ": " + std::strerror(errno);
    return -1;
  }
  bool ok = std::fwrite(result.data(), 1, result.size(), f) == result.size();
  int saved = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && replace_file(tmp.c_str(), out.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    remove_file(tmp.c_str());
    *error = "cannot write " + out + ": " + std::strerror(saved);
    return -1;
  }
  return 0;
}

}  // namespace talven::pack
