// Allocation of work buffers and records. On failure the platform side reports the
// shortage and ends the program, so callers never see a null block.
#pragma once
#include <cstddef>

namespace talven {

// A block of size + 32 bytes, uninitialised. Never returns null.
void* checked_alloc(size_t size);
void checked_free(void* block);

// Exit code after the out-of-memory report.
constexpr int out_of_memory_exit_code = -1;

}  // namespace talven
