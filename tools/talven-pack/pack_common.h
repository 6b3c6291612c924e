// Pieces shared by the package commands of talven-pack: name conversion, time stamps and
// opening a package that may sit at the end of an executable.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_pass.h"

namespace talven::pack {

enum { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

// UTF-8 <-> CP932 through iconv. False when the text cannot be converted, or when the
// conversion would not come back to the same text (the yen sign becomes a backslash in
// CP932, which would turn into a separator).
bool utf8_to_cp932(const std::string& utf8, std::string* cp932);
bool cp932_to_utf8(const std::string& cp932, std::string* utf8);

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
uint64_t filetime_from_unix(int64_t seconds, long nanoseconds);
void unix_from_filetime(uint64_t filetime, int64_t* seconds, long* nanoseconds);
std::string format_filetime(uint64_t filetime);  // "YYYY-MM-DD hh:mm:ss" UTC

inline uint64_t entry_filetime(const package_entry& e) {
  return (static_cast<uint64_t>(e.time_high) << 32) | e.time_low;
}

// An open package: a plain file read from offset 0, or an executable ("MZ") with a
// package appended, read from the offset in its trailer.
struct package_input {
  FILE* file = nullptr;
  long start = 0;        // file offset of the package's first byte
  int32_t length = 0;    // package bytes, trailer excluded
  bool appended = false;
  ~package_input();
};

// 0, or -1 after printing why on stderr.
int open_package_input(const char* path, package_input* input);

// True when the executable at exe_path carries a sound package: the offset in its
// trailer points at a package whose headers the reader takes to its end marker; its
// place then in *start and *length. Quietly false otherwise, since a program without a
// package has a trailer that points at nothing sound.
bool carries_package(const char* exe_path, long* start, int32_t* length);

// The stored CP932 name in UTF-8 for messages; bytes that do not convert are shown as \xNN.
std::string shown_name(const char* cp932);

// Opens the shared reader on the package (positioned at its first entry). 0, or -1
// after printing why.
int open_package_reading(const char* path, package_input* input, package_reader* reader);

// Prints why the reader refused the package: the entry's number, name as far as it was
// read, offset in the file, the reason and the offset it points at. Returns exit_failure.
int report_refusal(const char* path, const package_input& input, const package_reader& reader);

// The tool's own name rule, for verify and extract alike: a name that iconv cannot turn
// into UTF-8 has no Linux name. Null, or the reason.
const char* name_not_cp932(const package_entry* entry);

// Reads every entry's header (and time stamp) to the end marker without inflating.
// 0, or -1 after printing why.
int read_headers(const char* path, package_input* input);

// Runs the shared pass walk (check_pass or full_pass, no destination: the output side
// makes its own paths) and reports a refusal. 0, or -1 after printing why.
int run_pass(const char* path, package_input* input, pass_mode mode, pass_output output, package_reader* reader);

// What the installer's start-up pass will make of the entries, seen in package order.
// It writes the files whose names contain "insttscr.rct", "install.env" or ".txt" (any
// case) into its work folder, steps over top-level folder entries and stops at the first
// nested one; it creates no folders, so a matching file inside a folder ends the
// installer with its damaged-package message. warnings() prints what would go wrong.
struct startup_check {
  bool stopped = false;
  bool settings_seen = false;
  std::string fatal;  // the first matching file inside a folder (UTF-8), if any
  void see(const char* name, bool folder);
  void warn(const char* path) const;
};

// The whole of a file, read until its end or until it holds more than `limit` bytes
// (the caller then sees a size above the limit). False with *error (strerror or "read
// error") when it cannot be opened or read.
bool read_whole_file(const char* path, std::vector<unsigned char>* data, std::string* error,
                     size_t limit = static_cast<size_t>(-1));

// The text as the inside of a JSON string: quotes, backslashes and control characters escaped.
std::string json_text(const std::string& utf8);

// Prints "talven-pack: " and the message on stderr; returns exit_failure.
int fail(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// True when argv holds --help or -h after the command name.
bool wants_help(int argc, char** argv);

// Edit distance with adjacent transpositions, ignoring ASCII case.
size_t edit_distance(const std::string& a, const std::string& b);
// The word of the null-ended list nearest to `word`, or "" when none is near enough to be
// a typo of it.
std::string nearest_word(const std::string& word, const char* const* words);

// One line on stderr, "talven-pack COMMAND: message (talven-pack help COMMAND)"; returns
// exit_usage.
int usage_error(const char* command, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
// "unknown option X; did you mean Y?" from the command's null-ended option list.
int unknown_option(const char* command, const char* option, const char* const* known);
// A wrong operand count: names the first missing operand of `operands` ("DIR OUT"), or
// says how many the command takes.
int operand_error(const char* command, const char* operands, size_t given);
// A folder operand that is not one: "no such folder" or "is not a folder", a usage error.
int not_a_folder(const char* command, const char* path);

// The common start of a command taking exactly the operands named in `operands`
// ("PACKAGE"), options from `known` only: --help prints the usage on stdout (exit 0),
// anything else wrong is a one-line usage error (exit 2). Returns the exit code to end
// with, or -1 to go on.
int check_arguments(int argc, char** argv, const char* operands, const char* const* known, void (*usage)(FILE*));

}  // namespace talven::pack
