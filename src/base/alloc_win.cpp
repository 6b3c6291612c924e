#include <windows.h>

#include <cstdlib>

#include "base/alloc.h"

namespace talven {

[[noreturn]] void report_out_of_memory() {
  MessageBoxExW(nullptr, L"メモリ容量が不足しています。処理を中断します。", L"malloc", MB_OK | MB_ICONERROR,
                MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
  std::exit(out_of_memory_exit_code);
}

}  // namespace talven
