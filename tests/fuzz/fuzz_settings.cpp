// install.env as the start-up reads it: the settings store and every getter, the entry
// sections, and each [ini], [reg] and [regall] line through the entry parsers with the
// markers replaced.
#include <cstring>

#include "config/sections.h"
#include "config/settings.h"
#include "fuzz_support.h"
#include "install/markers.h"

using namespace talven;

namespace {

const char* const keys[] = {"TITLEBAR", "FORCEINSTALL", "INSTTO",  "INSTFOL",     "INSTTOPROGRAM",
                            "INSTMAKEFOL", "REG_GLOBAL", "REG_LOCAL", "INI_FILE", "INI_SECTION",
                            "EXENAME",  "INST_GROUP",   "INSTREADME", "INSTREADMEFL", "HELP_FILE"};

void check_text(const char* text, size_t area) {
  FUZZ_CHECK(text != nullptr && std::strlen(text) < area);
}

void parse_lines(const line_entry* list, bool registry, const char* folder) {
  for (const line_entry* e = list; e; e = e->next) {
    FUZZ_CHECK(std::strlen(e->text) < 512);
    char name[reg_name_size];
    char value[ini_value_size];
    if (registry)
      parse_reg_entry_with(e->text, folder, "E:\\", name, value);
    else
      parse_ini_entry_with(e->text, folder, "E:\\", name, value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_settings_for_tests();
  reset_sections_for_tests();

  FILE* stream = memory_stream(data, size);
  if (!stream) return 0;
  load_settings_stream(stream);

  for (const char* key : keys) {
    setting_int(key, -7);
    char area[128];
    std::memset(area, 'x', sizeof area);
    area[sizeof area - 1] = '\0';
    setting_string(key, area, sizeof area, area);  // the area as its own default
    check_text(area, sizeof area);
    char small[3];
    check_text(setting_string(key, small, sizeof small, "default"), sizeof small);
  }
  check_text(get_titlebar(), 128);
  check_text(get_caption(), 256);
  check_text(get_instto(), 128);
  check_text(get_exename(), 128);
  check_text(get_reg_global(), 128);
  check_text(get_reg_local(), 128);
  check_text(get_ini_file(), 128);
  check_text(get_ini_section(), 128);
  if (const char* group = get_inst_group()) check_text(group, 128);
  if (const char* folder = get_instfol()) check_text(folder, 128);
  get_instmakefol();

  std::rewind(stream);
  const char* open_section = nullptr;
  if (load_sections_stream(stream, &open_section) != 0) FUZZ_CHECK(open_section != nullptr);
  std::fclose(stream);

  // The install folder as long as a real one may be, to push the expansions to their bounds.
  char folder[260];
  std::memset(folder, 'F', sizeof folder - 1);
  folder[sizeof folder - 1] = '\0';
  std::memcpy(folder, get_instto(), std::strlen(get_instto()));
  parse_lines(state().ini_lines, false, folder);
  parse_lines(state().reg_lines, true, folder);
  parse_lines(state().regall_lines, true, get_instto());
  return 0;
}
