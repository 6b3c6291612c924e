/* The e2e tests' inspection program: answers questions about the prefix (registry values,
   shortcuts, INI values, special folders, message boxes) read from a CP932 file, one answer
   line each; see tests/e2e/install_lib.sh. */
#define COBJMACROS
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

typedef struct { const char* caption; HWND found; } box_query;

static BOOL CALLBACK find_box(HWND w, LPARAM p) {
  box_query* q = (box_query*)p;
  char cls[64], text[512];
  if (!IsWindowVisible(w)) return TRUE;
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, text, sizeof text);
  if (strcmp(cls, "#32770") == 0 && strcmp(text, q->caption) == 0 && GetDlgItem(w, 0xFFFF)) {
    q->found = w;
    return FALSE;
  }
  return TRUE;
}

static HWND wait_box(const char* caption) {
  box_query q = {caption, NULL};
  for (int i = 0; i < 200 && !q.found; ++i) {
    EnumWindows(find_box, (LPARAM)&q);
    if (!q.found) Sleep(100);
  }
  return q.found;
}

static int split(char* line, char** parts, int most) {
  int n = 0;
  parts[n++] = line;
  for (char* p = line; *p && n < most; ++p)
    if (*p == '\t') { *p = '\0'; parts[n++] = p + 1; }
  return n;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* in = fopen(argv[1], "rb");
  FILE* out = fopen(argv[2], "wb");
  if (!in || !out) return 3;
  CoInitialize(NULL);
  char line[2048];
  while (fgets(line, sizeof line, in)) {
    line[strcspn(line, "\r\n")] = '\0';
    char* f[5];
    int n = split(line, f, 5);
    if (n == 4 && (strcmp(f[0], "reg") == 0 || strcmp(f[0], "reg64") == 0)) {
      HKEY hive = strcmp(f[1], "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      HKEY key;
      char data[1024];
      DWORD type = 0, size = sizeof data - 1;
      /* reg64 reads the 64-bit view, as a 64-bit program sees the registry; a 32-bit
         system ignores the flag. */
      REGSAM view = strcmp(f[0], "reg64") == 0 ? KEY_WOW64_64KEY : 0;
      if (RegOpenKeyExA(hive, f[2], 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
        LONG rc = RegQueryValueExA(key, f[3], NULL, &type, (BYTE*)data, &size);
        RegCloseKey(key);
        if (rc == ERROR_SUCCESS && type == REG_SZ) {
          data[size] = '\0';
          fprintf(out, "%s\n", data);
          continue;
        }
      }
      fprintf(out, "<none>\n");
    } else if (n == 2 && strcmp(f[0], "lnk") == 0) {
      IShellLinkA* link = NULL;
      IPersistFile* file = NULL;
      WCHAR wide[MAX_PATH];
      char path[MAX_PATH] = "", dir[MAX_PATH] = "", desc[MAX_PATH] = "";
      int ok = GetFileAttributesA(f[1]) != INVALID_FILE_ATTRIBUTES &&
               SUCCEEDED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER,
                                          &IID_IShellLinkA, (void**)&link));
      if (ok) ok = SUCCEEDED(IShellLinkA_QueryInterface(link, &IID_IPersistFile, (void**)&file));
      if (ok) {
        MultiByteToWideChar(CP_ACP, 0, f[1], -1, wide, MAX_PATH);
        ok = SUCCEEDED(IPersistFile_Load(file, wide, STGM_READ));
      }
      if (ok) {
        /* The target as the system resolves it: from the item list, whose names are
           UTF-16. The path the link also stores is in its writer's ANSI code page, so on a
           system that is not 932 it holds what that code page made of the names. */
        LPITEMIDLIST item = NULL;
        WCHAR target[MAX_PATH];
        if (SUCCEEDED(IShellLinkA_GetIDList(link, &item)) && item && SHGetPathFromIDListW(item, target))
          WideCharToMultiByte(932, 0, target, -1, path, sizeof path, NULL, NULL);
        else
          IShellLinkA_GetPath(link, path, sizeof path, NULL, SLGP_RAWPATH);
        if (item) CoTaskMemFree(item);
        IShellLinkA_GetWorkingDirectory(link, dir, sizeof dir);
        IShellLinkA_GetDescription(link, desc, sizeof desc);
        fprintf(out, "%s|%s|%s\n", path, dir, desc);
      } else {
        fprintf(out, "<none>\n");
      }
      if (file) IPersistFile_Release(file);
      if (link) IShellLinkA_Release(link);
    } else if (n == 4 && strcmp(f[0], "ini") == 0) {
      char value[1024];
      GetPrivateProfileStringA(f[2], f[3], "<none>", value, sizeof value, f[1]);
      fprintf(out, "%s\n", value);
    } else if (n == 2 && strcmp(f[0], "folder") == 0) {
      char path[MAX_PATH] = "";
      if (!SHGetSpecialFolderPathA(NULL, path, atoi(f[1]), FALSE)) strcpy(path, "<none>");
      fprintf(out, "%s\n", path);
    } else if (n == 2 && strcmp(f[0], "box") == 0) {
      HWND box = wait_box(f[1]);
      char text[1024] = "<none>";
      if (box) GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      for (char* p = text; *p; ++p)
        if (*p == '\n') *p = '\x01';  /* one answer line: line breaks come back as \n */
      fprintf(out, "%s\n", text);
    } else if (n == 3 && strcmp(f[0], "press") == 0) {
      HWND box = wait_box(f[1]);
      int id = atoi(f[2]);
      HWND button = box ? GetDlgItem(box, id) : NULL;
      if (button) PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
      fprintf(out, "%s\n", button ? "ok" : "<none>");
    } else if (n == 2 && (strcmp(f[0], "lock") == 0 || strcmp(f[0], "unlock") == 0)) {
      int lock = strcmp(f[0], "lock") == 0;
      HKEY key;
      LONG rc = lock ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[1], 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)
                     : RegOpenKeyExA(HKEY_LOCAL_MACHINE, f[1], 0, WRITE_DAC, &key);
      if (rc == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR sd;
        ACL empty;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        InitializeAcl(&empty, sizeof empty, ACL_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, lock ? &empty : NULL, FALSE);
        rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
        RegCloseKey(key);
        if (!lock && rc == ERROR_SUCCESS) rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, f[1]);
      }
      fprintf(out, "%s\n", rc == ERROR_SUCCESS ? "ok" : "failed");
    } else if (n == 2 && strcmp(f[0], "exists") == 0) {
      fprintf(out, "%d\n", GetFileAttributesA(f[1]) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
    } else {
      fprintf(out, "<bad question>\n");
    }
  }
  CoUninitialize();
  fclose(out);
  fclose(in);
  return 0;
}
