#include "pack_common.h"

#include "base/cp932.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

namespace talven::pack {

namespace {

bool convert(bool to_cp932, const std::string& in, std::string* out) {
  // Plain ASCII is the same bytes in CP932 and UTF-8 (0x5C and 0x7E stay as they are),
  // and most names are nothing else.
  if (std::all_of(in.begin(), in.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    *out = in;
    return true;
  }
  return to_cp932 ? convert_to_cp932(in, out) : convert_to_utf8(in, out);
}

}  // namespace

bool utf8_to_cp932(const std::string& utf8, std::string* cp932) {
  std::string back;
  return convert(true, utf8, cp932) && convert(false, *cp932, &back) &&
         back == utf8;
}

bool cp932_to_utf8(const std::string& cp932, std::string* utf8) {
  return convert(false, cp932, utf8);
}

// 100 ns steps between 1601-01-01 and 1970-01-01.
constexpr int64_t unix_epoch_in_filetime = 116444736000000000LL;

uint64_t filetime_from_unix(int64_t seconds, long nanoseconds) {
  int64_t t = seconds * 10000000LL + nanoseconds / 100 + unix_epoch_in_filetime;
  return t < 0 ? 0 : static_cast<uint64_t>(t);
}

void unix_from_filetime(uint64_t filetime, int64_t* seconds, long* nanoseconds) {
  // FILETIME values above INT64_MAX do not occur in practice; clamp rather than wrap.
  int64_t t = filetime > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(filetime);
  t -= unix_epoch_in_filetime;
  int64_t s = t / 10000000LL, rest = t % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    --s;
  }
  *seconds = s;
  *nanoseconds = static_cast<long>(rest * 100);
}

std::string format_filetime(uint64_t filetime) {
  int64_t s;
  long ns;
  unix_from_filetime(filetime, &s, &ns);
  time_t t = static_cast<time_t>(s);
  struct tm tm;
  char text[32];
  if (!gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return "(time out of range)";
  return text;
}

package_input::~package_input() {
  if (file) std::fclose(file);
}

int open_package_input(const char* path, package_input* input) {
  file_info st;
  if (look_at(path, &st) == 0 && st.folder) {
    fail("%s is a folder, not a package (pack makes a package of a folder)", path);
    return -1;
  }
  input->file = open_file(path, "rb");
  if (!input->file) {
    fail("cannot open %s: %s", path, std::strerror(errno));
    return -1;
  }
  unsigned char magic[2] = {0, 0};
  size_t got = std::fread(magic, 1, 2, input->file);
  if (got == 2 && magic[0] == 'M' && magic[1] == 'Z') {
    input->appended = true;
    if (locate_appended_package(input->file, &input->start, &input->length) != 0) {
      fail("%s: an executable whose trailer (or certificate table) does not point at a package inside it", path);
      return -1;
    }
    return 0;
  }
  if (std::fseek(input->file, 0, SEEK_END) != 0) {
    fail("%s: cannot seek", path);
    return -1;
  }
  long size = std::ftell(input->file);
  if (size < 0 || size > 0x7FFFFFFFL) {
    fail("%s: too large for a package (2 GiB at most)", path);
    return -1;
  }
  input->start = 0;
  input->length = static_cast<int32_t>(size);
  std::rewind(input->file);
  return 0;
}

bool carries_package(const char* exe_path, long* start, int32_t* length) {
  package_input input;
  input.file = open_file(exe_path, "rb");
  if (!input.file) return false;
  if (locate_appended_package(input.file, &input.start, &input.length) != 0 || input.start < 2) return false;
  if (std::fseek(input.file, input.start, SEEK_SET) != 0) return false;
  package_reader reader;
  if (open_package_reader(&reader, input.file, input.length) != 0) {
    close_package_reader(&reader);
    return false;
  }
  int header;
  while ((header = next_package_entry(&reader)) == entry_read) {
  }
  close_package_reader(&reader);
  if (header != entry_terminator) return false;
  *start = input.start;
  *length = input.length;
  return true;
}

std::string shown_name(const char* cp932) {
  std::string utf8;
  if (cp932_to_utf8(cp932, &utf8)) return utf8;
  std::string shown;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(cp932); *p; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      shown += static_cast<char>(*p);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", *p);
      shown += hex;
    }
  }
  return shown;
}

int open_package_reading(const char* path, package_input* input, package_reader* reader) {
  if (std::fseek(input->file, input->start, SEEK_SET) != 0) {
    fail("%s: cannot seek to the package", path);
    return -1;
  }
  if (open_package_reader(reader, input->file, input->length) != 0) {
    fail("%s: %s", path, reader->msg);
    return -1;
  }
  return 0;
}

int report_refusal(const char* path, const package_input& input, const package_reader& reader) {
  long entry = input.start + reader.entry_offset, at = input.start + reader.msg_offset;
  const char* why = reader.msg ? reader.msg : "unreadable entry";
  // A file whose first bytes are no entry header (a readme, a picture) is not a damaged
  // package but none at all.
  if (reader.entry_number == 1 && !input.appended && !reader.header_whole &&
      (reader.entry.name_length > max_entry_name || input.length < 4))
    return fail("%s: not an install package (its first bytes are not an entry: %s)", path, why);
  if (reader.entry.name[0])
    return fail("%s: damaged entry %ld (%s) at offset %ld: %s (at offset %ld)", path, reader.entry_number,
                shown_name(reader.entry.name).c_str(), entry, why, at);
  return fail("%s: damaged entry %ld at offset %ld: %s (at offset %ld)", path, reader.entry_number, entry, why, at);
}

