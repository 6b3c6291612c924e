#include "engine/resolver.h"

#include <cstdlib>
#include <cstring>

#include "engine/mounts.h"
#include "engine/resolver_lock.h"
#include "base/cp932.h"
#include "base/messages.h"

namespace talven {

namespace {

char base_folder[engine_path_size];
int32_t open_as_given = 0;
// Plain flag, not itself guarded: the first lookup runs before any second thread.
bool lock_exists = false;

const char retry_format[] = "Ffopen : ファイル[%s]の読み込みで失敗しました";

void delete_lock_at_exit() {
  if (!lock_exists) return;
  lock_exists = false;
  resolver_lock_delete();
}

void ensure_lock() {
  if (lock_exists) return;
  resolver_lock_create();
  lock_exists = true;
  std::atexit(delete_lock_at_exit);
}

// One lookup's way of trying a candidate: opened in the caller's mode (open form), or
// probed in "rb" and closed again with its path kept (locate form, out set).
struct lookup {
  const char* mode;
  char* out;
  FILE* stream;
};

bool try_candidate(const char* path, lookup& l) {
  if (!l.out) {
    l.stream = std::fopen(path, l.mode);
    return l.stream != nullptr;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return copy_text(l.out, engine_path_size, path) == 0;
}

// Loose file: base folder + name when a base folder is set, else the name unchanged when
// open-as-given is on. A composition that does not fit the path area does not exist.
bool try_loose(const char* name, lookup& l) {
  if (base_folder[0] != '\0') {
    char path[engine_path_size];
    if (copy_text(path, sizeof path, base_folder) != 0 || append_text(path, sizeof path, name) != 0)
      return false;
    return try_candidate(path, l);
  }
  if (open_as_given) return try_candidate(name, l);
  return false;
}

// Sound names (.wav, .ogg in any case) look in the mounted sources first.
bool is_sound_name(const name_parts& parts) {
  char extension[8];
  if (parts.extension_length + 1 > sizeof extension) return false;
  std::memcpy(extension, parts.extension, parts.extension_length);
  extension[parts.extension_length] = '\0';
  mb_lower(extension);
  return std::strcmp(extension, ".wav") == 0 || std::strcmp(extension, ".ogg") == 0;
}

// The lookup order shared by the open and the locate form; the lock is held by the caller.
bool run_lookup(const char* name, lookup& l) {
  if (!name || std::strlen(name) + 1 > engine_path_size) return false;
  name_parts parts;
  if (split_engine_name(name, &parts) != 0) return false;
  const bool sound = is_sound_name(parts);
  // Sound names look in the mounted sources first, everything else in loose files first.
  if (!sound && try_loose(name, l)) return true;
  // Names with a folder part are never looked for in mounted sources.
  if (mb_find_char(name, '\\')) return false;
  if (l.out) {
    if (search_mounts_locate(name, l.out)) return true;
  } else {
    l.stream = search_mounts(name, l.mode);
    if (l.stream) return true;
  }
  if (sound) return try_loose(name, l);
  return false;
}

}  // namespace

FILE* try_open_engine_file(const char* name, const char* mode) {
  ensure_lock();
  resolver_lock_enter();
  lookup l{mode, nullptr, nullptr};
  bool found = run_lookup(name, l);
  resolver_lock_leave();
  return found ? l.stream : nullptr;
}

char* locate_engine_file(const char* name, char* out) {
  // Created here too, so that a direct call cannot enter a lock that does not exist.
  ensure_lock();
  out[0] = '\0';
  resolver_lock_enter();
  lookup l{"rb", out, nullptr};
  bool found = run_lookup(name, l);
  if (!found) out[0] = '\0';
  resolver_lock_leave();
  return found ? out : nullptr;
}

FILE* open_engine_file(const char* name, const char* mode) {
  ensure_lock();
  for (;;) {
    FILE* stream = try_open_engine_file(name, mode);
    if (stream) return stream;
    // The lock is free here: the box may pump messages that look up files too.
    show_error_retry(retry_format, name ? name : "");
  }
}

int engine_file_exists(const char* name) {
  ensure_lock();
  char path[engine_path_size];
  return locate_engine_file(name, path) ? 1 : 0;
}

void set_open_as_given(int value) { open_as_given = value; }

int set_base_folder(const char* folder) {
  if (!folder) folder = "";
  if (std::strlen(folder) + 1 > sizeof base_folder) return -1;
  if (lock_exists) resolver_lock_enter();
  copy_text(base_folder, sizeof base_folder, folder);
  if (lock_exists) resolver_lock_leave();
  return 0;
}

}  // namespace talven
