// The install.env settings store: an ordered list of key/value pairs read once at start-up,
// with lookups that see the earliest entry of a key, and the named getters on top.
#include "config/settings.h"

#include <cstdlib>
#include <cstring>

#include "base/alloc.h"
#include "base/leading_int.h"
#include "base/cp932.h"

namespace talven {

namespace {

struct setting_entry {
  char* key;
  char* value;
  setting_entry* next;
};

constexpr int line_size = settings_line_size;
constexpr int max_lines = settings_max_lines;
// Bytes after the key's terminating NUL in which the value must begin.
constexpr int value_window = 99;
constexpr size_t getter_size = 128;
constexpr size_t caption_size = 256;
// The Windows runtime's text mode takes this byte as the end of the file.
constexpr int end_of_file_byte = 0x1A;

setting_entry* store_head = nullptr;
setting_entry* store_tail = nullptr;
bool exit_handler_registered = false;

char titlebar_area[getter_size];
char instto_area[getter_size];
char exename_area[getter_size];
char reg_global_area[getter_size];
char reg_local_area[getter_size];
char ini_file_area[getter_size];
char ini_section_area[getter_size];
char inst_group_area[getter_size];
char instfol_area[getter_size];
char caption_area[caption_size];
int instmakefol_cache = -1;

settings_line_hook line_hook = nullptr;
void* line_hook_context = nullptr;

const setting_entry* find_entry(const char* key) {
  for (const setting_entry* e = store_head; e; e = e->next)
    if (std::strcmp(e->key, key) == 0) return e;
  return nullptr;
}

char* copy_of(const char* text) {
  size_t n = std::strlen(text);
  char* copy = static_cast<char*>(checked_alloc(n + 1));
  std::memcpy(copy, text, n + 1);
  return copy;
}

void append_entry(const char* key, const char* value) {
  setting_entry* e = static_cast<setting_entry*>(checked_alloc(sizeof(setting_entry)));
  e->key = copy_of(key);
  e->value = copy_of(value);
  mb_replace_char(e->value, '|', ' ');
  e->next = nullptr;
  if (store_tail)
    store_tail->next = e;
  else
    store_head = e;
  store_tail = e;
}

// A cached getter looks its key up only while its area is still empty.
const char* cached_lookup(const char* key, char* area) {
  if (area[0] == '\0') setting_string(key, area, getter_size, "-");
  return area;
}

// Null for an empty result: a present value is never empty, so empty means absent.
const char* optional_lookup(const char* key, char* area) {
  setting_string(key, area, getter_size, "");
  return area[0] ? area : nullptr;
}

}  // namespace

char* read_text_line(char* area, int size, FILE* stream) {
  if (size < 2) return nullptr;
  std::memset(area, 0, static_cast<size_t>(size));
  int n = 0;
  while (n < size - 1) {
    int c = std::fgetc(stream);
    if (c == EOF) break;
    if (c == end_of_file_byte) {
      // Pushed back so that every later read meets it again and ends at once, as the
      // Windows runtime keeps a text stream at its end after this byte.
      std::ungetc(c, stream);
      break;
    }
    if (c == '\r') {
      // CR LF reads as LF, as in the Windows runtime's text mode; a lone CR stays.
      int next = std::fgetc(stream);
      if (next == '\n')
        c = '\n';
      else if (next != EOF)
        std::ungetc(next, stream);
    }
    area[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return n > 0 ? area : nullptr;
}

const known_setting known_settings[] = {
    {"TITLEBAR", 128},     {"FORCEINSTALL", 0}, {"INSTTO", 128},     {"INSTFOL", 128},
    {"INSTTOPROGRAM", 0},  {"INSTMAKEFOL", 0},  {"REG_GLOBAL", 128}, {"REG_LOCAL", 128},
    {"INI_FILE", 128},     {"INI_SECTION", 128}, {"EXENAME", 128},   {"INST_GROUP", 128},
    {"INSTREADME", 128},   {"INSTREADMEFL", 128}, {"HELP_FILE", 260}, {nullptr, 0},
};

void set_settings_line_hook(settings_line_hook hook, void* context) {
  line_hook = hook;
  line_hook_context = context;
}

namespace {

// The cut never splits a double-byte character: a lone lead byte at the end would join with
// whatever a caller appends next (a backslash, say) into one character.
char* copy_setting_value(char* out, size_t size, const char* source) {
  if (size == 0) return out;
  size_t n = 0;
  while (source[n] != '\0') {
    size_t step = (is_lead_byte(static_cast<unsigned char>(source[n])) && source[n + 1] != '\0') ? 2 : 1;
    if (n + step > size - 1) break;
    n += step;
  }
  // The source may be the area itself (default == out), hence memmove.
  std::memmove(out, source, n);
  std::memset(out + n, 0, size - n);
  return out;
}

// One read line of install.env cut into its key and value in place (the value starts
// within 99 bytes after the key's end). Returns the settings_line_* kind; key and value
// are set for settings_line_entry, key alone for settings_line_no_value.
int split_settings_line(char* line, char** key, char** value) {
  *key = *value = nullptr;
  if (std::strncmp(line, "[EOF]", 5) == 0) return settings_line_end_marker;
  unsigned char first = static_cast<unsigned char>(line[0]);
  if (first <= 0x20 || first == '/') return settings_line_skipped;
  for (int i = 0; i < line_size; ++i)
    if (static_cast<unsigned char>(line[i]) <= 0x20) line[i] = '\0';
  int key_end = static_cast<int>(std::strlen(line));
  *key = line;
  for (int i = key_end + 1; i <= key_end + value_window && i < line_size; ++i) {
    if (line[i] != '\0') {
      *value = line + i;
      return settings_line_entry;
    }
  }
  return settings_line_no_value;
}

}  // namespace

int load_settings_stream(FILE* stream) {
  char line[line_size];
  char raw[line_size];
  for (int count = 0; count < max_lines; ++count) {
    if (!read_text_line(line, line_size, stream)) break;
    if (line_hook) std::memcpy(raw, line, line_size);
    char* key;
    char* value;
    int kind = split_settings_line(line, &key, &value);
    if (kind == settings_line_entry) append_entry(key, value);
    if (line_hook) line_hook(line_hook_context, kind, raw, key, value);
    if (kind == settings_line_end_marker) break;
  }
  return 0;
}

int read_setting_from_stream(FILE* stream, const char* wanted, char* out, size_t size) {
  char line[line_size];
  for (int count = 0; count < max_lines; ++count) {
    if (!read_text_line(line, line_size, stream)) break;
    char* key;
    char* value;
    int kind = split_settings_line(line, &key, &value);
    if (kind == settings_line_end_marker) break;
    if (kind != settings_line_entry || std::strcmp(key, wanted) != 0) continue;
    mb_replace_char(value, '|', ' ');
    copy_setting_value(out, size, value);
    return 0;
  }
  return -1;
}

int load_settings(const char* file_name, settings_opener open) {
  if (!exit_handler_registered) {
    std::atexit(free_settings);
    exit_handler_registered = true;
  }
  FILE* stream = open(file_name, "rt");
  if (!stream) return -1;
  load_settings_stream(stream);
  std::fclose(stream);
  return 0;
}

// Releases the entries only: the getters keep what they cached, as they do for the rest of
// the process, and they hold copies, never pointers into the store.
void free_settings() {
  setting_entry* e = store_head;
  while (e) {
    setting_entry* next = e->next;
    checked_free(e->key);
    checked_free(e->value);
    checked_free(e);
    e = next;
  }
  store_head = nullptr;
  store_tail = nullptr;
}

void reset_settings_for_tests() {
  free_settings();
  char* areas[] = {titlebar_area,   instto_area,      exename_area,    reg_global_area, reg_local_area,
                   ini_file_area,   ini_section_area, inst_group_area, instfol_area,    caption_area};
  for (char* area : areas) area[0] = '\0';
  instmakefol_cache = -1;
}

int setting_int(const char* key, int default_value) {
  const setting_entry* e = find_entry(key);
  return e ? parse_leading_int(e->value) : default_value;
}

char* setting_string(const char* key, char* out, size_t size, const char* default_value) {
  const setting_entry* e = find_entry(key);
  return copy_setting_value(out, size, e ? e->value : (default_value ? default_value : ""));
}

int setting_exists(const char* key) { return find_entry(key) ? 1 : 0; }

const char default_titlebar[] = "ＴＡＬＶＥＮ アプリケーション";

const char* get_titlebar() {
  return setting_string("TITLEBAR", titlebar_area, getter_size, default_titlebar);
}

const char* get_instto() { return setting_string("INSTTO", instto_area, getter_size, "TALVEN_APP"); }

const char* get_exename() { return setting_string("EXENAME", exename_area, getter_size, "talven.exe"); }

const char* get_reg_global() { return cached_lookup("REG_GLOBAL", reg_global_area); }
const char* get_reg_local() { return cached_lookup("REG_LOCAL", reg_local_area); }
const char* get_ini_file() { return cached_lookup("INI_FILE", ini_file_area); }
const char* get_ini_section() { return cached_lookup("INI_SECTION", ini_section_area); }

const char* get_inst_group() { return optional_lookup("INST_GROUP", inst_group_area); }
const char* get_instfol() { return optional_lookup("INSTFOL", instfol_area); }

int get_instmakefol() {
  if (instmakefol_cache == -1) instmakefol_cache = setting_int("INSTMAKEFOL", 0);
  return instmakefol_cache;
}

const char* get_caption() {
  const char* format = setting_int("FORCEINSTALL", 0) != 0 ? "%s インストール" : "%s スタートアップ";
  std::snprintf(caption_area, caption_size, format, get_titlebar());
  return caption_area;
}

}  // namespace talven