const char* name_not_cp932(const package_entry* entry) {
  std::string utf8;
  return cp932_to_utf8(entry->name, &utf8) ? nullptr : "the name is not CP932";
}

int read_headers(const char* path, package_input* input) {
  package_reader reader;
  if (open_package_reading(path, input, &reader) != 0) return -1;
  int header;
  while ((header = next_package_entry(&reader)) == entry_read) {
  }
  if (header != entry_terminator) report_refusal(path, *input, reader);
  close_package_reader(&reader);
  return header == entry_terminator ? 0 : -1;
}

int run_pass(const char* path, package_input* input, pass_mode mode, pass_output output, package_reader* reader) {
  if (open_package_reading(path, input, reader) != 0) return -1;
  int r = run_package_pass(reader, nullptr, mode, &output);
  if (r != 0) report_refusal(path, *input, *reader);
  close_package_reader(reader);
  return r == 0 ? 0 : -1;
}

void startup_check::see(const char* name, bool folder) {
  if (stopped) return;
  package_entry entry;
  if (copy_text(entry.name, sizeof entry.name, name) != 0) return;
  entry.size = folder ? folder_entry_size : 0;
  switch (startup_action(&entry)) {
    case startup_stop:
      stopped = true;
      break;
    case startup_refuse:
      if (fatal.empty()) fatal = shown_name(name);
      break;
    case startup_write:
      mb_lower(entry.name);
      if (std::strcmp(entry.name, "install.env") == 0) settings_seen = true;
      break;
    default:
      break;
  }
}

void startup_check::warn(const char* path) const {
  if (!fatal.empty())
    std::fprintf(stderr,
                 "talven-pack: warning: %s: the installer's start-up pass reaches %s, which it cannot write "
                 "into its work folder (a matching name inside a folder, before the first nested folder); "
                 "the installer would stop with its damaged-package message\n",
                 path, fatal.c_str());
  else if (!settings_seen)
    std::fprintf(stderr,
                 "talven-pack: warning: %s: no install.env before the start-up pass stops; the installer "
                 "would not start\n",
                 path);
}

bool read_whole_file(const char* path, std::vector<unsigned char>* data, std::string* error, size_t limit) {
  data->clear();
  FILE* f = open_file(path, "rb");
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  unsigned char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    data->insert(data->end(), buffer, buffer + got);
    if (data->size() > limit) break;
  }
  bool ok = !std::ferror(f);
  if (!ok) *error = "read error";
  std::fclose(f);
  return ok;
}

std::string json_text(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

int fail(const char* format, ...) {
  std::fputs("talven-pack: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return exit_failure;
}

bool wants_help(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
}

size_t edit_distance(const std::string& a0, const std::string& b0) {
  std::string a = a0, b = b0;
  for (std::string* t : {&a, &b})
    for (char& c : *t)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
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

std::string nearest_word(const std::string& word, const char* const* words) {
  if (word.size() <= 2) return "";  // "-x" is a step from every short option
  const char* best = nullptr;
  size_t best_d = 0;
  for (const char* const* w = words; *w; ++w) {
    size_t d = edit_distance(word, *w);
    if (!best || d < best_d) {
      best = *w;
      best_d = d;
    }
  }
  size_t limit = std::max<size_t>(2, word.size() / 3);
  return best && best_d <= limit ? best : "";
}

int usage_error(const char* command, const char* format, ...) {
  std::fprintf(stderr, "talven-pack %s: ", command);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, " (talven-pack help %s)\n", command);
  return exit_usage;
}

int unknown_option(const char* command, const char* option, const char* const* known) {
  std::string near = nearest_word(option, known);
  if (!near.empty()) return usage_error(command, "unknown option %s; did you mean %s?", option, near.c_str());
  return usage_error(command, "unknown option %s", option);
}

int operand_error(const char* command, const char* operands, size_t given) {
  std::vector<std::string> names;
  for (const char* p = operands; *p;) {
    const char* e = std::strchr(p, ' ');
    if (!e) e = p + std::strlen(p);
    names.emplace_back(p, e);
    p = *e ? e + 1 : e;
  }
  if (given < names.size())
    return usage_error(command, "missing %s: talven-pack %s [OPTIONS] %s", names[given].c_str(), command, operands);
  return usage_error(command, "%zu operands, but it takes %zu: %s", given, names.size(), operands);
}

int not_a_folder(const char* command, const char* path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return usage_error(command, "no such folder: %s", path);
  return usage_error(command, "%s is not a folder", path);
}

int check_arguments(int argc, char** argv, const char* operands, const char* const* known, void (*usage)(FILE*)) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  size_t given = 0, wanted = 1;
  for (const char* p = operands; *p; ++p) wanted += *p == ' ';
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0') return unknown_option(argv[0], argv[i], known);
    ++given;
  }
  if (given != wanted) return operand_error(argv[0], operands, given);
  return -1;
}

}  // namespace talven::pack
