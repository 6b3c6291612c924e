// What talven-pack needs from the system, in one place: names of files are UTF-8 strings
// throughout the tool, and only these functions turn them into the system's own (bytes on
// Linux, UTF-16 through the wide-character API on Windows). platform_host.cpp and
// platform_win.cpp are the two sides.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace talven::pack {

// A UTF-8 name as a path, and a path as UTF-8 (std::filesystem's narrow strings are the
// ANSI code page on Windows, so no path is made from a string any other way).
std::filesystem::path path_of(const std::string& utf8);
std::string text_of(const std::filesystem::path& path);

// fopen; every file is binary (no CR LF translation on Windows).
FILE* open_file(const char* utf8, const char* mode);
// An anonymous file for reading and writing, gone when closed (tmpfile, which on Windows
// would want to write in the drive's root folder).
FILE* scratch_stream();

struct file_info {
  bool folder = false;
  bool regular = false;
  bool link = false;  // only from look_at_link
  uint64_t size = 0;
  uint64_t filetime = 0;  // last write, FILETIME
};
// stat (follows links) and lstat. 0, or -1 with errno set.
int look_at(const char* utf8, file_info* info);
int look_at_link(const char* utf8, file_info* info);

// A new file for writing (an existing one is truncated); a link standing at the name is
// refused with errno ELOOP and nothing is written through it.
FILE* create_file_no_link(const char* utf8);
// rename that replaces an existing target; remove of a file. 0, or -1 with errno set.
int replace_file(const char* from, const char* to);
int remove_file(const char* utf8);
// The last-write time (the last-access time is left alone). 0, or -1 with errno set.
int set_write_time(const char* utf8, uint64_t filetime);
// A freshly made package or picture gets the permissions a new file gets by default;
// a copied executable keeps those of its source (nothing to do on Windows).
void give_default_mode(FILE* file);
void copy_mode(const char* from, const char* to);
void make_executable(const char* utf8);

// A name for temporaries that no other run of the tool uses at the same time.
std::string process_tag();

// The folder holding the running program, or "" when unknown.
std::string program_folder();

// UTF-8 <-> CP932 without any best-fit substitute: false when a character has no form in
// the other code. Names, text files and messages all go through here.
bool convert_to_cp932(const std::string& utf8, std::string* cp932);
bool convert_to_utf8(const std::string& cp932, std::string* utf8);

// Whether stderr or stdout is a terminal (a console on Windows), and how wide it is (0:
// unknown).
bool error_is_terminal();
bool output_is_terminal();
int terminal_columns();

// Null where `medium --iso` can make an image, else why it cannot (said before packing).
const char* iso_unavailable();

// Runs a program found on PATH with these arguments, its stdout and stderr into output
// (null: the tool's own); its exit code, or -1 with *error saying why it could not run at all.
int run_program(const std::vector<std::string>& args, FILE* output, std::string* error);

}  // namespace talven::pack

// The tool's commands, given the arguments as UTF-8 by the platform's entry point.
int talven_pack_main(int argc, char** argv);
