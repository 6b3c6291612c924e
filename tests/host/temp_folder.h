// A fresh temporary folder made current for one test, and a file writer for it.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The previous folder is restored and the temporary one removed, with all it holds, on
// destruction.
class temp_cwd {
 public:
  temp_cwd() {
    made_ = mkdtemp(folder_) != nullptr;
    ok_ = made_ && getcwd(saved_, sizeof saved_) != nullptr && chdir(folder_) == 0;
  }
  ~temp_cwd() {
    std::error_code ec;
    if (made_ && (!saved_[0] || chdir(saved_) == 0)) std::filesystem::remove_all(folder_, ec);
  }
  temp_cwd(const temp_cwd&) = delete;
  temp_cwd& operator=(const temp_cwd&) = delete;
  bool ok() const { return ok_; }

 private:
  char folder_[32] = "/tmp/talven-test-XXXXXX";
  char saved_[PATH_MAX] = "";
  bool made_ = false, ok_ = false;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}
