// install.env text for the tests that read it: as a stream, or in a fresh temporary folder.
#pragma once
#include <cstdio>
#include <string>

#include "temp_folder.h"

// An unnamed temporary stream holding text, rewound for reading; null if none was made.
inline FILE* stream_of(const std::string& text) {
  FILE* stream = std::tmpfile();
  if (!stream) return nullptr;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::rewind(stream);
  return stream;
}

// A temporary folder made current for one test, holding an install.env with the given bytes.
class env_folder : public temp_cwd {
 public:
  explicit env_folder(const std::string& content) {
    if (!temp_cwd::ok()) return;
    FILE* f = std::fopen("install.env", "wb");
    written_ = f && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (f) std::fclose(f);
  }
  bool ok() const { return temp_cwd::ok() && written_; }

 private:
  bool written_ = false;
};
