#include "text_convert.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "command.h"
#include "pack_common.h"
#include "platform.h"

namespace talven::pack {

namespace fs = std::filesystem;

namespace {

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

void convert_usage(FILE* to) {
  std::fputs(
      "usage: talven-pack convert IN OUT\n\n"
      "Writes the text file IN (UTF-8, with or without a byte order mark, or CP932) to OUT\n"
      "in CP932 (Shift-JIS) with CR LF line ends, as the installer reads install.env and\n"
      "as Japanese Windows opens a readme. A character CP932 cannot hold is reported as\n"
      "IN:LINE: error: column N: ... and nothing is written. IN and OUT may be one file.\n",
      to);
}

int run_convert(int argc, char** argv) {
  static const char* const known_options[] = {"--help", nullptr};
  if (int code = check_arguments(argc, argv, "IN OUT", known_options, convert_usage); code >= 0) return code;
  check_report report;
  std::string error;
  if (convert_to_cp932(argv[1], argv[2], &report, &error) != 0) {
    print_report(report, stderr);
    if (!error.empty()) fail("%s", error.c_str());
    return exit_failure;
  }
  return exit_ok;
}

}  // namespace

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

bool looks_utf16(const std::string& s) {
  if (s.size() >= 2 && ((s[0] == '\xFF' && s[1] == '\xFE') || (s[0] == '\xFE' && s[1] == '\xFF'))) return true;
  size_t zeros = 0, n = std::min<size_t>(s.size(), 512);
  for (size_t i = 0; i < n; ++i) zeros += s[i] == '\0';
  return n >= 4 && zeros * 4 >= n;
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

int text_to_cp932(const std::string& input, const std::string& in, check_report* report, std::string* converted) {
  std::string bytes = input;
  const size_t errors_before = report->errors;
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
          report->add(finding_error, "text-not-cp932", in, line, text_buf, column);
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
  if (report->errors != errors_before) return -1;
  *converted = std::move(result);
  return 0;
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
  std::string result;
  if (text_to_cp932(bytes, in, report, &result) != 0) return -1;
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

TALVEN_PACK_COMMAND(convert, "convert", "IN OUT: UTF-8 text to CP932 with CR LF (install.env, readme)", run_convert);

}  // namespace talven::pack
