// Shared pieces of the Windows-side tests of the start-up, the package passes and the
// message boxes: scratch folders, file helpers and packages built with the real writer.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/package_format.h"

namespace talven_test {

// A fresh folder under the temp path, removed with everything in it at the end.
struct scratch_folder {
  std::string path;
  scratch_folder() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[64];
    std::snprintf(name, sizeof name, "e1test_%lu_%d_%lu", GetCurrentProcessId(), ++counter,
                  GetTickCount());
    path = std::string(temp) + name;
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~scratch_folder() { remove_tree(path); }
  std::string operator/(const std::string& name) const { return path + "\\" + name; }

  static void remove_tree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          remove_tree(full);
        } else {
          SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(full.c_str());
        }
      } while (FindNextFileA(h, &data));
      FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
  }
};

inline bool path_exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool is_folder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string read_file(const std::string& path) {
  std::string all;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, got);
  std::fclose(f);
  return all;
}

inline bool write_file(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// Every path below root, relative, folders ending in a backslash, sorted.
inline void list_tree_into(const std::string& root, const std::string& prefix,
                           std::vector<std::string>* out) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((root + "\\" + prefix + "*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out->push_back(prefix + name + "\\");
      list_tree_into(root, prefix + name + "\\", out);
    } else {
      out->push_back(prefix + name);
    }
  } while (FindNextFileA(h, &data));
  FindClose(h);
}

inline std::vector<std::string> list_tree(const std::string& root) {
  std::vector<std::string> out;
  list_tree_into(root, "", &out);
  std::sort(out.begin(), out.end());
  return out;
}

// Text-like but not trivially compressible contents.
inline std::string sample_data(size_t size, unsigned seed) {
  std::string b(size, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<char>((i % 5 == 0) ? (x >> 16) : ('a' + (i / 11) % 26));
  }
  return b;
}

struct package_item {
  std::string name;
  bool folder;
  std::string data;
  uint64_t time;
};

inline package_item folder_item(const std::string& name) { return {name, true, "", 0}; }
inline package_item file_item(const std::string& name, const std::string& data, uint64_t time) {
  return {name, false, data, time};
}

// The package bytes as the real writer lays them out (terminator included unless asked not).
inline std::string package_bytes(const std::vector<package_item>& items, bool terminator = true) {
  scratch_folder temp;
  std::string path = temp / "p.arc";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  for (const package_item& item : items) {
    if (item.folder) {
      talven::write_folder_entry(f, item.name.c_str());
    } else {
      std::vector<unsigned char> packed;
      talven::compress_data(reinterpret_cast<const unsigned char*>(item.data.data()), item.data.size(), 9,
                            &packed);
      talven::write_file_entry(f, item.name.c_str(), static_cast<int32_t>(item.data.size()), item.time,
                               packed.data(), packed.size());
    }
  }
  if (terminator) talven::write_terminator(f);
  std::fclose(f);
  return read_file(path);
}

// An open "rb" stream over the given bytes, kept in a file of the scratch folder.
inline FILE* open_bytes(const scratch_folder& folder, const std::string& bytes) {
  static int counter = 0;
  std::string path = folder / ("package" + std::to_string(++counter) + ".arc");
  if (!write_file(path, bytes)) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

inline uint64_t as_u64(const FILETIME& t) {
  return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

inline uint64_t now_filetime() {
  FILETIME t;
  GetSystemTimeAsFileTime(&t);
  return as_u64(t);
}

// Last-write and creation times of a file, read with the system's file handles.
inline bool file_times(const std::string& path, uint64_t* created, uint64_t* written,
                       uint64_t* accessed = nullptr) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME c, a, w;
  BOOL ok = GetFileTime(h, &c, &a, &w);
  CloseHandle(h);
  *created = as_u64(c);
  *written = as_u64(w);
  if (accessed) *accessed = as_u64(a);
  return ok != 0;
}

// Runs this test program again with a gtest filter (and the disabled tests allowed) and
// an extra environment variable; returns its exit code, or -1000 when it did not start.
inline int run_self(const std::string& exe, const std::string& filter, const char* env_name,
                    const std::string& env_value) {
  std::string command = "\"" + exe + "\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
  SetEnvironmentVariableA(env_name, env_value.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  BOOL started = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process);
  SetEnvironmentVariableA(env_name, nullptr);
  if (!started) return -1000;
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

inline std::string this_program() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

}  // namespace talven_test
