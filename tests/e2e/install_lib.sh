# Helpers of the install end-to-end tests (tests/e2e/test_install_*.sh), sourced after
# lib.sh and e2e_init.
#
#   sample_package OUTDIR            the sample game packed into OUTDIR/instdat.arc
#   build_inspect                    compiles the inspection program into $SCRATCH
#   inspect LINE...                  asks it questions, one answer line each (UTF-8):
#       reg<TAB>HKLM|HKCU<TAB>KEY<TAB>VALUE      a REG_SZ value, or <none>
#       lnk<TAB>FILE                             "path|working folder|description" of a
#                                                shortcut read back with IShellLinkA
#       ini<TAB>FILE<TAB>SECTION<TAB>KEY         GetPrivateProfileStringA, or <none>
#       folder<TAB>CSIDL                         a special folder's path
#       exists<TAB>PATH                          1 or 0
#       box<TAB>CAPTION                          waits (20 s) for a message box with that
#                                                caption and prints its text, or <none>
#       press<TAB>CAPTION<TAB>ID                 clicks button ID of that message box
#       lock<TAB>KEY                             creates HKLM\KEY and gives it an empty
#                                                access list: opening it with all access
#                                                is then refused, as for a user without
#                                                administrator rights
#       unlock<TAB>KEY                           gives it back a null access list and
#                                                deletes it
#   A message box of the menu has the menu's own caption, and the driver's wait-window
#   takes the first window of a caption, which is the menu; the box is found here by
#   its text control 65535 instead. A scenario that leaves setup.exe at such a box ends
#   there, the box is read and answered here, and the next scenario attaches again.
#   The questions and answers travel through files in CP932, so Japanese names reach
#   the Win32 calls exactly as the installer's own bytes would.
#
# Text constants of the install sequence are below, written as in a scenario.

TEXT_ABORTED='インストールを中止しました'
TEXT_NO_ADMIN='インストールにはAdministrator権限が必要です。'
TEXT_BAD_FOLDER='インストール先フォルダは無効又は作成できません\nインストールにはAdministrator権限が必要です。'
TEXT_NOT_WRITABLE='指定された場所には書き込み出来ません。\nインストールにはAdministrator権限が必要です。'
TEXT_NETWORK='ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。'
TEXT_ROOT='ルートにはインストールできません'
CAPTION_SETUP='インストール先のフォルダの指定'

sample_package() {
  require_talven_pack
  bash "$REPO/examples/sample-game/build.sh" "$1" "$TALVEN_PACK" >"$SCRATCH/sample-build.log" 2>&1 ||
    e2e_fail "the sample game does not build: $(tail -n 20 "$SCRATCH/sample-build.log")"
  [ -f "$1/instdat.arc" ] || e2e_fail "build.sh made no $1/instdat.arc"
}

build_inspect() {
  INSPECT_EXE=$SCRATCH/inspect.exe
  [ -f "$INSPECT_EXE" ] && return 0
  local src=$SCRATCH/inspect.c
  cat >"$src" <<'CSRC'
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
    if (n == 4 && strcmp(f[0], "reg") == 0) {
      HKEY hive = strcmp(f[1], "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      HKEY key;
      char data[1024];
      DWORD type = 0, size = sizeof data - 1;
      if (RegOpenKeyExA(hive, f[2], 0, KEY_READ, &key) == ERROR_SUCCESS) {
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
        IShellLinkA_GetPath(link, path, sizeof path, NULL, SLGP_RAWPATH);
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
CSRC
  i686-w64-mingw32-gcc -O1 -o "$INSPECT_EXE" "$src" -lole32 -luuid -lshell32 -ladvapi32 -luser32 >"$SCRATCH/inspect-build.log" 2>&1 ||
    e2e_fail "the inspection program does not build: $(cat "$SCRATCH/inspect-build.log")"
}

inspect() {
  build_inspect
  local req=$MEDIA/inspect.req out=$MEDIA/inspect.out
  printf '%s\n' "$@" | iconv -f UTF-8 -t CP932 >"$req" || e2e_fail "inspect: a question is not CP932"
  rm -f "$out"
  wine "$INSPECT_EXE" "$(win_path "$req")" "$(win_path "$out")" >/dev/null 2>&1 ||
    e2e_fail "inspect.exe failed"
  iconv -f CP932 -t UTF-8 <"$out"
}

# answer_box CAPTION TEXT BUTTON: the message box with CAPTION shows TEXT (\n for a line
# break, as in a scenario); BUTTON (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No) is clicked.
answer_box() {
  local text
  text=$(inspect_one "box	$1" | sed 's/\x01/\\n/g')
  assert_eq "$2" "$text" "message box text"
  assert_eq ok "$(inspect_one "press	$1	$3")" "button $3 of the message box"
}

# inspect_one LINE: the one answer, for assert_eq.
inspect_one() {
  inspect "$1" | head -n 1
}

# The Start menu folders: 23 all users' programs, 2 the user's, 25/16 the desktops.
CSIDL_COMMON_PROGRAMS=23
CSIDL_PROGRAMS=2
CSIDL_COMMON_DESKTOPDIRECTORY=25
CSIDL_DESKTOPDIRECTORY=16
