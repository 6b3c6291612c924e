#include <windows.h>

#include <cstdlib>

#include "base/alloc.h"

namespace talven {

[[noreturn]] void report_out_of_memory() {
  MessageBoxW(nullptr, L"メモリ容量が不足しています。処理を中断します。", L"malloc", MB_OK | MB_ICONERROR);
  std::exit(out_of_memory_exit_code);
}

}  // namespace talven
