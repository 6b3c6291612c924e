#include <cstdio>
#include <cstdlib>

#include "base/alloc.h"

namespace talven {

[[noreturn]] void report_out_of_memory() {
  std::fputs("out of memory\n", stderr);
  std::exit(out_of_memory_exit_code);
}

}  // namespace talven
