#include "check.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "config/sections.h"
#include "config/settings.h"
#include "engine/rct.h"
#include "base/cp932.h"
#include "install/destination.h"
#include "install/markers.h"
#include "install/name_rules.h"
#include "package/entry_names.h"
#include "package/package_format.h"
#include "pack_common.h"
#include "progress_line.h"
#include "platform.h"
#include "text_convert.h"

namespace talven::pack {

namespace fs = std::filesystem;

namespace {

// The Windows folder the check assumes; only its drive matters for the default folder.
constexpr const char* assumed_windows_dir = "C:\\WINDOWS";
// A CD-ROM root of the usual length, for the markers of the entry lines.
constexpr const char* assumed_cd_root = "Q:\\";
constexpr size_t largest_settings_file = 1 << 20;
constexpr uint64_t largest_package_bytes = 0x7FFFFFFFull;

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

std::string lowered(const std::string& s) {
  std::string l = s;
  for (char& c : l)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return l;
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
    size_t d = edit_distance(key, k->key);
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
    std::string key, value, raw;
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
  if (kind == settings_line_entry) s->entries.push_back({line, key, value, raw});
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

// Characters (CP932: a lead byte and its trail byte are one) before byte offset `end`.
int characters_before(const std::string& s, size_t end) {
  int n = 0;
  for (size_t i = 0; i < end && i < s.size(); i += is_lead_byte(static_cast<unsigned char>(s[i])) ? 2 : 1) ++n;
  return n;
}

// A FILE* holding the bytes, for the readers that take a stream.
FILE* stream_of(const std::string& bytes) {
  FILE* f = scratch_stream();
  if (!f) return nullptr;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fclose(f);
    return nullptr;
  }
  std::rewind(f);
  return f;
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
  bool utf8 = false;        // read as pack will store it: converted to CP932

  void error(const char* code, int line, const std::string& text, int column = 0) {
    report->add(finding_error, code, env_file, line, text, column);
  }
  void warning(const char* code, int line, const std::string& text, int column = 0) {
    report->add(finding_warning, code, env_file, line, text, column);
  }
  void tree_finding(int severity, const char* code, const std::string& relative, const std::string& text) {
    report->add(severity, code, text_of(dir / path_of(relative)), 0, text);
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

  void check_encoding(const std::string& bytes, bool detect_utf8 = true) {
    if (looks_utf16(bytes)) {
      error("settings-utf16", 1, "the file is UTF-16: the installer reads it byte by byte as CP932 and finds none of its "
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
    if (detect_utf8 && first_high != std::string::npos && is_utf8_text(bytes)) {
      position_of(bytes, first_high, &line, &column);
      warning("settings-utf8", line,
              "the file is UTF-8: the installer reads CP932 (Shift-JIS); pack and medium convert it on the way "
              "into the package (the game folder keeps it as it is), 'talven-pack check --fix' converts the file");
      utf8 = true;
      return;
    }
    size_t bad = first_non_cp932(bytes);
    if (bad != std::string::npos) {
      position_of(bytes, bad, &line, &column);
      char text[160];
      std::snprintf(text, sizeof text, "column %d: byte 0x%02X is not CP932 (Shift-JIS) text", column,
                    static_cast<unsigned char>(bytes[bad]));
      error("settings-not-cp932", line, text, column);
    }
    size_t eof = bytes.find('\x1A');
    if (eof != std::string::npos && bytes.find_first_not_of(" \t\r\n\x1A", eof) != std::string::npos) {
      position_of(bytes, eof, &line, &column);
      warning("settings-ctrl-z", line, "a Ctrl-Z byte ends the file for the installer: what follows it is not read");
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
        warning("settings-long-line", number, "the line is " + std::to_string(length) +
                            " bytes: the installer reads lines in pieces of 511 bytes, the rest as a line of its own");
      start = end + 1;
      ++number;
    }
  }

  // The bytes as the installer gets them, through the readers' own stream functions.
  void load(const std::string& bytes) {
    reset_settings_for_tests();
    reset_sections_for_tests();
    FILE* f = stream_of(bytes);
    if (f) {
      set_sections_line_hook(on_section_line, &sections);
      const char* open = nullptr;
      int r = load_sections_stream(f, &open);
      set_sections_line_hook(nullptr, nullptr);
      std::fclose(f);
      // The reader ends a section at a line beginning with '-' or at the next section's
      // header; only the one still open at the end of the file stops the installer.
      if (r != 0)
        error("section-unclosed", sections.open_line,
              std::string("[") + (open ? open : "?") +
                  "] is not closed by the end of the file (a line beginning with '-' closes it; the next "
                  "header closes the one before it): the installer stops at start-up");
    }
    f = stream_of(bytes);
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
    warning("settings-past-400", lost.front().first, "the installer reads the first 400 lines only (comments and blank lines count): " +
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
        warning("key-semicolon", e.line, "';' starts a comment only for the section reader; the settings store reads this line as "
                        "a key: write // for a comment");
        continue;
      }
      if (!k) {
        std::string near = nearest_known(e.key);
        std::string key = shown(e.key);
        if (!near.empty() && lowered(near) == lowered(e.key))
          warning("key-case", e.line, "unknown key " + key + ": keys are case-sensitive; did you mean " + near + "?");
        else if (!near.empty())
          warning("key-unknown", e.line, "unknown key " + key + ": did you mean " + near + "?");
        else
          warning("key-unknown", e.line, "unknown key " + key + ": the installer does not read it");
        continue;
      }
      auto seen = first_line.find(e.key);
      if (seen != first_line.end()) {
        warning("key-repeated", e.line, e.key + " is set again: the installer takes the first, at line " + std::to_string(seen->second));
        continue;
      }
      first_line[e.key] = e.line;
      check_value_end(e);
      if (k->area > 0 && e.value.size() > static_cast<size_t>(k->area - 1)) {
        char cut[600];
        setting_string(e.key.c_str(), cut, static_cast<size_t>(k->area), "");
        warning("value-cut", e.line, e.key + " is " + std::to_string(e.value.size()) + " bytes: the installer reads the first " +
                            std::to_string(std::strlen(cut)) + " (" + shown(cut) + ")");
      }
    }
    for (const auto& [line, key] : settings.no_value) {
      if (sections.lines.count(line)) continue;
      if (find_known(key))
        warning("value-missing", line, key + " has no value: the line is ignored (a space in a value is written |)");
      else
        warning("line-unread", line, "the line is neither a setting (KEY, tab, VALUE) nor a comment (//): the installer ignores it");
    }
  }

  // The store takes a value up to its first blank: "TITLEBAR 月影の譜 体験版" is read as
  // "月影の譜". Text after the blank other than a // comment was meant as part of it.
  void check_value_end(const settings_seen::entry& e) {
    const std::string& raw = e.raw;
    size_t at = e.key.size();
    while (at < raw.size() && static_cast<unsigned char>(raw[at]) <= 0x20) ++at;
    size_t value_end = at;
    while (value_end < raw.size() && static_cast<unsigned char>(raw[value_end]) > 0x20) ++value_end;
    size_t rest = value_end;
    while (rest < raw.size() && static_cast<unsigned char>(raw[rest]) <= 0x20) ++rest;
    if (rest == raw.size() || raw.compare(rest, 2, "//") == 0) return;
    size_t rest_end = raw.find_last_not_of(" \t\r\n");
    warning("value-space", e.line,
            e.key + ": the installer reads the value up to the blank, as " + shown(raw.substr(at, value_end - at)) +
                ", and ignores " + shown(raw.substr(rest, rest_end + 1 - rest)) + " (write | for a space)",
            characters_before(raw, value_end) + 1);
  }

  // A backslash escapes the character after it and vanishes: "REP_INSTALL\save" stores
  // "REP_INSTALLsave". Only \\ and \" mean what a maker writes them for.
  void check_reg_backslashes(int line, const std::string& text) {
    for (size_t i = 0; i < text.size(); i += is_lead_byte(static_cast<unsigned char>(text[i])) ? 2 : 1) {
      if (text[i] != '\\') continue;
      if (i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
        ++i;
        continue;
      }
      warning("reg-single-backslash", line,
              "a single backslash escapes the next character and is dropped (the separator vanishes): write \\\\ "
              "for one backslash",
              characters_before(text, i) + 1);
      return;
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
      warning("reg-without-key", sections.opened.count("reg") ? sections.opened["reg"] : sections.opened["regall"],
              "[reg]/[regall] lines, but REG_GLOBAL is not set: the installer writes none of them");
    if (has_ini && get_ini_file()[0] == '-')
      warning("ini-without-file", sections.opened["ini"], "[ini] lines, but INI_FILE is not set: the installer writes them into a file "
                                      "named \"-\" in the Windows folder");
    for (const auto& [line, section] : sections.reopened)
      warning("section-repeated", line, "[" + section + "] again: its lines replace those of the earlier [" + section + "]");
    for (const sections_seen::entry& e : sections.entries) {
      if (e.section == "ini") {
        char key[ini_key_size], value[ini_value_size];
        if (parse_ini_entry_with(e.text.c_str(), destination.c_str(), assumed_cd_root, key, value) == 0) continue;
        if (!mb_find_char(e.text.c_str(), '='))
          error("ini-line-skipped", e.line, "the installer skips this [ini] line: it has no '=' (KEY=VALUE)");
        else
          error("ini-line-skipped", e.line, "the installer skips this [ini] line: with the install folder put in, it does not fit its "
                        "buffers (512-byte line, 260-byte key, 512-byte value)");
      } else if (e.section == "reg" || e.section == "regall") {
        char name[reg_name_size], value[reg_value_size];
        if (parse_reg_entry_with(e.text.c_str(), destination.c_str(), assumed_cd_root, name, value) == 0) {
          check_reg_backslashes(e.line, e.text);
          continue;
        }
        if (!mb_find_text(e.text.c_str(), "\"=\""))
          error("reg-line-skipped", e.line, "the installer skips this [" + e.section + "] line: it is not \"NAME\"=\"VALUE\"");
        else
          error("reg-line-skipped", e.line, "the installer skips this [" + e.section + "] line: with the install folder put in, it does "
                        "not fit its buffers (512-byte line and name, 260-byte value)");
      }
    }
  }

  // Settings that each name one key, INI file, Start-menu group or title: a path part,
  // ".." or a drive would let the install and the uninstaller touch what is not the game's.
  void check_single_names() {
    const char* value = nullptr;
    if (const char* key = refused_setting_name(&value))
      error("setting-not-one-name", line_of(key), std::string(key) + " must be one name (no \\, /, : or ..): the installer and the "
                          "uninstaller refuse '" + shown(value) + "'");
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
      warning("destination-too-long", line_of("INSTTO"), "the default install folder would pass 259 bytes; the installer refuses it");
  }

  void check_named_files() {
    const pack_item* picture = find_item("insttscr.rct");
    if (!picture) {
      error("picture-missing", 0, "no insttscr.rct in the game folder: the installer's menu keeps asking for its picture");
    } else {
      std::string bytes, why;
      rct_header header;
      if (read_all(picture->path, &bytes, &why)) {
        if (rct_parse_header(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &header) != rct_ok)
          tree_finding(finding_error, "picture-not-rct", picture->shown,
                       "not an RCT picture (talven-pack rct encode makes one): the menu would have no background");
        else if (header.width != menu_picture_width || header.height != menu_picture_height)
          tree_finding(finding_warning, "picture-size", picture->shown,
                       "the picture is " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                           " pixels; the menu shows " + std::to_string(menu_picture_width) + "x" +
                           std::to_string(menu_picture_height) + " at 96 DPI, centred: " +
                           (header.width > menu_picture_width || header.height > menu_picture_height
                                ? "the rest is cut off"
                                : "a black border fills the rest"));
      }
    }
    char readme_label[128], readme[128];
    setting_string("INSTREADME", readme_label, sizeof readme_label, "-");
    setting_string("INSTREADMEFL", readme, sizeof readme, "readme.txt");
    bool readme_asked = readme_label[0] != '-' || setting_exists("INSTREADMEFL");
    if (readme_asked) {
      int line = line_of("INSTREADMEFL") ? line_of("INSTREADMEFL") : line_of("INSTREADME");
      const pack_item* item = find_item(readme);
      if (!item || item->folder) {
        error("readme-missing", line, std::string("INSTREADMEFL names ") + shown(readme) + ", which is not in the game folder");
      } else {
        char lower[128];
        copy_text(lower, sizeof lower, readme);
        mb_lower(lower);
        if (!mb_find_text(lower, ".txt") && readme_label[0] != '-')
          warning("readme-not-txt", line, std::string("the menu opens ") + shown(readme) + " from its work folder, which holds only "
                                                                          "names with .txt: the readme button "
                                                                          "would do nothing");
        check_readme_text(*item);
      }
    }
    std::string exe = get_exename();
    const pack_item* program = find_item(exe);
    int force = setting_int("FORCEINSTALL", 0);
    if (!program || program->folder)
      error("program-missing", line_of("EXENAME"), "EXENAME names " + shown(exe) + ", which is not in the game folder" +
                                    (force ? " (medium copies it into bin/ from there)" : "") +
                                    (line_of("EXENAME") ? "" : " (EXENAME is not set; talven.exe is its default)"));
  }

  void check_readme_text(const pack_item& item) {
    std::string bytes, why;
    if (!read_all(item.path, &bytes, &why)) return;
    bool high = std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high && is_utf8_text(bytes)) {
      tree_finding(finding_warning, "readme-utf8", item.shown,
                   "the readme is UTF-8: Japanese Windows opens it as CP932; pack and medium convert it on the way "
                   "(the game folder keeps it as it is)");
      return;  // converted with CR LF too
    }
    size_t lf = bytes.find('\n');
    if (lf != std::string::npos && (lf == 0 || bytes[lf - 1] != '\r'))
      tree_finding(finding_warning, "readme-lf", item.shown, "the readme has LF line ends: older Notepad shows it as one line");
  }

  void check_tree() {
    check_tree_names(*tree, dir, report);
    std::map<std::string, const pack_item*> lower_names;
    startup_check startup;
    for (const pack_item& item : tree->items) {
      startup.see(item.name.c_str(), item.folder);
      if (item.name.size() + 1 > max_entry_name) continue;  // refused above
      char lower[max_entry_name + 1];
      copy_text(lower, sizeof lower, item.name.c_str());
      mb_lower(lower);
      auto [it, added] = lower_names.insert({lower, &item});
      if (!added)
        tree_finding(finding_warning, "name-case-clash", item.shown,
                     "differs from " + it->second->shown + " only in case: on Windows one overwrites the other");
      size_t length = destination.size() + 1 + item.name.size() + 1;
      if (length > output_path_size)
        tree_finding(finding_warning, "path-too-long", item.shown,
                     "under the default install folder (" + shown(destination) + ") the path is " +
                         std::to_string(length - 1) + " bytes, " + std::to_string(length - output_path_size) +
                         " over what the installer writes (255): the install would stop here");
    }
    // Found here, before a pack that would stop only once 2 GiB are compressed: games of
    // that size are mostly pictures, sound and film, which do not shrink.
    uint64_t total = 0;
    for (const pack_item& item : tree->items) total += item.size;
    if (total > largest_package_bytes)
      report->add(finding_warning, "package-size", text_of(dir), 0,
                  "the files hold " + human_bytes(total) + ", and a package holds less than 2 GiB: pack stops "
                  "when the compressed data passes it (pictures, sound and film barely compress)");
    std::string fatal = startup.fatal;
    std::replace(fatal.begin(), fatal.end(), '\\', '/');
    if (!fatal.empty())
      tree_finding(finding_error, "startup-text-in-folder", fatal,
                   "the installer's start-up pass writes names holding .txt, install.env or insttscr.rct into its "
                   "work folder, which has no sub-folders: this one in a folder (before the first nested folder) "
                   "stops it with its damaged-package message");
  }
};

}  // namespace

void check_report::add(int severity, const char* code, const std::string& file, int line, const std::string& text,
                       int column) {
  findings.push_back({severity, file, line, column, code, text});
  (severity == finding_error ? errors : warnings) += 1;
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
    report->add(finding_error, "settings-missing", c.env_file, 0, "missing: the installer ends at start-up without it");
  } else if (!read_all(env, &bytes, &why)) {
    report->add(finding_error, "settings-unreadable", c.env_file, 0, "cannot read: " + why);
  } else if (bytes.size() > largest_settings_file) {
    report->add(finding_error, "settings-too-large", c.env_file, 0, "over 1 MiB: not a settings file");
  } else {
    c.check_encoding(bytes);
    // What the installer will read is what pack stores: the converted text.
    std::string converted;
    if (c.utf8 && text_to_cp932(bytes, c.env_file, report, &converted) == 0) {
      bytes = converted;
      c.check_encoding(bytes, false);
    }
    c.load(bytes);
    c.compute_destination();
    c.check_keys();
    c.check_single_names();
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

void check_tree_names(const game_tree& tree, const fs::path& dir, check_report* report) {
  for (const std::string& e : tree.errors) {
    size_t colon = e.find(": ");
    report->add(finding_error, "name-unpackable", text_of(dir / path_of(e.substr(0, colon))), 0,
                colon == std::string::npos ? e : e.substr(colon + 2));
  }
  seen_names names = {};
  for (const pack_item& item : tree.items) {
    std::string file = text_of(dir / path_of(item.shown));
    const unsigned n = static_cast<unsigned>(item.name.size() + 1);
    if (n > max_entry_name) {
      report->add(finding_error, "name-too-long", file, 0,
                  "the name is " + std::to_string(item.name.size()) + " bytes in CP932; a package entry holds " +
                      std::to_string(max_entry_name - 1));
      continue;
    }
    const char* doubt = nullptr;
    const char* why = entry_name_damage(item.name.c_str(), n);
    if (!why) why = note_entry_name(&names, item.name.c_str(), item.folder, &doubt);
    if (why)
      report->add(finding_error, "name-refused", file, 0,
                  std::string("the installer refuses the package for this name (") + why +
                      "): setup.exe would stop with its damaged-package message");
  }
  release_seen_names(&names);
}

void load_game_settings(const fs::path& dir) {
  reset_settings_for_tests();
  std::string bytes, converted, why;
  if (!read_all(dir / "install.env", &bytes, &why) || bytes.size() > largest_settings_file) return;
  check_report ignored;  // the check before packing reports them
  if (is_utf8_text(bytes) && text_to_cp932(bytes, "", &ignored, &converted) == 0) bytes = converted;
  if (FILE* f = stream_of(bytes)) {
    load_settings_stream(f);
    std::fclose(f);
  }
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

void print_report_json(const check_report& report, FILE* to) {
  for (const finding& f : report.findings)
    std::fprintf(to, "{\"file\":\"%s\",\"line\":%d,\"column\":%d,\"severity\":\"%s\",\"code\":\"%s\",\"text\":\"%s\"}\n",
                 json_text(f.file).c_str(), f.line, f.column, f.severity == finding_error ? "error" : "warning", f.code,
                 json_text(f.text).c_str());
}

}  // namespace talven::pack
