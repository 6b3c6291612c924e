// The entry sections of install.env, kept as raw trimmed lines for the install sequence.
#include "config/sections.h"

#include <cstdlib>
#include <cstring>

#include "base/alloc.h"
#include "config/settings.h"
#include "base/messages.h"

namespace talven {


namespace {

constexpr int line_size = 512;

struct section_kind {
  const char* header;
  const char* name;  // as the unclosed-section message names it
  line_entry** list;
};

// Tested in this order; a header is matched by the line's first bytes, so "[delfiles_user]"
// never passes for "[delfiles]" and "[regall]" never for "[reg]": the closing bracket is
// part of each header.
const section_kind sections[] = {
    {"[delfiles]", "delfiles", &state().delfiles_lines},
    {"[delfiles_user]", "delfiles_user", &state().delfiles_user_lines},
    {"[ini]", "ini", &state().ini_lines},
    {"[reg]", "reg", &state().reg_lines},
    {"[regall]", "regall", &state().regall_lines},
};

bool begins_with(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

void free_list(line_entry** list) {
  line_entry* e = *list;
  while (e) {
    line_entry* next = e->next;
    checked_free(e->text);
    checked_free(e);
    e = next;
  }
  *list = nullptr;
}

void append_line(line_entry** list, const char* text) {
  size_t n = std::strlen(text);
  line_entry* e = static_cast<line_entry*>(checked_alloc(sizeof(line_entry)));
  e->text = static_cast<char*>(checked_alloc(n + 1));
  std::memcpy(e->text, text, n + 1);
  e->next = nullptr;
  line_entry** tail = list;
  while (*tail) tail = &(*tail)->next;
  *tail = e;
}

sections_line_hook line_hook = nullptr;
void* line_hook_context = nullptr;

// read_trimmed_line that also tells whether the piece ended its physical line.
char* read_trimmed_piece(char* area, int size, FILE* stream, bool* line_ended) {
  if (!read_text_line(area, size, stream)) return nullptr;
  size_t n = std::strlen(area);
  *line_ended = n > 0 && area[n - 1] == '\n';
  while (n > 0 && static_cast<unsigned char>(area[n - 1]) <= 0x20) area[--n] = '\0';
  return area;
}

}  // namespace

void set_sections_line_hook(sections_line_hook hook, void* context) {
  line_hook = hook;
  line_hook_context = context;
}

char* read_trimmed_line(char* area, int size, FILE* stream) {
  if (!read_text_line(area, size, stream)) return nullptr;
  size_t n = std::strlen(area);
  // Bytes up to 0x20 are never the second byte of a double-byte character, so a plain
  // backwards walk is safe here.
  while (n > 0 && static_cast<unsigned char>(area[n - 1]) <= 0x20) area[--n] = '\0';
  return area;
}

int load_sections_stream(FILE* stream, const char** open_section) {
  char line[line_size];
  const section_kind* open = nullptr;
  int line_number = 1, next_line_number = 1;
  bool line_ended = false;
  auto report = [&](int kind, const char* section) {
    if (line_hook) line_hook(line_hook_context, line_number, kind, section, line);
  };
  while (read_trimmed_piece(line, line_size, stream, &line_ended)) {
    line_number = next_line_number;
    if (line_ended) ++next_line_number;
    if (line[0] == '\0' || begins_with(line, "//") || begins_with(line, ";")) continue;
    if (begins_with(line, "EOF")) {
      report(section_line_end, nullptr);
      break;
    }
    if (line[0] == '-') {
      if (open) report(section_line_close, nullptr);
      open = nullptr;
      continue;
    }
    const section_kind* header = nullptr;
    for (const section_kind& s : sections) {
      if (begins_with(line, s.header)) {
        header = &s;
        break;
      }
    }
    if (header) {
      // A section met again replaces what its earlier occurrence gave.
      free_list(header->list);
      open = header;
      report(section_line_open, header->name);
      continue;
    }
    if (open) {
      append_line(open->list, line);
      report(section_line_entry, open->name);
    }
  }
  if (open_section) *open_section = open ? open->name : nullptr;
  return open ? -1 : 0;
}

void reset_sections_for_tests() {
  for (const section_kind& s : sections) free_list(s.list);
}

void load_uninstall_sections(const char* file_name) {
  FILE* stream = std::fopen(file_name, "rt");
  if (!stream) {
    show_error_retry("[%s]ファイルを開けませんでした。", file_name);
    std::exit(-1);  // Retry returns here, and the program still cannot go on
  }
  const char* open_section = nullptr;
  int result = load_sections_stream(stream, &open_section);
  std::fclose(stream);
  if (result != 0) {
    show_error_retry("[設定.env]の[%s]が終了していません", open_section);
    std::exit(-1);
  }
}

}  // namespace talven
