// convert IN OUT, and the text encoding pack and check --fix share: UTF-8 (or CP932) text
// to the CP932 with CR LF line ends that the installer and Japanese Windows read.
#pragma once
#include <filesystem>
#include <string>

#include "check.h"

namespace talven::pack {

// The whole file; false with *error set (the system's reason) when it cannot be read.
bool read_all(const std::filesystem::path& p, std::string* bytes, std::string* error);

// Whether the bytes look like UTF-16 (a byte order mark, or a quarter of them zero).
bool looks_utf16(const std::string& s);

// Whether the bytes are UTF-8 holding anything beyond ASCII (so not meant as CP932).
bool is_utf8_text(const std::string& bytes);

// UTF-8 (with or without a BOM) or CP932 bytes to CP932 with CR LF line ends, in memory.
// Characters CP932 cannot hold are findings of `name` with their line and column; 0 on
// success, -1 when there was one.
int text_to_cp932(const std::string& bytes, const std::string& name, check_report* report, std::string* result);

// UTF-8 (with or without a BOM) or CP932 text to CP932 with CR LF line ends, written
// through a temporary file and a rename. Characters CP932 cannot hold are findings with
// their line and column (in characters), and nothing is written. 0 on success, -1
// otherwise (report filled or *error set).
int convert_to_cp932(const std::string& in, const std::string& out, check_report* report, std::string* error);

}  // namespace talven::pack
