// The write probe, the players' write right on the install folder and the protection of
// the uninstaller and its record, through the security API (no batch, no command).
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstring>

#include "install/access.h"
#include "base/cp932.h"
#include "install/install_steps.h"
#include "install/removal.h"
#include "base/wide.h"
#include "package/reparse.h"

namespace talven {

namespace {

static_assert(access_read_execute == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), "read and execute mask");
static_assert(access_modify == (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE),
              "modify mask");
static_assert(access_full == FILE_ALL_ACCESS, "full mask");

// Well-known SIDs, so that a localized system ("Users" is "ユーザー" elsewhere) is served too.
struct known_sid {
  BYTE data[SECURITY_MAX_SID_SIZE];
};

int make_sid(int who, known_sid* sid) {
  WELL_KNOWN_SID_TYPE type = who == who_users            ? WinBuiltinUsersSid
                             : who == who_administrators ? WinBuiltinAdministratorsSid
                                                         : WinLocalSystemSid;
  DWORD size = sizeof sid->data;
  return CreateWellKnownSid(type, nullptr, sid->data, &size) ? 0 : -1;
}

}  // namespace

int compose_access_list(const char* path, const access_entry* entries, int count, int keep_present, PACL* out) {
  *out = nullptr;
  if (count <= 0 || count > 4) return -1;
  known_sid sids[4];
  EXPLICIT_ACCESSW access[4];
  std::memset(access, 0, sizeof access);
  for (int i = 0; i < count; ++i) {
    if (make_sid(entries[i].who, &sids[i]) != 0) return -1;
    access[i].grfAccessPermissions = entries[i].mask;
    access[i].grfAccessMode = keep_present ? GRANT_ACCESS : SET_ACCESS;
    access[i].grfInheritance = entries[i].inherited ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sids[i].data);
  }
  PACL present = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (keep_present) {
    wide_text name = wide_name(path);
    if (!name.ok || GetNamedSecurityInfoW(name.text, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &present, nullptr,
                              &descriptor) != ERROR_SUCCESS)
      return -1;
  }
  DWORD rc = SetEntriesInAclW(static_cast<ULONG>(count), access, present, out);
  if (descriptor) LocalFree(descriptor);
  return rc == ERROR_SUCCESS ? 0 : -1;
}

int write_access_list(const char* path, PACL list, int protect) {
  wide_text name = wide_name(path);
  if (!name.ok) return -1;
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  // A protected list takes nothing from the folder above: not the players' Modify right.
  if (protect) what |= PROTECTED_DACL_SECURITY_INFORMATION;
  return SetNamedSecurityInfoW(name.text, SE_FILE_OBJECT, what, nullptr, nullptr, list, nullptr) == ERROR_SUCCESS ? 0 : -1;
}

int probe_write_access(const char* destination) {
  char probe[260];
  // A probe path that does not fit cannot be created by anything later either.
  if (compose_in_folder(probe, sizeof probe, destination, probe_file_name) != 0) return 1;
  // A link standing where the probe goes would carry the write elsewhere.
  if (path_has_reparse_point(destination, probe) != 0) return 1;
  FILE* file = open_stream(probe, "wb");
  if (!file) return 1;
  std::fclose(file);
  DeleteFileW(wide_name(probe).text);
  return 0;
}

int grant_users_write_access(const char* destination, int created_by_install, const system_folder_list& system) {
  if (!grant_users_write(destination, created_by_install, system.list, system.count)) return 1;
  PACL acl = nullptr;
  int result = compose_access_list(destination, &users_write_entry, 1, 1, &acl);
  if (result == 0) result = write_access_list(destination, acl, 0);
  if (acl) LocalFree(acl);
  return result;
}

int protect_install_files(const char* destination) {
  access_entry entries[4];
  int count = protected_file_entries(entries, 4);
  int result = 0;
  for (const char* name : protected_file_names) {
    char path[260];
    if (compose_in_folder(path, sizeof path, destination, name) != 0) continue;
    if (attributes_of(path) == INVALID_FILE_ATTRIBUTES) continue;  // not part of this game
    PACL acl = nullptr;
    if (compose_access_list(path, entries, count, 0, &acl) != 0 || write_access_list(path, acl, 1) != 0) result = -1;
    if (acl) LocalFree(acl);
  }
  return result;
}

}  // namespace talven
