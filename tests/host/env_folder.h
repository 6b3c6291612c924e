// install.env text for the tests that read it: as a stream, or in a fresh temporary folder.
#pragma once
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

// An unnamed temporary stream holding text, rewound for reading; null if none was made.
inline FILE* stream_of(const std::string& text) {
  FILE* stream = std::tmpfile();
  if (!stream) return nullptr;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::rewind(stream);
  return stream;
}

// A fresh temporary folder made current for one test, holding an install.env with the
// given bytes; the previous folder is restored and the files removed on destruction.
class env_folder {
 public:
  explicit env_folder(const std::string& content) {
    ok_ = mkdtemp(folder_) != nullptr && getcwd(saved_, sizeof saved_) != nullptr && chdir(folder_) == 0;
    if (!ok_) return;
    FILE* f = std::fopen("install.env", "wb");
    ok_ = f && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (f) std::fclose(f);
  }
  ~env_folder() {
    std::remove("install.env");
    if (saved_[0] && chdir(saved_) == 0) rmdir(folder_);
  }
  env_folder(const env_folder&) = delete;
  env_folder& operator=(const env_folder&) = delete;
  bool ok() const { return ok_; }

 private:
  char folder_[32] = "/tmp/install_env_XXXXXX";
  char saved_[PATH_MAX] = "";
  bool ok_ = false;
};
