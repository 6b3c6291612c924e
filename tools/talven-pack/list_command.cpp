// list [--json] PACKAGE|EXE: one line per entry, as the installer's reader sees it.
#include <cstdio>
#include <cstring>

#include "archive_view.h"
#include "command.h"
#include "pack_common.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack list [--json] PACKAGE|EXE\n\n"
      "Lists every entry of an install package, or of the package appended to an\n"
      "executable (a file starting with \"MZ\"): kind, size, packed size, last-write\n"
      "time (UTC) and the name in UTF-8 as stored (backslashes between folders).\n"
      "With --json, one JSON object per line instead, for scripts that alter packages\n"
      "by hand without knowing their layout: first the package (kind \"package\": start\n"
      "and length in the file; start_at, the field of an executable that holds the\n"
      "start, -1 for a package file; the byte widths of the fields, *_bytes), then\n"
      "one per entry with the file offsets of the entry and of its fields (offset,\n"
      "name_at, size_at, packed_at, time_at, data; -1 where a folder has none), last\n"
      "the end marker (kind \"end\", its offset) when the package reaches it. An entry\n"
      "refused for its name is still shown (kind \"bad\" in the text list; \"damage\" saying\n"
      "why in JSON), then the error (exit 1).\n"
      "An engine archive made by 'archive' (or its .idx) lists its index instead.\n",
      to);
}

// damage: the reason the entry was refused for, when its header could still be read (a
// name the rules refuse), so that scripts find the entries they damaged on purpose.
void print_entry(const package_reader& r, long start, bool json, const char* damage = nullptr) {
  const package_entry& e = r.entry;
  const bool folder = e.size == folder_entry_size;
  std::string name = shown_name(e.name);
  if (json) {
    long offset = start + r.entry_offset, size_at = offset + static_cast<long>(size_field_at(e.name_length));
    long packed_at = offset + static_cast<long>(packed_field_at(e.name_length));
    long time_at = offset + static_cast<long>(entry_header_bytes(e.name_length));
    std::printf(
        "{\"kind\":\"%s\",\"offset\":%ld,\"name_length\":%u,\"size\":%ld,\"packed\":%ld,\"name_at\":%ld,"
        "\"size_at\":%ld,\"packed_at\":%ld,\"time_at\":%ld,\"data\":%ld,\"time\":%llu,%s%s%s\"name\":\"%s\"}\n",
        folder ? "dir" : "file", offset, e.name_length, static_cast<long>(e.size), static_cast<long>(e.packed_size),
        offset + static_cast<long>(name_field_at), size_at, packed_at, folder ? -1L : time_at, folder ? -1L : time_at + entry_time_bytes,
        folder || damage ? 0ULL : static_cast<unsigned long long>(entry_filetime(e)), damage ? "\"damage\":\"" : "",
        damage ? json_text(damage).c_str() : "", damage ? "\"," : "", json_text(name).c_str());
  } else if (damage) {
    std::printf("%-4s %10s %10s %-19s %s\n", "bad", "-", "-", "-", name.c_str());
  } else if (folder) {
    std::printf("%-4s %10s %10s %-19s %s\n", "dir", "-", "-", "-", name.c_str());
  } else {
    std::printf("%-4s %10ld %10ld %-19s %s\n", "file", static_cast<long>(e.size), static_cast<long>(e.packed_size),
                format_filetime(entry_filetime(e)).c_str(), name.c_str());
  }
}

// The package's place in the file and the widths of the fields the entries point at,
// so that a script edits a field without knowing how wide it is.
void print_package_json(const package_input& input) {
  const long n = 1;  // any stored name length: the widths do not depend on it
  std::printf(
      "{\"kind\":\"package\",\"start\":%ld,\"length\":%ld,\"start_at\":%ld,\"start_bytes\":%d,"
      "\"name_length_bytes\":%ld,\"size_bytes\":%ld,\"packed_bytes\":%ld,\"time_bytes\":%ld}\n",
      input.start, static_cast<long>(input.length), input.appended ? input.start + input.length : -1L,
      input.appended ? 4 : 0, static_cast<long>(name_field_at),
      static_cast<long>(packed_field_at(n) - size_field_at(n)),
      static_cast<long>(entry_header_bytes(n) - packed_field_at(n)), static_cast<long>(entry_time_bytes));
}

int run_list(int argc, char** argv) {
  static const char* const known_options[] = {"--json", "--help", nullptr};
  bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  if (json) {
    --argc;
    ++argv;
  }
  if (int code = check_arguments(argc, argv, "PACKAGE", known_options, usage); code >= 0) return code;
  if (int code = engine_archive_command(argv[1], false); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  package_reader reader;
  if (open_package_reading(argv[1], &input, &reader) != 0) return exit_failure;
  if (json)
    print_package_json(input);
  else
    std::printf("%-4s %10s %10s %-19s %s\n", "kind", "size", "packed", "time (UTC)", "name");
  int header;
  while ((header = next_package_entry(&reader)) == entry_read) print_entry(reader, input.start, json);
  // The entry refused for its name is still shown, so that the line before the error
  // is the entry it names.
  if (header == entry_damaged && reader.header_whole) print_entry(reader, input.start, json, reader.msg);
  if (header == entry_terminator && json)
    std::printf("{\"kind\":\"end\",\"offset\":%ld}\n", input.start + static_cast<long>(reader.entry_offset));
  int code = header == entry_terminator ? exit_ok : report_refusal(argv[1], input, reader);
  close_package_reader(&reader);
  return code;
}

}  // namespace

TALVEN_PACK_COMMAND(list, "list", "[--json] PACKAGE|EXE: show the entries of a package", run_list);

}  // namespace talven::pack
