// The Windows signer: signtool.exe from the Windows SDK, when it is on PATH. signtool
// takes a key file's password only on its command line, where every process of the
// machine can read it, so a protected key is refused with the way round it.
#include <windows.h>

#include <string>

#include "platform.h"
#include "signing.h"

namespace talven::pack {

int run_signer(const char* key, const std::string& password, const char* timestamp, const char* in,
               const char* out, std::string* error) {
  wchar_t signtool[MAX_PATH];
  if (SearchPathW(nullptr, L"signtool.exe", nullptr, MAX_PATH, signtool, nullptr) == 0) {
    *error = "signtool.exe is not on PATH (it comes with the Windows SDK); add its folder to PATH";
    return -1;
  }
  if (!password.empty()) {
    *error = "signtool.exe reads a key's password only from its command line: import the key into your "
             "certificate store, or sign on Linux with osslsigncode";
    return -1;
  }
  // The names are UTF-8 here; the wide API keeps the ones outside the ANSI code page.
  std::wstring wide_in = path_of(in).wstring(), wide_out = path_of(out).wstring();
  if (!CopyFileW(wide_in.c_str(), wide_out.c_str(), FALSE)) {
    *error = "cannot copy the file to sign";
    return -1;
  }
  std::wstring line = L"\"" + std::wstring(signtool) + L"\" sign /q /fd SHA256 /f \"" + path_of(key).wstring() + L"\"";
  if (timestamp) line += L" /td SHA256 /tr \"" + path_of(timestamp).wstring() + L"\"";
  line += L" \"" + wide_out + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(signtool, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    *error = "cannot start signtool.exe";
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (code != 0) {
    *error = "signtool.exe failed (exit code " + std::to_string(code) + ")";
    return -1;
  }
  return 0;
}

int check_signature(const char* path, const char* ca_file, bool* trusted, std::string* detail) {
  *trusted = false;
  *detail = "not checked here: run 'signtool verify /pa' on it";
  return signature_unchecked;
}

}  // namespace talven::pack
