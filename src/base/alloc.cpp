#include "base/alloc.h"

#include <cstdlib>

namespace talven {

// Implemented per platform: shows or prints the shortage message and ends the process.
[[noreturn]] void report_out_of_memory();

void* checked_alloc(size_t size) {
  void* block = (size > static_cast<size_t>(-1) - 32) ? nullptr : std::malloc(size + 32);
  if (!block) report_out_of_memory();
  return block;
}

void checked_free(void* block) { std::free(block); }

}  // namespace talven
